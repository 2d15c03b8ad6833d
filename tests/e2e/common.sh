# Sourced by the end-to-end scripts (run as SCRIPT [path/to/quillary]; exit 1 when a check failed, 77
# when a tool is missing): tools, a work folder (kept when a check failed), PASS/FAIL lines, polling, and
# the real binary in a throw-away HOME. Callers set `scenario` (prefixes each line), `home`.

# e2e_begin NAME BINARY TOOL...: checks the binary (exits 2) and the tools (e2e_missing), makes $work.
e2e_begin() {
    local name=$1 tool
    binary=$(realpath "${2:-build/default/src/quillary}" 2>/dev/null) || binary=
    if [[ ! -x "$binary" ]]; then
        echo "usage: $0 path/to/quillary" >&2
        exit 2
    fi
    shift 2
    for tool in "$@"; do
        command -v "$tool" >/dev/null || e2e_missing "$tool"
    done
    work=$(mktemp -d "${TMPDIR:-/tmp}/quillary-$name.XXXXXX")
    pids=()
    failures=0
    passes=0
    trap e2e_cleanup EXIT
    trap 'exit 130' INT TERM
}

# Skips (77) for want of a tool, or fails where every tool must be there (QUILLARY_E2E_REQUIRE_TOOLS=1,
# as `./dev.sh test` sets), so that a test never passes unseen as skipped.
e2e_missing() {
    if [[ -n ${QUILLARY_E2E_REQUIRE_TOOLS:-} ]]; then
        echo "FAIL: $1 is not installed, and this run requires every tool (scripts/setup.sh installs it)"
        exit 1
    fi
    echo "SKIP: $1 is not installed"
    exit 77
}

e2e_cleanup() {
    stop_from 0
    if ((failures > 0)); then
        echo "Logs and screens of the failures are kept in $work"
    else
        rm -rf "$work"
    fi
}

e2e_end() {
    echo "$passes passed, $failures failed"
    ((failures == 0))
}

