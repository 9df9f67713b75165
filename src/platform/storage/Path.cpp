#include "platform/storage/Path.h"

#include "platform/storage/Entry.h"
#include "platform/storage/StorageDefs.h"

#include <climits>
#include <cstring>
#include <unistd.h>
#include <vector>

namespace
{

// Collapses separators, "." and ".." of an absolute path.
std::string normalized(const std::string& path)
{
    std::vector<std::string> parts;
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find('/', start);
        if (end == std::string::npos)
            end = path.size();
        std::string part = path.substr(start, end - start);
        if (part == "..") {
            if (!parts.empty())
                parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        start = end + 1;
    }
    std::string result;
    for (const std::string& part : parts)
        result += "/" + part;
    return result.empty() ? "/" : result;
}

} // namespace

BPath::BPath() : fStatus(B_NO_INIT) {}

BPath::BPath(const char* path, const char* leaf, bool normalize) : fStatus(B_NO_INIT)
{
    SetTo(path, leaf, normalize);
}

BPath::BPath(const entry_ref* ref) : fStatus(B_NO_INIT)
{
    SetTo(ref);
}

BPath::BPath(const BPath& other) = default;
BPath& BPath::operator=(const BPath& other) = default;

status_t BPath::SetTo(const char* path, const char* leaf, bool)
{
    Unset();
    if (path == nullptr || path[0] == '\0')
        return fStatus = B_BAD_VALUE;
    std::string full;
    if (path[0] != '/') {
        char cwd[PATH_MAX];
        if (getcwd(cwd, sizeof(cwd)) == nullptr)
            return fStatus = B_ERROR;
        full = std::string(cwd) + "/" + path;
    } else {
        full = path;
    }
    // Paths are always kept in their plain form: no ".", "..", or doubled
    // or trailing separators.
    full = normalized(full);
    if (full.size() >= B_PATH_NAME_LENGTH)
        return fStatus = B_NAME_TOO_LONG;
    fPath = full;
    fStatus = B_OK;
    if (leaf != nullptr)
        return Append(leaf);
    return B_OK;
}

status_t BPath::SetTo(const entry_ref* ref)
{
    Unset();
    if (ref == nullptr || ref->name == nullptr || ref->directory_path == nullptr ||
        ref->directory_path[0] != '/' || ref->name[0] == '\0' || strchr(ref->name, '/') != nullptr)
        return fStatus = B_BAD_VALUE;
    return SetTo(ref->directory_path, ref->name);
}

void BPath::Unset()
{
    fPath.clear();
    fStatus = B_NO_INIT;
}

status_t BPath::Append(const char* path, bool)
{
    if (fStatus != B_OK)
        return fStatus;
    if (path == nullptr || path[0] == '/')
        return B_BAD_VALUE;
    if (path[0] == '\0')
        return B_OK;
    // Built by appending: GCC 12 warns falsely (-Wrestrict) on "/" + string.
    std::string joined = fPath;
    if (joined != "/")
        joined += '/';
    joined += path;
    return SetTo(joined.c_str());
}

const char* BPath::Leaf() const
{
    if (fStatus != B_OK)
        return nullptr;
    size_t slash = fPath.rfind('/');
    return fPath.c_str() + slash + 1;
}

status_t BPath::GetParent(BPath* parent) const
{
    if (parent == nullptr)
        return B_BAD_VALUE;
    if (fStatus != B_OK)
        return fStatus;
    if (fPath == "/")
        return B_ENTRY_NOT_FOUND;
    size_t slash = fPath.rfind('/');
    std::string up = slash == 0 ? "/" : fPath.substr(0, slash);
    return parent->SetTo(up.c_str());
}

bool BPath::operator==(const BPath& other) const
{
    return fStatus == other.fStatus && fPath == other.fPath;
}
