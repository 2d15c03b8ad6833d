#!/usr/bin/env bash
# Installs the Debian packages Quillary needs to build and test, and nothing when all are present.
# Safe to run again; prints nothing unless it has to install something.
set -euo pipefail

packages=(
    # g++ brings the sanitizer runtimes (ASan, UBSan, TSan); clang-format checks the formatting
    g++ cmake ninja-build pkg-config clang-format
    qt6-base-dev qt6-base-dev-tools libgl-dev zlib1g-dev
    libpng-dev libturbojpeg0-dev libqpdf-dev libpoppler-qt6-dev libpulse-dev libxcb1-dev libwayland-dev qt6-svg-dev
    libgtest-dev libgmock-dev libbenchmark-dev
    # the fuzz targets: clang with libFuzzer's runtime, and GLib, which some of them are checked against
    clang libclang-rt-14-dev libglib2.0-dev
    # tools the tests check real outputs with
    desktop-file-utils imagemagick poppler-utils trash-cli xvfb xauth
    # the Debian package: dpkg-shlibdeps finds its libraries (CPack asks `file` which files are
    # programs); the test validates its metainfo and renders its man page
    dpkg-dev file appstream man-db
    # …and starts it from its desktop entries as a desktop does
    libglib2.0-bin
    # faults: prlimit, setpriv and unshare (util-linux), mount for a small tmpfs, strace to kill a
    # process at an exact system call
    util-linux mount strace
    # the end-to-end run on a real X server with real tray hosts
    openbox trayer xdotool dbus-x11 x11-utils haskell-status-notifier-item-utils haskell-gtk-sni-tray-utils
    # clipboard saving: a real clipboard owner
    xclip
    # clipboard saving on Wayland: a headless compositor with the clipboard-manager protocol
    sway wl-clipboard
    # the Wayland session runs: XWayland under sway and weston, weston (nested in Xvfb), Qt's own
    # Wayland platform for a session without XWayland, jq to read swaymsg's answers, and grim for
    # what sway shows
    xwayland weston qt6-wayland jq grim
)

missing=()
for p in "${packages[@]}"; do
    status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
    [[ "$status" == "install ok installed" ]] || missing+=("$p")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

echo "Installing missing packages: ${missing[*]}"
sudo=()
if [[ $(id -u) -ne 0 ]]; then
    command -v sudo >/dev/null || { echo "❌ Need root or sudo to install: ${missing[*]}" >&2; exit 1; }
    sudo=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -qq
"${sudo[@]}" apt-get install -y -qq "${missing[@]}" >/dev/null
