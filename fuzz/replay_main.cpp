// Runs every file of the given directories (or the given files) through the
// fuzz target once: the corpus and the crashers found so far stay fixed.
#include <cstdint>
#include <cstdio>
#include <dirent.h>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/stat.h>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

namespace {
int RunFile(const std::string &path) {
    std::ifstream f(path, std::ios::binary);
    if (!f) {
        std::fprintf(stderr, "cannot read %s\n", path.c_str());
        return 1;
    }
    std::vector<char> bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t *>(bytes.data()), bytes.size());
    return 0;
}
} // namespace

int main(int argc, char **argv) {
    int runs = 0, failed = 0;
    for (int i = 1; i < argc; ++i) {
        struct stat st {};
        if (stat(argv[i], &st) != 0) {
            std::fprintf(stderr, "missing %s\n", argv[i]);
            return 1;
        }
        if (!S_ISDIR(st.st_mode)) {
            failed += RunFile(argv[i]);
            ++runs;
            continue;
        }
        DIR *d = opendir(argv[i]);
        while (dirent *e = readdir(d)) {
            if (e->d_name[0] == '.') continue;
            failed += RunFile(std::string(argv[i]) + "/" + e->d_name);
            ++runs;
        }
        closedir(d);
    }
    std::printf("replayed %d inputs\n", runs);
    return failed != 0 || runs == 0 ? 1 : 0;
}
