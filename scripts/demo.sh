#!/usr/bin/env bash
# Tessivar's main job on a PC: the daemon runs in the foreground against a sandbox module
# directory and a fake sysfs tree, while a stand-in dumpsys plays a short scenario in real time
# (launcher, a listed game, screen off, screen on with another app). About 45 seconds;
# Ctrl-C ends it early.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
demo=$root/build/demo
module=$demo/Drovenmarke
device=$demo/device

for tool in cmake g++ make; do
  command -v "$tool" > /dev/null || { echo "demo.sh needs $tool (./scripts/test.sh installs it)" >&2; exit 1; }
done

echo "demo: building the daemon and tessivarctl for the sandbox module at $module"
cmake -S "$root" -B "$demo/build" -DBUILD_TESTING=OFF -DTESSIVAR_SANDBOX_CTL=ON \
  -DTESSIVAR_MODULE_DIR="$module" > /dev/null
cmake --build "$demo/build" -j2 > /dev/null

rm -rf "$module" "$device" "$demo/bin" "$demo/calls" "$demo/scene"
mkdir -p "$module" "$demo/bin"
cp -R "$root/module/Scripts" "$root/module/game.txt" "$module/"
# The control program built to take its paths from the environment: this module, that device.
cp "$demo/build/tessivarctl-sandboxed" "$module/tessivarctl"
export TESSIVAR_MODULE_DIR=$module

# A device with two CPU clusters and an Adreno GPU; the profile scripts change these files.
cpu=$device/sys/devices/system/cpu/cpufreq
gpu=$device/sys/class/kgsl/kgsl-3d0/devfreq
mkdir -p "$cpu/policy0" "$cpu/policy4" "$gpu"
echo schedutil > "$cpu/policy0/scaling_governor"
echo "schedutil performance powersave" > "$cpu/policy0/scaling_available_governors"
echo schedutil > "$cpu/policy4/scaling_governor"
echo "schedutil performance" > "$cpu/policy4/scaling_available_governors"
echo msm-adreno-tz > "$gpu/governor"
mkdir -p "$device/proc/sys/kernel/random"
cat /proc/sys/kernel/random/boot_id > "$device/proc/sys/kernel/random/boot_id"
echo "msm-adreno-tz performance powersave" > "$gpu/available_governors"
# The vendor's tuning of policy0's schedutil, which a switch to performance and back would lose.
mkdir -p "$cpu/policy0/schedutil" "$demo/defaults/schedutil"
echo 500 > "$cpu/policy0/schedutil/rate_limit_us"
echo 1804800 > "$cpu/policy0/schedutil/hispeed_freq"
echo 1000 > "$demo/defaults/schedutil/rate_limit_us"
# Android's cpuctl group of the app in front: the sustained preset (the default) raises its floor.
mkdir -p "$device/dev/cpuctl/top-app"
echo 0.00 > "$device/dev/cpuctl/top-app/cpu.uclamp.min"
echo 0 > "$demo/defaults/schedutil/hispeed_freq"
export PROFILE_ROOT=$device
# Stands in for the kernel: selecting a governor replaces the old one's tunables directory with
# the new one's defaults.
cat > "$demo/bin/kernel" <<HOOK
#!/bin/sh
case \$1 in */policy*/scaling_governor) ;; *) exit 0 ;; esac
rm -rf "\${1%/*}"/*/
[ -d "$demo/defaults/\$2" ] && cp -R "$demo/defaults/\$2" "\${1%/*}/\$2"
exit 0
HOOK
chmod 0755 "$demo/bin/kernel"
export TESSIVAR_KERNEL_HOOK=$demo/bin/kernel

# The stand-in dumpsys: each call is the next scene; it narrates on stderr.
cat > "$demo/bin/dumpsys" <<STANDIN
#!/bin/sh
demo='$demo'
cpu='$cpu'
gpu='$gpu'
STANDIN
cat >> "$demo/bin/dumpsys" <<'STANDIN'
n=$(( $(cat "$demo/calls" 2>/dev/null || echo 0) + 1 ))
echo "$n" > "$demo/calls"
case $n in
  1) awake=true; app=com.android.launcher3; scene="the launcher is in front" ;;
  2|3) awake=true; app=com.tencent.ig; scene="a listed game (com.tencent.ig) is in front" ;;
  4|5) awake=false; app=com.tencent.ig; scene="the screen is off, the game still focused" ;;
  *) awake=true; app=com.google.android.youtube; scene="screen on again, an unlisted app in front" ;;
esac
# The demo narrates the scene once the daemon has acted on it.
echo "$n $scene" > "$demo/scene.new" && mv -f "$demo/scene.new" "$demo/scene"
cat <<DUMP
WINDOW MANAGER POLICY STATE (dumpsys window policy)
    mAwake=$awake mScreenOnEarly=$awake mScreenOnFully=$awake
WINDOW MANAGER DISPLAY CONTENTS (dumpsys window displays)
  Display: mDisplayId=0 rootTasks=3
    mCurrentFocus=Window{41b37570 u0 $app/$app.MainActivity}
    mFocusedApp=ActivityRecord{8c1f0b3 u0 $app/.MainActivity t7}
DUMP
STANDIN
chmod 0755 "$demo/bin/dumpsys"

echo "demo: starting $demo/build/Tessivar: a 45-second scenario; Ctrl-C ends it early"
echo "demo: the game gets the sustained preset (the default): the top-app group's uclamp.min goes"
echo "      to 15 while it runs, no governor changes, and the device's own 0.00 comes back after."
echo "      With 'tessivarctl preset set default max' it would be the performance governor instead."
echo
# In a process group of its own, so that stopping it also stops the dumpsys and scripts it runs.
PATH=$demo/bin:$PATH setsid "$demo/build/Tessivar" &
daemon=$!
stop() {
  local status=$?
  trap - EXIT INT TERM
  kill -TERM -- "-$daemon" 2>/dev/null || true
  wait "$daemon" 2>/dev/null || true
  echo
  echo "demo: stopped"
  exit "$status"
}
trap stop EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

governors() {
  local tunables
  tunables=$(cat "$cpu/policy0/schedutil/rate_limit_us" "$cpu/policy0/schedutil/hispeed_freq" 2>/dev/null | tr '\n' ' ')
  echo "governors: cpu0=$(cat "$cpu/policy0/scaling_governor") cpu4=$(cat "$cpu/policy4/scaling_governor") gpu=$(cat "$gpu/governor"); top-app uclamp.min=$(cat "$device/dev/cpuctl/top-app/cpu.uclamp.min"); cpu0 schedutil tunables (rate_limit_us hispeed_freq): ${tunables:-none}"
}
# Each scene is told once the daemon has acted on it: the profile it calls for is in force (or
# 3 s have passed), and the profile's own lines have been printed.
told=0
while kill -0 "$daemon" 2>/dev/null; do
  read -r n scene 2>/dev/null < "$demo/scene" || { sleep 0.2; continue; }
  if [ "$n" -gt "$told" ]; then
    case $scene in *"listed game ("*) want=performance ;; *) want=balanced ;; esac
    for _ in $(seq 30); do
      # The state file's first line is the profile in force.
      [ "$(head -n 1 "$module/current_profile" 2>/dev/null)" = "$want" ] && break
      sleep 0.1
    done
    sleep 0.5
    echo "[demo $(date +%T)] $scene; $(governors)"
    echo
    told=$n
    [ "$n" -ge 7 ] && break
  fi
  sleep 0.2
done
echo "[demo] scenario over; $(governors) (the vendor's: 500 1804800); profile in force: $(head -n 1 "$module/current_profile")"
exit 0
