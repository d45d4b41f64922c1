// `preset list | set PKG|default sustained|max|battery | clear PKG`: the one way the page and a
// root shell choose a game's preset, under the same rules as the game list.
#ifndef TESSIVARCTL_PRESETS_H
#define TESSIVARCTL_PRESETS_H

#include <string_view>

int run_presets(int argc, char** argv);

// For the profile and status: the file's text (empty when missing), or 0 with a reason.
int load_presets(std::string_view* text, const char** reason);

// For a performance run: when `package` is trying both, the preset of its next session (and the
// count taken down); answers the sessions left after this one, or -1 when it is not trying.
int take_trial_session(const char* package, unsigned* preset);
// For status: trials.txt's text.
int load_trials(std::string_view* text, const char** reason);

// For "Choose for me" (choose.cpp), which edits them under their locks, presets.txt's first.
struct list_file;
list_file* presets_list();
list_file* trials_list();

#endif
