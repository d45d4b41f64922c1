// `status`: the truth in one call, and JSON that any bridge hands over unchanged.
#include <signal.h>
#include <unistd.h>

#include <string>

#include "ctl_sandbox.h"

namespace {

using ctl::read_file;
using ctl::write_file;

class StatusTest : public CtlTest {};

TEST_F(StatusTest, PlainFormSaysWhatTheActionButtonShows) {
    write_file(mod("game.txt"), "com.example.game\ncom.b \n");
    ASSERT_EQ(ctl({"profile", "performance"}).status, 0);
    write_file(mod("tessivar.log"),
               "State change detected: 0 -> 2. Screen: 1, Focus: 'a.b'\n"
               "State change detected: 2 -> 1. Screen: 1, Focus: 'com.example.game'\n");
    // A pid file naming a live process that is not ours proves nothing.
    write_file(mod("tessivar.pid"), std::to_string(getppid()) + "\n");
    write_file(mod("tessivar.daemon.pid"), std::to_string(getpid()) + "\n");
    EXPECT_EQ(ctl({"status"}).out,
              "Tessivar: not running\n"
              "Profile in force: performance\n"
              "Preset in force: max\n"
              "Boosted: policy0 policy4 kgsl-3d0\n"
              "Device's own settings held for restore: yes\n"
              "Module: on\n"
              "Games listed: 2\n"
              "Last mode changes (newest first):\n"
              "  2 -> 1. Screen: 1, Focus: 'com.example.game'\n"
              "  0 -> 2. Screen: 1, Focus: 'a.b'\n"
              "Game list problems (fix with: tessivarctl games fix):\n"
              "  line 2: surrounding whitespace: 'com.b'\n");
}

// Device text that would end a string inside a javascript: URL once percent-decoded, close a
// script element or pass for a separator arrives as escapes, and the text is printable ASCII.
TEST_F(StatusTest, JsonCarriesHostileTextAsEscapesOnly) {
    const std::string hostile =
        "x%22,ksu.exec(%22touch /tmp/PWNED%22),%22 </script> --log-- "
        "\xE2\x80\xAE\xF0\x9F\x8E\xAE \xFF'&#\\";
    write_file(mod("game.txt"), "com.pct%22x\n--check--\n");
    write_file(mod("tessivar.log"), "State change detected: 0 -> 1. Screen: 1, Focus: '" + hostile +
                                        "'\n" + hostile + "\n");
    const auto result = ctl({"status", "--json"});
    EXPECT_EQ(result.status, 0);
    const std::string& json = result.out;
    for (char c : json.substr(0, json.size() - 1)) {
        EXPECT_TRUE(c >= 0x20 && c < 0x7f) << "byte " << static_cast<int>(c);
        EXPECT_EQ(std::string("%#<>&'").find(c), std::string::npos) << json;
    }
    EXPECT_NE(json.find("\"x\\u002522,ksu.exec(\\u002522touch /tmp/PWNED\\u002522),\\u002522 "
                        "\\u003c/script\\u003e --log-- \\u202e\\ud83c\\udfae "
                        "\\ufffd\\u0027\\u0026\\u0023\\u005c\""),
              std::string::npos)
        << json;
    EXPECT_NE(json.find("\"games\":[\"com.pct\\u002522x\",\"--check--\"]"), std::string::npos)
        << json;
    EXPECT_EQ(json.back(), '\n');
}

}  // namespace
