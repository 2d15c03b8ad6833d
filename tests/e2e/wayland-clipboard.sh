#!/usr/bin/env bash
# End-to-end check of clipboard saving on a Wayland session: the real binary beside a headless sway
# (no XWayland), with real clipboard owners (wl-copy). Quillary's windows are offscreen, so only its
# own Wayland connection, through the compositor's clipboard-manager protocol, sees the clipboard.
# sway will not run as root: run as root, the test runs sway and every client as `nobody`.
#
#   tests/e2e/wayland-clipboard.sh [path/to/quillary]
#
# Prints one PASS/FAIL line per check and exits 1 when any failed, 77 when a tool is missing.
set -uo pipefail

here=$(dirname "$0")
source "$here/common.sh"
e2e_begin wayland-clipboard "${1:-}" sway wl-copy wl-paste convert compare

source "$here/session-user.sh"
# This session has no X server: nothing of the caller's reaches its children.
unset DISPLAY SWAYSOCK
home=$work/home
runtime=$work/run
mkdir -p "$home/.config/Quillary" "$runtime"
chmod 700 "$runtime"
conf=$home/.config/Quillary/Quillary.conf
printf '[General]\nisClipboardSyncEnabled=true\n' >"$conf"
printf 'xwayland disable\noutput HEADLESS-1 resolution 1280x720\n' >"$work/sway.conf"
for i in 0 1 2 3; do
    convert -size 320x200 xc: +noise Random -seed "$i" -depth 8 "$work/shot$i.png"
done
[[ $(id -u) -eq 0 ]] && chown -R nobody:nogroup "$home" "$runtime"

scenario=session
WAYLAND_DISPLAY=
user_spawn "$work/sway.log" env WLR_BACKENDS=headless WLR_RENDERER=pixman WLR_LIBINPUT_NO_DEVICES=1 \
    sway -c "$work/sway.conf"
socket_ready() { compgen -G "$runtime/wayland-[0-9]" >/dev/null; }
if ! wait_until 10 socket_ready; then
    fail "sway starts headless"
    cat "$work/sway.log"
    exit 1
fi
socket=$(compgen -G "$runtime/wayland-[0-9]" | head -n1)
WAYLAND_DISPLAY=$(basename "$socket")

clip_dir=$home/Desktop/ClipBoard
saved_count() { find "$clip_dir" -maxdepth 1 -name 'Clipboard_*.png' 2>/dev/null | wc -l; }
count_is() { [[ $(saved_count) -eq $1 ]]; }
newest() { ls -t "$clip_dir"/Clipboard_*.png 2>/dev/null | head -n1; }
same_pixels() { [[ $(compare -metric AE "$1" "$2" null: 2>&1) == 0 ]]; }
# copy TYPE FILE [--primary]: a new owner of the clipboard offering FILE as TYPE, until replaced.
copy() {
    user_spawn "$work/wl-copy.log" wl-copy --foreground ${3:-} --type "$1" <"$2"
    offers() { as_user wl-paste ${2:-} --list-types 2>/dev/null | grep -qx "$1"; }
    wait_until 5 offers "$1" "${3:-}"
}

scenario=launch
check "an image is on the clipboard before launch" copy image/png "$work/shot0.png"
user_spawn "$work/quillary.log" env QT_QPA_PLATFORM=offscreen "$binary"
started() { grep -q 'access: OK' "$work/quillary.log"; }
check "Quillary starts and watches" wait_until 10 started
check "it says it reads the clipboard through the clipboard-manager protocol" \
    grep -q '^📍 Quillary: Clipboard read through wlr-data-control-unstable-v1 on Wayland$' "$work/quillary.log"
check "the image on the clipboard at launch is never saved" stays_false 1.5 count_is 1

scenario=image
copy image/png "$work/shot1.png"
if wait_until 3 count_is 1; then
    pass "a copied image is written"
    check "the file holds the copied image's pixels" same_pixels "$(newest)" "$work/shot1.png"
else
    fail "a copied image is written"
fi

scenario=text
printf 'just some text' >"$work/text.txt"
copy 'text/plain;charset=utf-8' "$work/text.txt"
check "copied text writes nothing" stays_false 1.5 count_is 2

scenario=primary
copy image/png "$work/shot2.png" --primary
check "an image in the primary selection writes nothing" stays_false 1.5 count_is 2

scenario=again
copy image/png "$work/shot3.png"
check "the next copied image is written" wait_until 3 count_is 2
check "with its own pixels" same_pixels "$(newest)" "$work/shot3.png"

echo "$passes passed, $failures failed"
((failures == 0))
