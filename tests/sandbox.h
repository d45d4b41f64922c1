// A module directory of the tests' own, a stand-in dumpsys first on PATH, and helpers to read
// what the daemon's code printed and launched.
#ifndef TESSIVAR_TESTS_SANDBOX_H
#define TESSIVAR_TESTS_SANDBOX_H

#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace sandbox {

std::string root();        // holds bin/, the dump the stand-in prints, and the launch fifo
std::string module_dir();  // the daemon's module directory, as compiled into the code under test

void write_file(const std::string& path, const std::string& text);
std::string read_file(const std::string& path);

// What the stand-in dumpsys prints on its next calls.
void set_dump(const std::string& text);
// Every argument list the stand-in was called with, a line each.
std::string dumpsys_calls();
void set_game_list(const std::string& text);

struct Output {
    std::string out;
    std::string err;
};
// Runs `fn` with standard output and standard error sent to files, and returns both.
Output capture(const std::function<void()>& fn);

// Reads up to the next '\n' (not kept) into `line`; false when none came within 30 s, the
// emulated shells and programs of a cross build being slow to start.
bool read_line(int fd, std::string* line);

// The lowest file descriptor not in use; a leak of one pipe end or file moves it.
int lowest_free_fd();

// Lowers the open-file limit so that no new descriptor can be made, for as long as it lives.
struct NoFreeDescriptors {
    NoFreeDescriptors();
    ~NoFreeDescriptors();
    unsigned long long saved;
};

}  // namespace sandbox

// Each test starts from a fresh sandbox: game list, both profile scripts, a stand-in dumpsys
// printing nothing. The profile scripts report each launch on a fifo that the test reads.
class SandboxTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    // The name of the next profile script that ran ("performance" or "balanced"), or "" when
    // none reported within the time allowed.
    std::string next_launch();
    std::string script_path(const char* name) const;
    int launches_fd_ = -1;
};

#endif
