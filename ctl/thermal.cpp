#include "thermal.h"

#include "text_view.h"

namespace {

constexpr int TYPE_SKIN = 3;  // the thermal HAL's TemperatureType.SKIN

// The integer after `key` in `line`, or -1.
int number_after(std::string_view line, std::string_view key) {
    const size_t at = line.find(key);
    if (at == std::string_view::npos) return -1;
    std::string_view rest = sub(line, at + key.size());
    int value = 0;
    int digits = 0;
    for (char c : rest) {
        if (c < '0' || c > '9' || digits == 6) break;
        value = value * 10 + (c - '0');
        ++digits;
    }
    return digits ? value : -1;
}

}  // namespace

const char* thermal_level_name(int level) {
    static const char* const names[] = {"NONE",     "LIGHT",     "MODERATE", "SEVERE",
                                        "CRITICAL", "EMERGENCY", "SHUTDOWN"};
    return level >= 0 && level <= THERMAL_SHUTDOWN ? names[level] : "UNKNOWN";
}

int backoff_level_from_name(std::string_view name) {
    for (int level = THERMAL_SHUTDOWN; level > THERMAL_MODERATE; --level)
        if (name == thermal_level_name(level)) return level;
    return THERMAL_MODERATE;
}

int parse_thermal_dump(std::string_view text) {
    int worst_skin = THERMAL_UNKNOWN;
    while (!text.empty()) {
        size_t end = text.find('\n');
        if (end == std::string_view::npos) end = text.size();
        const std::string_view line = sub(text, 0, end);
        text.remove_prefix(end < text.size() ? end + 1 : end);
        const int status = number_after(line, "Thermal Status: ");
        if (status >= 0 && line.find("Thermal Status: ") <= 4)
            return status <= THERMAL_SHUTDOWN ? status : THERMAL_UNKNOWN;
        int type = number_after(line, "mType=");
        int row = number_after(line, "mStatus=");
        if (type < 0) {
            type = number_after(line, "Type: ");
            row = number_after(line, "Status: ");
        }
        if (type == TYPE_SKIN && row >= 0 && row <= THERMAL_SHUTDOWN && row > worst_skin)
            worst_skin = row;
    }
    return worst_skin;
}

int level_from_battery(long tenths) {
    if (tenths >= 450) return THERMAL_SEVERE;
    if (tenths >= 420) return THERMAL_MODERATE;
    if (tenths >= 390) return THERMAL_LIGHT;
    return THERMAL_NONE;
}

backoff_action backoff_step(backoff_state* s, long long now_ms, int level, int cooling) {
    const int hot = level >= THERMAL_MODERATE || cooling;
    if (level >= THERMAL_SEVERE) s->for_the_session = 1;
    if (!s->backed_off) {
        if (!hot) return BACKOFF_NOTHING;
        s->backed_off = 1;
        s->level = cooling && level < THERMAL_MODERATE ? THERMAL_MODERATE : level;
        s->since_ms = now_ms;
        s->cool_since_ms = 0;
        return BACKOFF_TAKE_BACK;
    }
    if (s->for_the_session) return BACKOFF_NOTHING;
    const int cool = level >= THERMAL_NONE && level <= THERMAL_LIGHT && !cooling;
    if (!cool) {
        s->cool_since_ms = 0;
        return BACKOFF_NOTHING;
    }
    if (!s->cool_since_ms) s->cool_since_ms = now_ms;
    if (now_ms - s->cool_since_ms < REARM_AFTER_MS) return BACKOFF_NOTHING;
    if (s->last_rearm_ms && now_ms - s->last_rearm_ms < REARM_AT_MOST_EVERY_MS)
        return BACKOFF_NOTHING;
    s->backed_off = 0;
    s->last_rearm_ms = now_ms;
    s->cool_since_ms = 0;
    ++s->rearms;
    return BACKOFF_REARM;
}

backoff_state backoff_for_launch(const backoff_state& before, int same_game, int hot,
                                 long long now_ms) {
    backoff_state next{};
    if (same_game) {
        next.last_rearm_ms = before.last_rearm_ms;
        next.rearms = before.rearms;
    }
    if (hot >= THERMAL_MODERATE) {
        next.backed_off = 1;
        next.level = hot;
        next.since_ms = now_ms;
        next.for_the_session = hot >= THERMAL_SEVERE;
    }
    return next;
}
