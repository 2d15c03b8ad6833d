#!/usr/bin/env bash
# Builds the benchmarks, makes the test images (once; they are never committed), runs
# conversion_bench and, in the same run, times vips and ImageMagick on the same files, then prints
# the ratios next to their targets:
#   5120x2880 PNG -> JPEG q90 4:4:4   <= 1.0x vips, <= 0.6x ImageMagick
#   peak memory of one conversion     <= 2.5x the decoded image
#   200 screenshots auto-moved with JPEG conversion <= 0.5x a shell loop of vips copy
set -euo pipefail
cd "$(dirname "$0")/.."

RUNS=${RUNS:-7}
IMAGES=build/bench-images
# BUILD_DIR: another build folder with the same settings as the bench preset.
. bench/common.sh
build_bench conversion_bench
BIN=$BUILD_DIR/bench/conversion_bench
../shared/tools/make-screenshots "$IMAGES" 200 >/dev/null
export QUILLARY_BENCH_IMAGES=$PWD/$IMAGES

command -v vips >/dev/null ||
  { echo "run-conversion-bench: vips is missing (apt-get install libvips-tools)" >&2; exit 1; }
# The ImageMagick binary itself, not a wrapper that may stand in front of it under the plain name.
MAGICK=$(command -v magick || command -v convert-im6.q16 || command -v convert) ||
  { echo "run-conversion-bench: ImageMagick is missing (apt-get install imagemagick)" >&2; exit 1; }

OUT=$(mktemp -d build/bench-out.XXXXXX)
trap 'rm -rf "$OUT"' EXIT


vips_loop() {
  local f name
  for f in "$IMAGES"/Screenshot*.png; do
    name=$(basename "$f" .png)
    vips copy "$f" "$OUT/$name.jpg[Q=90]"
  done
}

# Both sides use both cores; anything else running skews the ratios.
read -r load _ </proc/loadavg
if awk -v l="$load" 'BEGIN { exit !(l > 1.0) }'; then
  echo "run-conversion-bench: load average is $load; figures are only comparable on an idle machine" >&2
fi

echo "== conversion_bench"
"$BIN" --benchmark_repetitions=3 --benchmark_report_aggregates_only=true \
  --benchmark_out_format=csv --benchmark_out="$OUT/ours.csv"
ours_ms() { awk -F, -v name="\"$1" 'index($1, name) == 1 && $1 ~ /_median"$/ { print $3 }' "$OUT/ours.csv"; }
ours_5k=$(ours_ms BM_FiveKPngToJpeg)
ours_batch=$(ours_ms BM_ScreenshotBatchToJpeg)

echo "== reference tools"
vips_5k=$(median_ms vips copy "$IMAGES/5k.png" "$OUT/vips.jpg[Q=90]")
magick_5k=$(median_ms "$MAGICK" "$IMAGES/5k.png" -quality 90 "$OUT/magick.jpg")
start=$(date +%s.%N)
vips_loop
vips_batch=$(awk -v a="$start" -v b="$(date +%s.%N)" 'BEGIN { printf "%.1f", (b - a) * 1000 }')

echo "== peak memory"
memory=$("$BIN" --peak-memory "$IMAGES/5k.png")
echo "$memory"
memory_ratio=${memory##* }

echo
echo "== results (median wall times)"
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
r=$(ratio "$ours_5k" "$vips_5k")
report "5k PNG->JPEG" "ours $ours_5k ms, vips $vips_5k ms: ${r}x" "<= 1.0x" vips "$(verdict "$r" '<=' 1.0)"
r=$(ratio "$ours_5k" "$magick_5k")
report "5k PNG->JPEG" "ours $ours_5k ms, ImageMagick $magick_5k ms: ${r}x" "<= 0.6x" ImageMagick \
  "$(verdict "$r" '<=' 0.6)"
report "peak memory of one conversion" "${memory_ratio}x the decoded image" "<= 2.5x" "the decoded image" \
  "$(verdict "$memory_ratio" '<=' 2.5)"
r=$(ratio "$ours_batch" "$vips_batch")
report "200 screenshots auto-moved to JPEG" "ours $ours_batch ms, vips loop $vips_batch ms: ${r}x" "<= 0.5x" \
  "a shell loop of vips copy" "$(verdict "$r" '<=' 0.5)"
