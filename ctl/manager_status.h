// The module's line in the root manager's list says what Tessivar is doing ("performance for
// com.example.game", "balanced", "switched off"), as modules conventionally do: on KernelSU
// through its description override, elsewhere by rewriting module.prop's description.
#ifndef TESSIVARCTL_MANAGER_STATUS_H
#define TESSIVARCTL_MANAGER_STATUS_H

#include <stddef.h>

#include <string_view>

// The description with the status in front: "Status: <state> | <base>". `base` is the
// description without any status an earlier call put in front of it.
int status_description(char* out, size_t cap, std::string_view state, std::string_view base);
std::string_view base_description(std::string_view description);

// The mode a daemon line reports ("State change detected: 2 -> 1. Screen: 1, Focus: 'pkg'"),
// 1 or 2, and its focus; 0 for any other line.
int parse_change_line(std::string_view line, std::string_view* focus);

// The state as the manager shows it, from a mode and a focus (kept only when it is a plain
// package name, since it becomes part of module.prop).
void describe_mode(char* out, size_t cap, int mode, std::string_view focus);

// Shows `state` in the manager; nothing happens when it is what was shown last.
void show_in_manager(const char* state);

#endif
