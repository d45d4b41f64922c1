// The platform's own game mode for the battery preset, where the platform can say which mode is
// in force (`cmd game list-modes`, Android 14 and later) and the game is of the game category
// and offers battery: the mode it was in is recorded in `game_mode` ("<package> <mode>\n",
// synced, since a game mode outlives a reboot, unlike every knob), battery is set, and the next
// balanced run, whichever it is (the game leaving, a stop, the supervisor's start at the next
// boot after a crash or a power loss), puts the recorded mode back. Called under the profile
// lock; every command bounded in time and run without a shell.
#ifndef TESSIVARCTL_GAME_MODE_H
#define TESSIVARCTL_GAME_MODE_H

// `package`: the game a performance run boosts with the battery preset; empty for every other
// run (balanced, another preset), which only puts back a recorded mode. `who` begins each line
// printed ("performance", "balanced"). Runs no command when there is nothing to do.
void follow_game_mode(const char* who, const char* package);

#endif
