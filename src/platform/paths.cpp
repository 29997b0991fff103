#include "platform/paths.h"

#include <cstdlib>
#include <unistd.h>

std::string RootPrefix() {
    const char *root = std::getenv("HELIX_ROOT");
    if (root == nullptr || root[0] == '\0') return std::string();
    std::string r(root);
    while (r.size() > 1 && r.back() == '/')
        r.pop_back();
    return r;
}

std::string ResolvePath(const char *path) {
    if (path == nullptr) return std::string();
    std::string root = RootPrefix();
    if (root.empty() || path[0] != '/') return std::string(path);
    // Already inside the root: leave it alone so resolving twice is harmless.
    std::string p(path);
    if (p.compare(0, root.size(), root) == 0 && (p.size() == root.size() || p[root.size()] == '/'))
        return p;
    return root + p;
}

std::string ResolveCommand(const char *name) {
    if (name == nullptr) return std::string();
    if (name[0] == '/' || RootPrefix().empty()) return ResolvePath(name);
    return RootPrefix() + "/bin/" + name;
}

std::string UnresolvePath(const std::string &path) {
    std::string root = RootPrefix();
    if (!root.empty() && path.compare(0, root.size(), root) == 0) return path.substr(root.size());
    return path;
}

std::string ResolveSystemFile(const char *path) {
    std::string resolved = ResolvePath(path);
    if (path == nullptr || access(resolved.c_str(), F_OK) == 0 || access(path, F_OK) != 0)
        return resolved;
    return std::string(path);
}
