#include <gtest/gtest.h>

#include <string>

#include "sandbox.h"
#include "window_state.h"

namespace {

using sandbox::capture;
using sandbox::set_dump;

const char kNoScreenWarning[] =
    "Warning: Screen state (mScreenOn/mAwake) not found. Assuming ON.\n";

class ProbeTest : public SandboxTest {
protected:
    system_state probe() {
        system_state state;
        memset(&state, 'x', sizeof state);  // the probe must reset every field
        output_ = capture([&] { get_system_state(&state); });
        return state;
    }
    sandbox::Output output_;
};

TEST_F(ProbeTest, ReadsARealDeviceDump) {
    set_dump(
        "WINDOW MANAGER POLICY STATE (dumpsys window policy)\n"
        "    mAwake=true mScreenOnEarly=true mScreenOnFully=true\n"
        "WINDOW MANAGER DISPLAY CONTENTS (dumpsys window displays)\n"
        "  mCurrentFocus=Window{41b37570 u0 com.example.game/com.example.game.MainActivity}\n"
        "  mFocusedApp=ActivityRecord{8c1f0b3 u0 com.other/.MainActivity t7}\n");
    const system_state state = probe();
    EXPECT_EQ(state.screen_state, 1);
    EXPECT_STREQ(state.focused_package, "com.example.game");
    EXPECT_EQ(state.focus_found, 1);
    EXPECT_EQ(sandbox::dumpsys_calls(), "window\n");
    EXPECT_EQ(output_.out, "");
    EXPECT_EQ(output_.err, "");
}

TEST_F(ProbeTest, AssumesOnWhenNoScreenKeyIsPrinted) {
    // The last one hides an mAwake= line behind NUL bytes, where no string search reaches.
    const std::string dumps[] = {"", "mCurrentFocus=Window{1 u0 com.a.b/.C}\n",
                                 std::string("\0\0garbage mAwake=false\n", 23)};
    for (const std::string& dump : dumps) {
        set_dump(dump);
        const system_state state = probe();
        EXPECT_EQ(state.screen_state, 1) << dump;
        EXPECT_EQ(output_.err, kNoScreenWarning) << dump;
    }
}

TEST_F(ProbeTest, MissingDumpCommandCountsAsNoScreenKey) {
    std::remove((sandbox::root() + "/bin/dumpsys").c_str());
    setenv("PATH", (sandbox::root() + "/bin").c_str(), 1);  // no dumpsys anywhere
    const system_state state = probe();
    EXPECT_EQ(state.screen_state, 1);
    EXPECT_STREQ(state.focused_package, "");
    EXPECT_EQ(state.focus_found, 0);
    // The shell's own complaint comes first, on the same stream.
    EXPECT_NE(output_.err.find("dumpsys"), std::string::npos) << output_.err;
    EXPECT_EQ(output_.err.substr(output_.err.size() - strlen(kNoScreenWarning)), kNoScreenWarning);
}

TEST_F(ProbeTest, CommandThatCannotStartLeavesTheStateUndetermined) {
    set_dump("mAwake=false\n");
    system_state state;
    output_ = capture([&] {
        sandbox::NoFreeDescriptors limit;
        get_system_state(&state);
    });
    EXPECT_EQ(state.screen_state, -1);
    EXPECT_STREQ(state.focused_package, "");
    EXPECT_EQ(state.focus_found, 0);
    EXPECT_EQ(output_.err, "Error running dumpsys window command: Too many open files\n");
}

TEST_F(ProbeTest, LongLinesArriveIn1023CharacterPieces) {
    const std::string pad(1023 - strlen("  "), 'x');
    // The first key starts a new piece and is found; the second is cut in two and is not.
    set_dump("  " + pad + "mAwake=false\n" + std::string(1020, 'y') +
             "mCurrentFocus=Window{com.cut/x}\n" + "mFocusedApp= com.whole.line\n");
    const system_state state = probe();
    EXPECT_EQ(state.screen_state, 0);
    EXPECT_STREQ(state.focused_package, "com.whole.line");
}

TEST_F(ProbeTest, ReadsMegabytesOfGarbageToTheEndAndLeaksNothing) {
    std::string dump;
    for (int i = 0; i < 20000; ++i) {
        dump += "  garbage \x01\xff{}/ mCurrentFocus=";  // a key with nothing acceptable
        dump += '\0';
        dump += "mAwake=true mCurrentFocus=Window{1 u0 com.hidden.after.nul/x}\n";
        dump += std::string(40, '\xfe') + "\r";
    }
    dump += "mAwake=false\nmCurrentFocus=Window{2 u0 com.at.the.end/x}\n";
    set_dump(dump);
    const int free_fd = sandbox::lowest_free_fd();
    const system_state state = probe();
    EXPECT_EQ(state.screen_state, 0);
    EXPECT_STREQ(state.focused_package, "com.at.the.end");
    EXPECT_EQ(sandbox::lowest_free_fd(), free_fd);
    EXPECT_EQ(output_.err, "");
}

}  // namespace
