#!/usr/bin/env bash
# Builds pdf_bench, makes the test images (once; they are never committed), runs it and, in the same
# run, times img2pdf on the same opaque files, then prints the ratios next to the target:
#   opaque 8-bit PNG -> PDF   <= 0.1x img2pdf
# and checks that every PDF is lossless: one page, and the image pdfimages pulls out (plus its soft
# mask for the window capture with a transparent shadow) equals the PNG's pixels.
set -euo pipefail
cd "$(dirname "$0")/.."

RUNS=${RUNS:-5}
IMAGES=build/bench-images
# BUILD_DIR: another build folder with the same settings as the bench preset.
. bench/common.sh
build_bench pdf_bench
BIN=$BUILD_DIR/bench/pdf_bench
# COUNT > 9 includes a window capture with a transparent shadow.
../shared/tools/make-screenshots "$IMAGES" "${COUNT:-10}" >/dev/null
export QUILLARY_BENCH_IMAGES=$PWD/$IMAGES

for tool in img2pdf pdfimages pdfinfo; do
  command -v "$tool" >/dev/null ||
    { echo "run-pdf-bench: $tool is missing (apt-get install img2pdf poppler-utils)" >&2; exit 1; }
done
# The ImageMagick binaries themselves, not wrappers that may stand in front of them under the plain names.
CONVERT=$(command -v convert-im6.q16 || command -v convert) ||
  { echo "run-pdf-bench: ImageMagick is missing (apt-get install imagemagick)" >&2; exit 1; }
COMPARE=$(command -v compare-im6.q16 || command -v compare)

OUT=$(mktemp -d build/pdf-bench-out.XXXXXX)
trap 'rm -rf "$OUT"' EXIT


# same_pixels A B: whether the two pictures have identical pixels.
same_pixels() {
  local differing
  differing=$("$COMPARE" -metric AE "$1" "$2" null: 2>&1) || true
  [ "$differing" = 0 ]
}

echo "== pdf_bench"
"$BIN" --benchmark_repetitions=3 --benchmark_report_aggregates_only=true \
  --benchmark_out_format=csv --benchmark_out="$OUT/ours.csv"
ours_ms() {
  awk -F, -v name="\"BM_PngToPdf/$1/" 'index($1, name) == 1 && $1 ~ /_median"$/ { printf "%.1f\n", $3 }' "$OUT/ours.csv"
}

echo "== lossless check"
lossless=met
"$BIN" --write "$OUT" >"$OUT/written.tsv" || lossless=MISSED
while IFS=$'\t' read -r name source status; do
  pdf=$OUT/$name.pdf
  result=ok
  if [ "$status" != ok ] || ! pdfinfo "$pdf" | grep -Eq '^Pages: +1$'; then
    result="no one-page PDF"
  else
    pdfimages -png "$pdf" "$OUT/$name"
    if [ -e "$OUT/$name-001.png" ]; then
      "$CONVERT" "$source" -alpha off "$OUT/$name-colour.png"
      "$CONVERT" "$source" -alpha extract "$OUT/$name-alpha.png"
      same_pixels "$OUT/$name-colour.png" "$OUT/$name-000.png" || result="colour differs"
      same_pixels "$OUT/$name-alpha.png" "$OUT/$name-001.png" || result="alpha differs"
    else
      same_pixels "$source" "$OUT/$name-000.png" || result="pixels differ"
    fi
  fi
  [ "$result" = ok ] || lossless=MISSED
  printf '%s: %s\n' "$name" "$result"
done <"$OUT/written.tsv"

echo
echo "== results (median wall times; ours in-process, img2pdf a whole run; img2pdf refuses alpha)"
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", a / b }'; }
for name in 5k retina fhd; do
  ours=$(ours_ms "$name")
  theirs=$(median_ms img2pdf "$IMAGES/$name.png" -o "$OUT/img2pdf.pdf")
  r=$(ratio "$ours" "$theirs")
  report "$name PNG->PDF" "ours $ours ms, img2pdf $theirs ms: ${r}x" "<= 0.1x" img2pdf "$(verdict "$r" '<=' 0.1)"
done
report "window capture with alpha PNG->PDF" "ours $(ours_ms window-rgba) ms" - "- (img2pdf refuses alpha)" -
report "PDF lossless, every image" "pdfimages gives back the PNG's pixels" "all" pdfimages "$lossless"
