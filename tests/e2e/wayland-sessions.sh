#!/usr/bin/env bash
# End-to-end flow on Wayland sessions, the real binary started as a session would start it (no
# QT_QPA_PLATFORM): a headless sway with XWayland (clipboard-manager protocol; windows listed by
# swaymsg), the same sway without XWayland (native Wayland windows), and weston with XWayland (no
# clipboard-manager protocol: the clipboard comes through XWayland). On each: the platform line, a
# screenshot gets the card, where the compositor put it, a copied image saved, and filing by
# auto-move in a second start. Run as root, the compositors and every client run as `nobody`.
#
# weston runs nested in an Xvfb (its x11 backend) rather than headless: its headless backend has no
# seat, and there weston 10 crashed as soon as an X client took the clipboard.
#
# Neither compositor lets an X client place its own managed window: sway centres a floating one and
# weston puts it near the top left; natively, sway tiles the card. Where each put the card is printed
# ("NOTE:"), not checked.
#
#   tests/e2e/wayland-sessions.sh [path/to/quillary]
#
# Prints one PASS/FAIL line per check and exits 1 when any failed, 77 when a tool is missing.
set -uo pipefail

here=$(dirname "$0")
source "$here/common.sh"
e2e_begin wayland-sessions "${1:-}" sway swaymsg weston weston-debug Xwayland Xvfb wl-copy xclip jq convert

