// Where sessions are kept: sessions/<start>-<game>.tsv (a header line, then a row per sample),
// and sessions/index (a summary line per session), within a bound: the last 30 sessions, 2 MiB
// in all.
#ifndef TESSIVARCTL_SESSION_STORE_H
#define TESSIVARCTL_SESSION_STORE_H

#include <stddef.h>

#include <string_view>

constexpr int MAX_SESSIONS = 30;
constexpr long long SESSIONS_BYTES = 2 * 1024 * 1024;

// The sessions directory (made when missing) and a file in it.
int sessions_path(char* out, size_t cap, const char* name);
// The index's text (empty when there is none) in a buffer of the store's.
std::string_view read_session_index();
// Adds a summary line to the index (none: only the bound is applied) and drops the oldest
// sessions past the bound, and index lines no version of the format can read.
int add_session_summary(std::string_view line);
// The file name of a session: "<start>-<game>.tsv".
int session_file_name(char* out, size_t cap, long long start, std::string_view game);

#endif
