#!/usr/bin/env bash
# Headless auto-move while the binary is ended (kill -9, SIGTERM) or the file system misbehaves: every
# screenshot stays whole, once (twice only when killed between placing a copy and removing its source),
# no temporary file survives the next start, and Quillary says what failed. Run with SCENARIO after the binary.
set -uo pipefail

scenario=${2:-}
case $scenario in
interrupted | disk-full | read-only | folder-recreated) ;;
*)
    echo "usage: $0 path/to/quillary interrupted|disk-full|read-only|folder-recreated" >&2
    exit 2
    ;;
esac

source "$(dirname "$0")/common.sh"
e2e_begin "faults-$scenario" "${1:-}" convert identify cmp
convert -size 1600x1000 xc: +noise Random -depth 8 "$work/noise.png"
convert -size 320x200 gradient:'#88c0d0-#5e81ac' "$work/small.png"

home=$work/home
desktop=$home/Desktop
dest=$home/Pictures/Filed
log=$work/quillary.log
pid=
kills=0
new_home "$desktop" "$dest"

taken=0
# take IMAGE [N]: N (1) screenshots "Screenshot nnnn.png", 50 ms apart, written whole before renamed.
take() {
    local i
    for ((i = 0; i < ${2:-1}; i++)); do
        ((taken++))
        cp "$1" "$desktop/.incoming.png"
        mv "$desktop/.incoming.png" "$desktop/$(shot_name $taken)"
        sleep 0.05
    done
}
shot_name() { printf 'Screenshot %04d.png' "$1"; }
# gone FIRST [LAST]: those screenshots have all left the watched folder.
gone() {
    local i
    for ((i = $1; i <= ${2:-$1}; i++)); do [[ ! -e "$desktop/$(shot_name $i)" ]] || return 1; done
}

