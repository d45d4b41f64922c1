#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <filesystem>
#include <string>

#include "config.h"
#include "monitor.h"
#include "sandbox.h"

namespace {

using sandbox::capture;
using sandbox::set_dump;

std::string dump(const char* awake, const char* package) {
    return std::string("WINDOW MANAGER POLICY STATE (dumpsys window policy)\n    mAwake=") + awake +
           " mScreenOnEarly=" + awake + " mScreenOnFully=" + awake +
           "\nWINDOW MANAGER DISPLAY CONTENTS (dumpsys window displays)\n"
           "  mCurrentFocus=Window{41b37570 u0 " +
           package + "/" + package + ".MainActivity}\n";
}

const std::string kGameOn = dump("true", "com.example.game");
const std::string kLauncherOn = dump("true", "com.android.launcher");
const std::string kGameOff = dump("false", "com.example.game");
// The tests' build cuts a dump off after 1 s.
const char kTimedOut[] =
    "Warning: dumpsys window timed out after 1 s; stopped it and used what it had printed.\n";

class CycleTest : public SandboxTest {
protected:
    // One cycle on the given dump; remembers its delay and what it printed.
    void cycle(const std::string& text) {
        set_dump(text);
        output_ = capture([&] { delay_ = run_cycle(&state_, &previous_); });
    }
    std::string change(int from, int to, int screen, const char* focus) const {
        return "State change detected: " + std::to_string(from) + " -> " + std::to_string(to) +
               ". Screen: " + std::to_string(screen) + ", Focus: '" + focus + "'\n";
    }
    // Replaces the stand-in dumpsys with a script of the test's own.
    void use_dumpsys(const std::string& script) {
        const std::string dumpsys = sandbox::root() + "/bin/dumpsys";
        sandbox::write_file(dumpsys, "#!/bin/sh\n" + script);
        chmod(dumpsys.c_str(), 0755);
    }
    std::string executing(const char* name) const {
        return "Executing: sh " + script_path(name) + " &\n";
    }

