#!/usr/bin/env bash
# The popup flow on a private Xvfb with openbox, once per kind of tray (XEmbed through trayer,
# StatusNotifierItem through gtk-sni-tray-standalone, which also starts once after Quillary), driven
# with xdotool and checked as a user would see it: windows, files, stored settings, the icon's tooltip.
set -uo pipefail

source "$(dirname "$0")/common.sh"
e2e_begin e2e "${1:-}" Xvfb openbox xdotool xprop import convert trayer dbus-launch dbus-send \
    status-notifier-watcher gtk-sni-tray-standalone trash-list

scenario=display
home=$work/setup
new_home
screen_w=1920
screen_h=1080
start_xvfb ${screen_w}x$screen_h

convert -size 800x500 gradient:'#88c0d0-#5e81ac' "$work/shot.png"

# Visible top-level windows of Quillary, one "id x y w h" line each.
quillary_windows() {
    local id geo
    for id in $(xdotool search --onlyvisible --class '^quillary$' 2>/dev/null); do
        geo=$(geometry "$id") && echo "$id $geo"
    done
}
# The card is the 420 px wide one.
card_windows() { quillary_windows | awk '$4 == 420'; }
card_count() { card_windows | wc -l; }
card_shown() { [[ $(card_count) -eq 1 ]]; }
card_on_desktop() {
    local id
    read -r id _ < <(card_windows) || return 1
    [[ $(xdotool get_desktop_for_window "$id" 2>/dev/null) == "$1" ]]
}
card_gone() { [[ $(card_count) -eq 0 ]]; }
settings_shown() { xdotool search --onlyvisible --name '^Quillary Settings$' >/dev/null 2>&1; }

# The card's two custom folder buttons and its trash button: "f1x f1y f2x f2y tx ty".
card_targets() {
    local id x y w h
    read -r id x y w h < <(card_windows | head -n1) || return 1
    xdotool mousemove 5 5 # no hover colours in the capture
    sleep 0.15
    import -window root -crop "${w}x${h}+${x}+${y}" +repage -depth 8 "txt:$dir/card.txt" 2>/dev/null
    card_buttons "$dir/card.txt" "$x" "$y" "$w" 2
}
click_at() { xdotool mousemove "$1" "$2" click "$3"; }
# press folder1|folder2|trash|double: clicks that button of the card (double: folder1 twice).
press() {
    local f1x f1y f2x f2y tx ty
    if ! read -r f1x f1y f2x f2y tx ty < <(card_targets); then
        fail "the card's folder and trash buttons can be located"
        return 1
    fi
    case $1 in
    folder1) click_at "$f1x" "$f1y" 1 ;;
    folder2) click_at "$f2x" "$f2y" 1 ;;
    trash) click_at "$tx" "$ty" 1 ;;
    double) xdotool mousemove "$f1x" "$f1y" click --repeat 2 --delay 120 1 ;;
    esac
}

work_area() { xprop -root _NET_WORKAREA | sed 's/.*= //; s/,//g' | awk '{print $1, $2, $3, $4}'; }
card_in_place() {
    local id x y w h ax ay aw ah
    read -r id x y w h < <(card_windows | head -n1) || return 1
    read -r ax ay aw ah < <(work_area)
    [[ $((x + w)) -eq $((ax + aw - 10)) && $((y + h)) -eq $((ay + ah - 160)) ]]
}

# Prints the centre of Quillary's tray icon, "x y", or fails while there is none.
tray_icon_centre() {
    case $tray in
    xembed)
        quillary_windows | awk -v sw="$screen_w" -v sh="$screen_h" \
            '$4 <= 64 && $5 <= 64 && $2 > sw - 200 && $3 > sh - 64 { print int($2 + $4 / 2), int($3 + $5 / 2); f = 1; exit }
             END { exit !f }'
        ;;
    sni)
        # gtk-sni-tray-standalone draws the icons itself, end-aligned; Quillary's is the only one.
        [[ -n $(registered_items) ]] || return 1
        echo "$((screen_w - sni_size / 2)) $((screen_h - sni_size / 2))"
        ;;
    esac
}
tray_icon_shown() { tray_icon_centre >/dev/null; }
# The icon's tooltip over D-Bus ("Quillary — 3 pending"): the only text of the app readable without OCR.
sni_tooltip() {
    local item
    item=$(registered_items) || return 1
    dbus-send --session --print-reply --dest="$item" /StatusNotifierItem org.freedesktop.DBus.Properties.Get \
        string:org.kde.StatusNotifierItem string:ToolTip 2>/dev/null | grep -o '"Quillary[^"]*"' | tr -d '"'
}
tooltip_is() { [[ "$(sni_tooltip)" == "$1" ]]; }
check_tooltip() { [[ $tray != sni ]] || check "the icon's tooltip reads \"$1\"" wait_until 2 tooltip_is "$1"; }

start_tray() {
    case $tray in
    xembed)
        spawn "$dir/trayer.log" trayer --edge bottom --align right --widthtype request --height 24 \
            --SetDockType true --SetPartialStrut true
        ;;
    sni)
        spawn "$dir/watcher.log" status-notifier-watcher
        watcher_up() { dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
            org.freedesktop.DBus.NameHasOwner string:org.kde.StatusNotifierWatcher 2>/dev/null | grep -q true; }
        wait_until 5 watcher_up
        spawn "$dir/sni-tray.log" gtk-sni-tray-standalone --bottom --end --size "$sni_size"
        ;;
    esac
}

# Opens the tray menu with a right click and activates its Nth entry with arrow keys.
tray_menu_pick() {
    click_tray 3 || return 1
    sleep 0.6
    xdotool key $(printf 'Down %.0s' $(seq "$1")) Return
    sleep 0.4
}
click_tray() {
    local cx cy
    read -r cx cy < <(tray_icon_centre) || return 1
    click_at "$cx" "$cy" "$1"
}

