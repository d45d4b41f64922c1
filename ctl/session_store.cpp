#include "session_store.h"

#include <dirent.h>
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "ctl_config.h"
#include "files.h"
#include "fixed_text.h"
#include "session_record.h"
#include "text_view.h"

namespace {

char index_text[256 * 1024];
fixed_text<256 * 1024> next_index = {};

struct kept {
    long long start;
    char name[160];
    long long bytes;
};

}  // namespace

int sessions_path(char* out, size_t cap, const char* name) {
    char dir[PATH_SIZE];
    if (!module_path(dir, sizeof dir, "sessions")) return 0;
    if (mkdir(dir, 0755) != 0 && errno != EEXIST) return 0;
    const int n = snprintf(out, cap, "%s/%s", dir, name);
    return n > 0 && static_cast<size_t>(n) < cap;
}

std::string_view read_session_index() {
    char path[PATH_SIZE];
    if (!sessions_path(path, sizeof path, "index")) return {};
    const ssize_t n = read_small_file(path, index_text, sizeof index_text);
    return n > 0 ? std::string_view(index_text, static_cast<size_t>(n)) : std::string_view();
}

int session_file_name(char* out, size_t cap, long long start, std::string_view game) {
    const int n =
        snprintf(out, cap, "%lld-%.*s.tsv", start, static_cast<int>(game.size()), game.data());
    return n > 0 && static_cast<size_t>(n) < cap;
}

int add_session_summary(std::string_view line) {
    static kept files[MAX_SESSIONS * 4];
    int count = 0;
    char dir[PATH_SIZE];
    char path[PATH_SIZE];
    if (!sessions_path(path, sizeof path, "index")) return 0;
    snprintf(dir, sizeof dir, "%.*s", static_cast<int>(strrchr(path, '/') - path), path);
    // The session files, oldest first.
    if (DIR* d = opendir(dir)) {
        while (dirent* e = readdir(d)) {
            const size_t len = strlen(e->d_name);
            if (len < 5 || strcmp(e->d_name + len - 4, ".tsv") != 0 ||
                len >= sizeof files[0].name || count == MAX_SESSIONS * 4)
                continue;
            kept& k = files[count];
            k.start = atoll(e->d_name);
            memcpy(k.name, e->d_name, len + 1);
            char file[PATH_SIZE];
            struct stat info;
            const int n = snprintf(file, sizeof file, "%s/%s", dir, e->d_name);
            k.bytes = n > 0 && n < static_cast<int>(sizeof file) && stat(file, &info) == 0
                          ? info.st_size
                          : 0;
            ++count;
        }
        closedir(d);
    }
    for (int i = 1; i < count; ++i)
        for (int j = i; j > 0 && files[j - 1].start > files[j].start; --j) {
            const kept t = files[j];
            files[j] = files[j - 1];
            files[j - 1] = t;
        }
    std::string_view index = read_session_index();
    long long total = static_cast<long long>(index.size() + line.size());
    for (int i = 0; i < count; ++i)
        total += files[i].bytes;
    // Oldest first, until both bounds hold.
    int dropped = 0;
    long long oldest_kept = 0;
    while (dropped < count && (count - dropped > MAX_SESSIONS || total > SESSIONS_BYTES)) {
        char file[PATH_SIZE];
        const int n = snprintf(file, sizeof file, "%s/%s", dir, files[dropped].name);
        if (n > 0 && n < static_cast<int>(sizeof file)) unlink(file);
        total -= files[dropped].bytes;
        ++dropped;
    }
    if (dropped < count) oldest_kept = files[dropped].start;
    next_index.clear();
    session_line parsed;
    int lines = 0;
    while (!index.empty()) {
        const size_t nl = index.find('\n');
        const std::string_view one =
            sub(index, 0, nl == std::string_view::npos ? index.size() : nl + 1);
        index.remove_prefix(one.size());
        if (!parse_session_line(one, &parsed) || (dropped && parsed.start < oldest_kept)) continue;
        next_index.append(one);
        ++lines;
    }
    next_index.append(line);
    lines += !line.empty();
    // The summaries alone are bounded too.
    std::string_view all = next_index.view();
    for (; lines > MAX_SESSIONS && !all.empty(); --lines) {
        const size_t nl = all.find('\n');
        all.remove_prefix(nl == std::string_view::npos ? all.size() : nl + 1);
    }
    if (all == read_session_index()) return 1;  // nothing to drop: the index stays untouched
    return !next_index.overflow && replace_file(path, all, 0644);
}
