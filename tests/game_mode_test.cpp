// The battery preset and the platform's own game mode, against a stand-in `cmd` on PATH that
// answers `cmd game list-modes|mode` as the newest GameManagerShellCommand prints them and
// keeps each game's mode in a file, as the platform keeps it across reboots.
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "ctl_sandbox.h"

namespace {

using ctl::eventually;
using ctl::exists;
using ctl::read_file;
using ctl::write_file;

// modes/<package> holds its mode, offers/<package> its available modes ("standard,battery"),
// not-games the packages without the game category; a kill-caller file makes `mode battery`
// kill the program that ran it right after the mode changed.
const char kCmd[] = R"CMD(#!/bin/sh
dir=$(dirname "$0")/..
echo "$*" >> "$dir/cmd-calls"
[ "$1" = game ] || exit 1
pkg=$3; [ "$2" = mode ] && pkg=$4
if grep -qx "$pkg" "$dir/not-games" 2>/dev/null; then
  echo "Package $pkg is not of game type, to use the game mode commands, it must specify game category in the manifest as android:appCategory=\"game\""
  exit 255
fi
[ -f "$dir/modes/$pkg" ] || { echo "Package $pkg is not found for user 0"; exit 255; }
case $2 in
  list-modes) echo "$pkg current mode: $(cat "$dir/modes/$pkg"), available game modes: [$(cat "$dir/offers/$pkg")]" ;;
  mode)
    case ",$(cat "$dir/offers/$pkg")," in
      *",$3,"*|*,standard,*) ;;
      *) echo "Game mode: $3 not supported by $pkg"; exit 255 ;;
    esac
    echo "$3" > "$dir/modes/$pkg"
    echo "Set game mode to \`$(echo "$3" | tr a-z A-Z)\` for user \`0\` in game \`$pkg\`"
    [ "$3" = battery ] && [ -f "$dir/kill-caller" ] && kill -KILL "$PPID"
    ;;
esac
exit 0
)CMD";

class GameModeTest : public CtlTest {
protected:
    void SetUp() override {
        CtlTest::SetUp();
        const std::string bin = root_ + "/bin";
        mkdir(bin.c_str(), 0755);
        mkdir((root_ + "/modes").c_str(), 0755);
        mkdir((root_ + "/offers").c_str(), 0755);
        write_file(bin + "/cmd", kCmd);
        chmod((bin + "/cmd").c_str(), 0755);
        setenv("PATH", (bin + ":" + getenv("PATH")).c_str(), 1);
        setenv("TESSIVAR_SDK", "34", 1);
        write_file(mod("presets.txt"), "* battery\ncom.other.game sustained\n");
        game("com.example.game", "standard", "standard,performance,battery");
        game("com.other.game", "standard", "standard,battery");
    }
    void TearDown() override {
        unsetenv("TESSIVAR_SDK");
        CtlTest::TearDown();
    }
    void game(const std::string& package, const std::string& mode, const std::string& offers) {
        write_file(root_ + "/modes/" + package, mode + "\n");
        write_file(root_ + "/offers/" + package, offers + "\n");
    }
    std::string mode_of(const std::string& package) const {
        return read_file(root_ + "/modes/" + package);
    }
    // performance as the daemon launches it for `package`.
    std::string launch(const std::string& package) const {
        write_file(mod("last_change"), "boot-1\n1 " + package + "\n");
        return ctl_piped({"profile", "performance"});
    }
    std::string calls() const { return read_file(root_ + "/cmd-calls"); }
    // The run's lines about the game mode.
    static std::string mode_lines(const std::string& out) {
        std::string found;
        for (size_t at = 0; at < out.size();) {
            const size_t end = out.find('\n', at);
            const std::string line = out.substr(at, end - at + 1);
            if (line.find("game mode") != std::string::npos) found += line;
            at = end == std::string::npos ? out.size() : end + 1;
        }
        return found;
    }
};

TEST_F(GameModeTest, BatterySetsTheGamesBatteryModeAndBalancedPutsItsOwnBack) {
    EXPECT_EQ(mode_lines(launch("com.example.game")),
              "performance: game mode of com.example.game: battery (was standard; put back when "
              "the game leaves)\n");
    EXPECT_EQ(mode_of("com.example.game"), "battery\n");
    EXPECT_EQ(read_file(mod("game_mode")), "com.example.game standard\n");
    EXPECT_EQ(mode_lines(ctl_piped({"profile", "balanced"})),
              "balanced: game mode of com.example.game: standard again\n");
    EXPECT_EQ(mode_of("com.example.game"), "standard\n");
    EXPECT_FALSE(exists(mod("game_mode")));
    EXPECT_EQ(calls(),
              "game list-modes com.example.game\ngame mode battery com.example.game\ngame "
              "list-modes com.example.game\ngame mode standard com.example.game\n");
    // Nothing recorded: a balanced runs no command at all.
    unlink((root_ + "/cmd-calls").c_str());
    ctl_piped({"profile", "balanced"});
    EXPECT_EQ(calls(), "");
}

struct LeftAloneCase {
    const char* name;
    const char* sdk;
    const char* mode;
    const char* offers;
    bool not_a_game;
    const char* line;
    const char* calls;
};

