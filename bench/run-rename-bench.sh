#!/usr/bin/env bash
# Builds rename_bench, makes the test images (once; they are never committed), and renames copies of
# the 200 screenshots PNG -> JPEG as a committed rename job does, against ImageMagick's mogrify over
# copies of the same files, in the same run. Prints the figures next to their targets:
#   the run on one thread per core  >= 1.8x faster than the same code on one thread
#                                    <= 0.4x the time of mogrify -format jpg -quality 90
#   peak memory of the parallel run  < 300 MB
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$PWD

RUNS=${RUNS:-3}
IMAGES=build/bench-images
# BUILD_DIR: another build folder with the same settings as the bench preset.
. bench/common.sh
build_bench rename_bench
BIN=$BUILD_DIR/bench/rename_bench
"$repo/../shared/tools/make-screenshots" "$IMAGES" 200 >/dev/null

command -v mogrify >/dev/null ||
  { echo "run-rename-bench: mogrify is missing (apt-get install imagemagick)" >&2; exit 1; }
[ -x /usr/bin/time ] || { echo "run-rename-bench: /usr/bin/time is missing (apt-get install time)" >&2; exit 1; }

OUT=$(mktemp -d build/bench-out.XXXXXX)
trap 'rm -rf "$OUT"' EXIT

# fresh NAME: a folder of copies of the 200 screenshots, made one after another in name order.
fresh() {
  rm -rf "${OUT:?}/$1"
  mkdir -p "$OUT/$1"
  cp "$IMAGES"/Screenshot*.png "$OUT/$1/"
  sync
}
# seconds CMD...: wall time of one run of CMD.
seconds() {
  local start
  start=$(date +%s.%N)
  "$@" >/dev/null
  awk -v a="$start" -v b="$(date +%s.%N)" 'BEGIN { printf "%.3f\n", b - a }'
}
median() { sort -n | awk '{ t[NR] = $1 } END { print t[int((NR + 1) / 2)] }'; }

read -r load _ </proc/loadavg
echo "== load average before: $load (cores: $(nproc))"
if awk -v l="$load" 'BEGIN { exit !(l > 0.5) }'; then
  echo "run-rename-bench: the machine is busy; figures are only comparable on an idle machine" >&2
fi

parallel=() sequential=() magick=()
for ((run = 1; run <= RUNS; run++)); do
  fresh parallel
  parallel+=("$(seconds "$BIN" "$OUT/parallel" 0)")
  fresh sequential
  sequential+=("$(seconds "$BIN" "$OUT/sequential" 1)")
  fresh magick
  magick+=("$(cd "$OUT/magick" && seconds mogrify -format jpg -quality 90 ./*.png)")
  echo "run $run: parallel ${parallel[-1]} s, one thread ${sequential[-1]} s, mogrify ${magick[-1]} s"
done
same=no
diff -r "$OUT/parallel" "$OUT/sequential" >/dev/null && same=yes
files=$(find "$OUT/parallel" -name 'Shot_*.jpg' | wc -l)

fresh memory
peak_kb=$( { /usr/bin/time -f '%M' "$BIN" "$OUT/memory" 0 >/dev/null; } 2>&1 | tail -1)

p=$(printf '%s\n' "${parallel[@]}" | median)
s=$(printf '%s\n' "${sequential[@]}" | median)
m=$(printf '%s\n' "${magick[@]}" | median)
read -r load _ </proc/loadavg
echo
echo "== results (medians of $RUNS runs; load average after: $load)"
echo "parallel run: $files JPEGs, identical to the one-thread run: $same"
speedup=$(awk -v a="$s" -v b="$p" 'BEGIN { printf "%.2f", a / b }')
report "renaming 200 PNG->JPEG, every core" "$p s vs one thread $s s: ${speedup}x faster" ">= 1.8x faster" \
  "the same code on one thread" "$(verdict "$speedup" '>=' 1.8)"
ratio=$(awk -v a="$p" -v b="$m" 'BEGIN { printf "%.2f", a / b }')
report "renaming 200 PNG->JPEG, every core" "$p s vs mogrify $m s: ${ratio}x" "<= 0.4x" mogrify \
  "$(verdict "$ratio" '<=' 0.4)"
peak_mb=$(awk -v k="$peak_kb" 'BEGIN { printf "%.0f", k / 1024 }')
report "peak memory of the parallel rename" "$peak_mb MB" "< 300 MB" - "$(verdict "$peak_mb" '<' 300)"
