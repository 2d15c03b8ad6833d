#!/usr/bin/env bash
# Headless auto-move to JPEG into a linked folder with a too long prefix, given odd names (all filed under
# names that fit), links named like screenshots (left alone) and a PNG claiming 100,000 x 100,000 pixels
# (kept, reported on one line); then a start on a stored list of 100,000 folders (kept aside whole).
set -uo pipefail
unset DISPLAY

source "$(dirname "$0")/common.sh"
e2e_begin hostile "${1:-}" convert identify iconv
home=$work/home
conf=$home/.config/Quillary/Quillary.conf
desktop=$home/Desktop
filed=$work/filed # where the destination folder's link points
new_home "$desktop" "$home/Pictures" "$home/Documents" "$filed"
ln -s "$filed" "$home/Pictures/Filed"
convert -size 300x200 gradient:red-blue "$work/shot.png"

prefix=$(printf 'é%.0s' {1..150}) # 300 bytes
write_conf() { settings showPopup=false autoMove=true selectedFolderID=$folder_id <"$1" >"$conf"; }
take() { # take NAME [FILE]: a screenshot written whole under NAME, which may hold escapes
    local name
    printf -v name '%b' "$1"
    cp "${2:-$work/shot.png}" "$desktop/.incoming"
    mv "$desktop/.incoming" "$desktop/$name"
}

scenario=names-and-links
echo "[$(folder_json $folder_id Filed Pictures/Filed true "$prefix" true jpg)]" >"$work/folders.json"
write_conf "$work/folders.json"
log=$work/names.log
check "Quillary starts" start_headless
for name in 'Screenshot\nline.png' 'Screenshot \xff\xfe.png' '-Screenshot.png' '--help Screenshot.png' \
    "Screenshot $(printf 'x%.0s' {1..240}).png"; do
    take "$name"
done
take 'Screen\nshot.png' # no marker: not a screenshot
# A header that claims 100,000 x 100,000 RGBA pixels (40 GB), then 4 KiB of zero rows and IEND.
printf '\x89PNG\r\n\x1a\n\x00\x00\x00\x0dIHDR\x00\x01\x86\xa0\x00\x01\x86\xa0\x08\x06\x00\x00\x00\xa8\x52'\
'\x0b\xc8\x00\x00\x00\x1aIDAT\x78\xda\xed\xc1\x01\x0d\x00\x00\x00\xc2\xa0\xf7\x4f\x6d\x0f\x07\x14\x00\x00'\
'\x00\xf0\x6e\x10\x00\x00\x01\x9b\x68\x54\x63\x00\x00\x00\x00IEND\xae\x42\x60\x82' >"$work/huge.png"
take 'Screenshot\nhuge.png' "$work/huge.png"
cp "$work/shot.png" "$work/outside.png"
ln -s "$work/outside.png" "$desktop/Screenshot outside.png"
ln -s "$home/Documents" "$desktop/Screenshot dir.png"
ln -s "$work/missing.png" "$desktop/Screenshot dangling.png"
ln -s "Screenshot loop.png" "$desktop/Screenshot loop.png"

five_filed() { [[ $(find "$filed" -maxdepth 1 -type f -name '*.jpg' | wc -l) -eq 5 ]]; }
check "the five odd names are filed into the linked folder" wait_until 20 five_filed
check "the huge PNG is reported on one line" \
    wait_until 10 grep -q '^❌ Move failed: .*/Screenshot\\nhuge\.png → .*: the file could not be decoded$' "$log"
sleep 1 # a scan or two more
check "... and nothing else is filed" five_filed
filed_well() {
    local f name
    for f in "$filed"/*.jpg; do
        name=${f##*/}
        [[ $(printf %s "$name" | wc -c) -le 255 && $name == é*_20[0-9][0-9]-[01][0-9]-[0-3][0-9]_00[1-5].jpg ]] &&
            printf %s "$name" | iconv -f UTF-8 -t UTF-8 >/dev/null 2>&1 &&
            identify -regard-warnings "$f" >/dev/null 2>&1 || {
            echo "  not as it should be: $name"
            return 1
        }
    done
}
check "each is a whole JPEG named in 255 bytes of valid UTF-8, the prefix cut between characters" filed_well
left() { (cd "$desktop" && find . -maxdepth 1 ! -name . -print0 | LC_ALL=C sort -z | tr '\0' '|'); }
expected=$'./Screen\nshot.png|./Screenshot\nhuge.png|./Screenshot dangling.png|./Screenshot dir.png|'
expected+='./Screenshot loop.png|./Screenshot outside.png|'
check "only the huge PNG, the unmarked name and the four links are left" test "$(left)" == "$expected"
check "the huge PNG is kept whole" cmp -s "$work/huge.png" "$desktop/Screenshot"$'\n'"huge.png"
check "the links and what they point at are untouched" test "$(readlink "$desktop/Screenshot outside.png")" \
    == "$work/outside.png" -a "$(readlink "$desktop/Screenshot loop.png")" == "Screenshot loop.png" \
    -a -z "$(ls -A "$home/Documents")" -a "$(cksum <"$work/outside.png")" == "$(cksum <"$work/shot.png")"
check "no temporary file is left" test -z "$(find "$filed" "$desktop" -name '.*.quillary-*')"
# A line break in a name printed as it is would start a line with the rest of the name.
check "no log line begins inside a file name" test -z "$(grep '^\(huge\|line\|shot\)\.png' "$log")"
quit

scenario=many-folders
awk 'BEGIN {
    printf "["
    for (i = 0; i < 100000; i++)
        printf "%s{\"id\":\"%08X-4F89-41D3-9A0C-0305E82C3301\",\"name\":\"F%d\",\"path\":\"Desktop/F%d\",\"icon\":\"folder.fill\",\"isRenamingEnabled\":false,\"prefix\":\"\",\"includeDate\":false,\"fileFormat\":\"png\"}", i ? "," : "", i + 1, i, i
    printf "]"
}' >"$work/many.json"
write_conf "$work/many.json"
began=$EPOCHREALTIME
log=$work/many.log
check "Quillary starts" start_headless
echo "   (started in $(seconds_since "$began") s on a $(stat -c %s "$work/many.json")-byte list)"
kept=$home/.config/Quillary/savedFolders_v2_unreadable.json
check "the list is reported as kept in a file of its own" \
    grep -q "^⚠️ Quillary: The saved folder list could not be read; it was kept in $kept before" "$log"
check "... which holds it whole" cmp -s "$work/many.json" "$kept"
standard_folders() { tr -d '\\' <"$conf" | grep -o '"path":"\(Desktop\|Documents\|Downloads\|Pictures\)"' | wc -l; }
check "the settings file is small again, with the four standard folders" \
    test "$(stat -c %s "$conf")" -lt 10000 -a "$(standard_folders)" -eq 4
quit

scenario=all
e2e_end
