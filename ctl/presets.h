// `preset list | set PKG|default sustained|max|battery | clear PKG`: the one way the page and a
// root shell choose a game's preset, under the same rules as the game list.
#ifndef TESSIVARCTL_PRESETS_H
#define TESSIVARCTL_PRESETS_H

#include <string_view>

int run_presets(int argc, char** argv);

// For the profile and status: the file's text (empty when missing), or 0 with a reason.
int load_presets(std::string_view* text, const char** reason);

#endif
