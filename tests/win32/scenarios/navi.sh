# Navigation scenarios: request word 0x40, the folder "硬盘\navi_update" replaces the content
# of "Storage Card" (formatted through the storage manager and fatutil.dll on the way).
# Sourced by scripts/wine-e2e.sh, which provides device, put, program, run, expect_*.

# A device that asks for the navigation update, with the formatter in "\Windows" and old
# content on the card.
navi_device() {
  device "$1"
  put ResidentFlash2/UpdateInfo.dat '\x40\0\0\0'
  program ResidentFlash3/ZEL/Velmoran.exe
  mkdir -p "$root/Windows"
  cp "$build/modules/fatutil.dll" "$root/Windows/fatutil.dll"
  put "Storage Card/old/map.dat" 'old map'
}

# Every entry below a folder, one a line: "f PATH SIZE" or "d PATH", in byte order.
tree_listing() {
  (cd "$1" && find . -mindepth 1 -printf '%y %P %s\n') |
    sed 's/^d \(.*\) [0-9]*$/d \1/' | LC_ALL=C sort
}

# The debug lines of a navigation run: the start, the lines of the update given on standard
# input, and the end that launches the application.
expect_navi_lines() {
  {
    echo "Quarrin 2.0.0.24(50 times timeout) starting......"
    echo "MCU-COM2-DisableCalitration"
    cat
    printf '%s\n' "Quarrin Release Object..." "CP OK!" "Quarrin Quit!"
  } >"$work/$scenario.lines"
  sed -i 's/^Total Time:[0-9]* ms$/Total Time:<n> ms/' "$root/err.lines"
  expect_lines "$work/$scenario.lines"
}

expect_progress() { grep -qxF "$1" "$root/out" || fail "no progress line '$1' in: $(cat "$root/out")"; }

# --- A tree with sub-folders and Chinese names: the card ends up holding it exactly, plus
# the marker and the placeholders the folder does not replace. The deletion before the
# format skips folders whose names begin with a dot: only the format removes this one, with
# its read-only file.
navi_device navi-update
put "Storage Card/.cache/tile.dat" 'old tile'
chmod a-w "$root/Storage Card/.cache/tile.dat"
put "硬盘/navi_update/maps/asia/china.map" "$(printf 'c%.0s' $(seq 5000))"
put "硬盘/navi_update/maps/europe.map" 'e'
put "硬盘/navi_update/xip.bin" 'small xip'
put "硬盘/navi_update/voice/中文.wav" 'voice'
put "硬盘/navi_update/路线/北京/道路.dat" 'roads'
mkdir -p "$root/硬盘/navi_update/empty folder"
run --progress
expect_status 0
source_tree="$root/硬盘/navi_update"
{
  tree_listing "$source_tree"
  for placeholder in "UPDOS 0" "logo.bmp 2097152" "NANDINFO 65536" "PQ.bin 2097152" \
    "xip.bin 41943040" "EROM_RTK.bin 2097152"; do
    [ -e "$source_tree/${placeholder% *}" ] || echo "f $placeholder"
  done
} | LC_ALL=C sort >"$work/navi-update.expected"
tree_listing "$root/Storage Card" >"$work/navi-update.actual"
diff -u "$work/navi-update.expected" "$work/navi-update.actual" >"$root/diff" ||
  fail "the card's tree differs: $(cat "$root/diff")"
while IFS= read -r -d '' file; do
  cmp -s "$source_tree/$file" "$root/Storage Card/$file" || fail "Storage Card/$file differs"
done < <(cd "$source_tree" && find . -type f -print0)
for placeholder in UPDOS logo.bmp NANDINFO PQ.bin EROM_RTK.bin; do
  file="$root/Storage Card/$placeholder"
  [ -f "$file" ] && ! cmp -s -n "$(stat -c %s "$file")" "$file" /dev/zero &&
    fail "$placeholder is not zero-filled"
done
expect_navi_lines <<'LINES'
Total File Count:5
FormatDevice Begin...
FindFirstPartition Part00 DSK1: \Storage Card
CreatePartition Failed!Error Code:183
Fortmat Device Finished!
Total Time:<n> ms
LINES
expect_progress "navigation preparing"
expect_progress "navigation success"
expect_started ResidentFlash3/ZEL/Velmoran.exe
finish

# --- A navigation folder with sub-folders but no file: code 22, the card is not touched.
navi_device navi-empty
mkdir -p "$root/硬盘/navi_update/maps/asia"
run --progress
expect_status 0
expect_progress "navigation failed, error code 22"
echo "Total File Count:0" | expect_navi_lines
expect_file "Storage Card/old/map.dat" "$(printf 'old map' | od -An -tx1 | tr -d ' \n')"
expect_started ResidentFlash3/ZEL/Velmoran.exe
finish

# --- Without fatutil.dll in "\Windows" the card is emptied and dismounted, not formatted, and
# mounted again at once: the copy reaches it.
navi_device navi-no-formatter
rm "$root/Windows/fatutil.dll"
put "硬盘/navi_update/a.map" 'a'
run --progress
expect_status 0
expect_navi_lines <<'LINES'
Total File Count:1
FormatDevice Begin...
FindFirstPartition Part00 DSK1: \Storage Card
Error LoadLibrary fatutil.dll!Error Code:126
Fortmat Device Finished!
Total Time:<n> ms
LINES
expect_progress "navigation success"
expect_file "Storage Card/a.map" 61
[ -e "$root/Storage Card/old" ] && fail "the old content is still on the card"
[ -e "$root/Storage Card (dismounted)" ] && fail "the parked folder is left behind"
finish

# --- No "Storage Card" folder at start: no card, code 23 before anything is touched; the
# loader makes no folder of that name.
navi_device navi-no-card
rm -r "$root/Storage Card"
put "硬盘/navi_update/maps/a.map" 'a'
run --progress
expect_status 0
printf '%s\n' "Total File Count:1" "No card in Storage Card!Error Code:2" | expect_navi_lines
expect_progress "navigation failed, error code 23"
[ -e "$root/Storage Card" ] && fail "the loader made a card folder"
expect_started ResidentFlash3/ZEL/Velmoran.exe
finish

# --- "Storage Card" and "SDHC" lead to one card reader's folder (or "SDHC" to a folder of it):
# emptying the card would delete the source, so the update refuses with code 24 and both stay.
for layout in same nested; do
  navi_device "navi-source-on-card-$layout"
  rm -r "$root/Storage Card"
  medium="$root/reader"
  [ "$layout" = nested ] && medium="$root/reader/update"
  put "${medium#"$root/"}/navi_update/maps/a.map" 'a'
  put "reader/old.map" 'old'
  ln -s "$root/reader" "$root/Storage Card"
  ln -s "$medium" "$root/SDHC"
  run --progress
  expect_status 0
  printf '%s\n' "Total File Count:1" \
    'Navigation source SDHC\navi_update lies on Storage Card' | expect_navi_lines
  expect_progress "navigation failed, error code 24"
  expect_file "${medium#"$root/"}/navi_update/maps/a.map" 61
  expect_file "reader/old.map" 6f6c64
  finish
done
