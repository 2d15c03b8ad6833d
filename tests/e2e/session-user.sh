# Sourced by the end-to-end scripts that run a Wayland compositor. sway will not run as root, so run
# as root, the compositor and every client of its session run as `nobody` (setpriv); otherwise as the
# caller. Call after e2e_begin (it needs $work); callers set `home` and `runtime` (XDG_RUNTIME_DIR)
# before starting anything, and WAYLAND_DISPLAY, DISPLAY, SWAYSOCK and DBUS_SESSION_BUS_ADDRESS as the
# session gives them.
# Needs setpriv then (e2e_missing).

drop_root=()
if [[ $(id -u) -eq 0 ]]; then
    command -v setpriv >/dev/null || e2e_missing setpriv
    drop_root=(setpriv --reuid=nobody --regid=nogroup --clear-groups --)
    chmod 755 "$work"
fi

# The environment of the session's children, run as that user: in `session`.
session_env() {
    session=(env -i PATH="$PATH" HOME="$home" LANG=C.UTF-8 XDG_RUNTIME_DIR="$runtime"
        XDG_CONFIG_HOME="$home/.config" XDG_DATA_HOME="$home/.local/share" XDG_CACHE_HOME="$home/.cache"
        ${WAYLAND_DISPLAY:+WAYLAND_DISPLAY="$WAYLAND_DISPLAY"} ${DISPLAY:+DISPLAY="$DISPLAY"}
        ${SWAYSOCK:+SWAYSOCK="$SWAYSOCK"} ${DBUS_SESSION_BUS_ADDRESS:+DBUS_SESSION_BUS_ADDRESS="$DBUS_SESSION_BUS_ADDRESS"}
        "${drop_root[@]}")
}
as_user() {
    session_env
    "${session[@]}" "$@"
}
# user_spawn LOG COMMAND...: a child of the session, in the background, reading the caller's stdin.
user_spawn() {
    local log=$1
    shift
    session_env
    "${session[@]}" "$@" <&0 >"$log" 2>&1 &
    pids+=($!)
}