pass() {
    echo "PASS: [$scenario] $*"
    ((passes++))
}
fail() {
    echo "FAIL: [$scenario] $*"
    ((failures++))
    [[ -n "${DISPLAY:-}" ]] && import -window root "$work/fail-$failures.png" 2>/dev/null
}
# check DESCRIPTION COMMAND...: one PASS or FAIL line for the command's status.
check() {
    local what=$1
    shift
    if "$@"; then pass "$what"; else fail "$what"; fi
}
# wait_until SECONDS COMMAND...: polls every 0.1 s until the command succeeds.
wait_until() {
    local deadline
    deadline=$(awk -v now="$EPOCHREALTIME" -v s="$1" 'BEGIN { printf "%.3f", now + s }')
    shift
    until "$@"; do
        awk -v now="$EPOCHREALTIME" -v d="$deadline" 'BEGIN { exit !(now >= d) }' && return 1
        sleep 0.1
    done
}
# stays_false SECONDS COMMAND...: the command keeps failing for that long.
stays_false() { ! wait_until "$@"; }
seconds_since() { awk -v a="$1" -v b="$EPOCHREALTIME" 'BEGIN { printf "%.2f", b - a }'; }
stop() {
    kill "$1" 2>/dev/null
    wait "$1" 2>/dev/null
}
# stop_from N: stops the children started since there were N, newest first.
stop_from() {
    local i
    for ((i = ${#pids[@]} - 1; i >= $1; i--)); do
        stop "${pids[i]}"
    done
    pids=("${pids[@]:0:$1}")
}

# start_headless [WRAPPER...]: the binary offscreen (through WRAPPER, e.g. prlimit), its output added to
# $log; waits until it watches.
start_headless() {
    local before
    before=$(grep -c 'access: OK' "$log" 2>/dev/null)
    DISPLAY= WAYLAND_DISPLAY= DBUS_SESSION_BUS_ADDRESS= spawn "$log" QT_QPA_PLATFORM=offscreen "$@" "$binary"
    pid=${pids[-1]}
    watching() { (($(grep -c 'access: OK' "$log") > ${before:-0})); }
    wait_until 30 watching
}
# Ends it with SIGTERM; true when it quit with status 0.
quit() {
    stop "$pid"
    local status=$?
    pid=
    ((status == 0))
}

folder_id=3F2504E0-4F89-41D3-9A0C-0305E82C3301
# folder_json ID NAME PATH [RENAMES PREFIX DATE FORMAT]: one folder of the stored list.
folder_json() {
    printf '{"id":"%s","name":"%s","path":"%s","icon":"folder.fill","isRenamingEnabled":%s,"prefix":"%s",' \
        "$1" "$2" "$3" "${4:-false}" "${5:-}"
    printf '"includeDate":%s,"fileFormat":"%s"}' "${6:-false}" "${7:-png}"
}
# settings LINE... <LIST: a settings file with those lines and the folder list read from stdin.
settings() {
    printf '[General]\n'
    printf '%s\n' "$@"
    printf 'savedFolders_v2="%s"\n' "$(sed 's/"/\\"/g')"
}
# new_home DIR...: $home with its settings and runtime folders, and DIRs.
new_home() {
    mkdir -p "$home"/{.config/Quillary,run} "$@"
    chmod 700 "$home/run"
}
# write_auto_move_settings FORMAT: $home's settings auto-move every screenshot into Pictures/Filed,
# renamed Quil_nnn in FORMAT (png keeps the name).
write_auto_move_settings() {
    local renames=true
    [[ $1 == png ]] && renames=false
    settings showPopup=false autoMove=true selectedFolderID=$folder_id \
        <<<"[$(folder_json $folder_id Filed Pictures/Filed $renames Quil false "$1")]" \
        >"$home/.config/Quillary/Quillary.conf"
}
# geometry WINDOW: its "x y w h" while it is mapped.
geometry() {
    unset X Y WIDTH HEIGHT
    eval "$(xdotool getwindowgeometry --shell "$1" 2>/dev/null)"
    [[ -n ${WIDTH:-} ]] && echo "$X $Y $WIDTH $HEIGHT"
}

# spawn LOG COMMAND...: a child with a small, fixed environment (the caller's desktop cannot leak in), as
# the session's user, reading the caller's stdin, its output added to LOG.
spawn() {
    local log=$1
    shift
    session_env
    "${session[@]}" "$@" <&0 >>"$log" 2>&1 &
    pids+=($!)
}
# start_app LOG: the binary under spawn; waits until it watches.
start_app() {
    spawn "$1" QT_QPA_PLATFORM=xcb "$binary"
    wait_until 10 grep -q 'access: OK' "$1"
}
# start_xvfb WxH: a private Xvfb as $DISPLAY, then openbox managing it; fails the script otherwise.
start_xvfb() {
    local fd
    exec {fd}>"$work/display"
    Xvfb -displayfd "$fd" -screen 0 "${1}x24" -nolisten tcp >"$work/xvfb.log" 2>&1 &
    pids+=($!)
    exec {fd}>&-
    wait_until 10 test -s "$work/display" || {
        fail "Xvfb starts"
        exit 1
    }
    export DISPLAY=:$(head -n1 "$work/display")
    unset DBUS_SESSION_BUS_ADDRESS WAYLAND_DISPLAY SWAYSOCK
    spawn "$work/openbox.log" openbox --sm-disable
    wm_running() { xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'; }
    wait_until 10 wm_running || {
        fail "openbox starts"
        exit 1
    }
}

# card_buttons TXT X Y W NEED: "f1x f1y f2x f2y trash_x trash_y" on the screen, from the card's txt: pixels
# at X,Y: folder buttons in accent blue (f2 is f1 when NEED is 1 and there is one), the trash button red.
card_buttons() {
    awk -v ox="$2" -v oy="$3" -v w="$4" -v need="$5" '
            NR > 1 {
                split($1, p, /[,:]/)
                px = p[1]; py = p[2]
                gsub(/[()]/, "", $2)
                split($2, c, ",")
                r = c[1] + 0; g = c[2] + 0; b = c[3] + 0
                if (r == 10 && g == 132 && b == 255) {
                    blue[px, py] = 1
                    if (top == "" || py < top) top = py
                }
                if (r > 150 && g < 90 && b < 90) { rx += px; ry += py; rn++ }
            }
            END {
                if (top == "" || rn == 0) exit 1
                row = top + 3; n = 0; inside = 0
                for (px = 0; px <= w; px++) {
                    if ((px, row) in blue) { if (!inside) { start = px; inside = 1 } }
                    else if (inside) { centre[n++] = int((start + px - 1) / 2); inside = 0 }
                }
                if (n < need || n == 0) exit 1
                if (n == 1) centre[1] = centre[0]
                printf "%d %d %d %d %d %d\n", ox + centre[0], oy + top + 13, ox + centre[1], oy + top + 13,
                    ox + int(rx / rn), oy + int(ry / rn)
            }' "$1"
}
# The clipboard images saved in Desktop/ClipBoard: whether there are N, and the newest.
count_is() { [[ $(find "$home/Desktop/ClipBoard" -maxdepth 1 -name 'Clipboard_*.png' 2>/dev/null | wc -l) -eq $1 ]]; }
newest() { ls -t "$home/Desktop/ClipBoard"/Clipboard_*.png 2>/dev/null | head -n1; }
same_pixels() { [[ $(compare -metric AE "$1" "$2" null: 2>&1) == 0 ]]; }
# registered_items [WRAPPER...]: the first StatusNotifierItem registered on the session bus.
registered_items() {
    "$@" dbus-send --session --print-reply=literal --dest=org.kde.StatusNotifierWatcher /StatusNotifierWatcher \
        org.freedesktop.DBus.Properties.Get string:org.kde.StatusNotifierWatcher \
        string:RegisteredStatusNotifierItems 2>/dev/null | grep -o ':[0-9.]*' | head -n1
}

# sway will not run as root: as root, the compositor and its clients run as `nobody`. Callers set `home`,
# `runtime` (else $home/run), and WAYLAND_DISPLAY, DISPLAY, SWAYSOCK, DBUS_SESSION_BUS_ADDRESS as given.
session_user_begin() {
    drop_root=()
    if [[ $(id -u) -eq 0 ]]; then
        command -v setpriv >/dev/null || e2e_missing setpriv
        drop_root=(setpriv --reuid=nobody --regid=nogroup --clear-groups --)
        chmod 755 "$work"
    fi
}
session_env() {
    session=(env -i PATH="$PATH" HOME="$home" LANG=C.UTF-8 XDG_RUNTIME_DIR="${runtime:-$home/run}"
        XDG_CONFIG_HOME="$home/.config" XDG_DATA_HOME="$home/.local/share" XDG_CACHE_HOME="$home/.cache"
        ${WAYLAND_DISPLAY:+WAYLAND_DISPLAY="$WAYLAND_DISPLAY"} ${DISPLAY:+DISPLAY="$DISPLAY"}
        ${SWAYSOCK:+SWAYSOCK="$SWAYSOCK"} ${DBUS_SESSION_BUS_ADDRESS:+DBUS_SESSION_BUS_ADDRESS="$DBUS_SESSION_BUS_ADDRESS"}
        "${drop_root[@]}")
}
as_user() { session_env && "${session[@]}" "$@"; }
