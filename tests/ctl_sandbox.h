// A module directory and a fake device for the control program's tests: four CPU policies (one
// without the performance governor, one whose governor is read-only), an Adreno GPU, a bus
// devfreq node no profile may touch, vendor tunables, and a kernel stand-in that swaps a
// governor's tunables for the new governor's defaults. The test build of tessivarctl reads its
// paths from the environment this sets.
#ifndef TESSIVAR_TESTS_CTL_SANDBOX_H
#define TESSIVAR_TESTS_CTL_SANDBOX_H

#include <gtest/gtest.h>
#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

namespace ctl {

struct Result {
    int status;       // the exit status, or 128 + signal
    std::string out;  // standard output and error, interleaved
};

std::string read_file(const std::string& path);
void write_file(const std::string& path, const std::string& text);
bool exists(const std::string& path);
// Waits (10 s at most) until `done` holds; false when it never did.
bool eventually(const std::function<bool()>& done);

}  // namespace ctl

class CtlTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Runs tessivarctl with the given arguments to its end.
    ctl::Result ctl(const std::vector<std::string>& args) const;
    // Runs it with standard output on a pipe, as the daemon's launches run under the
    // supervisor; answers what it printed.
    std::string ctl_piped(const std::vector<std::string>& args) const;
    // Starts it without waiting; standard output and error go to `log`.
    pid_t start_ctl(const std::vector<std::string>& args, const std::string& log) const;

    std::string mod(const std::string& name = "") const {
        return mod_ + (name.empty() ? "" : "/" + name);
    }
    std::string dev(const std::string& path = "") const { return dev_ + path; }
    // The governor of each node, and every tunable of the two tuned policies, as one line each.
    std::string governors() const;
    std::string tunables() const;
    void reboot(const std::string& boot_id) const;
    // The first line of current_profile, with its line end.
    std::string profile_in_force() const;

    std::string root_;
    std::string mod_;
    std::string dev_;
};

// What the fake device holds at boot.
extern const char kOriginalGovernors[];
extern const char kBoostedGovernors[];
extern const char kOriginalTunables[];
extern const char kPolicy[];  // the cpufreq directory

#endif
