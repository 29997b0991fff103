#include "platform/file_exists.h"

#include "platform/paths.h"

#include <unistd.h>

bool FileExists(const char *path) {
    return access(ResolvePath(path).c_str(), F_OK) == 0;
}
