// "Choose for me" with the real supervisor: the session that completes a Try both run ends and
// the verdict is applied with no page open, marked as chosen; a hand choice is never
// overwritten, whether it came before or after the game was handed over.
#include <stdio.h>

#include <algorithm>
#include <string>

#include "ctl_sandbox.h"

namespace {

using ctl::eventually;
using ctl::exists;
using ctl::read_file;
using ctl::write_file;

// A summary line as the recorder writes it: ten minutes on the battery, frames known.
std::string session(long long start, const char* preset, int low_fps, int mwh_per_min) {
    char line[512];
    snprintf(line, sizeof line,
             "start=%lld game=com.example.game preset=%s duration_s=600 energy_mwh_x10=%d "
             "discharging_s=600 mean_mw=%d peak_temp_dc=400 mean_temp_dc=380 "
             "levels_s=600,0,0,0,0,0,0 first_moderate_s=-1 top_permille=500,400 samples=120 "
             "throttled_samples=0 frames_known=1 frames=36000 dropped=10 fps_x100=%d "
             "low_fps_x100=%d\n",
             start, preset, mwh_per_min * 100, mwh_per_min * 60, low_fps * 100 + 300,
             low_fps * 100);
    return line;
}

class ChooseTest : public CtlTest {
protected:
    void SetUp() override {
        CtlTest::SetUp();
        // Three sessions of each: sustained gives 97 % of max's frames for 70 % of its energy.
        std::string index;
        for (int i = 0; i < 3; ++i)
            index += session(1765000000 + i * 7200, "max", 60, 40) +
                     session(1765003600 + i * 7200, "sustained", 58, 28);
        system(("mkdir -p '" + mod("sessions") + "'").c_str());
        write_file(mod("sessions/index"), index);
        // The last session of a Try both run is next.
        write_file(mod("trials.txt"), "com.example.game 1\n");
    }
    void start_supervisor() {
        start_ctl({"supervise"}, root_ + "/supervisor-output");
        ASSERT_TRUE(eventually([&] { return exists(mod("tessivar.daemon.pid")); }));
    }
    // One session of the game under the supervisor, from launch to balanced.
    void play_one_session(const std::string& preset) {
        write_file(mod("last_change"), "boot-1\n1 com.example.game\n");
        const std::string run = ctl_piped({"profile", "performance"});
        ASSERT_EQ(run.rfind("performance: " + preset + " for com.example.game", 0), 0u) << run;
        const auto sessions = [&] {
            const std::string index = read_file(mod("sessions/index"));
            return std::count(index.begin(), index.end(), '\n');
        };
        const auto before = sessions();
        ASSERT_TRUE(eventually([&] { return exists(mod("sessions")); }));
        ASSERT_EQ(ctl({"profile", "balanced"}).status, 0);
        ASSERT_TRUE(eventually([&] { return sessions() == before + 1; }));
    }
    std::string log() const { return read_file(mod("tessivar.log")); }
};

TEST_F(ChooseTest, TheSessionThatCompletesATryBothRunAppliesTheVerdict) {
    for (const char* how : {"com.example.game on\n", "* on\n"}) {  // this game, or every game
        SCOPED_TRACE(how);
        TearDown();
        SetUp();
        write_file(mod("choose.txt"), how);
        start_supervisor();
        play_one_session("sustained");  // the run's last: too short to count, but it completes it
        ASSERT_TRUE(eventually([&] {
            return log().find(
                       "supervisor: preset for com.example.game: sustained, chosen from 6 "
                       "sessions\n") != std::string::npos;
        })) << log();
        EXPECT_NE(read_file(mod("presets.txt")).find("com.example.game sustained\n"),
                  std::string::npos);
        EXPECT_NE(read_file(mod("choose.txt")).find("com.example.game sustained 6 0\n"),
                  std::string::npos)
            << read_file(mod("choose.txt"));
        // Status and the page: chosen, not set by hand.
        const std::string json = ctl({"status", "--json"}).out;
        EXPECT_NE(json.find("\"winner\":\"sustained\",\"other\":\"max\",\"framesPct\":97,"
                            "\"powerPct\":70,\"each\":3,\"used\":6,\"leftOut\":{\"short\":1,"),
                  std::string::npos)
            << json;
        EXPECT_NE(json.find("\"handed\":true,\"byHand\":false,\"chosen\":{\"preset\":"
                            "\"sustained\",\"from\":6}"),
                  std::string::npos)
            << json;
        EXPECT_NE(ctl({"status"})
                      .out.find("Preset for com.example.game: sustained (chosen from 6 sessions)"),
                  std::string::npos)
            << ctl({"status"}).out;
        // The next session counts towards the check 20 sessions later.
        play_one_session("sustained");
        EXPECT_TRUE(eventually([&] {
            return read_file(mod("choose.txt")).find("com.example.game sustained 6 1\n") !=
                   std::string::npos;
        })) << read_file(mod("choose.txt"));
    }
}

TEST_F(ChooseTest, AHandChoiceIsNeverOverwritten) {
    // Set by hand before "every game" was turned on: the game is not handed over.
    write_file(mod("presets.txt"), "com.example.game max\n");
    write_file(mod("choose.txt"), "* on\n");
    start_supervisor();
    play_one_session("sustained");
    EXPECT_EQ(read_file(mod("presets.txt")), "com.example.game max\n");
    EXPECT_EQ(log().find("preset for com.example.game"), std::string::npos) << log();
    // Handed over, then set by hand: "Choose for me" goes off for it and stays off.
    write_file(mod("trials.txt"), "com.example.game 1\n");
    ASSERT_EQ(ctl({"preset", "choose", "com.example.game"}).status, 0);
    ASSERT_EQ(ctl({"preset", "set", "com.example.game", "battery"}).status, 0);
    EXPECT_NE(read_file(mod("choose.txt")).find("com.example.game off\n"), std::string::npos);
    play_one_session("sustained");
    EXPECT_EQ(read_file(mod("presets.txt")), "com.example.game battery\n");
    EXPECT_EQ(log().find("preset for com.example.game"), std::string::npos) << log();
    EXPECT_NE(
        ctl({"status", "--json"}).out.find("\"handed\":false,\"byHand\":true,\"chosen\":null"),
        std::string::npos);
}

// A Try both run started by hand for a game already chosen for: the session that completes it
// is weighed at once, not 20 sessions later.
TEST_F(ChooseTest, ATryBothRunStartedByHandIsWeighedWhenItEnds) {
    write_file(mod("presets.txt"), "com.example.game max\n");
    write_file(mod("choose.txt"), "com.example.game max 6 3\n");
    write_file(mod("trials.txt"), "");
    ASSERT_EQ(ctl({"preset", "try", "com.example.game"}).status, 0);
    EXPECT_EQ(read_file(mod("choose.txt")), "com.example.game max 6 20\n");
    write_file(mod("trials.txt"), "com.example.game 1\n");  // its last session is next
    start_supervisor();
    play_one_session("sustained");
    ASSERT_TRUE(eventually([&] {
        return log().find(
                   "supervisor: preset for com.example.game: sustained, chosen from 6 "
                   "sessions\n") != std::string::npos;
    })) << log();
    EXPECT_EQ(read_file(mod("presets.txt")), "com.example.game sustained\n");
}

}  // namespace
