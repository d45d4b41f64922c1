// `games` on real files: edits that keep every untouched byte, serialized under concurrency,
// and honest answers.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "ctl_sandbox.h"

namespace {

using ctl::read_file;
using ctl::write_file;

class GamesTest : public CtlTest {
protected:
    void SetUp() override {
        CtlTest::SetUp();
        // A stand-in package manager that knows two apps.
        const std::string bin = root_ + "/bin";
        mkdir(bin.c_str(), 0755);
        write_file(bin + "/pm",
                   "#!/bin/sh\ncase $2 in com.installed.game|com.example.game) echo "
                   "\"package:/data/app/$2/base.apk\" ;; *) exit 1 ;; esac\n");
        chmod((bin + "/pm").c_str(), 0755);
        setenv("PATH", (bin + ":" + getenv("PATH")).c_str(), 1);
    }
};

struct EditCase {
    const char* name;
    std::string before;
    std::vector<std::string> args;
    std::string after;
    std::string out;
};

// A line the daemon reads in two pieces: a comment of 1,023 bytes, then a name it matches.
const std::string kLongComment = "#" + std::string(1022, 'x');

TEST_F(GamesTest, EditsKeepEveryUntouchedByte) {
    const std::string nul("com.a\0junk\n", 11);
    const EditCase cases[] = {
        {"add to LF",
         "com.a\n",
         {"add", "com.example.game"},
         "com.a\ncom.example.game\n",
         "added com.example.game\n"},
        {"add to CRLF without final LF",
         "com.a\r\ncom.b",
         {"add", "com.example.game"},
         "com.a\r\ncom.b\r\ncom.example.game\r\n",
         "added com.example.game\n"},
        {"add keeps NULs and a BOM",
         "\xEF\xBB\xBF#mine\n" + nul,
         {"add", "com.example.game"},
         "\xEF\xBB\xBF#mine\n" + nul + "com.example.game\n",
         "added com.example.game\n"},
        {"add to a missing list",
         "",
         {"add", "com.example.game"},
         "com.example.game\n",
         "added com.example.game\n"},
        {"add what is listed",
         "com.example.game\n",
         {"add", "com.example.game"},
         "com.example.game\n",
         "already listed: com.example.game\n"},
        // A stray space makes a line that never matches; the clean name is still added.
        {"add beside a stray space",
         "com.example.game \n",
         {"add", "com.example.game"},
         "com.example.game \ncom.example.game\n",
         "added com.example.game\n"},
        {"add warns when not installed",
         "",
         {"add", "com.typo.gaem"},
         "com.typo.gaem\n",
         "added com.typo.gaem\nwarning: com.typo.gaem is not installed; it is listed and counts "
         "once it is\n"},
        {"remove keeps the rest",
         "#c\r\ncom.a\r\ncom.b\r\n" + nul,
         {"remove", "com.b"},
         "#c\r\ncom.a\r\n" + nul,
         "removed com.b\n"},
        {"remove unlisted", "com.a\n", {"remove", "com.b"}, "com.a\n", "not listed: com.b\n"},
        // A final CR is the first half of its line end, whether the list has one line or more.
        {"add after a lone final CR",
         "com.c.d\r",
         {"add", "com.e.f"},
         "com.c.d\r\ncom.e.f\r\n",
         "added com.e.f\nwarning: com.e.f is not installed; it is listed and counts once it is\n"},
        {"add after a CRLF list cut before its last LF",
         "com.a.b\r\ncom.c.d\r",
         {"add", "com.e.f"},
         "com.a.b\r\ncom.c.d\r\ncom.e.f\r\n",
         "added com.e.f\nwarning: com.e.f is not installed; it is listed and counts once it is\n"},
        // The daemon matches what stands past byte 1023 of a line: so do remove and fix.
        {"remove a name past byte 1023",
         kLongComment + "com.hidden.game\r\ncom.a\r\n",
         {"remove", "com.hidden.game"},
         kLongComment + "\r\ncom.a\r\n",
         "removed com.hidden.game\n"},
        {"remove keeps the other names of a long line",
         kLongComment + "com.hidden.game\n",
         {"remove", "com.other.game"},
         kLongComment + "com.hidden.game\n",
         "not listed: com.other.game\n"},
        {"fix splits a long line so every name stays listed",
         kLongComment + "com.hidden.game\ncom.a\n",
         {"fix"},
         kLongComment + "\ncom.hidden.game\ncom.a\n",
         "fixed 1 line(s)\n"},
        {"fix",
         "\xEF\xBB\xBF com.a # x\r\ncom.b\r\n  com.c\n1bad\n",
         {"fix"},
         "com.a\r\ncom.b\r\ncom.c\n1bad\n",
         "fixed 2 line(s)\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        unlink(mod("game.txt").c_str());
        if (!c.before.empty()) write_file(mod("game.txt"), c.before);
        const auto result = ctl([&] {
            std::vector<std::string> args = {"games"};
            args.insert(args.end(), c.args.begin(), c.args.end());
            return args;
        }());
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(result.out, c.out);
        EXPECT_EQ(read_file(mod("game.txt")), c.after);
    }
}

TEST_F(GamesTest, ListAndCheckReadTheListAsTheDaemonDoes) {
    write_file(mod("game.txt"),
               "\xEF\xBB\xBF"
               "com.a\n#comment\n\ncom.b \r\ncom.c # mine\nnot a name\ncom.d\r\n");
    EXPECT_EQ(ctl({"games", "list"}).out,
              "\xEF\xBB\xBF"
              "com.a\ncom.b \ncom.c # mine\nnot a name\ncom.d\n");
    const auto check = ctl({"games", "check"});
    EXPECT_EQ(check.status, 1) << "problems found must not read as success";
    EXPECT_EQ(check.out,
              "line 1: a byte-order mark; fix makes it 'com.a'\n"
              "line 4: surrounding whitespace; fix makes it 'com.b'\n"
              "line 5: an inline comment; fix makes it 'com.c'\n"
              "line 6: not a valid Android package name: 'not a name'\n");
    write_file(mod("game.txt"), "com.a\n");
    EXPECT_EQ(ctl({"games", "check"}).status, 0);

    // A name past byte 1023 is one the daemon matches: listed, counted, and named by check.
    write_file(mod("game.txt"), kLongComment + "com.hidden.game\ncom.a\n");
    EXPECT_EQ(ctl({"games", "list"}).out, "com.hidden.game\ncom.a\n");
    const auto long_line = ctl({"games", "check"});
    EXPECT_EQ(long_line.status, 1);
    EXPECT_EQ(long_line.out,
              "line 1: past byte 1023 of a long line, read as an entry of its own; fix makes it "
              "'com.hidden.game'\n");
    EXPECT_NE(ctl({"status"}).out.find("Games listed: 2\n"), std::string::npos);
    EXPECT_NE(ctl({"status", "--json"}).out.find("\"games\":[\"com.hidden.game\",\"com.a\"]"),
              std::string::npos);
}

TEST_F(GamesTest, RefusesWhatItCannotDoAndSaysSo) {
    mkdir(mod("game.txt").c_str(), 0755);
    for (const char* command : {"add", "list"}) {
        const auto result = command == std::string("add") ? ctl({"games", "add", "com.a.b"})
                                                          : ctl({"games", "list"});
        EXPECT_EQ(result.status, 1) << command;
        EXPECT_EQ(result.out, "games: cannot read " + mod("game.txt") +
                                  ": not a regular file; nothing changed\n");
    }
    rmdir(mod("game.txt").c_str());
    const auto bad = ctl({"games", "add", "com.ok.game", "../etc"});
    EXPECT_EQ(bad.status, 2);
    EXPECT_EQ(bad.out,
              "games: refusing '../etc': not a valid Android package name; nothing changed\n");
    EXPECT_FALSE(ctl::exists(mod("game.txt")));

    // No byte can be written (a full disk, as under a file-size limit of 0): the old list stays
    // and the failure is no success.
    write_file(mod("game.txt"), "com.a.b\ncom.c.d\n");
    for (const char* edit : {"add com.e.f", "remove com.a.b"}) {
        const int status =
            system(("sh -c 'trap \"\" XFSZ; ulimit -f 0; exec \"$0\" games " + std::string(edit) +
                    "' '" + mod("tessivarctl") + "' > /dev/null 2>&1")
                       .c_str());
        EXPECT_EQ(WEXITSTATUS(status), 1) << edit;
        EXPECT_EQ(read_file(mod("game.txt")), "com.a.b\ncom.c.d\n") << edit;
    }
}

// Two hundred adds at once (taps on the page, a script): every one lands.
TEST_F(GamesTest, ConcurrentAddsAreAllKept) {
    constexpr int kAdds = 200;
    std::vector<pid_t> pids;
    for (int i = 0; i < kAdds; ++i)
        pids.push_back(start_ctl({"games", "add", "com.game.n" + std::to_string(i)},
                                 root_ + "/add-" + std::to_string(i)));
    for (pid_t pid : pids) {
        int status = -1;
        waitpid(pid, &status, 0);
        EXPECT_EQ(status, 0);
    }
    const std::string list = read_file(mod("game.txt"));
    for (int i = 0; i < kAdds; ++i)
        EXPECT_NE(list.find("com.game.n" + std::to_string(i) + "\n"), std::string::npos) << i;
    EXPECT_EQ(std::count(list.begin(), list.end(), '\n'), kAdds);
}

}  // namespace
