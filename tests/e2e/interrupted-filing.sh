#!/usr/bin/env bash
# The real binary, headless in a throw-away HOME, auto-moving a burst of screenshots with JPEG
# conversion while it is ended abruptly (kill -9) or politely (SIGTERM, as at logout), then started
# again. Whatever the moment, no screenshot may be lost or left half-written:
#   - every screenshot exists once (still in the watched folder, or filed) or, at worst, twice (the
#     converted copy was placed but the original not yet removed when the process died);
#   - every filed JPEG decodes whole;
#   - SIGTERM ends the process within a few seconds, with status 0, leaving no temporary file;
#   - after a restart no temporary file of an interrupted conversion remains.
#
#   tests/e2e/interrupted-filing.sh [path/to/quillary]
#
# Prints one PASS/FAIL line per check and exits 1 when any failed, 77 when a tool is missing.
set -uo pipefail

binary=${1:-build/default/src/quillary}
binary=$(realpath "$binary" 2>/dev/null) || binary=
if [[ ! -x "$binary" ]]; then
    echo "usage: $0 path/to/quillary" >&2
    exit 2
fi
source "$(dirname "$0")/common.sh"
for tool in convert identify; do
    command -v "$tool" >/dev/null || e2e_missing "$tool"
done

work=$(mktemp -d "${TMPDIR:-/tmp}/quillary-interrupt.XXXXXX")
failures=0
passes=0
pid=
cleanup() {
    [[ -n $pid ]] && kill -9 "$pid" 2>/dev/null
    if ((failures > 0)); then echo "Logs are kept in $work"; else rm -rf "$work"; fi
}
trap cleanup EXIT

pass() {
    echo "PASS: [$round] $*"
    ((passes++))
}
fail() {
    echo "FAIL: [$round] $*"
    ((failures++))
}
check() {
    local what=$1
    shift
    if "$@"; then pass "$what"; else fail "$what"; fi
}

# Noise compresses badly and converts slowly: a conversion is in flight for a good share of the time.
convert -size 2400x1500 xc: +noise Random -depth 8 "$work/shot.png"

home=$work/home
dest=$home/Pictures/Filed
mkdir -p "$home/Desktop" "$dest" "$home/.config/Quillary" "$home/run"
chmod 700 "$home/run"
write_auto_move_settings jpg

start() {
    env -i PATH="$PATH" HOME="$home" LANG=C.UTF-8 QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR="$home/run" \
        "$binary" >>"$work/quillary.log" 2>&1 &
    pid=$!
    local i
    for ((i = 0; i < 100; i++)); do
        [[ $(grep -c 'access: OK' "$work/quillary.log") -ge $starts ]] && return 0
        sleep 0.1
    done
    return 1
}

taken=0
# take N: N screenshots in a row, 50 ms apart.
take() {
    local i
    for ((i = 0; i < $1; i++)); do
        ((taken++))
        cp "$work/shot.png" "$home/Desktop/.incoming.png"
        mv "$home/Desktop/.incoming.png" "$home/Desktop/Screenshot $(printf %04d $taken).png"
        sleep 0.05
    done
}

temporary_files() { find "$dest" "$home/Desktop" -name '.*.quillary-*' | wc -l; }
no_temporary_files() { [[ $(temporary_files) -eq 0 ]]; }
jpegs() { find "$dest" -name 'Quil_*.jpg' | wc -l; }
originals() { find "$home/Desktop" -name 'Screenshot *.png' | wc -l; }
# Nothing lost, and at most one duplicate per abrupt end so far.
accounted_for() {
    local total=$(($(jpegs) + $(originals)))
    ((total >= taken && total <= taken + kills))
}
all_whole() {
    local f
    for f in "$dest"/Quil_*.jpg; do
        [[ -e $f ]] || continue
        identify -regard-warnings "$f" >/dev/null 2>&1 || {
            echo "  not whole: ${f##*/}"
            return 1
        }
    done
}
# The last N screenshots taken have left the watched folder, within 20 s.
last_filed() {
    local i n
    for ((i = 0; i < 200; i++)); do
        for ((n = taken - $1 + 1; n <= taken; n++)); do
            [[ -e "$home/Desktop/Screenshot $(printf %04d $n).png" ]] && break
        done
        ((n > taken)) && return 0
        sleep 0.1
    done
    return 1
}

starts=0
kills=0
for round in kill-1 kill-2 kill-3 term-1 term-2; do
    ((starts++))
    check "Quillary starts" start
    take 12
    sleep 0.$((RANDOM % 6 + 2))
    if [[ $round == kill-* ]]; then
        kill -9 "$pid"
        wait "$pid" 2>/dev/null
        ((kills++))
    else
        kill -TERM "$pid"
        started=$EPOCHREALTIME
        wait "$pid"
        status=$?
        elapsed=$(awk -v a="$started" -v b="$EPOCHREALTIME" 'BEGIN { printf "%.1f", b - a }')
        check "SIGTERM ends it with status 0 (got $status after ${elapsed}s)" test "$status" -eq 0
        check "... within 8 s" awk -v e="$elapsed" 'BEGIN { exit !(e < 8) }'
        check "... leaving no temporary file" no_temporary_files
    fi
    pid=
    check "every screenshot is there once or, at worst, twice ($(jpegs) filed + $(originals) left of $taken)" \
        accounted_for
    check "every filed JPEG is whole" all_whole
done

round=restart
((starts++))
check "Quillary starts again" start
sleep 1
check "no temporary file of an interrupted conversion remains after the restart" no_temporary_files
take 3
check "new screenshots are filed after the restart" last_filed 3
check "every screenshot is accounted for" accounted_for
check "every filed JPEG is whole" all_whole
kill -TERM "$pid"
wait "$pid" 2>/dev/null
pid=

round=all
echo "$passes passed, $failures failed"
((failures == 0))
