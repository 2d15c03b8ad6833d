#!/usr/bin/env bash
# Clipboard saving on a private Xvfb with openbox and real clipboard owners (xclip): the file, its pixels,
# the toast centred. What is saved when, and the toast's place on several screens, are unit-tested.
set -uo pipefail

source "$(dirname "$0")/common.sh"
e2e_begin clipboard "${1:-}" Xvfb openbox xdotool xprop xclip convert compare import

home=$work/home
new_home
scenario=display
start_xvfb 1920x1080
printf '[General]\nisClipboardSyncEnabled=true\n' >"$home/.config/Quillary/Quillary.conf"
for i in 0 1 2; do
    convert -size 640x400 xc: +noise Random -seed "$i" -depth 8 "$work/shot$i.png"
done

# copy FILE: a new clipboard owner offering FILE's bytes as image/png (and nothing else).
copy() {
    xclip -quiet -selection clipboard -t image/png -i "$1" >/dev/null 2>&1 &
    pids+=($!)
    owns() { xclip -o -selection clipboard -t TARGETS 2>/dev/null | grep -qx image/png; }
    wait_until 5 owns
}
# The toast, "x y w h", while it is on screen.
toast_geometry() {
    geometry "$(xdotool search --onlyvisible --name '^Saved to ClipBoard Folder$' 2>/dev/null | head -n1)"
}
toast_shown() { toast_geometry >/dev/null; }
toast_centred() {
    local x y w h
    read -r x y w h < <(toast_geometry) || return 1
    [[ $x -eq $(((1920 - w) / 2)) && $y -eq $(((1080 - h) / 2)) ]]
}

scenario=launch
copy "$work/shot0.png"
check "Quillary starts and watches" start_app "$work/quillary.log"
check "the image on the clipboard at launch is never saved" stays_false 1.5 count_is 1

scenario=image
copy "$work/shot1.png"
copied_at=$EPOCHREALTIME
if wait_until 3 count_is 1; then
    took=$(seconds_since "$copied_at")
    check "the copied image is written within about half a second (took ${took} s)" \
        awk -v t="$took" 'BEGIN { exit !(t <= 1.0) }'
    check "the file holds the copied image's pixels" same_pixels "$(newest)" "$work/shot1.png"
else
    fail "the copied image is written"
fi
check "the toast shows, centred on the screen" wait_until 1 toast_centred
check "the toast goes after about two seconds" wait_until 3 eval '! toast_shown'

# A new primary selection is no change of the clipboard (a second look would toast a duplicate).
scenario=selection
xclip -quiet -selection primary -t image/png -i "$work/shot2.png" >/dev/null 2>&1 &
pids+=($!)
check "an image in the primary selection is left alone" stays_false 1.5 toast_shown
check "and writes nothing" count_is 1
check "no temporary file is left anywhere" test -z "$(find "$home" -name '*.quillary-*')"

e2e_end
