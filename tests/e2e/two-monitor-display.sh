# Sourced by end-to-end scripts that need two monitors side by side. Xvfb cannot do this (its
# Xinerama heads all sit at 0,0 and it ignores RandR monitors), so this runs the real Xorg server
# with the dummy video driver: one X screen of 3200x1080 that RandR splits into two outputs,
#   DUMMY0 1920x1080 at +0+0 and DUMMY1 1280x1024 at +1920+0.
# Qt's xcb platform reports them as two QScreens, openbox sees two Xinerama heads, and the pointer
# (xdotool, through XTEST) moves across both. The pointer stays on the monitors: a move into the
# strip below the right one (y >= 1024 there) stops at the left monitor's edge.
#
# Debian packages: xserver-xorg-core xserver-xorg-video-dummy x11-xserver-utils (for xrandr).
#
# start_two_monitor_display WORKDIR
#   Starts the server (config and log in WORKDIR), waits until it answers, exports DISPLAY and
#   appends its pid to the caller's array `pids`. Sets monitor0_geometry and monitor1_geometry to
#   "X Y W H" as the server reports them. A missing tool ends the caller through e2e_missing; returns 1
#   when the server does not come up with the two monitors.

start_two_monitor_display() {
    local work=$1 xorg=/usr/lib/xorg/Xorg display_fd i
    # The binary itself, not the /usr/bin/Xorg wrapper: where xserver-xorg-legacy is installed the
    # wrapper refuses users who are not on a console. No privileges are needed for the dummy driver.
    if [[ ! -x "$xorg" || ! -e /usr/lib/xorg/modules/drivers/dummy_drv.so ]]; then
        e2e_missing "Xorg with the dummy driver (xserver-xorg-video-dummy)"
    fi
    command -v xrandr >/dev/null || e2e_missing xrandr

    # Each output takes its mode and position from the Monitor section named in the Device's
    # "Monitor-<output>" option; DUMMY1 has no (fake) monitor plugged in, so it is off unless
    # enabled. No input hotplugging, so a server run as root never grabs the machine's real devices;
    # the core pointer and keyboard (and XTEST, which xdotool uses) exist without any input driver.
    cat >"$work/xorg.conf" <<'EOF'
Section "ServerFlags"
    Option "AutoAddDevices" "false"
    Option "AutoAddGPU" "false"
EndSection
Section "Device"
    Identifier "dummy"
    Driver "dummy"
    VideoRam 65536
    Option "Monitor-DUMMY0" "left"
    Option "Monitor-DUMMY1" "right"
EndSection
Section "Monitor"
    Identifier "left"
    HorizSync 5.0 - 1000.0
    VertRefresh 5.0 - 200.0
    Modeline "1920x1080" 138.50 1920 1968 2000 2080 1080 1083 1088 1111 +hsync -vsync
    Option "PreferredMode" "1920x1080"
    Option "Position" "0 0"
    Option "Primary" "true"
EndSection
Section "Monitor"
    Identifier "right"
    HorizSync 5.0 - 1000.0
    VertRefresh 5.0 - 200.0
    Modeline "1280x1024" 108.00 1280 1328 1440 1688 1024 1025 1028 1066 +hsync +vsync
    Option "PreferredMode" "1280x1024"
    Option "Position" "1920 0"
    Option "Enable" "true"
EndSection
Section "Screen"
    Identifier "screen"
    Device "dummy"
    Monitor "left"
    DefaultDepth 24
    SubSection "Display"
        Depth 24
        Virtual 3200 1080
    EndSubSection
EndSection
EOF

    # -sharevts -novtswitch: when run as root the server still opens a VT, but shares the current
    # one instead of switching to it.
    : >"$work/display"
    exec {display_fd}>"$work/display"
    "$xorg" -displayfd "$display_fd" -config "$work/xorg.conf" -logfile "$work/xorg.log" \
        -noreset -nolisten tcp -sharevts -novtswitch >"$work/xorg.out" 2>&1 &
    pids+=($!)
    exec {display_fd}>&-
    # The display number is written once the server accepts clients; give up after 10 s or when
    # the server has already died.
    for ((i = 0; i < 100; i++)); do
        [[ -s "$work/display" ]] || ! kill -0 "${pids[-1]}" 2>/dev/null && break
        sleep 0.1
    done
    if [[ ! -s "$work/display" ]]; then
        echo "Xorg did not start; see $work/xorg.log" >&2
        return 1
    fi
    DISPLAY=:$(head -n1 "$work/display")
    export DISPLAY

    # "0: +*DUMMY0 1920/508x1080/286+0+0  DUMMY0" -> "0 0 1920 1080", one line per monitor.
    local monitors
    monitors=$(xrandr --listmonitors | sed -nE 's#.* ([0-9]+)/[0-9]+x([0-9]+)/[0-9]+\+([0-9]+)\+([0-9]+) .*#\3 \4 \1 \2#p')
    monitor0_geometry=$(sed -n 1p <<<"$monitors")
    monitor1_geometry=$(sed -n 2p <<<"$monitors")
    if [[ "$monitor0_geometry" != "0 0 1920 1080" || "$monitor1_geometry" != "1920 0 1280 1024" ]]; then
        echo "Xorg came up without the two monitors:" >&2
        xrandr --listmonitors >&2
        return 1
    fi
}