    system_state state_{};
    int previous_ = MODE_NONE;
    int delay_ = -1;
    sandbox::Output output_;
};

TEST_F(CycleTest, FirstCycleAlwaysAppliesAMode) {
    cycle(kLauncherOn);
    EXPECT_EQ(output_.out, change(0, 2, 1, "com.android.launcher") + executing("balanced"));
    EXPECT_EQ(output_.err, "");
    EXPECT_EQ(delay_, SCREEN_ON_DELAY);
    EXPECT_EQ(previous_, MODE_BALANCED);
    EXPECT_EQ(next_launch(), "balanced");
}

TEST_F(CycleTest, FollowsGameScreenOffAndBack) {
    struct Step {
        const std::string& dump;
        std::string out;
        int delay;
        const char* launch;  // nullptr: nothing may be launched
    };
    const Step steps[] = {
        {kGameOn, change(0, 1, 1, "com.example.game") + executing("performance"), 5, "performance"},
        {kGameOn, "", 5, nullptr},
        {kGameOff, change(1, 2, 0, "<none>") + executing("balanced"), 10, "balanced"},
        {kGameOff, "", 10, nullptr},
        {kGameOn, change(2, 1, 1, "com.example.game") + executing("performance"), 5, "performance"},
        {kLauncherOn, change(1, 2, 1, "com.android.launcher") + executing("balanced"), 5,
         "balanced"},
        {kLauncherOn, "", 5, nullptr},
    };
    int step = 0;
    for (const auto& s : steps) {
        cycle(s.dump);
        EXPECT_EQ(output_.out, s.out) << "step " << step;
        EXPECT_EQ(output_.err, "") << "step " << step;
        EXPECT_EQ(delay_, s.delay) << "step " << step;
        if (s.launch) EXPECT_EQ(next_launch(), s.launch) << "step " << step;
        ++step;
    }
    // The screen-off cycles emptied the package.
    cycle(kGameOff);
    EXPECT_STREQ(state_.focused_package, "");
}

TEST_F(CycleTest, ScreenOnWithoutFocusIsBalanced) {
    cycle("    mAwake=true\n  mCurrentFocus=null\n");
    EXPECT_EQ(output_.out, change(0, 2, 1, "<none>") + executing("balanced"));
    EXPECT_EQ(delay_, SCREEN_ON_DELAY);
}

TEST_F(CycleTest, NoScreenKeyCountsAsOn) {
    cycle("  mCurrentFocus=Window{1 u0 com.example.game/x}\n");
    EXPECT_EQ(output_.out, change(0, 1, 1, "com.example.game") + executing("performance"));
    EXPECT_EQ(output_.err, "Warning: Screen state (mScreenOn/mAwake) not found. Assuming ON.\n");
    EXPECT_EQ(delay_, SCREEN_ON_DELAY);
}

TEST_F(CycleTest, MissingScriptIsReportedOncePerEntry) {
    std::remove(script_path("performance").c_str());
    const std::string not_found =
        "Error: Script performance.sh not found at " + script_path("performance") + ".\n";
    cycle(kGameOn);
    EXPECT_EQ(output_.out, change(0, 1, 1, "com.example.game"));
    EXPECT_EQ(output_.err, not_found);
    cycle(kGameOn);  // the mode counts as applied: no retry
    EXPECT_EQ(output_.out, "");
    EXPECT_EQ(output_.err, "");
    cycle(kLauncherOn);
    EXPECT_EQ(next_launch(), "balanced");
    cycle(kGameOn);
    EXPECT_EQ(output_.err, not_found);
}

TEST_F(CycleTest, MissingScriptsDirectoryIsReported) {
    std::filesystem::remove_all(sandbox::module_dir() + "/Scripts");
    cycle(kLauncherOn);
    EXPECT_EQ(output_.out, change(0, 2, 1, "com.android.launcher"));
    EXPECT_EQ(output_.err,
              "Error: Script balanced.sh not found at " + script_path("balanced") + ".\n");
}

TEST_F(CycleTest, MissingGameListIsReportedEveryCycleWithAPackage) {
    const std::string list = sandbox::module_dir() + "/game.txt";
    std::remove(list.c_str());
    const std::string error = "Error opening " + list + ": No such file or directory\n";
    cycle(kGameOn);
    EXPECT_EQ(output_.out, change(0, 2, 1, "com.example.game") + executing("balanced"));
    EXPECT_EQ(output_.err, error);
    cycle(kGameOn);
    EXPECT_EQ(output_.out, "");
    EXPECT_EQ(output_.err, error);
    cycle(kGameOff);  // screen off: the list is not asked
    EXPECT_EQ(output_.err, "");
}

TEST_F(CycleTest, GameListEditedBetweenCycles) {
    sandbox::set_game_list("com.other\n");
    cycle(kGameOn);
    EXPECT_EQ(previous_, MODE_BALANCED);
    sandbox::set_game_list("com.other\ncom.example.game\n");
    cycle(kGameOn);
    EXPECT_EQ(output_.out, change(2, 1, 1, "com.example.game") + executing("performance"));
    sandbox::set_game_list("");
    cycle(kGameOn);
    EXPECT_EQ(output_.out, change(1, 2, 1, "com.example.game") + executing("balanced"));
}

TEST_F(CycleTest, DumpThatCannotStartCountsAsOnAndBalanced) {
    set_dump(kGameOff);
    // The capture files are opened before the limit bites; the limit also starves the shell
    // that would run the script, so only the start of each stream is certain. Only locals
    // inside: the sanitizers' check of a member access needs a descriptor of its own.
    system_state* state = &state_;
    int* previous = &previous_;
    int delay = -1;
    output_ = capture([state, previous, &delay] {
        sandbox::NoFreeDescriptors limit;
        delay = run_cycle(state, previous);
    });
    delay_ = delay;
    EXPECT_EQ(delay_, SCREEN_ON_DELAY);
    EXPECT_EQ(previous_, MODE_BALANCED);
    EXPECT_EQ(state_.screen_state, -1);
    EXPECT_EQ(output_.out.rfind(change(0, 2, -1, "<none>") + executing("balanced"), 0), 0u)
        << output_.out;
    EXPECT_EQ(output_.err.rfind("Error running dumpsys window command: Too many open files\n", 0),
              0u)
        << output_.err;
}

TEST_F(CycleTest, EveryChildIsReapedAndEveryFileClosed) {
    const int free_fd = sandbox::lowest_free_fd();
    for (int i = 0; i < 20; ++i) {
        cycle(i % 2 ? kGameOn : kLauncherOn);
        EXPECT_EQ(next_launch(), i % 2 ? "performance" : "balanced");
    }
    EXPECT_EQ(sandbox::lowest_free_fd(), free_fd);
    EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1);  // no child, living or zombie
    EXPECT_EQ(errno, ECHILD);
}

