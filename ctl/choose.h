// "Choose for me": the verdict applied to the games handed over to it, by `preset choose` and by
// the supervisor when a game's session ends; and the verdicts as the page shows them.
#ifndef TESSIVARCTL_CHOOSE_H
#define TESSIVARCTL_CHOOSE_H

#include <stddef.h>

#include <string_view>

// `preset choose PKG|all [off]`.
int run_choose(const char* who, int on);

// A preset set or cleared by hand for `package`: "Choose for me" goes off for it. Called under
// presets.txt's lock; 0 with a message on standard error when it could not be written.
int choice_by_hand(std::string_view package);

// A Try both run started by hand for `package`: if the game is handed over, the verdict of the
// session that completes it is weighed. Called with no other list's lock held.
void choose_trial_started(const char* package);

// After a session of `game` has been summarized: the rule's step for it, if it is handed over.
// Answers 1 with a line for the log when it did something worth saying.
int choose_after_session(const char* game, char* message, size_t cap);

// For status --json: "verdicts" (one per game with sessions) and "choose" (the every-game
// switch and each game's line), as the values of those keys.
void print_verdicts_json();
void print_choose_json();
// For plain status: the games the rule chose for, one line each ("chosen from 6 sessions").
void print_choose_plain();

#endif
