// `games suggest [--json]`: the apps the platform counts as games (`dumpsys game`, Android 13
// and later, the current user's) that the game list does not list yet. One dump, bounded in
// time and size; nothing is added here.
#ifndef TESSIVARCTL_GAME_SUGGESTIONS_H
#define TESSIVARCTL_GAME_SUGGESTIONS_H

// `args` after "suggest". Exits 0 also when the phone cannot tell (then it says why); 1 when
// the game list cannot be read; 2 for a usage error.
int run_suggest(int argc, char** argv);

#endif