source "$here/session-user.sh"
convert -size 320x200 xc: +noise Random -depth 8 "$work/shot.png"
convert -size 200x120 xc: +noise Random -seed 7 -depth 8 "$work/copied.png"
chmod 644 "$work"/*.png

# A fresh HOME and runtime folder for one session, owned by the session's user.
new_session() {
    dir=$work/$1
    home=$dir/home
    runtime=$dir/run
    mkdir -p "$home"/{Desktop,Pictures/Filed,.config/Quillary} "$runtime"
    chmod 700 "$runtime"
    [[ $(id -u) -eq 0 ]] && chown -R nobody:nogroup "$dir"
    chmod 755 "$dir"
    unset WAYLAND_DISPLAY DISPLAY SWAYSOCK
    session_from=${#pids[@]}
}
end_session() {
    local i
    for ((i = ${#pids[@]} - 1; i >= session_from; i--)); do
        stop "${pids[i]}"
    done
    pids=("${pids[@]:0:session_from}")
}
write_conf() {
    local folder='{"id":"3F2504E0-4F89-41D3-9A0C-0305E82C3301","name":"Filed","path":"Pictures/Filed",'
    folder+='"icon":"folder.fill","isRenamingEnabled":false,"prefix":"","includeDate":false,"fileFormat":"png"}'
    as_user sh -c 'cat >"$1"' sh "$home/.config/Quillary/Quillary.conf" <<EOF
[General]
isClipboardSyncEnabled=true
showPopup=$1
autoMove=$2
selectedFolderID=3F2504E0-4F89-41D3-9A0C-0305E82C3301
savedFolders_v2="[${folder//\"/\\\"}]"
EOF
}
socket_ready() { compgen -G "$runtime/$1" >/dev/null; }

shot_number=0
take_shot() {
    ((shot_number++))
    shot="Screenshot 2026-12-07 at 10.00.$(printf %02d $shot_number).png"
    as_user cp "$work/shot.png" "$home/Desktop/.incoming.png"
    as_user mv "$home/Desktop/.incoming.png" "$home/Desktop/$shot"
}
filed() { [[ -f "$home/Pictures/Filed/$shot" && ! -e "$home/Desktop/$shot" ]]; }
saved_count() { find "$home/Desktop/ClipBoard" -maxdepth 1 -name 'Clipboard_*.png' 2>/dev/null | wc -l; }
count_is() { [[ $(saved_count) -eq $1 ]]; }

# start_quillary NAME PLATFORM: Quillary as the session starts it, and waits until it watches.
start_quillary() {
    qlog=$dir/$1.log
    user_spawn "$qlog" "$binary"
    quillary_pid=${pids[-1]}
    watching() { grep -q 'access: OK' "$qlog"; }
    check "Quillary starts and watches" wait_until 10 watching
    check "it names the platform of its windows: $2" grep -q "^📍 Quillary: Wayland session.*$2" "$qlog"
}
# auto_move_flow PLATFORM: a second start that files by auto-move.
auto_move_flow() {
    stop "$quillary_pid"
    write_conf false true
    start_quillary quillary-auto "$1"
    take_shot
    check "auto-move files the screenshot into the chosen folder" wait_until 5 filed
}

# common_flow PLATFORM KIND COPIER...: the card for a screenshot (card_rect, "x y w h kind", and the
# output's "x y w h" in output_rect come from the session; its kind must start with KIND unless that
# is empty), a copied image saved, then filing by auto-move.
common_flow() {
    local platform=$1 expected_kind=$2 cx cy cw ch kind ox oy ow oh
    shift 2
    write_conf true false
    start_quillary quillary "$platform"
    take_shot
    card_shown() { card_rect >/dev/null; }
    check "a screenshot gets the card (a 420 px wide window of Quillary's)" wait_until 5 card_shown
    if read -r cx cy cw ch kind < <(card_rect) && read -r ox oy ow oh < <(output_rect); then
        echo "NOTE: [$scenario] the card is at $cx,$cy ${cw}x$ch ($kind) on the output $ox,$oy ${ow}x$oh;" \
            "in place it would end at $((ox + ow - 10)),$((oy + oh - 160))"
        on_output() { ((cx >= ox && cy >= oy && cx + cw <= ox + ow && cy + ch <= oy + oh)); }
        check "the card lies wholly on the output" on_output
        [[ -z $expected_kind ]] || check "the card is a window of the $expected_kind kind" test "${kind#"$expected_kind"}" != "$kind"
    fi
    user_spawn "$dir/copier.log" "$@" <"$work/copied.png"
    check "an image copied with $1 is saved under Desktop/ClipBoard" wait_until 5 count_is 1
    stop "${pids[-1]}"
    auto_move_flow "$platform"
}

# --- sway, with XWayland and without --------------------------------------------------------------

# Quillary's 420 px wide window as sway lists it: "x y w h shell placement" on the output.
card_rect() {
    as_user swaymsg -t get_tree 2>/dev/null | jq -r --argjson pid "$quillary_pid" '.. | objects
        | select(.pid? == $pid and .geometry.width == 420 and .visible)
        | "\(.rect.x + .window_rect.x) \(.rect.y + .window_rect.y) \(.geometry.width) \(.geometry.height) \(.shell) "
          + (if .type == "floating_con" then "floating"
             else "tiled, in a \(.window_rect.width)x\(.window_rect.height) tile" end)' |
        head -n1 | grep .
}
output_rect() { as_user swaymsg -t get_outputs | jq -r '.[0].rect | "\(.x) \(.y) \(.width) \(.height)"'; }

for xwayland in enable disable; do
    scenario=sway-xwayland-$xwayland
    new_session "$scenario"
    printf 'xwayland %s\noutput HEADLESS-1 resolution 1280x720 position 0 0\n' $xwayland >"$dir/sway.conf"
    printf 'exec echo "DISPLAY=$DISPLAY" >%s/display\n' "$runtime" >>"$dir/sway.conf"
    user_spawn "$dir/sway.log" env WLR_BACKENDS=headless WLR_RENDERER=pixman WLR_LIBINPUT_NO_DEVICES=1 \
        sway -c "$dir/sway.conf"
    sway_ready() { [[ -s "$runtime/display" ]] && socket_ready 'sway-ipc.*.sock' && socket_ready 'wayland-[0-9]'; }
    if ! wait_until 10 sway_ready; then
        fail "sway starts headless"
        cat "$dir/sway.log"
        end_session
        continue
    fi
    WAYLAND_DISPLAY=$(basename "$(compgen -G "$runtime/wayland-[0-9]" | head -n1)")
    SWAYSOCK=$(compgen -G "$runtime/sway-ipc.*.sock" | head -n1)
    DISPLAY=$(sed -n 's/^DISPLAY=//p' "$runtime/display")
    if [[ $xwayland == enable ]]; then
        check "sway starts headless and gives its children an XWayland DISPLAY" test -n "$DISPLAY"
        common_flow 'windows through XWayland (xcb)' xwayland wl-copy --foreground --type image/png
    else
        check "sway starts headless without XWayland" test -z "$DISPLAY"
        common_flow 'without XWayland: windows on Wayland' xdg_shell wl-copy --foreground --type image/png
    fi
    check "it reads the clipboard through the clipboard-manager protocol" \
        grep -q '^📍 Quillary: Clipboard read through wlr-data-control-unstable-v1 on Wayland$' "$dir/quillary.log"
    end_session
done

# --- weston, with XWayland ------------------------------------------------------------------------

# Quillary's 420 px wide window as weston shows it: "x y w h" on the output, from weston's scene graph,
# where an X window's view is its frame: the window with a 32 px margin all round.
card_rect() {
    as_user timeout 3 weston-debug scene-graph 2>/dev/null | awk '
        /^\t*View / { view = 1; next }
        view && /position:/ {
            view = 0
            gsub(/[(),]/, " ")
            x = $2 + 32; y = $3 + 32; w = $5 - $2 - 64; h = $6 - $3 - 64
            if (w == 420) { print x, y, w, h, "in weston'"'"'s scene graph"; found = 1; exit }
        }
        END { exit !found }'
}
output_rect() { echo 0 0 1280 720; }

scenario=weston
new_session weston
user_spawn "$dir/xvfb.log" Xvfb -displayfd 3 -screen 0 1280x720x24 -nolisten tcp 3>"$dir/xvfb-display"
xvfb_ready() { [[ -s "$dir/xvfb-display" ]]; }
if wait_until 10 xvfb_ready; then
    DISPLAY=:$(head -n1 "$dir/xvfb-display")
    user_spawn "$dir/weston.log" weston --backend=x11-backend.so --use-pixman --width=1280 --height=720 \
        --xwayland --socket=wayland-quillary --idle-time=0 --debug
    unset DISPLAY
fi
xwayland_display() { sed -n 's/.*xserver listening on display \(:[0-9]*\).*/\1/p' "$dir/weston.log" | grep .; }
if wait_until 10 socket_ready wayland-quillary && wait_until 10 xwayland_display >/dev/null; then
    WAYLAND_DISPLAY=wayland-quillary
    DISPLAY=$(xwayland_display)
    pass "weston starts with XWayland ($DISPLAY)"
    common_flow 'windows through XWayland (xcb)' '' xclip -quiet -selection clipboard -t image/png
    check "it has no clipboard-manager protocol to read through" \
        eval "! grep -q 'Clipboard read through' '$dir/quillary.log'"
else
    fail "weston starts with XWayland"
    cat "$dir/xvfb.log" "$dir/weston.log" 2>/dev/null
fi
end_session

scenario=all
echo "$passes passed, $failures failed"
((failures == 0))
