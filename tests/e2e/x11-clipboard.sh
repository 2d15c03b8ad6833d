#!/usr/bin/env bash
# Clipboard saving on a private X server with two monitors side by side and openbox, with real
# clipboard owners (xclip): the files written, their pixels, and the toast, centred on the monitor
# under the pointer.
#
#   tests/e2e/x11-clipboard.sh [path/to/quillary]   (exits 1 when a check failed, 77 when a tool is missing)
set -uo pipefail

here=$(dirname "$0")
source "$here/common.sh"
source "$here/two-monitor-display.sh"
e2e_begin clipboard "${1:-}" openbox xdotool xprop xclip convert compare import

home=$work/home
mkdir -p "$home/.config/Quillary" "$home/run"
chmod 700 "$home/run"

scenario=display
right="the right-hand monitor" left="the left-hand monitor"
if ! start_two_monitor_display "$work"; then
    # Where Xorg cannot run (no console to share, say) every other check runs on one Xvfb monitor.
    echo "NOTE: no two-monitor Xorg here (see $work/xorg.log); the toast's placement is checked on one monitor"
    start_xvfb 1920x1080
    monitor0_geometry="0 0 1920 1080"
    monitor1_geometry=$monitor0_geometry
    right="the only monitor" left="the only monitor"
else
    start_window_manager
fi

conf=$home/.config/Quillary/Quillary.conf
printf '[General]\nisClipboardSyncEnabled=true\n' >"$conf"

for i in 0 1 2 3; do
    convert -size 640x400 "plasma:fractal" -seed "$i" -depth 8 "$work/shot$i.png" 2>/dev/null ||
        convert -size 640x400 xc: +noise Random -seed "$i" -depth 8 "$work/shot$i.png"
done

# copy TYPE FILE: a new clipboard owner offering FILE's bytes as TYPE (and nothing else).
copy() {
    xclip -quiet -selection clipboard -t "$1" -i "$2" >/dev/null 2>&1 &
    pids+=($!)
    owns() { xclip -o -selection clipboard -t TARGETS 2>/dev/null | grep -qx "$1"; }
    wait_until 5 owns "$1"
}
no_temporary_files() { [[ -z $(find "$home" -name '*.quillary-*') ]]; }

# The toast as "x y w h" while it is on screen.
toast_geometry() {
    local id
    id=$(xdotool search --onlyvisible --name '^Saved to ClipBoard Folder$' 2>/dev/null | head -n1)
    [[ -n $id ]] || return 1
    unset X Y WIDTH HEIGHT
    eval "$(xdotool getwindowgeometry --shell "$id" 2>/dev/null)"
    [[ -n ${WIDTH:-} ]] && echo "$X $Y $WIDTH $HEIGHT"
}
toast_shown() { toast_geometry >/dev/null; }
toast_gone() { ! toast_shown; }
# toast_centred_on "X Y W H": the toast sits in the middle of that monitor.
toast_centred_on() {
    local mx my mw mh x y w h
    read -r mx my mw mh <<<"$1"
    read -r x y w h < <(toast_geometry) || return 1
    [[ $x -eq $((mx + (mw - w) / 2)) && $y -eq $((my + (mh - h) / 2)) ]]
}

scenario=launch
copy image/png "$work/shot0.png"
check "Quillary starts and watches" start_app "$work/quillary.log"
check "the image on the clipboard at launch is never saved" stays_false 1.5 count_is 1

scenario=image
xdotool mousemove 2500 500
copy image/png "$work/shot1.png"
copied_at=$EPOCHREALTIME
if wait_until 3 count_is 1; then
    took=$(seconds_since "$copied_at")
    check "the copied image is written within about half a second (took ${took} s)" \
        awk -v t="$took" 'BEGIN { exit !(t <= 1.0) }'
    check "the file holds the copied image's pixels" same_pixels "$(newest)" "$work/shot1.png"
    check "its name is Clipboard_<seconds>.png" bash -c '[[ $(basename "$1") =~ ^Clipboard_[0-9]{10}\.png$ ]]' _ "$(newest)"
else
    fail "the copied image is written"
fi
check "the toast shows" wait_until 1 toast_shown
check "the toast is centred on $right, under the pointer" toast_centred_on "$monitor1_geometry"
check "the toast goes after about two seconds" wait_until 3 toast_gone

scenario=again
copy image/png "$work/shot1.png"
check "the same image copied again shows the toast" wait_until 2 toast_shown
check "but writes no second file" stays_false 1 count_is 2
wait_until 3 toast_gone

scenario=left-monitor
xdotool mousemove 800 400
copy image/png "$work/shot2.png"
check "another image is written" wait_until 2 count_is 2
check "the toast shows" wait_until 2 toast_shown
check "the toast is centred on $left, under the pointer" toast_centred_on "$monitor0_geometry"
wait_until 3 toast_gone

# A new primary selection is no change of the clipboard (a second look would toast a duplicate).
scenario=selection
xclip -quiet -selection primary -t image/png -i "$work/shot3.png" >/dev/null 2>&1 &
pids+=($!)
check "an image in the primary selection is left alone" stays_false 1.5 toast_shown
check "and writes nothing" count_is 2

scenario=text
printf 'just some text' >"$work/text.txt"
copy UTF8_STRING "$work/text.txt"
check "copied text shows no toast" stays_false 1.5 toast_shown
check "and writes nothing" count_is 2

scenario=pause
spawn "$work/pause.log" "$binary" --pause
paused() { grep -q '^isPaused=true' "$conf"; }
check "--pause reaches the running Quillary" wait_until 5 paused
copy image/png "$work/shot3.png"
check "nothing is saved while paused" stays_false 1.5 count_is 3
spawn "$work/resume.log" "$binary" --resume
check "the image copied while paused is saved on resuming" wait_until 3 count_is 3
check "once" stays_false 1 count_is 4
check "with its own pixels" same_pixels "$(newest)" "$work/shot3.png"

check "no temporary file is left anywhere" no_temporary_files

e2e_end
