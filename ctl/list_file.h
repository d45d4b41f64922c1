// The module's user-edited lists (game.txt, presets.txt): read whole, edited one at a time under
// a lock, replaced whole through a synced temporary file, so a kill or a full disk leaves the
// old list; kept across updates by the installer.
#ifndef TESSIVARCTL_LIST_FILE_H
#define TESSIVARCTL_LIST_FILE_H

#include <stddef.h>

#include <string_view>

#include "game_list_edit.h"

struct list_file {
    const char* name;  // in the module directory
    char path[512];
    char* buffer;
    size_t cap;
    int lock;
};

// Takes the list's edit lock (`.<name>.lock`); 0 with a message on standard error.
int lock_list(list_file* file, const char* who);
void unlock_list(list_file* file);
// Reads the list; a missing file is an empty list. 0 with `reason` otherwise.
int read_list_file(list_file* file, std::string_view* text, const char** reason);
// Replaces the list with `edited`, keeping its mode; 0 with a message on standard error.
int write_list_file(const list_file& file, const game_list_text& edited, const char* who);

#endif
