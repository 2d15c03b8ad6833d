#!/usr/bin/env bash
# Takes the pictures for the docs on a private Xvfb display (openbox, trayer, a compositor for the
# translucent windows) over a plain gradient desktop:
#   docs/card.png       the card for three new screenshots, with a thumbnail and seven folders
#   docs/toast.png      the "Saved to ClipBoard Folder" toast, as render_ui_pictures draws it
#   docs/tray-menu.png  the tray icon with its menu open
#   docs/settings-{general,sounds-clipboard,folders,folders-custom}.png   the settings window's pages, and the
#                       same in a dark palette (-dark.png), as render_ui_pictures draws them
#
#   scripts/take-docs-screenshots.sh [BUILD_DIR]    (default build/default; needs quillary and render_ui_pictures)
#
# The sample screenshots come from ../shared/tools/make-screenshots and stay in BUILD_DIR.
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:-build/default}
quillary=$(realpath "$build/src/quillary")
pictures=$(realpath "$build/tests/ui/render_ui_pictures")
for tool in Xvfb openbox trayer xcompmgr hsetroot xdotool xprop xwininfo import convert; do
    command -v "$tool" >/dev/null || { echo "❌ $tool is not installed" >&2; exit 1; }
done
[[ -x "$quillary" && -x "$pictures" ]] || { echo "❌ build quillary and render_ui_pictures in $build first" >&2; exit 1; }

samples=$build/docs-samples
if [[ -x ../shared/tools/make-screenshots ]]; then
    ../shared/tools/make-screenshots "$samples" 3 >/dev/null
