# Sourced by end-to-end scripts that need two monitors side by side: Xvfb cannot (its Xinerama heads
# all sit at 0,0), so this runs Xorg with the dummy video driver, one 3200x1080 screen that RandR splits
# into DUMMY0 1920x1080 at +0+0 and DUMMY1 1280x1024 at +1920+0 (xserver-xorg-video-dummy, xrandr).
#
# start_two_monitor_display WORKDIR: starts it (config and log in WORKDIR), exports DISPLAY, adds its
# pid to `pids`, sets monitor0_geometry and monitor1_geometry ("X Y W H"). A missing tool ends the
# caller through e2e_missing; returns 1 when the server does not come up with the two monitors.
start_two_monitor_display() {
    local work=$1 xorg=/usr/lib/xorg/Xorg display_fd i
    # Not the /usr/bin/Xorg wrapper, which refuses users who are not on a console.
    if [[ ! -x "$xorg" || ! -e /usr/lib/xorg/modules/drivers/dummy_drv.so ]]; then
        e2e_missing "Xorg with the dummy driver (xserver-xorg-video-dummy)"
    fi
    command -v xrandr >/dev/null || e2e_missing xrandr

    # No input hotplugging, so a server run as root never grabs the machine's real devices.
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

    # -sharevts -novtswitch: run as root, it shares the current VT instead of switching.
    : >"$work/display"
    exec {display_fd}>"$work/display"
    "$xorg" -displayfd "$display_fd" -config "$work/xorg.conf" -logfile "$work/xorg.log" \
        -noreset -nolisten tcp -sharevts -novtswitch >"$work/xorg.out" 2>&1 &
    pids+=($!)
    exec {display_fd}>&-
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

    # "0: +*DUMMY0 1920/508x1080/286+0+0  DUMMY0" -> "0 0 1920 1080"
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