// The tests about the deadline shorten it to 1 s; every other test has the phone's 20 s, which
// no slow or emulated machine comes near.
class DeadlineTest : public CycleTest {
protected:
    void SetUp() override {
        CycleTest::SetUp();
        dump_deadline_ms = 1000;
    }
    void TearDown() override {
        dump_deadline_ms = 20000;
        CycleTest::TearDown();
    }
};

// A dump command that prints both facts and then never ends, with a background child holding
// the pipe: the cycle is decided from what came, and both processes are ended.
TEST_F(DeadlineTest, DumpThatNeverEndsIsCutOffAtTheDeadline) {
    const std::string root = sandbox::root();
    use_dumpsys("echo $$ > '" + root +
                "/dumpsys.pid'\n"
                "printf '    mAwake=true\\n  mCurrentFocus=Window{1 u0 com.example.game/x}\\n'\n"
                "sleep 600 &\necho $! > '" +
                root + "/background.pid'\nexec sleep 600\n");
    cycle("");
    EXPECT_EQ(output_.out, change(0, 1, 1, "com.example.game") + executing("performance"));
    EXPECT_EQ(output_.err, kTimedOut);
    EXPECT_EQ(next_launch(), "performance");
    // Killed, not still sleeping out its 600 s (without the deadline the cycle itself
    // would block that long): gone, or a zombie waiting for its new parent.
    for (const char* name : {"background.pid", "dumpsys.pid"}) {
        std::string pid = sandbox::read_file(root + "/" + name);
        ASSERT_FALSE(pid.empty()) << name;
        pid.pop_back();  // the line end
        const std::string stat = "/proc/" + pid + "/stat";
        std::string state = "S";
        for (int i = 0; i < 3000 && state != "" && state != "Z" && state != "X"; ++i) {
            const std::string text = sandbox::read_file(stat);
            const size_t paren = text.rfind(')');
            state = paren == std::string::npos ? "" : text.substr(paren + 2, 1);
            if (state != "" && state != "Z") poll(nullptr, 0, 10);
        }
        EXPECT_TRUE(state == "" || state == "Z" || state == "X") << name << " is " << state;
    }

    // The next cycle starts afresh.
    SandboxTest::SetUp();
    cycle(kLauncherOn);
    EXPECT_EQ(output_.out, change(1, 2, 1, "com.android.launcher") + executing("balanced"));
    EXPECT_EQ(output_.err, "");
}

// Output that never ends is cut off too, though every read finds something.
TEST_F(DeadlineTest, DumpThatNeverStopsPrintingIsCutOffAtTheDeadline) {
    use_dumpsys("printf '    mAwake=false\\n'\nexec yes '  filler line'\n");
    cycle("");
    EXPECT_EQ(output_.out, change(0, 2, 0, "<none>") + executing("balanced"));
    EXPECT_EQ(output_.err, kTimedOut);
    EXPECT_EQ(delay_, SCREEN_OFF_DELAY);
}

// Output that ends while the command lives on: the wait is bounded by the same deadline.
TEST_F(DeadlineTest, DumpThatClosesItsOutputButNeverExitsIsEndedAtTheDeadline) {
    use_dumpsys(
        "printf '    mAwake=true\\n  mCurrentFocus=Window{1 u0 com.example.game/x}\\n'\n"
        "exec >&- 2>&-\nexec sleep 5\n");
    cycle("");
    EXPECT_EQ(output_.out, change(0, 1, 1, "com.example.game") + executing("performance"));
    EXPECT_EQ(output_.err, kTimedOut);  // without the bound: no line, and a 5 s wait
    EXPECT_EQ(next_launch(), "performance");
}

// Cut off before any screen key: the same as output that ended there.
TEST_F(DeadlineTest, DumpThatHangsBeforeTheScreenKeyAssumesOn) {
    use_dumpsys("printf '  mCurrentFocus=Window{1 u0 com.example.game/x}'\nexec sleep 600\n");
    cycle("");
    EXPECT_EQ(output_.out, change(0, 1, 1, "com.example.game") + executing("performance"));
    EXPECT_EQ(output_.err,
              std::string(kTimedOut) +
                  "Warning: Screen state (mScreenOn/mAwake) not found. Assuming ON.\n");
}

}  // namespace