else
    # Without the shared tool, a plain picture still shows the thumbnail's place.
    mkdir -p "$samples"
    convert -size 1920x1080 gradient:'#eceff4-#81a1c1' "$samples/Screenshot sample.png"
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/quillary-docs.XXXXXX")
pids=()
cleanup() {
    local i
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do kill "${pids[i]}" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

home=$work/home
mkdir -p "$home"/{Desktop,Documents,Downloads,Pictures,run,.config/Quillary,.local/share}
chmod 700 "$home/run"
spawn() {
    env -i PATH="$PATH" HOME="$home" DISPLAY="$DISPLAY" LANG=C.UTF-8 QT_QPA_PLATFORM=xcb \
        XDG_CONFIG_HOME="$home/.config" XDG_DATA_HOME="$home/.local/share" XDG_RUNTIME_DIR="$home/run" \
        "$@" >>"$work/log" 2>&1 &
    pids+=($!)
}
wait_until() {
    local tries=$(($1 * 10))
    shift
    until "$@"; do
        ((tries-- > 0)) || return 1
        sleep 0.1
    done
}

exec {displayfd}>"$work/display"
Xvfb -displayfd "$displayfd" -noreset -screen 0 1920x1080x24 -nolisten tcp >>"$work/log" 2>&1 &
pids+=($!)
exec {displayfd}>&-
display_known() { [[ -s "$work/display" ]]; }
wait_until 10 display_known
DISPLAY=:$(head -n1 "$work/display")
export DISPLAY

spawn openbox --sm-disable
wm_running() { xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'; }
wait_until 10 wm_running
# A desktop picture the compositor draws behind the translucent windows (-noreset keeps it).
convert -size 1920x1080 -define gradient:angle=135 gradient:'#5e81ac-#2e3440' "$work/desktop.png"
hsetroot -fill "$work/desktop.png" >/dev/null
spawn xcompmgr
# Away from the screen's corner, so the menu opens beside the icon and the crop has a margin all round.
# A light panel: without a desktop colour scheme Quillary takes the panel for light (dark glyph).
spawn trayer --edge bottom --align right --margin 300 --distance 24 --widthtype request \
    --height 28 --SetDockType true --SetPartialStrut true

# Four standard folders and three of one's own; QSettings' INI quoting.
folder() {
    local renames=false prefix=
    [[ $3 == */* ]] && renames=true prefix=$2
    printf '{"id":"%s","name":"%s","path":"%s","icon":"folder.fill","isRenamingEnabled":%s,' "$1" "$2" "$3" "$renames"
    printf '"prefix":"%s","includeDate":false,"fileFormat":"png"}' "$prefix"
}
list="[$(folder 0D7A3A4C-1A57-4F6B-9E1D-2B7C1E9A0001 Desktop Desktop),$(
    folder 0D7A3A4C-1A57-4F6B-9E1D-2B7C1E9A0002 Documents Documents),$(
    folder 0D7A3A4C-1A57-4F6B-9E1D-2B7C1E9A0003 Downloads Downloads),$(
    folder 0D7A3A4C-1A57-4F6B-9E1D-2B7C1E9A0004 Pictures Pictures),$(
    folder 0D7A3A4C-1A57-4F6B-9E1D-2B7C1E9A0005 Work Documents/Work),$(
    folder 0D7A3A4C-1A57-4F6B-9E1D-2B7C1E9A0006 Receipts Documents/Receipts),$(
    folder 0D7A3A4C-1A57-4F6B-9E1D-2B7C1E9A0007 Design Desktop/Design)]"
printf '[General]\nsavedFolders_v2="%s"\n' "$(sed 's/\\/\\\\/g; s/"/\\"/g' <<<"$list")" \
    >"$home/.config/Quillary/Quillary.conf"

spawn "$quillary"
watching() { grep -q 'access: OK' "$work/log"; }
wait_until 10 watching || { cat "$work/log" >&2; exit 1; }

# "id x y w h" of Quillary's visible windows.
quillary_windows() {
    local id
    for id in $(xdotool search --onlyvisible --class '^quillary$' 2>/dev/null); do
        unset X Y WIDTH HEIGHT
        eval "$(xdotool getwindowgeometry --shell "$id" 2>/dev/null)"
        echo "$id $X $Y $WIDTH $HEIGHT"
    done
}
tray_icon() { quillary_windows | awk '$4 <= 64 && $5 <= 64 { print; f = 1; exit } END { exit !f }'; }
card() { quillary_windows | awk '$4 == 420 { print; f = 1; exit } END { exit !f }'; }
menu() { quillary_windows | awk '$4 > 64 && $4 != 420 { print; f = 1; exit } END { exit !f }'; }
# snap OUT MARGIN "x y w h"...: the root window cropped to the boxes' union plus the margin.
snap() {
    local out=$1 margin=$2
    shift 2
    local box
    box=$(printf '%s\n' "$@" | awk -v m="$margin" '
        { if (NR == 1 || $1 < l) l = $1; if (NR == 1 || $2 < t) t = $2
          if ($1 + $3 > r) r = $1 + $3; if ($2 + $4 > b) b = $2 + $4 }
        END { l -= m; t -= m; r += m; b += m; if (l < 0) l = 0; if (t < 0) t = 0
              if (r > 1920) r = 1920; if (b > 1080) b = 1080
              printf "%dx%d+%d+%d", r - l, b - t, l, t }')
    import -window root -crop "$box" +repage "$out"
}

wait_until 10 tray_icon >/dev/null || { echo "❌ no tray icon" >&2; exit 1; }
xdotool mousemove 700 400
i=0
for shot in "$samples"/Screenshot*.png; do
    cp "$shot" "$home/Desktop/"
    sleep 0.2
    ((++i == 3)) && break
done
wait_until 5 card >/dev/null || { echo "❌ no card" >&2; exit 1; }
sleep 1.5 # the thumbnail is decoded off the UI thread
read -r _ x y w h < <(card)
snap docs/card.png 28 "$x $y $w $h"

# The menu, over the tray icon with its badge; the card is minimised out of the way first.
read -r id _ < <(card)
xdotool windowminimize "$id"
read -r _ x y w h < <(tray_icon)
# Clicked at its top row: the menu opens upward from the pointer and so leaves the icon in sight.
xdotool mousemove $((x + w / 2)) $((y + 1)) click 3
wait_until 5 menu >/dev/null || { echo "❌ no tray menu" >&2; exit 1; }
sleep 0.5
read -r _ mx my mw mh < <(menu)
snap docs/tray-menu.png 20 "$mx $my $mw $mh" "$x $y $w $h"
xdotool key Escape

# The toast as the application draws it, laid on the same desktop.
QT_QPA_PLATFORM=offscreen "$pictures" "$work/pictures" >>"$work/log" 2>&1
import -window root -crop 316x102+802+489 +repage "$work/backdrop.png"
convert "$work/backdrop.png" "$work/pictures/copied-toast.png" -gravity center -composite docs/toast.png

# The settings window, one picture per page, opened as a keyboard shortcut would open it. The pages
# are picked in the sidebar, whose entries sit at fixed places (the second one wraps onto two lines).
spawn "$quillary" --settings
settings() { xdotool search --onlyvisible --name '^Quillary Settings$' 2>/dev/null | head -n1 | grep .; }
wait_until 5 settings >/dev/null || { echo "❌ no settings window" >&2; exit 1; }
id=$(settings)
xdotool windowmove "$id" 600 200
sleep 0.5
# xwininfo, not xdotool: xdotool counts a reparenting window manager's frame offset twice.
X=$(xwininfo -id "$id" | awk '/Absolute upper-left X/ { print $NF }')
Y=$(xwininfo -id "$id" | awk '/Absolute upper-left Y/ { print $NF }')
pages=(general sounds-clipboard folders)
entries=(84 128 172)
for i in 0 1 2; do
    xdotool mousemove $((X + 90)) $((Y + entries[i])) click 1 mousemove 5 5
    sleep 0.4
    import -window "$id" "docs/settings-${pages[i]}.png"
done
# The Folders page's custom folders, with the first one selected and its rule editor open.
xdotool mousemove $((X + 402)) $((Y + 68)) click 1
sleep 0.3
xdotool mousemove $((X + 400)) $((Y + 156)) click 1
sleep 0.3
xdotool mousemove $((X + 626)) $((Y + 156)) click 1 mousemove 5 5
sleep 0.4
import -window "$id" docs/settings-folders-custom.png
# The same pages in a dark palette, drawn as the application draws them.
QT_QPA_PLATFORM=offscreen "$pictures" "$work/pictures" >>"$work/log" 2>&1
for page in "${pages[@]}"; do cp "$work/pictures/settings-$page-dark.png" docs/; done

echo "Wrote docs/card.png docs/tray-menu.png docs/toast.png docs/settings-*.png"
