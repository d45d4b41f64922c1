// The frame rate over time, from nodes the kernel keeps without a process: Qualcomm's display
// driver (`/sys/class/drm/sde-crtc-N/measured_fps`, older ones
// `/sys/class/graphics/fb0/measured_fps`: the frames the display showed, which with a
// full-screen game in front are close to the game's) and MediaTek's FPSGO
// (`/sys/kernel/fpsgo/fstb/fpsgo_status`: each producer's own frame rate, only while FPSGO is on;
// it is never switched on here, since it boosts). The reading of their text; no I/O here.
#ifndef TESSIVARCTL_FRAME_RATE_H
#define TESSIVARCTL_FRAME_RATE_H

#include <string_view>

constexpr char DRM_FPS_FORMAT[] = "/sys/class/drm/sde-crtc-%d/measured_fps";
constexpr char FB_FPS[] = "/sys/class/graphics/fb0/measured_fps";
constexpr char FPSGO_STATUS[] = "/sys/kernel/fpsgo/fstb/fpsgo_status";
constexpr int MAX_CRTCS = 4;

// The kind of a node: "drm", "fb", "fpsgo", or nullptr for none.
const char* frame_rate_source(std::string_view node);

// A display node's text in tenths of a frame per second: "fps: 59.9 duration:1000000
// frame_count:60" (SDE) or "59.9" (MDSS, older SDE); -1 when it holds none.
int display_fps_x10(std::string_view text);
// FPSGO's status in tenths: the row of the producer whose name the package holds (the kernel
// keeps a process name cut short), else the fastest row; -1 while FPSGO is off (it prints
// nothing) or lists no producer.
int fpsgo_fps_x10(std::string_view text, std::string_view package);

#endif
