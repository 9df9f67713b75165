#include "platform/storage/FindDirectory.h"

#include <cerrno>
#include <cstdlib>
#include <pwd.h>
#include <string>
#include <unistd.h>

namespace
{

std::string home_directory()
{
    const char* home = getenv("HOME");
    if (home != nullptr && home[0] == '/')
        return home;
    struct passwd* entry = getpwuid(getuid());
    if (entry != nullptr && entry->pw_dir != nullptr)
        return entry->pw_dir;
    return "/";
}

// An XDG base directory: the variable when it holds an absolute path, else
// the default below the home folder.
std::string xdg_directory(const char* variable, const char* fallback)
{
    const char* value = getenv(variable);
    if (value != nullptr && value[0] == '/')
        return value;
    return home_directory() + "/" + fallback;
}

} // namespace

status_t find_directory(directory_which which, BPath* path, bool createIt, BVolume*)
{
    if (path == nullptr)
        return B_BAD_VALUE;
    std::string folder;
    switch (which) {
    case B_USER_DIRECTORY:
        folder = home_directory();
        break;
    case B_USER_CONFIG_DIRECTORY:
    case B_USER_SETTINGS_DIRECTORY:
        folder = xdg_directory("XDG_CONFIG_HOME", ".config");
        break;
    case B_USER_MEDIA_NODES_DIRECTORY:
        folder = xdg_directory("XDG_DATA_HOME", ".local/share") + "/reelmoth/media";
        break;
    default:
        path->Unset();
        return B_BAD_VALUE;
    }
    if (createIt) {
        status_t status = create_directory(folder.c_str(), 0755);
        if (status != B_OK) {
            path->Unset();
            return status;
        }
    }
    return path->SetTo(folder.c_str());
}

status_t create_directory(const char* path, mode_t mode)
{
    if (path == nullptr || path[0] == '\0')
        return B_BAD_VALUE;
    std::string full(path);
    struct stat st;
    for (size_t end = 1; end <= full.size(); end++) {
        if (end != full.size() && full[end] != '/')
            continue;
        std::string part = full.substr(0, end);
        if (mkdir(part.c_str(), mode) != 0 && errno != EEXIST)
            return status_from_errno(errno);
        if (stat(part.c_str(), &st) != 0)
            return status_from_errno(errno);
        if (!S_ISDIR(st.st_mode))
            return B_NOT_A_DIRECTORY;
    }
    return B_OK;
}
