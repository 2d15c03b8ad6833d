#!/usr/bin/env bash
# check-package.sh CPACK_CONFIG APP_ID VERSION DOCS_DIR MODULE_SUBDIR: makes the Debian package and
# checks what a user gets, the installed program run from a throw-away root.
set -euo pipefail
config=$1 app_id=$2 version=$3 docs=$4 module_subdir=$5

for tool in cpack dpkg-deb dpkg-shlibdeps file desktop-file-validate appstreamcli man; do
    command -v "$tool" >/dev/null || { echo "❌ $tool is not installed (scripts/setup.sh installs it)"; exit 1; }
done

work=$(mktemp -d)
pid=
trap '[[ -n $pid ]] && kill "$pid" 2>/dev/null; rm -rf "$work"' EXIT
failures=0
fail() {
    echo "❌ $*"
    failures=$((failures + 1))
}
# poll COMMAND...: true once the command succeeds, within 10 s.
poll() {
    for _ in $(seq 100); do
        "$@" && return
        sleep 0.1
    done
    return 1
}

cpack --config "$config" -B "$work/out" >"$work/cpack.log" 2>&1 || { cat "$work/cpack.log"; exit 1; }
debs=("$work"/out/quillary_"$version"_*.deb)
[[ ${#debs[@]} -eq 1 && -f ${debs[0]} ]] || { echo "❌ no quillary_${version}_*.deb made"; exit 1; }
deb=${debs[0]}

# Exactly these files, so neither a missing one nor a test or benchmark slips through.
expected=(
    usr/bin/quillary
    "usr/$module_subdir/libquillary-pdf.so" # where the program looks, beside ../ of its own folder
    "usr/share/applications/$app_id.desktop"
    "usr/share/metainfo/$app_id.metainfo.xml"
    "usr/share/icons/hicolor/scalable/apps/$app_id.svg"
    usr/share/man/man1/quillary.1.gz
    usr/share/doc/quillary/copyright
)
sizes=(16 24 32 48 64 128 256 512)
for size in "${sizes[@]}"; do
    expected+=("usr/share/icons/hicolor/${size}x$size/apps/$app_id.png")
done
diff <(printf '%s\n' "${expected[@]}" | sort) \
    <(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { sub(/^\.\//, "", $6); print $6 }' | sort) ||
    fail "the package's files differ from the list above (< expected, > packaged)"

field() { dpkg-deb -f "$deb" "$1"; }
[[ $(field Package) == quillary && $(field Version) == "$version" ]] ||
    fail "package $(field Package) $(field Version), not quillary $version"
# Linked libraries (found by dpkg-shlibdeps) and the plugins Qt loads at run time.
depends=$(field Depends)
for package in libqt6widgets6 libqt6gui6 libqt6core6 libqt6network6 libqt6dbus6 libpulse0 libpoppler-qt6 \
    libqpdf libturbojpeg0 libpng16-16 libwayland-client0 qt6-wayland libqt6svg6; do
    [[ ", $depends" == *", $package"* ]] || fail "Depends lacks $package: $depends"
done

root=$work/root
dpkg -x "$deb" "$root"
desktop=$root/usr/share/applications/$app_id.desktop
metainfo=$root/usr/share/metainfo/$app_id.metainfo.xml
desktop-file-validate "$desktop" || fail "desktop-file-validate rejects $app_id.desktop"
appstreamcli validate --no-net "$metainfo" >"$work/appstream.log" 2>&1 ||
    { cat "$work/appstream.log"; fail "appstreamcli rejects $app_id.metainfo.xml"; }

# One id everywhere: the entry's icon and program, the metainfo's id and launchable.
[[ $(grep '^Icon=' "$desktop") == "Icon=$app_id" ]] || fail "the desktop entry's icon is not $app_id"
exec_program=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$desktop" | sort -u)
[[ $exec_program == quillary ]] || fail "the desktop entry runs $exec_program, not the installed quillary"
grep -q "<id>$app_id</id>" "$metainfo" || fail "the metainfo's id is not $app_id"
grep -q "<launchable type=\"desktop-id\">$app_id.desktop</launchable>" "$metainfo" ||
    fail "the metainfo does not launch $app_id.desktop"
for size in "${sizes[@]}"; do
    png=$root/usr/share/icons/hicolor/${size}x$size/apps/$app_id.png
    file -b "$png" | grep -q "^PNG image data, $size x $size," || fail "$png is not a $size-pixel PNG"
done

# The screenshots listed are the pictures in docs/, each once, under the published address.
base=https://raw.githubusercontent.com/quillary/quillary/main/docs/
diff <(find "$docs" -maxdepth 1 -name '*.png' -printf "$base%f\n" | sort) \
    <(sed -n 's#.*<image>\([^<]*\)</image>.*#\1#p' "$metainfo" | sort) ||
    fail "the metainfo's screenshots differ from docs/*.png (< docs, > metainfo)"

# The installed program, with no library path and no display, in a throw-away home.
home=$work/home
mkdir -p "$home/.config/Quillary"
mkdir -m 700 "$work/run"
quillary=$root/usr/bin/quillary
run=(env -i HOME="$home" PATH=/usr/bin:/bin XDG_RUNTIME_DIR="$work/run" QT_QPA_PLATFORM=offscreen "$quillary")
[[ $("${run[@]}" --version) == "quillary $version" ]] || fail "--version says '$("${run[@]}" --version)'"

# The man page renders cleanly and describes every option --help lists.
man_page=$root/usr/share/man/man1/quillary.1.gz
warnings=$(MANWIDTH=80 man --warnings -l "$man_page" 2>&1 >/dev/null)
[[ -z $warnings ]] || fail "man warns: $warnings"
described=$(MANWIDTH=80 man -l "$man_page" 2>/dev/null | sed -n '/^OPTIONS$/,/^[A-Z]/p')
options=$("${run[@]}" --help | grep -oE '(^|[ ,])--?[a-zA-Z][a-z-]*' | tr -d ' ,' | sort -u)
[[ $(wc -l <<<"$options") -ge 7 ]] || fail "--help lists too few options: $options"
for option in $options; do
    grep -qE -- "(^|[^a-z-])$option([^a-z-]|$)" <<<"$described" || fail "the man page's OPTIONS do not describe $option"
done

# Launch at login on: the entry the installed program writes starts it and shows the packaged icon.
printf '[General]\nlaunchAtLogin=true\n' >"$home/.config/Quillary/Quillary.conf"
"${run[@]}" >"$work/quillary.log" 2>&1 &
pid=$!
poll grep -q ' — access: ' "$work/quillary.log" ||
    fail "the installed program did not start watching: $(cat "$work/quillary.log")"
entry=$home/.config/autostart/$app_id.desktop
[[ $(grep '^Icon=' "$entry") == "Icon=$app_id" ]] || fail "the autostart entry's icon is not $app_id"
"${run[@]}" --quit >/dev/null
if ! poll eval '! kill -0 "$pid" 2>/dev/null'; then
    fail "the installed program did not quit" # the clean-up ends it
else
    wait "$pid" || fail "the installed program ended with status $?: $(cat "$work/quillary.log")"
    pid=
fi

# The menu entry (Exec found on PATH) and the autostart entry start the installed program as a
# desktop does, through GLib's launcher; the running program then answers --quit.
launched_by() {
    local entry=$1 log=$work/launched.log answer
    env -i HOME="$home" PATH="$root/usr/bin:/usr/bin:/bin" XDG_RUNTIME_DIR="$work/run" \
        QT_QPA_PLATFORM=offscreen gio launch "$entry" >"$log" 2>&1 || { fail "gio cannot launch $entry: $(cat "$log")"; return; }
    poll grep -q ' — access: ' "$log" || fail "$entry did not start the program: $(cat "$log")"
    answer=$("${run[@]}" --quit 2>&1)
    [[ $answer != *"Not running"* ]] || fail "$entry started no program that --quit could reach"
    not_running() { "${run[@]}" --quit 2>&1 | grep -q "Not running"; }
    poll not_running || fail "the program $entry started did not quit"
}
if command -v gio >/dev/null; then
    launched_by "$desktop"
    [[ -f $entry ]] && launched_by "$entry"
else
    fail "gio is not installed (scripts/setup.sh installs libglib2.0-bin)"
fi

# apt finds every dependency among the packages it knows (installed or listed), without installing.
if command -v apt-get >/dev/null; then
    apt-get install --simulate "$deb" >"$work/apt.log" 2>&1 ||
        { cat "$work/apt.log"; fail "apt-get cannot resolve the package's dependencies"; }
fi

if ((failures > 0)); then
    echo "❌ $failures check(s) of $(basename "$deb") failed"
    exit 1
fi
echo "✅ $(basename "$deb") checked"
