#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "window_state.h"

namespace {

struct ScreenCase {
    const char* line;
    int expected;
};

TEST(ScreenStateFromLine, ReadsEitherKey) {
    const ScreenCase cases[] = {
        {"    mScreenOn=true\n", 1},
        {"    mScreenOn=false\n", 0},
        {"mScreenOn=maybe mAwake=true\n", -1},  // mScreenOn= alone decides its line
        {"mScreenOn=maybe mScreenOn=false\n", 0},
        {"  mAwake=true mScreenOnEarly=false mScreenOnFully=false\n", 1},
        {"  mAwake=false mScreenOnEarly=true mScreenOnFully=true\n", 0},
        {"mAwake=TRUE\n", -1},
        {"mAwake=\n", -1},
        {"  mScreenOnEarly=true\n", -1},
        {"mDreamingLockscreen=false\n", -1},
        {"", -1},
    };
    for (const auto& c : cases)
        EXPECT_EQ(screen_state_from_line(c.line), c.expected) << c.line;
}

struct FocusCase {
    std::string line;
    const char* expected;  // "" when the line yields no package
};

TEST(FocusFromLine, TakesTheFirstDottedToken) {
    const std::string dotted254 = "a." + std::string(252, 'b');
    const std::string dotted255 = "a." + std::string(253, 'b');
    const FocusCase cases[] = {
        // As real devices print them: an object id comes first.
        {"  mCurrentFocus=Window{41b37570 u0 com.example.game/com.example.game.MainActivity}\n",
         "com.example.game"},
        {"  mFocusedApp=ActivityRecord{8c1f0b3 u0 com.example.game/.MainActivity t7}\n",
         "com.example.game"},
        {"  mFocusedApp=AppWindowToken{422df168 token=Token{422def98 ActivityRecord{422dee38 u0 "
         "com.example.game/.PlayActivity t14}}}\n",
         "com.example.game"},
        {"  mCurrentFocus=Window{5d6a3e1 u0 NotificationShade}\n", ""},
        {"mCurrentFocus=Window{4f2a1c u0 com.example.game/com.example.game.Main}",
         "com.example.game"},
        // The forms without an id.
        {"mCurrentFocus=Window{com.example.game/com.example.game.Main}", "com.example.game"},
        {"mFocusedApp= com.example.game\n", "com.example.game"},
        {"mCurrentFocus=Window{ com.example.game}", "com.example.game"},
        {"mCurrentFocus=Window{  com.example.game}", "com.example.game"},
        {"mCurrentFocus=/com.example.game\n", "com.example.game"},
        // A '{' anywhere after the key beats an earlier space.
        {"mCurrentFocus=a b.c{d.e}", "d.e"},
        // Text before the key never counts.
        {"{x.y mCurrentFocus=Window{a.b}", "a.b"},
        {"mCurrentFocus=null\n", ""},
        {"mCurrentFocus=\n", ""},
        {"Window{com.example.game/.Main}\n", ""},
        // A line with mCurrentFocus= is never tried with mFocusedApp=.
        {"mFocusedApp=Window{com.example.app/x} mCurrentFocus=null\n", ""},
        // A token ending the line keeps a CR but not the LF.
        {"mFocusedApp= com.example.game\r\n", "com.example.game\r"},
        // 254 characters are the most a package holds; a longer token hands over to the next.
        {"mCurrentFocus=Window{" + dotted254 + "/x}", dotted254.c_str()},
        {"mCurrentFocus=Window{" + dotted255 + "/x}", ""},
        {"mCurrentFocus=Window{" + dotted255 + " com.next/x}", "com.next"},
        {"mFocusedApp= " + dotted254 + "\n", dotted254.c_str()},
        {"mFocusedApp= " + dotted255 + "\n", ""},
    };
    for (const auto& c : cases) {
        char package[PACKAGE_SIZE];
        memset(package, 'x', sizeof package);
        const int found = focus_from_line(c.line.c_str(), package);
        EXPECT_EQ(found, c.expected[0] != '\0') << c.line;
        EXPECT_STREQ(package, c.expected) << c.line;
    }
}

struct DumpCase {
    const char* name;
    std::vector<const char*> lines;
    int screen;
    const char* package;
};

// A whole dump, line by line, as the probe feeds it.
TEST(ScanDumpLine, TakesOnlyTheLiveStateOfDisplayZero) {
    const DumpCase cases[] = {
        {"first settled screen line wins",
         {"mScreenOn=maybe\n", "mScreenOn=false\n", "mAwake=true\n"},
         0,
         ""},
        {"first accepted focus wins whichever key",
         {"mFocusedApp=ActivityRecord{1 u0 com.first/.A t1}\n",
          "mCurrentFocus=Window{2 u0 com.second/com.second.A}\n"},
         -1,
         "com.first"},
        {"system window hands the search to a later line",
         {"  mCurrentFocus=Window{5d6a3e1 u0 NotificationShade}\n",
          "  mFocusedApp=ActivityRecord{8c1f0b3 u0 com.example.game/.MainActivity t7}\n"},
         -1,
         "com.example.game"},
        {"saved copy from the last ANR is skipped",
         {"WINDOW MANAGER LAST ANR (dumpsys window lastanr)\n",
          "  Window manager last ANR: Input dispatching timed out\n", "Last ANR continued\n",
          "WINDOW MANAGER DISPLAY CONTENTS (dumpsys window displays)\n",
          "  mCurrentFocus=Window{1 u0 com.frozen.game/com.frozen.game.Main}\n",
          "  mAwake=true mScreenOnEarly=true mScreenOnFully=true\n",
          "WINDOW MANAGER POLICY STATE (dumpsys window policy)\n",
          "    mAwake=false mScreenOnEarly=false mScreenOnFully=false\n",
          "WINDOW MANAGER DISPLAY CONTENTS (dumpsys window displays)\n",
          "  mCurrentFocus=Window{2 u0 com.android.launcher/.Home}\n"},
         0,
         "com.android.launcher"},
        {"secondary display printed first is skipped",
         {"WINDOW MANAGER DISPLAY CONTENTS (dumpsys window displays)\n",
          "  Display: mDisplayId=2 rootTasks=1\n",
          "    mAwake=false mScreenOnEarly=false mScreenOnFully=false\n",
          "  mCurrentFocus=Window{3 u0 com.cast.receiver/.Cast}\n",
          "  Display: mDisplayId=0 rootTasks=4\n",
          "    mAwake=true mScreenOnEarly=true mScreenOnFully=true\n",
          "  mCurrentFocus=Window{4 u0 com.example.game/com.example.game.Main}\n"},
         1,
         "com.example.game"},
        {"a section header ends a secondary display's block",
         {"  Display: mDisplayId=1 rootTasks=1\n", "  mCurrentFocus=Window{3 u0 com.cover/.C}\n",
          "WINDOW MANAGER WINDOWS (dumpsys window windows)\n",
          "  mCurrentFocus=Window{4 u0 com.example.game/com.example.game.Main}\n"},
         -1,
         "com.example.game"},
        {"a window's own display id opens no block",
         {"    mDisplayId=2 rootTaskId=5 mSession=Session{7 1234:u0a1}\n",
          "  mCurrentFocus=Window{4 u0 com.example.game/com.example.game.Main}\n"},
         -1,
         "com.example.game"},
        {"an unnumbered display id ends a block and opens none",
         {"  Display: mDisplayId=3\n", "mAwake=false\n", "  Display: mDisplayId=\n",
          "mAwake=true\n"},
         1,
         ""},
        {"display 00 is display 0", {"  Display: mDisplayId=00\n", "mAwake=true\n"}, 1, ""},
        {"empty dump settles nothing", {}, -1, ""},
    };
    for (const auto& c : cases) {
        system_state state;
        reset_system_state(&state);
        dump_sections sections = {0, 0};
        for (const char* line : c.lines)
            scan_dump_line(&sections, &state, line);
        EXPECT_EQ(state.screen_state, c.screen) << c.name;
        EXPECT_STREQ(state.focused_package, c.package) << c.name;
        EXPECT_EQ(state.focus_found, c.package[0] != '\0') << c.name;
    }
}

}  // namespace