// Where the mode is left as it is: never a `mode` command, never a record.
TEST_F(GameModeTest, LeavesAloneWhatItCannotPutBackOrMayNotTouch) {
    const LeftAloneCase cases[] = {
        {"Android 13", "33", "standard", "standard,battery", false,
         "performance: game mode: not set on Android 13 and older (API 33), where the mode in "
         "force cannot be read back\n",
         ""},
        {"Android 12", "31", "standard", "standard,battery", false,
         "performance: game mode: not set on Android 13 and older (API 31), where the mode in "
         "force cannot be read back\n",
         ""},
        {"not of the game category", "34", "standard", "standard,battery", true,
         "performance: game mode of com.example.game: left alone (the platform does not count it "
         "as a game)\n",
         "game list-modes com.example.game\n"},
        {"no battery mode", "34", "standard", "standard,performance", false,
         "performance: game mode of com.example.game: standard, left alone (it offers no battery "
         "mode)\n",
         "game list-modes com.example.game\n"},
        {"already battery", "35", "battery", "standard,battery", false,
         "performance: game mode of com.example.game: already battery; left as it is\n",
         "game list-modes com.example.game\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        setenv("TESSIVAR_SDK", c.sdk, 1);
        game("com.example.game", c.mode, c.offers);
        write_file(root_ + "/not-games", c.not_a_game ? "com.example.game\n" : "");
        unlink((root_ + "/cmd-calls").c_str());
        EXPECT_EQ(mode_lines(launch("com.example.game")), c.line);
        EXPECT_EQ(calls(), c.calls);
        EXPECT_EQ(mode_of("com.example.game"), std::string(c.mode) + "\n");
        EXPECT_FALSE(exists(mod("game_mode")));
        ctl_piped({"profile", "balanced"});
        EXPECT_EQ(mode_of("com.example.game"), std::string(c.mode) + "\n");
    }
    // Another preset: not a command.
    unlink((root_ + "/cmd-calls").c_str());
    EXPECT_EQ(mode_lines(launch("com.other.game")), "");
    EXPECT_EQ(calls(), "");
}

// A mode chosen by the user during the game is theirs; a game after a game gets the first
// game's own mode back before its own preset.
TEST_F(GameModeTest, AModeChosenSinceStaysAndAGameAfterAGameGetsItsOwnBack) {
    launch("com.example.game");
    game("com.example.game", "performance", "standard,performance,battery");  // the user's tap
    EXPECT_EQ(mode_lines(ctl_piped({"profile", "balanced"})),
              "balanced: left the game mode of com.example.game at performance: changed since the "
              "game started\n");
    EXPECT_EQ(mode_of("com.example.game"), "performance\n");
    EXPECT_FALSE(exists(mod("game_mode")));

    game("com.example.game", "standard", "standard,performance,battery");
    launch("com.example.game");
    // The supervisor sees com.other.game (sustained) in front within the same launch.
    const std::string state = read_file(mod("current_profile"));
    const std::string ticks =
        state.substr(state.find(' ') + 1, state.find('\n', 12) - state.find(' ') - 1);
    EXPECT_EQ(mode_lines(ctl_piped({"profile", "switch", ticks, "com.other.game"})),
              "performance: game mode of com.example.game: standard again\n");
    EXPECT_EQ(mode_of("com.example.game"), "standard\n");
    EXPECT_FALSE(exists(mod("game_mode")));
}

// A game mode outlives a reboot: killed mid-game (the supervisor, or the run right after the
// mode changed), the record is on disk and the supervisor's start at the next boot puts the
// user's own mode back.
TEST_F(GameModeTest, TheRecordSurvivesAKillAndARebootAndTheNextStartPutsTheModeBack) {
    for (const char* how : {"supervisor", "run"}) {
        SCOPED_TRACE(how);
        unlink(mod("last_change")
                   .c_str());  // the last round's: the change of this start is waited for
        write_file(mod("standin-mode"), "change:com.example.game");
        const pid_t supervisor = start_ctl({"supervise"}, root_ + "/supervisor-output");
        ASSERT_TRUE(eventually([&] {
            return read_file(mod("last_change")).find("com.example.game") != std::string::npos;
        }));
        if (std::string(how) == "run") write_file(root_ + "/kill-caller", "");
        ctl_piped({"profile", "performance"});  // as the daemon launches it
        unlink((root_ + "/kill-caller").c_str());
        EXPECT_EQ(mode_of("com.example.game"), "battery\n");
        EXPECT_EQ(read_file(mod("game_mode")), "com.example.game standard\n");
        kill(supervisor, SIGKILL);
        waitpid(supervisor, nullptr, 0);
        EXPECT_EQ(mode_of("com.example.game"), "battery\n") << "nothing ran at the kill";

        reboot(std::string("boot-") + how);
        unlink(mod("standin-mode").c_str());
        const pid_t next = start_ctl({"supervise"}, root_ + "/supervisor-output");
        EXPECT_TRUE(eventually([&] { return mode_of("com.example.game") == "standard\n"; }));
        EXPECT_TRUE(eventually([&] { return !exists(mod("game_mode")); }));
        EXPECT_TRUE(eventually([&] {
            return read_file(mod("tessivar.log"))
                       .find("balanced: game mode of com.example.game: standard again\n") !=
                   std::string::npos;
        })) << read_file(mod("tessivar.log"));
        ctl({"stop"});
        waitpid(next, nullptr, 0);
    }
}

}  // namespace
