// A knob the platform takes back during a game, as rules: how often it may be set to ours again
// before it is left to the system, and the supervisor's record of the game that status reads.
// No I/O here.
#ifndef TESSIVARCTL_TAKE_BACK_H
#define TESSIVARCTL_TAKE_BACK_H

#include <string_view>

// More than this many take-backs within a minute: something keeps writing the knob, and a
// contest with it would only cost both sides CPU.
constexpr int TAKE_BACK_LIMIT = 5;
constexpr long long TAKE_BACK_WINDOW_MS = 60 * 1000;

struct take_back_record {
    int times;  // take-backs seen in this session
    int left;   // left to the system for the rest of the session
    long long recent[TAKE_BACK_LIMIT];
    int recent_count;
};

// One take-back seen at `now_ms`: counted. Answers 1 when the knob is to be set to ours again,
// 0 when it is left to the system from now on (and for every later one).
int note_take_back(take_back_record* record, long long now_ms);

// The supervisor's record of the game session in progress (the file game_watch):
//   "<boot_id> <launch ticks>\n"
//   "B <times> <left: 0|1> <knob as a person reads it>\n"  per knob taken back
//   "F <why>\n"  when the game in front cannot be told
// One line after the first, for status; 0 when it is none of these.
struct watch_line {
    char kind;  // 'B' or 'F'
    int times;
    int left;
    std::string_view text;  // the knob, or why
};
int parse_watch_line(std::string_view line, watch_line* out);

#endif
