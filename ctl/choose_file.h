// choose.txt, beside presets.txt: the games handed over to the verdict ("Choose for me"), and
// what it chose for them. One line per game; no I/O here.
//   * on                                  every game without a preset set by hand
//   <package> on                          this game (nothing weighed yet)
//   <package> off                         not this game, whatever "*" says
//   <package> <preset|-> <from> <since>   handed over: <preset> chosen from <from> sessions (-:
//                                         none), <since> sessions of the game since ("new": no
//                                         Try both run yet)
// A chosen preset is in force through the game's own line in presets.txt; that line is the
// rule's only while it names the same preset. Any other line there is the user's own choice.
#ifndef TESSIVARCTL_CHOOSE_FILE_H
#define TESSIVARCTL_CHOOSE_FILE_H

#include <string_view>

#include "game_list_edit.h"
#include "verdict.h"

constexpr int CHOOSE_RECHECK = 20;  // sessions after a choice before the rule looks again

enum choose_kind { CHOOSE_NONE, CHOOSE_OFF, CHOOSE_HANDED };

struct choose_entry {
    int kind;
    char preset[16];  // "-": none chosen
    int from;         // sessions the choice was made from
    int since;        // sessions since; -1: new, never weighed after a Try both run
};

// Whether "* on" is in the list.
int choose_for_every_game(std::string_view list);
// The game's line ("on" reads as handed over, "-", new).
void choose_entry_of(std::string_view list, std::string_view package, choose_entry* out);
// The list with `who`'s line ("*" for every game) set to `entry`, or removed when it is null.
int set_choose_line(std::string_view list, std::string_view who, const choose_entry* entry,
                    game_list_text* out);
// The every-game switch: "* on" set or removed.
int set_choose_every_game(std::string_view list, int on, game_list_text* out);

// Whether the game's preset is the user's own: a line of its own that the rule did not write.
int preset_by_hand(const choose_entry& entry, int has_own, std::string_view own);
// Whether the game is handed over to the rule.
int choose_handed(const choose_entry& entry, int every_game, int by_hand);
// Whether the preset in force was chosen by the rule (shown "chosen from N sessions").
int preset_chosen(const choose_entry& entry, int has_own, std::string_view own);

enum choose_action {
    CHOOSE_NOTHING,  // not handed over, or a Try both run is still going
    CHOOSE_COUNT,    // one more session since the choice
    CHOOSE_TRY,      // start a Try both run (the first check, or the one 20 sessions later)
    CHOOSE_APPLY,    // a clear verdict: its winner becomes the game's preset
    CHOOSE_KEEP,     // a Try both run ended too close to call: what is in force stays
};
// What the rule does for a game when one of its sessions has ended (or it was just handed
// over), and the game's line after it.
int choose_step(const choose_entry& entry, int handed, int in_trial, const verdict& v,
                choose_entry* next);

#endif
