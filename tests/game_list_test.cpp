#include "game_list.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "sandbox.h"

namespace {

using sandbox::capture;
using sandbox::set_game_list;

class GameListTest : public SandboxTest {
protected:
    std::string list_path() const { return sandbox::module_dir() + "/game.txt"; }
};

struct ListCase {
    const char* name;
    std::string list;
    const char* package;
    int expected;
};

TEST_F(GameListTest, MatchesWholeEntriesByteForByte) {
    const ListCase cases[] = {
        {"LF line end", "com.example.game\n", "com.example.game", 1},
        {"CR LF line end", "com.other\r\ncom.example.game\r\n", "com.example.game", 1},
        {"last line without an end", "com.other\ncom.example.game", "com.example.game", 1},
        {"leading spaces", "  com.example.game\n", "com.example.game", 0},
        {"trailing space", "com.example.game \n", "com.example.game", 0},
        {"remark after the entry", "com.example.game # fav\n", "com.example.game", 0},
        {"commented out", "#com.example.game\n", "com.example.game", 0},
        {"space before the hash is an entry", " #com.example.game\n", " #com.example.game", 1},
        {"case matters", "Com.Example.Game\n", "com.example.game", 0},
        {"prefix is no match", "com.example.game\n", "com.example", 0},
        {"longer package is no match", "com.example\n", "com.example.game", 0},
        {"empty file", "", "com.example.game", 0},
        {"comments only", "# a\n#b\n\n", "com.example.game", 0},
        {"CR-only ends: first entry of the piece", "com.a\rcom.example.game\r", "com.a", 1},
        {"CR-only ends: later entries are lost", "com.a\rcom.example.game\r", "com.example.game",
         0},
        // The rest of an over-long line is read as a line of its own.
        {"rest of a long line", std::string(1023, 'x') + "com.example.game\n", "com.example.game",
         1},
        {"NUL inside a line", std::string("com.example.game\0junk\n", 22), "com.example.game", 1},
    };
    for (const auto& c : cases) {
        set_game_list(c.list);
        int answer = -1;
        const auto output = capture([&] { answer = is_game_package(c.package); });
        EXPECT_EQ(answer, c.expected) << c.name;
        EXPECT_EQ(output.err, "") << c.name;
    }
}

TEST_F(GameListTest, FindsTheLastOfManyEntries) {
    std::string list;
    for (int i = 0; i < 100000; ++i)
        list += "com.filler.game" + std::to_string(i) + "\n";
    set_game_list(list + "com.example.game\n");
    EXPECT_EQ(is_game_package("com.example.game"), 1);
    EXPECT_EQ(is_game_package("com.filler.game100000"), 0);
}

TEST_F(GameListTest, EditsTakeEffectOnTheNextCall) {
    set_game_list("com.other\n");
    EXPECT_EQ(is_game_package("com.example.game"), 0);
    set_game_list("com.other\ncom.example.game\n");
    EXPECT_EQ(is_game_package("com.example.game"), 1);
}

TEST_F(GameListTest, MissingListIsReportedAndAnswersNo) {
    std::remove(list_path().c_str());
    int answer = -1;
    const auto output = capture([&] { answer = is_game_package("com.example.game"); });
    EXPECT_EQ(answer, 0);
    EXPECT_EQ(output.err, "Error opening " + list_path() + ": No such file or directory\n");
}

TEST_F(GameListTest, EmptyOrNullPackageNeverOpensTheList) {
    std::remove(list_path().c_str());
    const auto output = capture([] {
        EXPECT_EQ(is_game_package(""), 0);
        EXPECT_EQ(is_game_package(nullptr), 0);
    });
    EXPECT_EQ(output.err, "");
}

// Neither may hold the cycle: a FIFO would block in open, /dev/zero would never end.
TEST_F(GameListTest, ListThatIsNoRegularFileIsReportedAndAnswersNo) {
    struct Case {
        const char* name;
        void (*make)(const std::string& path);
    };
    const Case cases[] = {
        {"fifo", [](const std::string& path) { ASSERT_EQ(mkfifo(path.c_str(), 0644), 0); }},
        {"/dev/zero",
         [](const std::string& path) { ASSERT_EQ(symlink("/dev/zero", path.c_str()), 0); }},
        {"directory", [](const std::string& path) { ASSERT_EQ(mkdir(path.c_str(), 0755), 0); }},
    };
    for (const auto& c : cases) {
        std::remove(list_path().c_str());
        c.make(list_path());
        const int free_fd = sandbox::lowest_free_fd();
        int answer = -1;
        const auto output = capture([&] { answer = is_game_package("com.example.game"); });
        EXPECT_EQ(answer, 0) << c.name;
        EXPECT_EQ(output.err, "Error opening " + list_path() + ": not a regular file\n") << c.name;
        EXPECT_EQ(sandbox::lowest_free_fd(), free_fd) << c.name;
    }
    // A regular file reached through a symlink is still a list.
    std::remove(list_path().c_str());
    sandbox::write_file(list_path() + ".real", "com.example.game\n");
    ASSERT_EQ(symlink((list_path() + ".real").c_str(), list_path().c_str()), 0);
    EXPECT_EQ(is_game_package("com.example.game"), 1);
}

}  // namespace