paused() { grep -q '^isPaused=true' "$home/.config/Quillary/Quillary.conf"; }
not_paused() { ! paused; }

shot_number=0
# take_shots N: N screenshots in a row into the watched folder; their names in $shots.
take_shots() {
    local i
    shots=()
    for ((i = 0; i < $1; i++)); do
        ((shot_number++))
        shots+=("Screenshot $(printf %03d $shot_number).png")
        cp "$work/shot.png" "$home/Desktop/${shots[-1]}"
        sleep 0.15
    done
}
filed() { [[ -f "$1/$2" && ! -e "$home/Desktop/$2" ]]; }
trashed() {
    [[ -f "$home/.local/share/Trash/files/$1" && ! -e "$home/Desktop/$1" ]] &&
        env HOME="$home" XDG_DATA_HOME="$home/.local/share" trash-list 2>/dev/null | grep -qF "/Desktop/$1"
}

# A throw-away HOME with two custom folders in the list.
make_home() {
    home=$dir/home
    new_home "$home"/{Desktop,Pictures/Work,Documents/Archive,.local/share}
    settings <<<"[$(folder_json $folder_id Work Pictures/Work),$(folder_json 7C9E6679-7425-40DE-944B-E07FC1F90AE7 \
        Archive Documents/Archive)]" >"$home/.config/Quillary/Quillary.conf"
}

start_quillary() { check "Quillary starts watching the Desktop folder" start_app "$dir/quillary.log"; }

start_bus() {
    local bus
    bus=$(env -i PATH="$PATH" DISPLAY="$DISPLAY" dbus-launch --sh-syntax) || return 1
    eval "$bus"
    pids+=("$DBUS_SESSION_BUS_PID")
    export DBUS_SESSION_BUS_ADDRESS
}

full_flow() {
    check "the tray icon is shown" wait_until 5 tray_icon_shown

    take_shots 3
    local first=${shots[0]} second=${shots[1]} third=${shots[2]}
    check "three screenshots in a row give one card" wait_until 3 card_shown
    sleep 0.5
    check "still one card, not three" card_shown
    check "the card sits 10 px from the right, 160 px above the bottom of the work area" card_in_place
    check_tooltip "Quillary — 3 pending"

    press folder1 || return
    check "a folder button files the first screenshot there" wait_until 2 filed "$home/Pictures/Work" "$first"

    press trash
    check "the trash button sends the second one to the Trash (trash-list agrees)" wait_until 2 trashed "$second"

    # Shown again (--show-pending, as the tray may not be on every desktop) on another virtual desktop.
    local desktop
    for desktop in 1 0; do
        xdotool set_desktop "$desktop"
        check "on desktop $desktop the card is out of sight until shown again" wait_until 2 card_gone
        spawn "$dir/show-pending-$desktop.log" QT_QPA_PLATFORM=xcb "$binary" --show-pending
        check "... then it comes to desktop $desktop" wait_until 3 card_on_desktop "$desktop"
    done

    # A window manager may minimise the card ("show desktop"); the tray brings it back.
    local id
    read -r id _ < <(card_windows)
    xdotool windowminimize "$id"
    wait_until 2 card_gone
    click_tray 1
    check "a left click on the icon with one waiting brings the card back" wait_until 2 card_shown
    if card_shown; then
        check "... at its place" card_in_place
        press folder2
        check "the second folder button files the last one" wait_until 2 filed "$home/Documents/Archive" "$third"
        check "the card goes away after the last one" wait_until 2 card_gone
        check_tooltip "Quillary"
    fi

    # The next card appears under the pointer at once: a double-click's second click must not file it.
    take_shots 2
    wait_until 3 card_shown
    sleep 0.6
    if press double; then
        check "a double-click on a folder button files the first screenshot" \
            wait_until 2 filed "$home/Pictures/Work" "${shots[0]}"
        check "... and leaves the next one where it is" stays_false 1 filed "$home/Pictures/Work" "${shots[1]}"
        check "... with its card shown" card_shown
    fi

    take_shots 1
    wait_until 3 card_shown
    tray_menu_pick 3 # Show Pending Screenshots, Settings..., Pause Quillary
    check "\"Pause Quillary\" in the tray menu pauses (stored)" wait_until 2 paused
    check "pausing closes the card" wait_until 2 card_gone
    tray_menu_pick 2 # Settings..., Resume Quillary
    check "\"Resume Quillary\" in the tray menu resumes" wait_until 2 not_paused
    check "no settings window was opened on the way" eval "! settings_shown"
}

# With no tray the settings window stands in; the icon comes once a host starts.
late_flow() {
    check "with no tray it opens the settings window instead" wait_until 3 settings_shown
    check "... and shows no icon" eval "! tray_icon_shown"
    sleep 3
    start_tray
    check "the tray icon appears once a host starts late" wait_until 5 tray_icon_shown
    tray_menu_pick 2 # Settings..., Pause Quillary
    check "the late icon's menu pauses" wait_until 2 paused
}

sni_size=30
for scenario in xembed sni late-sni; do
    dir=$work/$scenario
    tray=${scenario#late-}
    make_home
    run_pids_from=${#pids[@]}
    start_bus || {
        fail "a private D-Bus session starts"
        continue
    }
    if [[ $scenario == late-* ]]; then
        start_quillary
        late_flow
    else
        start_tray
        sleep 0.5
        start_quillary
        full_flow
    fi
    stop_from $run_pids_from
    unset DBUS_SESSION_BUS_ADDRESS
done

scenario=all
e2e_end
