#!/usr/bin/env bash
# Every benchmark in one run: builds the benchmark programs and the release binary once, runs the
# scan, naming/move, burst, conversion, PDF, rename, clipboard-idle and start-up benchmarks, and
# ends with a table of every figure beside its target and its reference, met or MISSED.
#
# Installs nothing: a benchmark whose tools are missing is skipped with a line that names them.
# Before and after, warns when the machine is not idle (load average above 0.5 per core, or a process
# using more than 10 % of a core over one second), since the figures are unreliable then.
# IDLE_SECONDS (default here 30) is passed on to the clipboard-idle benchmark; RUNS to the scripts.
set -uo pipefail
cd "$(dirname "$0")/.." || exit
source bench/common.sh

export IDLE_SECONDS=${IDLE_SECONDS:-30}
IMAGES=build/bench-images
MAKE_SCREENSHOTS=../shared/tools/make-screenshots
mkdir -p build
OUT=$(mktemp -d build/run-all.XXXXXX)
trap 'rm -rf "$OUT"' EXIT
export BENCH_SUMMARY=$PWD/$OUT/summary.tsv
: >"$BENCH_SUMMARY"
skipped=()
failed=()

# cpu_ticks: "<busy> <total>" jiffies of all cores, from /proc/stat.
cpu_ticks() {
  awk '/^cpu / { total = 0; for (i = 2; i <= NF; i++) total += $i; print total - $5 - $6, total }' /proc/stat
}
# process_ticks: "<pid> <user+system jiffies> <name>" for every process.
process_ticks() {
  local stat line
  for stat in /proc/[0-9]*/stat; do
    read -r line 2>/dev/null <"$stat" || continue
    # The name is in parentheses and may hold spaces; the fields after it are fixed.
    local pid=${line%% *} name=${line#*(} rest=${line##*) }
    name=${name%)*}
    local fields
    read -ra fields <<<"$rest"
    printf '%s %s %s\n' "$pid" "$((fields[11] + fields[12]))" "$name"
  done
}
# check_idle WHEN: warns when the machine is busy; prints the load average either way.
check_idle() {
  local cores load ticks0 ticks1 busy hogs
  cores=$(nproc)
  read -r load _ </proc/loadavg
  ticks0=$(cpu_ticks)
  process_ticks >"$OUT/processes0"
  sleep 1
  process_ticks >"$OUT/processes1"
  ticks1=$(cpu_ticks)
  busy=$(awk -v a="$ticks0" -v b="$ticks1" 'BEGIN {
    split(a, x, " "); split(b, y, " "); printf "%.0f", 100 * (y[1] - x[1]) / (y[2] - x[2]) }')
  hogs=$(awk -v hz="$(getconf CLK_TCK)" '
    NR == FNR { before[$1] = $2; next }
    $1 in before {
      share = 100 * ($2 - before[$1]) / hz
      name = $3
      for (i = 4; i <= NF; i++) name = name " " $i
      if (share > 10) { printf "%s%s %s (%.0f %%)", sep, name, $1, share; sep = ", " }
    }' "$OUT/processes0" "$OUT/processes1")
  echo "== machine $WHEN: load average $load on $cores cores; $busy % of all cores busy over 1 s"
  if awk -v l="$load" -v c="$cores" 'BEGIN { exit !(l > 0.5 * c) }' || [ -n "$hogs" ]; then
    echo "run-all: WARNING: the machine is not idle $WHEN the run${hogs:+ (busy: $hogs)}; the figures are unreliable" >&2
  fi
}
# missing TOOL...: the tools of the list that are not installed.
missing() {
  local tool gone=()
  for tool; do command -v "$tool" >/dev/null || gone+=("$tool"); done
  echo "${gone[*]}"
}
# run NAME COMMAND...: runs one benchmark; a failure is noted and the run goes on.
run() {
  local name=$1
  shift
  echo
  echo "######## $name"
  "$@"
  local status=$?
  if ((status != 0)); then
    echo "run-all: $name FAILED (exit status $status)" >&2
    failed+=("$name")
  fi
}
# skip NAME WHY: notes a benchmark left out.
skip() {
  echo
  echo "######## $1: SKIPPED: $2"
  skipped+=("$1: $2")
}

WHEN=before check_idle
load_before=$(cut -d' ' -f1 /proc/loadavg)

echo "== building (bench preset, release)"
BUILD_DIR=${BUILD_DIR:-}
build_bench scan_bench naming_bench burst_bench conversion_bench pdf_bench rename_bench quillary minimal_tray ||
  { echo "run-all: the build failed" >&2; exit 1; }
BIN=$BUILD_DIR/bench

# The realistic screenshots, when they can be made without installing anything.
images_missing=
if [ ! -x "$MAKE_SCREENSHOTS" ]; then
  images_missing="$MAKE_SCREENSHOTS is missing"
elif [ -n "$(missing chromium)" ] || [ ! -e /usr/share/fonts/truetype/dejavu/DejaVuSans.ttf ]; then
  images_missing="chromium or fonts-dejavu-core is missing (for $MAKE_SCREENSHOTS)"
else
  echo "== test screenshots in $IMAGES"
  "$MAKE_SCREENSHOTS" "$IMAGES" 200 >/dev/null || images_missing="$MAKE_SCREENSHOTS failed"
fi
shots=("$IMAGES"/Screenshot*.png)

run "scan of a large watched folder" "$BIN/scan_bench" --benchmark_repetitions=3 --benchmark_report_aggregates_only=true
run "naming and moving into a 10,000-file folder" "$BIN/naming_bench" --benchmark_repetitions=3 \
  --benchmark_report_aggregates_only=true
if [ -z "$images_missing" ] && [ -e "${shots[0]}" ]; then
  run "burst of 1,000 screenshots" "$BIN/burst_bench" --image "${shots[0]}"
else
  run "burst of 1,000 screenshots (drawn screenshots: ${images_missing:-no screenshot made})" "$BIN/burst_bench"
fi

# The image benchmarks need the screenshots and their reference tools.
image_bench() {
  local name=$1 script=$2 gone
  shift 2
  gone=$(missing "$@")
  if [ -n "$images_missing" ]; then
    skip "$name" "$images_missing"
  elif [ -n "$gone" ]; then
    skip "$name" "missing: $gone"
  else
    run "$name" "bench/$script"
  fi
}
magick=$(command -v magick || command -v convert-im6.q16 || command -v convert || echo ImageMagick)
image_bench "PNG to JPEG conversion" run-conversion-bench.sh vips "$magick"
image_bench "PNG to PDF" run-pdf-bench.sh img2pdf pdfimages pdfinfo "$(command -v convert-im6.q16 || echo convert)"
image_bench "renaming 200 screenshots" run-rename-bench.sh mogrify /usr/bin/time

gone=$(missing Xvfb)
if [ -n "$gone" ]; then skip "clipboard saving, idle" "missing: $gone"; else run "clipboard saving, idle" bench/run-clipboard-idle-bench.sh; fi
gone=$(missing Xvfb dbus-launch dbus-monitor status-notifier-watcher gtk-sni-tray-standalone)
if [ -n "$gone" ]; then skip "start-up" "missing: $gone"; else run "start-up" bench/run-startup-bench.sh; fi

echo
WHEN=after check_idle
load_after=$(cut -d' ' -f1 /proc/loadavg)

echo
echo "== summary (load average $load_before before, $load_after after, on $(nproc) cores)"
{
  printf 'Figure\tValue\tTarget\tReference\tVerdict\n'
  cat "$BENCH_SUMMARY"
} | awk -F'\t' '
  { for (i = 1; i <= NF; i++) { cell[NR, i] = $i; if (length($i) > width[i]) width[i] = length($i) } }
  END {
    for (r = 1; r <= NR; r++) {
      line = ""
      for (i = 1; i <= 5; i++) line = line sprintf(i < 5 ? "%-" width[i] "s | " : "%s", cell[r, i])
      print line
    }
  }'
for line in "${skipped[@]}"; do echo "SKIPPED: $line"; done
for line in "${failed[@]}"; do echo "FAILED: $line"; done
missed=$(awk -F'\t' '$5 == "MISSED"' "$BENCH_SUMMARY" | wc -l)
echo "$(wc -l <"$BENCH_SUMMARY") figures, $missed MISSED, ${#skipped[@]} benchmarks skipped, ${#failed[@]} failed"
((${#failed[@]} == 0))
