// The game list: one package per line; blank lines and lines starting with '#' are skipped.
#ifndef TESSIVAR_GAME_LIST_H
#define TESSIVAR_GAME_LIST_H

// 1 when the package equals an entry of the game list byte for byte, else 0; the file is read
// afresh on every call so edits take effect without a restart.
int is_game_package(const char* package);

#endif
