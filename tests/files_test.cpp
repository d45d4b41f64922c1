// The reading of one device value, on real pipes and files: what it accepts, and that a value
// costs one read, never a second one to find the end.
#include "files.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdio.h>
#include <unistd.h>

#include <string>

#include "nodes.h"

namespace {

// A pipe whose writer stays open: a read past what was written fails (EAGAIN) instead of
// finding the end, so a value is accepted only if it was taken in one read.
int pipe_holding(const std::string& text, int* writer) {
    int fds[2];
    if (pipe2(fds, O_NONBLOCK) != 0) return -1;
    if (write(fds[1], text.data(), text.size()) != static_cast<ssize_t>(text.size())) return -1;
    *writer = fds[1];
    return fds[0];
}

TEST(ReadValue, OneReadPerValue) {
    const struct {
        const char* name;
        std::string text;
        const char* want;  // nullptr: refused
    } cases[] = {
        {"a number and its newline", "300000\n", "300000"},
        {"no newline", "schedutil", "schedutil"},
        {"an empty value", "\n", ""},
        {"two lines", "1 2\n3 4\n", nullptr},
    };
    for (const auto& c : cases) {
        int writer = -1;
        const int reader = pipe_holding(c.text, &writer);
        ASSERT_GE(reader, 0) << c.name;
        char out[VALUE_SIZE];
        const int ok = read_value_from(reader, out, sizeof out);
        close(writer);
        EXPECT_EQ(ok, c.want != nullptr) << c.name;
        if (ok && c.want) EXPECT_STREQ(out, c.want) << c.name;
    }
}

// A value that fills the buffer exactly is still read to its end: one byte more is refused.
TEST(ReadValue, AValueThatFillsTheBufferIsCheckedForMore) {
    const std::string path = testing::TempDir() + "/tessivar-value";
    for (const size_t size : {VALUE_SIZE - 1, VALUE_SIZE}) {
        FILE* f = fopen(path.c_str(), "w");
        ASSERT_NE(f, nullptr);
        fputs(std::string(size, '7').c_str(), f);
        fclose(f);
        char out[VALUE_SIZE];
        EXPECT_EQ(read_value(path.c_str(), out, sizeof out), size == VALUE_SIZE - 1) << size;
    }
    unlink(path.c_str());
}

}  // namespace
