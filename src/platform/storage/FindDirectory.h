// Well-known folders and creating folders.
#pragma once

#include "platform/storage/Path.h"
#include "platform/support/SupportDefs.h"

#include <sys/stat.h>

// A fixed underlying type: callers pass values outside the list (-1 names
// the root folder in the settings file's path rules).
enum directory_which : int32 {
    B_USER_DIRECTORY = 3000,
    B_USER_CONFIG_DIRECTORY = 3001,
    B_USER_SETTINGS_DIRECTORY = 3006,
    B_USER_MEDIA_NODES_DIRECTORY = 3010,
};

class BVolume;

// B_USER_DIRECTORY is $HOME; B_USER_SETTINGS_DIRECTORY and
// B_USER_CONFIG_DIRECTORY are $XDG_CONFIG_HOME (default ~/.config);
// B_USER_MEDIA_NODES_DIRECTORY is $XDG_DATA_HOME/reelmoth/media (default
// ~/.local/share/reelmoth/media). With `createIt` the folder is made.
status_t find_directory(directory_which which, BPath* path, bool createIt = false,
                        BVolume* volume = nullptr);

// Makes `path` and every missing folder above it.
status_t create_directory(const char* path, mode_t mode);
