#!/usr/bin/env bash
# Start-up to the tray icon, and idle memory, against the least Qt Widgets program with a tray icon
# (bench/MinimalTray.cpp), both release builds, in the same run on a private Xvfb display with a
# session bus and a StatusNotifierItem host. Start-up is measured from just before exec to the
# program's RegisterStatusNotifierItem call as the bus saw it (dbus-monitor's timestamps); RUNS runs
# each (default 15), alternating, median. Memory is VmRSS 5 s after start-up. Targets:
#   start-up   < 300 ms, and <= 1.5x the minimal program
#   idle RSS   < 40 MB
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/common.sh

RUNS=${RUNS:-15}
for tool in Xvfb dbus-launch dbus-monitor status-notifier-watcher gtk-sni-tray-standalone; do
  command -v "$tool" >/dev/null || { echo "run-startup-bench: $tool is missing" >&2; exit 1; }
done
build_bench quillary >/dev/null || { echo "run-startup-bench: the build failed" >&2; exit 1; }
build_bench minimal_tray >/dev/null || { echo "run-startup-bench: the build failed" >&2; exit 1; }
quillary=$PWD/$BUILD_DIR/src/quillary
minimal=$PWD/$BUILD_DIR/bench/minimal_tray

work=$(mktemp -d build/startup-bench.XXXXXX)
pids=()
trap 'kill "${pids[@]}" 2>/dev/null; wait 2>/dev/null; rm -rf "$work"' EXIT
start_xvfb "$work"
eval "$(dbus-launch --sh-syntax)"
pids+=("$DBUS_SESSION_BUS_PID")
status-notifier-watcher >/dev/null 2>&1 &
pids+=($!)
until dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
  org.freedesktop.DBus.NameHasOwner string:org.kde.StatusNotifierWatcher 2>/dev/null | grep -q true; do
  sleep 0.1
done
gtk-sni-tray-standalone --bottom --end >/dev/null 2>&1 &
pids+=($!)
sleep 1
dbus-monitor --session "type='method_call',member='RegisterStatusNotifierItem'" >"$work/bus.log" 2>&1 &
pids+=($!)
sleep 0.5

home=$work/home
mkdir -p "$home/Desktop" "$home/.config/Quillary" "$home/run"
chmod 700 "$home/run"
printf '[General]\nisClipboardSyncEnabled=true\n' >"$home/.config/Quillary/Quillary.conf"

registrations() { grep -c 'member=RegisterStatusNotifierItem' "$work/bus.log" || true; }
# start_once BINARY: sets ms, the milliseconds from exec to the registration, and pid, the program
# left running.
start_once() {
  local before start deadline
  before=$(registrations)
  start=$EPOCHREALTIME
  env -i PATH="$PATH" HOME="$home" DISPLAY="$DISPLAY" QT_QPA_PLATFORM=xcb XDG_RUNTIME_DIR="$home/run" \
    DBUS_SESSION_BUS_ADDRESS="$DBUS_SESSION_BUS_ADDRESS" "$1" >"$work/run.log" 2>&1 &
  pid=$!
  deadline=$((SECONDS + 10))
  until (($(registrations) > before)); do
    ((SECONDS < deadline)) || { echo "run-startup-bench: $1 registered no tray icon" >&2; cat "$work/run.log" >&2; exit 1; }
    sleep 0.005
  done
  ms=$(grep 'member=RegisterStatusNotifierItem' "$work/bus.log" | tail -n1 |
    sed 's/.*time=\([0-9.]*\).*/\1/' | awk -v s="$start" '{ printf "%.1f\n", ($1 - s) * 1000 }')
}
stop_it() { kill "$pid"; wait "$pid" 2>/dev/null || true; }
median() { sort -n | awk '{ t[NR] = $1 } END { printf "%.1f\n", t[int((NR + 1) / 2)] }'; }

ours=() theirs=()
for _ in $(seq "$RUNS"); do
  start_once "$quillary"; ours+=("$ms"); stop_it
  start_once "$minimal"; theirs+=("$ms"); stop_it
done
q=$(printf '%s\n' "${ours[@]}" | median)
m=$(printf '%s\n' "${theirs[@]}" | median)

rss_mb() { awk '/^VmRSS/ { printf "%.1f\n", $2 / 1024 }' "/proc/$1/status"; }
start_once "$quillary"; sleep 5; q_rss=$(rss_mb "$pid"); stop_it
start_once "$minimal"; sleep 5; m_rss=$(rss_mb "$pid"); stop_it

ratio=$(awk -v a="$q" -v b="$m" 'BEGIN { printf "%.2f", a / b }')
echo "== results (medians of $RUNS runs each; load average after: $(cut -d' ' -f1 /proc/loadavg))"
report "start-up to the tray icon" "$q ms" "< 300 ms" - "$(verdict "$q" '<' 300)"
report "start-up to the tray icon" "ours $q ms, minimal tray program $m ms: ${ratio}x" "<= 1.5x" \
  "the minimal tray program" "$(verdict "$ratio" '<=' 1.5)"
report "idle resident memory" "ours $q_rss MB, minimal tray program $m_rss MB" "< 40 MB" \
  "the minimal tray program" "$(verdict "$q_rss" '<' 40)"
