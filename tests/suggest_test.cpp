// `games suggest` against a stand-in dumpsys on PATH that prints `dumpsys game` as the platform's
// game manager does (Android 13 and the newest source), fails, hangs or prints nothing.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "ctl_sandbox.h"

namespace {

using ctl::eventually;
using ctl::read_file;
using ctl::write_file;

// GameManagerService.dump: the header, then println("\n" + the package's intervention list)
// per installed app of the game category. Android 13: Scaling is the String "1.0" when unset,
// Fps the String it was given; modes 1-3 only.
const char kDump13[] =
    "*Dump GameManagerService*\n"
    "\n No intervention found for package com.listed.game\n"
    "\n[Name:com.example.racing Modes: {2=[Game Mode:2,Scaling:1.0,Use Angle:false,Fps:60,Loading "
    "Boost Duration:0], 3=[Game Mode:3,Scaling:0.7,Use Angle:false,Fps:30,Loading Boost "
    "Duration:0]}]\n"
    "\n No intervention found for package com.example.puzzle\n";
// The newest: Scaling a float (-1.0 when unset), Fps "" when unset, CUSTOM (4) among the modes.
const char kDumpNewest[] =
    "*Dump GameManagerService*\n"
    "\n[Name:com.example.racing Modes: {3=[Game Mode:3,Scaling:0.5,Use Angle:false,Fps:30,Loading "
    "Boost Duration:-1], 4=[Game Mode:4,Scaling:-1.0,Use Angle:false,Fps:,Loading Boost "
    "Duration:-1]}]\n"
    "\n No intervention found for package com.listed.game\n"
    "\n No intervention found for package org.example.cards\n";

class SuggestTest : public CtlTest {
protected:
    void SetUp() override {
        CtlTest::SetUp();
        bin_ = root_ + "/bin";
        mkdir(bin_.c_str(), 0755);
        setenv("PATH", (bin_ + ":" + getenv("PATH")).c_str(), 1);
        setenv("TESSIVAR_SDK", "34", 1);
        write_file(mod("game.txt"), "# mine\r\ncom.listed.game\r\n");
    }
    void TearDown() override {
        unsetenv("TESSIVAR_SDK");
        unsetenv("TESSIVAR_COMMAND_DEADLINE_MS");
        CtlTest::TearDown();
    }
    // A dumpsys that notes each run, then runs `body`.
    void dumpsys(const std::string& body) const {
        write_file(bin_ + "/dumpsys",
                   "#!/bin/sh\necho \"$*\" >> '" + root_ + "/dumpsys-runs'\n" + body + "\n");
        chmod((bin_ + "/dumpsys").c_str(), 0755);
    }
    void dumpsys_prints(const std::string& text) const {
        write_file(root_ + "/dump", text);
        dumpsys("cat '" + root_ + "/dump'");
    }
    std::string bin_;
};

struct SuggestCase {
    const char* name;
    const char* sdk;
    std::string dumpsys;  // the stand-in's body
    std::string json;
};

TEST_F(SuggestTest, ListsTheGamesThePhoneKnowsAndSaysWhenItCannotTell) {
    write_file(root_ + "/dump13", kDump13);
    write_file(root_ + "/dump-newest", kDumpNewest);
    const std::string not_known = "{\"known\":false,\"reason\":";
    const std::string tail = ",\"gamesOnPhone\":0,\"cut\":false,\"games\":[]}\n";
    const SuggestCase cases[] = {
        {"Android 13", "33", "cat '" + root_ + "/dump13'",
         "{\"known\":true,\"reason\":null,\"gamesOnPhone\":3,\"cut\":false,\"games\":[\"com."
         "example.racing\",\"com.example.puzzle\"]}\n"},
        {"newest", "35", "cat '" + root_ + "/dump-newest'",
         "{\"known\":true,\"reason\":null,\"gamesOnPhone\":3,\"cut\":false,\"games\":[\"com."
         "example.racing\",\"org.example.cards\"]}\n"},
        {"no games", "34", "echo '*Dump GameManagerService*'",
         "{\"known\":true,\"reason\":null,\"gamesOnPhone\":0,\"cut\":false,\"games\":[]}\n"},
        // What dumpsys says of a service the phone does not have, and how it ends.
        {"fails", "34", "echo \"Can't find service: game\" >&2; exit 1",
         not_known + "\"dumpsys game failed (status 1)\"" + tail},
        {"prints nothing", "34", "exit 0", not_known + "\"dumpsys game printed nothing\"" + tail},
        {"another answer", "34", "echo 'Permission Denial: can'\\''t dump GameManagerService'",
         not_known + "\"dumpsys game did not answer as the game manager does\"" + tail},
        {"Android 12", "31", "cat '" + root_ + "/dump13'",
         not_known + "\"Android 12 and older do not say which apps are games (this is API 31)\"" +
             tail},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        setenv("TESSIVAR_SDK", c.sdk, 1);
        unlink((root_ + "/dumpsys-runs").c_str());
        dumpsys(c.dumpsys);
        const auto result = ctl({"games", "suggest", "--json"});
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(result.out, c.json);
        // Once, and never on a phone that cannot answer.
        EXPECT_EQ(read_file(root_ + "/dumpsys-runs"), std::string(c.sdk) == "31" ? "" : "game\n");
    }
    EXPECT_EQ(read_file(mod("game.txt")), "# mine\r\ncom.listed.game\r\n") << "nothing is added";

    // For a person (and the Action button): how many, and which.
    setenv("TESSIVAR_SDK", "33", 1);
    dumpsys("cat '" + root_ + "/dump13'");
    EXPECT_EQ(ctl({"games", "suggest"}).out,
              "Games on this phone that Tessivar does not boost yet: 2\n  com.example.racing\n  "
              "com.example.puzzle\nAdd them on the page, or with: tessivarctl games add "
              "PACKAGE...\n");
    dumpsys("exit 3");
    EXPECT_EQ(ctl({"games", "suggest"}).out,
              "Games on this phone that Tessivar does not boost yet: the phone cannot tell "
              "(dumpsys game failed (status 3))\n");
}

// A dump that never ends, or prints and then holds its output open through a child: stopped at
// the bound with everything it started, and said so.
TEST_F(SuggestTest, AHangingDumpIsStoppedAtTheBoundWithItsChildren) {
    setenv("TESSIVAR_COMMAND_DEADLINE_MS", "300", 1);
    for (const char* body : {"sleep 30 & echo $! > '%s/child'; wait",
                             "echo '*Dump GameManagerService*'; sleep 30 & echo $! > "
                             "'%s/child'; wait"}) {
        SCOPED_TRACE(body);
        char script[256];
        snprintf(script, sizeof script, body, root_.c_str());
        dumpsys(script);
        const auto result = ctl({"games", "suggest", "--json"});
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(result.out,
                  "{\"known\":false,\"reason\":\"dumpsys game did not answer within 1 s; it was "
                  "stopped\",\"gamesOnPhone\":0,\"cut\":false,\"games\":[]}\n");
        const std::string child = read_file(root_ + "/child");
        ASSERT_FALSE(child.empty());
        // Gone, or a zombie of the killed group that init has yet to reap.
        EXPECT_TRUE(eventually([&] {
            const std::string stat =
                read_file("/proc/" + child.substr(0, child.find('\n')) + "/stat");
            const size_t paren = stat.rfind(')');
            return paren == std::string::npos || stat[paren + 2] == 'Z';
        })) << "the dump's child outlived the bound";
    }
}

// Names that are no package are never offered; a dump past its bound gives whole names only.
TEST_F(SuggestTest, OffersOnlyWholeValidNames) {
    dumpsys_prints(
        "*Dump GameManagerService*\n"
        "\n No intervention found for package com.evil;reboot\n"
        "\n[Name:com.x\x1b[2J Modes: {}]\n"
        "\n No intervention found for package com.example.racing\n"
        "\n No intervention found for package com.example.racing\n");
    EXPECT_EQ(ctl({"games", "suggest", "--json"}).out,
              "{\"known\":true,\"reason\":null,\"gamesOnPhone\":2,\"cut\":false,\"games\":[\"com."
              "example.racing\"]}\n");
    // Long names (about 280 bytes an entry): the 256 KiB bound comes before the 1,024 offered.
    const std::string stem = "com.example.g" + std::string(220, 'a');
    std::string big = "*Dump GameManagerService*\n";
    for (int i = 0; big.size() < 300 * 1024; ++i)
        big += "\n No intervention found for package " + stem + std::to_string(i) + "\n";
    dumpsys_prints(big);
    const std::string out = ctl({"games", "suggest", "--json"}).out;
    EXPECT_NE(out.find("\"cut\":true"), std::string::npos);
    const int count = std::stoi(out.substr(out.find("\"gamesOnPhone\":") + 15));
    EXPECT_GT(count, 800);
    EXPECT_LT(count, 1024);
    // The last name the bound let through is whole: the one before the first name cut off.
    EXPECT_NE(out.find("\"" + stem + std::to_string(count - 1) + "\"]}\n"), std::string::npos)
        << out.substr(out.size() - 300);
}

}  // namespace
