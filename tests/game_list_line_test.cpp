#include "game_list_line.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct EntryCase {
    const char* line;
    const char* entry;  // nullptr for a skipped line
};

TEST(GameListEntry, CutsAtTheLineEndAndSkipsBlanksAndComments) {
    const EntryCase cases[] = {
        {"com.example.game\n", "com.example.game"},
        {"com.example.game\r\n", "com.example.game"},
        {"com.example.game", "com.example.game"},
        {"  com.example.game\n", "  com.example.game"},  // taken whole: no trimming
        {"com.example.game # mine\n", "com.example.game # mine"},
        {" #com.example.game\n", " #com.example.game"},  // only a leading '#' comments
        {"#com.example.game\n", nullptr},
        {"\n", nullptr},
        {"\r\n", nullptr},
        {"", nullptr},
        {"a.b\rc.d\re.f\r", "a.b"},  // CR-only line ends: the rest of the piece is lost
    };
    for (const auto& c : cases) {
        std::string line = c.line;
        const char* entry = game_list_entry(line.data());
        if (c.entry) {
            EXPECT_STREQ(entry, c.entry) << c.line;
        } else {
            EXPECT_EQ(entry, nullptr) << c.line;
        }
    }
}

}  // namespace
