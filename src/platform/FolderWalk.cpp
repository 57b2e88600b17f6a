#include "platform/FolderWalk.h"

#include <dirent.h>
#include <set>
#include <sys/stat.h>
#include <utility>

namespace kelvane {
namespace {

void Walk(const std::string& folder, std::set<std::pair<dev_t, ino_t>>& seen, std::vector<std::string>& out) {
    struct stat st {};
    if (::lstat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) ||
        !seen.insert({st.st_dev, st.st_ino}).second)
        return;
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr)
        return;
    const std::string prefix = folder.empty() || folder.back() == '/' ? folder : folder + "/";
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name == "." || name == "..")
            continue;
        const std::string path = prefix + name;
        struct stat child {};
        if (::lstat(path.c_str(), &child) != 0)
            continue;
        if (S_ISDIR(child.st_mode))
            Walk(path, seen, out);
        else
            out.push_back(path);
    }
    ::closedir(dir);
}

} // namespace

std::vector<std::string> FilesBelow(const std::string& folder) {
    std::set<std::pair<dev_t, ino_t>> seen;
    std::vector<std::string> out;
    Walk(folder, seen, out);
    return out;
}

} // namespace kelvane