no_temporary_files() { [[ -z $(find "$dest/" "$desktop" -name '.*.quillary-*') ]]; }
# logged START END: a line of Quillary's output starts with START and ends with END.
logged() { grep -F -- "$1" "$log" | grep -qF -- "$2"; }
filed_count() { find "$dest/" -type f ! -name '.*.quillary-*' | wc -l; }
left_count() { find "$desktop" -name 'Screenshot *.png' | wc -l; }
# Nothing lost, and nothing doubled but for at most one copy per kill so far.
accounted_for() {
    local total=$(($(left_count) + $(filed_count)))
    ((total >= taken && total <= taken + kills))
}
kept_whole() { cmp -s "$2" "$desktop/$(shot_name "$1")"; }
# identify names each broken one.
filed_whole() { ! compgen -G "$dest/*.jpg" >/dev/null || identify -regard-warnings "$dest"/*.jpg >/dev/null; }

case $scenario in
interrupted)
    # Noise converts slowly: a conversion is in flight for a good share of the time.
    convert -size 2400x1500 xc: +noise Random -depth 8 "$work/big.png"
    write_auto_move_settings jpg
    for round in kill-1 kill-2 kill-3 term-1 term-2; do
        scenario=interrupted/$round
        check "starts" start_headless
        take "$work/big.png" 12
        sleep 0.$((RANDOM % 6 + 2))
        if [[ $round == kill-* ]]; then
            kill -9 "$pid"
            wait "$pid" 2>/dev/null
            ((kills++))
        else
            began=$EPOCHREALTIME
            check "SIGTERM ends it with status 0" quit
            elapsed=$(seconds_since "$began")
            check "... within 8 s (took $elapsed s)" awk -v e="$elapsed" 'BEGIN { exit !(e < 8) }'
            check "... leaving no temporary file" no_temporary_files
        fi
        check "every screenshot is there once or, at worst, twice ($(filed_count) filed + $(left_count) left of $taken)" \
            accounted_for
        check "every filed JPEG is whole" filed_whole
    done
    scenario=interrupted/restart
    first=$((taken + 1))
    check "starts again" start_headless
    sleep 1
    check "no temporary file of an interrupted conversion remains after the restart" no_temporary_files
    take "$work/big.png" 3
    check "new screenshots are filed after the restart" wait_until 20 gone $first $taken
    check "every screenshot is accounted for" accounted_for
    check "every filed JPEG is whole" filed_whole
    check "quits cleanly" quit
    ;;

disk-full)
    # A write past the file-size limit fails with EFBIG, as on a full disk (an ignored SIGXFSZ stays
    # ignored across exec).
    write_auto_move_settings jpg
    trap '' XFSZ
    check "starts" start_headless prlimit --fsize=262144
    trap - XFSZ
    take "$work/noise.png"
    check "says that the move failed and why" \
        wait_until 20 logged "❌ Move failed: $desktop/$(shot_name $taken) → $dest/Quil_" ".jpg: there is no room for it on the disk"
    check "the screenshot stays whole in the watched folder" kept_whole $taken "$work/noise.png"
    check "no partial output is left in the destination" no_temporary_files
    check "quits cleanly" quit
    check "starts with room on the disk" start_headless
    take "$work/small.png"
    check "a later screenshot is filed" wait_until 10 gone $taken
    check "nothing is lost, nothing doubled" accounted_for
    check "every filed JPEG is whole" filed_whole
    check "quits cleanly" quit
    ;;

read-only)
    # Root passes any mode bits; without these two capabilities it is held to them.
    as_user=()
    [[ $(id -u) -eq 0 ]] && as_user=(setpriv --bounding-set -dac_override,-dac_read_search --)
    touch "$work/locked"
    chmod 000 "$work/locked"
    if "${as_user[@]}" cat "$work/locked" 2>/dev/null; then
        echo "SKIP: permission bits do not hold here (root could not drop CAP_DAC_OVERRIDE)"
        exit 77
    fi
    chmod 555 "$dest"
    write_auto_move_settings jpg
    check "starts" start_headless "${as_user[@]}"
    take "$work/small.png"
    check "says that the move failed and why" \
        wait_until 10 logged "❌ Move failed: $desktop/$(shot_name $taken) → $dest/Quil_001.jpg" ": the target folder could not be written"
    check "the screenshot stays whole in the watched folder" kept_whole $taken "$work/small.png"
    check "nothing is written to the destination" test -z "$(ls -A "$dest/")"
    check "quits cleanly" quit
    ;;

folder-recreated)
    write_auto_move_settings jpg
    check "starts" start_headless
    # remake HOW WHEN: the watched folder goes and a new one takes its name, at once or only after
    # Quillary noticed; a screenshot is then taken in the new folder at once.
    remake() {
        local gone_lines
        gone_lines=$(grep -c 'is gone; waiting' "$log")
        case $1 in
        moved) mv "$desktop" "$home/Desktop.old-$taken" ;;
        flapping) for i in 1 2 3 4 5; do rm -rf "$desktop" && mkdir "$desktop"; done; rm -rf "$desktop" ;;
        file-between) rm -rf "$desktop" && touch "$desktop" && sleep 0.3 && rm "$desktop" ;;
        esac
        if [[ $2 == after-notice ]]; then
            noticed() { [[ $(grep -c 'is gone; waiting' "$log") -gt $gone_lines ]]; }
            check "notices that the folder is gone" wait_until 10 noticed
        fi
        mkdir "$desktop"
        take "$work/small.png"
        check "a screenshot in the new folder is filed" wait_until 10 gone $taken
    }
    for how in moved flapping file-between; do
        for when in after-notice at-once; do
            scenario=folder-recreated/$how-$when
            remake $how $when
        done
    done
    scenario=folder-recreated
    check "every filed JPEG is whole" filed_whole
    check "each screenshot was filed once" test "$(find "$dest" -name 'Quil_*.jpg' | wc -l)" -eq $taken
    check "quits cleanly" quit
    ;;
esac

scenario=all
e2e_end
