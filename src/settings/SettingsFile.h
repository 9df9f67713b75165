// A message bound to a file in a settings folder.
//
// The file holds the message twice: its data is the flattened message, and
// every field of one of the attribute types is also an attribute named by
// the field's path through the nested messages ("prefs:volume",
// "tabs::1:name", "recent::07"). Loading takes the structure from the data
// and then lets each attribute replace the item its name designates, so
// attributes edited on disk win. docs/settings-file.md has the details.
#pragma once

#include "platform/app/Message.h"
#include "platform/storage/FindDirectory.h"
#include "platform/storage/Path.h"

class BFile;
struct attr_info;

class SettingsFile : public BMessage
{
public:
    // The path is `which` (or "/" for -1), then `folder` (or one derived
    // from the running application's signature when null), then `name`
    // (or "Settings" when null). Nothing is read or written here.
    SettingsFile(const char* name = nullptr, const char* folder = nullptr,
                 directory_which which = B_USER_SETTINGS_DIRECTORY);
    ~SettingsFile() override;

    status_t InitCheck() const { return fStatus; }
    // The file's path, or null when it could not be built.
    const char* Path() const { return fPath.Path(); }

    // Replaces the message with the file's. A failure to open or lock leaves
    // the message as it was; a failure to unflatten empties it.
    status_t Load();
    // Writes the message into a new file beside the old one and renames it
    // into place: on any failure the old file stays as it was. A missing
    // folder is made, with every missing level above it.
    status_t Save() const;

    // Whether fields of this type are mirrored as attributes.
    static bool IsAttributeType(type_code type);

private:
    static status_t _ExtractAttribute(BMessage* target, BFile* file, const char* attrName,
                                      char* name, attr_info* info);
    static status_t _ReplaceItem(BMessage* target, BFile* file, const char* attrName,
                                 const char* field, int32 index, attr_info* info);
    static status_t _StoreAttributes(const BMessage* source, BFile* file, const char* prefix);
    status_t _Write(BFile* file) const;

    status_t fStatus;
    BPath fPath;
};
