#include "sandbox.h"

#include <fcntl.h>
#include <poll.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

namespace sandbox {

std::string root() {
    return SANDBOX_ROOT;
}
std::string module_dir() {
    return root() + "/Drovenmarke";
}

void write_file(const std::string& path, const std::string& text) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file << text;
    ASSERT_TRUE(file.good()) << path;
}

std::string read_file(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

void set_dump(const std::string& text) {
    write_file(root() + "/dump.txt", text);
}
std::string dumpsys_calls() {
    return read_file(root() + "/dumpsys.calls");
}
void set_game_list(const std::string& text) {
    write_file(module_dir() + "/game.txt", text);
}

Output capture(const std::function<void()>& fn) {
    fflush(stdout);
    fflush(stderr);
    FILE* out = tmpfile();
    FILE* err = tmpfile();
    const int saved_out = dup(1);
    const int saved_err = dup(2);
    dup2(fileno(out), 1);
    dup2(fileno(err), 2);
    fn();
    fflush(stdout);
    fflush(stderr);
    dup2(saved_out, 1);
    dup2(saved_err, 2);
    close(saved_out);
    close(saved_err);

    auto slurp = [](FILE* file) {
        std::string text;
        rewind(file);
        char buf[4096];
        size_t n;
        while ((n = fread(buf, 1, sizeof buf, file)) > 0)
            text.append(buf, n);
        fclose(file);
        return text;
    };
    return Output{slurp(out), slurp(err)};
}

bool read_line(int fd, std::string* line) {
    line->clear();
    char c;
    pollfd ready{fd, POLLIN, 0};
    while (poll(&ready, 1, 30000) == 1 && read(fd, &c, 1) == 1) {
        if (c == '\n') return true;
        *line += c;
    }
    return false;
}

int lowest_free_fd() {
    const int fd = dup(0);
    close(fd);
    return fd;
}

NoFreeDescriptors::NoFreeDescriptors() {
    rlimit limit{};
    getrlimit(RLIMIT_NOFILE, &limit);
    saved = limit.rlim_cur;
    limit.rlim_cur = static_cast<rlim_t>(lowest_free_fd());
    setrlimit(RLIMIT_NOFILE, &limit);
}

NoFreeDescriptors::~NoFreeDescriptors() {
    rlimit limit{};
    getrlimit(RLIMIT_NOFILE, &limit);
    limit.rlim_cur = static_cast<rlim_t>(saved);
    setrlimit(RLIMIT_NOFILE, &limit);
}

}  // namespace sandbox

void SandboxTest::SetUp() {
    using namespace sandbox;
    std::error_code ignored;
    fs::remove_all(root(), ignored);
    fs::create_directories(module_dir() + "/Scripts");
    fs::create_directories(root() + "/bin");

    // The stand-in records how it was called and prints whatever the test put in dump.txt.
    const std::string dumpsys = root() + "/bin/dumpsys";
    write_file(dumpsys, "#!/bin/sh\nprintf '%s\\n' \"$*\" >> '" + root() +
                            "/dumpsys.calls'\ncat '" + root() + "/dump.txt'\n");
    chmod(dumpsys.c_str(), 0755);
    set_dump("");
    set_game_list("# games\ncom.example.game\n");

    // "<>" opens the fifo without waiting for a reader, so a script never hangs. A fifo of its
    // own for each test: a script the last test launched may still be starting, and must not
    // land in this one.
    static int generation = 0;
    const std::string fifo = root() + "/launches." + std::to_string(++generation) + ".fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    for (const char* name : {"performance", "balanced"}) {
        write_file(script_path(name), std::string("echo ") + name + " 1<>'" + fifo + "'\n");
    }
    launches_fd_ = open(fifo.c_str(), O_RDWR | O_NONBLOCK);
    ASSERT_GE(launches_fd_, 0);

    static const std::string path = root() + "/bin:" + getenv("PATH");
    setenv("PATH", path.c_str(), 1);
}

void SandboxTest::TearDown() {
    if (launches_fd_ >= 0) close(launches_fd_);
}

std::string SandboxTest::script_path(const char* name) const {
    return sandbox::module_dir() + "/Scripts/" + name + ".sh";
}

std::string SandboxTest::next_launch() {
    std::string name;
    return sandbox::read_line(launches_fd_, &name) ? name : "";
}
