#!/usr/bin/env bash
# The idle cost of clipboard saving: the real binary on a private Xvfb display with clipboard saving
# on and nothing copied, measured over IDLE_SECONDS (default 60) from /proc: CPU time (user + system) as a
# share of one core, and resident memory at the start and the end. For comparison the same run with
# clipboard saving off, one after the other on the same machine. Targets:
#   clipboard saving on, idle   < 0.2 % of one core, and no more growth in memory than with it off
#                               (within 128 KiB of allocator pages)
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/common.sh

SECONDS_PER_RUN=${IDLE_SECONDS:-60}
((SECONDS_PER_RUN > 0)) || { echo "run-clipboard-idle-bench: IDLE_SECONDS must be positive" >&2; exit 2; }
build_bench quillary >/dev/null || { echo "run-clipboard-idle-bench: the build failed" >&2; exit 1; }
binary=$PWD/$BUILD_DIR/src/quillary
command -v Xvfb >/dev/null || { echo "run-clipboard-idle-bench: Xvfb is missing" >&2; exit 1; }

work=$(mktemp -d build/clipboard-idle.XXXXXX)
pids=()
trap 'kill "${pids[@]}" 2>/dev/null; wait 2>/dev/null; rm -rf "$work"' EXIT
start_xvfb "$work"
display=$DISPLAY

ticks_per_second=$(getconf CLK_TCK)
cpu_ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat"; }
rss_kib() { awk '/^VmRSS/ { print $2 }' "/proc/$1/status"; }

# measure on|off: prints "<% of one core> <RSS KiB at start> <RSS KiB at end>"
measure() {
  local home=$work/home-$1
  mkdir -p "$home/.config/Quillary" "$home/run"
  chmod 700 "$home/run"
  printf '[General]\nisClipboardSyncEnabled=%s\n' "$([[ $1 == on ]] && echo true || echo false)" \
    >"$home/.config/Quillary/Quillary.conf"
  env -i PATH="$PATH" HOME="$home" DISPLAY="$display" QT_QPA_PLATFORM=xcb XDG_RUNTIME_DIR="$home/run" \
    "$binary" >"$work/$1.log" 2>&1 &
  local pid=$!
  pids+=("$pid")
  until grep -q 'access: OK' "$work/$1.log"; do sleep 0.1; done
  sleep 5 # past start-up
  local cpu0 rss0 cpu1 rss1
  cpu0=$(cpu_ticks "$pid")
  rss0=$(rss_kib "$pid")
  sleep "$SECONDS_PER_RUN"
  cpu1=$(cpu_ticks "$pid")
  rss1=$(rss_kib "$pid")
  kill "$pid"
  wait "$pid" 2>/dev/null || true
  awk -v d="$((cpu1 - cpu0))" -v hz="$ticks_per_second" -v s="$SECONDS_PER_RUN" -v a="$rss0" -v b="$rss1" \
    'BEGIN { printf "%.3f %d %d\n", 100 * d / hz / s, a, b }'
}

# The allocator may take a few pages more in either run without anything leaking; a leak keeps
# growing with the time measured.
slack_kib=128
read -r on_cpu on_rss0 on_rss1 < <(measure on)
read -r off_cpu off_rss0 off_rss1 < <(measure off)
report "idle CPU over $SECONDS_PER_RUN s, clipboard saving on" "$on_cpu % of one core (off: $off_cpu %)" \
  "< 0.2 %" "the same run with clipboard saving off" "$(verdict "$on_cpu" '<' 0.2)"
report "idle memory over $SECONDS_PER_RUN s, clipboard saving on" \
  "RSS $on_rss0 -> $on_rss1 KiB (off: $off_rss0 -> $off_rss1 KiB)" "no growth beyond the run with it off" \
  "the same run with clipboard saving off" \
  "$(verdict "$((on_rss1 - on_rss0))" '<=' "$(((off_rss1 > off_rss0 ? off_rss1 - off_rss0 : 0) + slack_kib))")"
