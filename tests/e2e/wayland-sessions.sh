#!/usr/bin/env bash
# The flow on Wayland sessions, the binary started as a session starts it (no QT_QPA_PLATFORM): headless
# sway with and without XWayland, and weston with XWayland (no tray, no clipboard-manager protocol; nested
# in an Xvfb: its headless backend has no seat). Through XWayland the card sits exactly at the lower right.
set -uo pipefail

source "$(dirname "$0")/common.sh"
e2e_begin wayland-sessions "${1:-}" sway swaymsg weston weston-debug Xwayland Xvfb wl-copy wl-paste xclip jq convert compare \
    grim xwininfo xdotool

session_user_begin
convert -size 320x200 xc: +noise Random -depth 8 "$work/shot.png"
for seed in 7 9; do convert -size 200x120 xc: +noise Random -seed $seed -depth 8 "$work/copied-$seed.png"; done
chmod 644 "$work"/*.png

# A fresh HOME and runtime folder for one session, owned by the session's user.
new_session() {
    dir=$work/$1
    home=$dir/home
    runtime=$home/run
    new_home "$home"/{Desktop,Pictures/Filed}
    [[ $(id -u) -eq 0 ]] && chown -R nobody:nogroup "$dir"
    chmod 755 "$dir"
    unset WAYLAND_DISPLAY DISPLAY SWAYSOCK DBUS_SESSION_BUS_ADDRESS
    session_from=${#pids[@]}
}
end_session() { stop_from "$session_from"; }
write_conf() {
    settings isClipboardSyncEnabled=true showPopup=$1 autoMove=$2 selectedFolderID=$folder_id \
        <<<"[$(folder_json $folder_id Filed Pictures/Filed)]" |
        as_user sh -c 'cat >"$1"' sh "$home/.config/Quillary/Quillary.conf"
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

# start_quillary NAME PLATFORM: Quillary as the session starts it, and waits until it watches.
start_quillary() {
    qlog=$dir/$1.log
    spawn "$qlog" "$binary"
    quillary_pid=${pids[-1]}
    check "Quillary starts and watches" wait_until 10 grep -qs 'access: OK' "$qlog"
    check "it names the platform of its windows: $2" grep -q "^📍 Quillary: Wayland session.*$2" "$qlog"
}
# common_flow PLATFORM KIND COPIER...: the card for a screenshot and where it is (card_rect gives its
# "x y w h kind", output_rect the output's "x y w h"; KIND is what the card's kind must start with),
# filing it by a click (when unmanaged), a copied image saved, then filing by auto-move in a new start.
common_flow() {
    local platform=$1 expected_kind=$2 cx cy cw ch kind ox oy ow oh f1x f1y
    shift 2
    write_conf true false
    start_quillary quillary "$platform"
    check_tray
    before_card
    take_shot
    card_shown() { card_rect >/dev/null; }
    check "a screenshot gets the card (a 420 px wide window of Quillary's)" wait_until 5 card_shown
    if read -r cx cy cw ch kind < <(card_rect) && read -r ox oy ow oh < <(output_rect); then
        echo "NOTE: [$scenario] the card is at $cx,$cy ${cw}x$ch ($kind) on the output $ox,$oy ${ow}x$oh"
        on_output() { ((cx >= ox && cy >= oy && cx + cw <= ox + ow && cy + ch <= oy + oh)); }
        check "the card lies wholly on the output" on_output
        check "the card is a window of the $expected_kind kind" test "${kind#"$expected_kind"}" != "$kind"
        if [[ $expected_kind == unmanaged ]]; then
            in_place() { ((cx + cw == ox + ow - 10 && cy + ch == oy + oh - 160)); }
            check "the card sits at the lower right: 10 px from the right edge, 160 px above the bottom" in_place
            card_seen "$cx" "$cy" "$cw" "$ch"
        fi
    fi
    if [[ $expected_kind == unmanaged ]]; then
        if card_image "$cx" "$cy" "$cw" "$ch" "$dir/card.txt" &&
            read -r f1x f1y _ < <(card_buttons "$dir/card.txt" "$cx" "$cy" "$cw" 1); then
            as_user xdotool mousemove "$f1x" "$f1y" click 1
            check "a click on the card's folder button files the screenshot there" wait_until 3 filed
            check "the card is gone once its only screenshot is filed" wait_until 3 eval '! card_rect >/dev/null'
        else
            fail "the card's folder button can be located"
        fi
    fi
    spawn "$dir/copier.log" "$@" <"$work/copied-7.png"
    check "an image copied with $1 is saved under Desktop/ClipBoard" wait_until 5 count_is 1
    if [[ $expected_kind == unmanaged ]]; then
        toast_centred() {
            as_user xwininfo -name 'Saved to ClipBoard Folder' 2>/dev/null | tr -d ' ' |
                awk -F: -v x=$(((ow - 260) / 2)) -v y=$(((oh - 46) / 2)) '
                    $1 == "Absoluteupper-leftX" { ax = $2 } $1 == "Absoluteupper-leftY" { ay = $2 }
                    $1 == "MapState" { viewable = $2 == "IsViewable" }
                    END { exit !(viewable && ax == x && ay == y) }'
        }
        check "the toast shows centred on the output, where the pointer is" wait_until 1 toast_centred
    fi
    stop "${pids[-1]}"
    stop "$quillary_pid"
    write_conf false true
    start_quillary quillary-auto "$platform"
    take_shot
    check "auto-move files the screenshot into the chosen folder" wait_until 5 filed
}

# The card's "x y w h kind": through XWayland where there is one, else as sway lists it.
card_rect() { if [[ -n ${DISPLAY:-} ]]; then x_card_rect; else sway_card_rect; fi; }
# Quillary's 420 px wide top-level window in the X server (XWayland): "x y w h kind".
x_card_rect() {
    local id geometry
    read -r id geometry < <(as_user xwininfo -root -children 2>/dev/null |
        awk '/\("quillary" "Quillary"\)/ && $0 ~ / 420x[0-9]+\+/ { for (i = 1; i <= NF; i++) if ($i ~ /^420x/) print $1, $i; exit }')
    [[ -n ${id:-} ]] || return 1
    local kind=managed
    as_user xwininfo -id "$id" -all 2>/dev/null | grep -q 'Override Redirect State: yes' && kind=unmanaged
    as_user xwininfo -id "$id" 2>/dev/null | grep -q 'Map State: IsViewable' || return 1
    echo "$geometry" | awk -F'[x+]' -v kind="$kind" '{ print $3, $4, $1, $2, kind }'
}
# The card's own pixels as ImageMagick's txt:, with the pointer away from its buttons.
card_image() {
    local id
    as_user xdotool mousemove 0 0
    sleep 0.15
    id=$(as_user xdotool search --onlyvisible --class '^quillary$' 2>/dev/null | while read -r w; do
        as_user xwininfo -id "$w" | grep -q 'Width: 420' && echo "$w"
    done | head -n1)
    [[ -n $id ]] && as_user import -window "$id" -depth 8 "txt:$5" 2>/dev/null
}
# Natively, Quillary's 420 px wide window as sway lists it: "x y w h shell placement" on the output.
sway_card_rect() {
    as_user swaymsg -t get_tree 2>/dev/null | jq -r --argjson pid "$quillary_pid" '.. | objects
        | select(.pid? == $pid and .geometry.width == 420 and .visible)
        | "\(.rect.x + .window_rect.x) \(.rect.y + .window_rect.y) \(.geometry.width) \(.geometry.height) \(.shell) "
          + (if .type == "floating_con" then "floating"
             else "tiled, in a \(.window_rect.width)x\(.window_rect.height) tile" end)' |
        head -n1 | grep .
}
# wl_copy FILE: a new owner of the clipboard offering FILE as image/png, until replaced.
wl_copy() {
    spawn "$dir/wl-copy.log" wl-copy --foreground --type image/png <"$1"
    offers() { as_user wl-paste --list-types 2>/dev/null | grep -qx image/png; }
    wait_until 5 offers
}
# Natively only Quillary's own Wayland connection, through the clipboard-manager protocol, sees the
# clipboard (text and the primary selection are WaylandClipboardSourceTest's).
native_clipboard_flow() {
    stop "$quillary_pid"
    check "an image is on the clipboard before launch" wl_copy "$work/shot.png"
    start_quillary quillary-clipboard "$1"
    check "the image on the clipboard at launch is never saved" stays_false 1.5 count_is 2
    wl_copy "$work/copied-9.png"
    check "the next copied image is written" wait_until 3 count_is 2
    check "with its own pixels" same_pixels "$(newest)" "$work/copied-9.png"
}
# What sway shows where the card is must be the card: most pixels differ from before the screenshot.
card_seen() {
    as_user grim -g "$1,$2 ${3}x$4" "$dir/seen.png" 2>/dev/null &&
        convert "$dir/before.png" -crop "${3}x$4+$1+$2" +repage "$dir/before-crop.png" || {
        fail "grim pictures the output"
        return
    }
    local differing
    differing=$(compare -metric AE -fuzz 2% "$dir/before-crop.png" "$dir/seen.png" null: 2>&1 | cut -d' ' -f1)
    mostly_card() { [[ $differing =~ ^[0-9]+$ ]] && ((differing > $3 * $4 / 2)); }
    check "sway shows the card there (grim: $differing of $(($3 * $4)) pixels changed)" mostly_card "$@"
}
# swaybar hosts the tray: Quillary's item is registered with the watcher on the session bus.
tray_item_registered() { [[ -n $(registered_items as_user) ]]; }
check_tray() {
    check "swaybar hosts Quillary's tray icon" wait_until 5 tray_item_registered
    check "it does not fall back to a session without a tray" eval "! grep -q 'No system tray' '$qlog'"
}
output_rect() { as_user swaymsg -t get_outputs | jq -r '.[0].rect | "\(.x) \(.y) \(.width) \(.height)"'; }

for xwayland in enable disable; do
    scenario=sway-xwayland-$xwayland
    new_session "$scenario"
    printf '%s\n' "xwayland $xwayland" 'output HEADLESS-1 resolution 1280x720 position 0 0' \
        'bar {' '    position top' '    tray_output *' '}' \
        "exec echo \"DISPLAY=\$DISPLAY\" >$runtime/display" \
        "exec echo \"DBUS_SESSION_BUS_ADDRESS=\$DBUS_SESSION_BUS_ADDRESS\" >$runtime/bus" >"$dir/sway.conf"
    spawn "$dir/sway.log" env WLR_BACKENDS=headless WLR_RENDERER=pixman WLR_LIBINPUT_NO_DEVICES=1 \
        dbus-run-session -- sway -c "$dir/sway.conf"
    sway_ready() { [[ -s "$runtime/display" && -s "$runtime/bus" ]] && socket_ready 'sway-ipc.*.sock' && socket_ready 'wayland-[0-9]'; }
    if ! wait_until 10 sway_ready; then
        fail "sway starts headless"
        cat "$dir/sway.log"
        end_session
        continue
    fi
    WAYLAND_DISPLAY=$(basename "$(compgen -G "$runtime/wayland-[0-9]" | head -n1)")
    SWAYSOCK=$(compgen -G "$runtime/sway-ipc.*.sock" | head -n1)
    DISPLAY=$(sed -n 's/^DISPLAY=//p' "$runtime/display")
    DBUS_SESSION_BUS_ADDRESS=$(sed -n 's/^DBUS_SESSION_BUS_ADDRESS=//p' "$runtime/bus")
    if [[ $xwayland == enable ]]; then
        check "sway starts headless and gives its children an XWayland DISPLAY" test -n "$DISPLAY"
        before_card() { as_user grim "$dir/before.png"; }
        common_flow 'windows through XWayland (xcb)' unmanaged wl-copy --foreground --type image/png
    else
        check "sway starts headless without XWayland" test -z "$DISPLAY"
        before_card() { :; }
        common_flow 'without XWayland: windows on Wayland' 'xdg_shell floating' wl-copy --foreground --type image/png
        native_clipboard_flow 'without XWayland: windows on Wayland'
    fi
    check "it reads the clipboard through the clipboard-manager protocol" \
        grep -q '^📍 Quillary: Clipboard read through wlr-data-control-unstable-v1 on Wayland$' "$dir/quillary.log"
    end_session
done

before_card() { :; }
check_tray() { check "weston has no tray, and Quillary says so" grep -q '^⚠️ Quillary: No system tray found' "$qlog"; }
# weston gives its clients no screen capture; its scene graph says where it shows each surface.
card_seen() {
    local views
    views=$(as_user timeout 3 weston-debug scene-graph 2>/dev/null | tr -d '(),' | awk '/position:/ { print $2, $3, $5, $6 }')
    check "weston shows a surface exactly there" grep -qx "$1 $2 $(($1 + $3)) $(($2 + $4))" <<<"$views"
}
output_rect() { echo 0 0 1280 720; }

scenario=weston
new_session weston
spawn "$dir/xvfb.log" Xvfb -displayfd 3 -screen 0 1280x720x24 -nolisten tcp 3>"$dir/xvfb-display"
xvfb_ready() { [[ -s "$dir/xvfb-display" ]]; }
if wait_until 10 xvfb_ready; then
    DISPLAY=:$(head -n1 "$dir/xvfb-display")
    spawn "$dir/weston.log" weston --backend=x11-backend.so --use-pixman --width=1280 --height=720 \
        --xwayland --socket=wayland-quillary --idle-time=0 --debug
    unset DISPLAY
fi
xwayland_display() { sed -n 's/.*xserver listening on display \(:[0-9]*\).*/\1/p' "$dir/weston.log" | grep .; }
if wait_until 10 socket_ready wayland-quillary && wait_until 10 xwayland_display >/dev/null; then
    WAYLAND_DISPLAY=wayland-quillary
    DISPLAY=$(xwayland_display)
    pass "weston starts with XWayland ($DISPLAY)"
    common_flow 'windows through XWayland (xcb)' unmanaged xclip -quiet -selection clipboard -t image/png
    check "it has no clipboard-manager protocol to read through" \
        eval "! grep -q 'Clipboard read through' '$dir/quillary.log'"
else
    fail "weston starts with XWayland"
    cat "$dir/xvfb.log" "$dir/weston.log" 2>/dev/null
fi
end_session

scenario=all
e2e_end
