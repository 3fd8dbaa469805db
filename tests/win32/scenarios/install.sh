# Application install scenarios: request word 2 with a package on "SDHC", unpacked by the
# Windows zCompress.dll. Sourced by scripts/wine-e2e.sh, which provides device, put,
# program, run, expect_*. The packages come from the host's mkpackage (QUARRIN_HOST_BUILD,
# default build); the touch keys go into the prefix's registry.

host_build="$(realpath -m "${QUARRIN_HOST_BUILD:-build}")"
mkpackage="$host_build/tools/mkpackage/mkpackage"
[ -x "$mkpackage" ] || mkpackage="$host_build/tools/mkpackage"
touch_key='HKLM\HARDWARE\DEVICEMAP\TOUCH'

# The unit's folders, the library in "Windows", the shell, and request word 2.
install_device() {
  device "$1"
  mkdir -p "$root"/{Windows,ResidentFlash,ResidentFlash2,ResidentFlash3}
  cp "$build/tools/zCompress.dll" "$root/Windows/"
  program Windows/explorer.exe
  put ResidentFlash2/UpdateInfo.dat '\2\0\0\0'
}

# make_package VERSION: packs the folder $content (which holds ZEL/) as SDHC\ZEL_Update\ZEL.bin.
make_package() {
  mkdir -p "$root/SDHC/ZEL_Update"
  "$mkpackage" --version "$1" -o "$root/SDHC/ZEL_Update/ZEL.bin" "$content" >/dev/null ||
    fail "mkpackage failed"
}

# make_tar_package: packs $content with tar and zstd behind a package header, as a technician
# might by hand; mkpackage itself refuses the names the installer refuses.
make_tar_package() {
  local package="$root/SDHC/ZEL_Update/ZEL.bin" c
  mkdir -p "$root/SDHC/ZEL_Update"
  # "ZEL-OKUN-1" and the version "V1" in UTF-16LE, NUL-padded to the archive at offset 64.
  { for c in Z E L - O K U N - 1 V 1; do printf '%s\0' "$c"; done; head -c 40 /dev/zero; } \
    >"$package"
  tar -C "$content" -c . | zstd -q -c >>"$package" || fail "tar or zstd failed"
}

# expect_progress LINE...: of the progress lines, those given appear in this order (each once;
# the others are not looked at).
expect_progress() {
  local expected
  expected="$(printf '%s\n' "$@")"
  tr -d '\r' <"$root/out" | grep -xF -f <(printf '%s\n' "$@") | uniq >"$root/progress.seen"
  [ "$(cat "$root/progress.seen")" = "$expected" ] ||
    fail "progress lines: $(tr '\n' '|' <"$root/progress.seen"), expected $(tr '\n' '|' <<<"$expected")"
}

missing=()
[ -x "$mkpackage" ] || missing+=("the host build's mkpackage ($mkpackage: bash scripts/build.sh build)")
[ -f "$build/tools/zCompress.dll" ] ||
  missing+=("$build/tools/zCompress.dll (zstd and libarchive for Windows: bash scripts/setup-win32.sh, then build again)")
if ((${#missing[@]})); then
  printf 'FAIL install: missing %s\n' "${missing[@]}"
  failures=$((failures + 1))
  return 0
fi
# The touch key of the device, which the import only opens (HARDWARE is volatile: reg.exe
# cannot create keys there).
"$wine" "$build/volatile-key.exe" 'HARDWARE\DEVICEMAP\TOUCH' ||
  { echo "FAIL install: cannot create $touch_key"; failures=$((failures + 1)); }

# --- A package replaces the application: exactly its files, the backup, the record, the keys.
install_device app-install
content="$work/app-install-pkg"
mkdir -p "$content/ZEL/res" "$content/ZEL/字库"
cp "$build/start-marker.exe" "$content/ZEL/Velmoran.exe"
head -c 3000000 /dev/urandom >"$content/ZEL/res/strings.dat"  # read in several steps
printf 'glyphs' >"$content/ZEL/字库/宋体.fnt"
: >"$content/ZEL/res/empty.dat"
make_package V3.1.4
put ResidentFlash3/ZEL/old.dat old
put 'ResidentFlash3/_Temp_$/part.dat' part
put ResidentFlash2/UserConfig.dat settings
# 800 (20 03 00 00) as MAX3_X, 100 as MIN3_X.
put 硬盘/ZEL_Update/Touchkey.bin "$(printf '\\0%.0s' $(seq 32))\x20\x03\0\0\x64\0\0\0$(printf '\\0%.0s' $(seq 104))"
"$wine" reg delete "$touch_key" /v MAX3_X /f >/dev/null 2>&1 || true
run --progress
expect_status 0
diff -r "$content/ZEL" "$root/ResidentFlash3/ZEL" >"$root/diff" 2>&1 ||
  fail "ResidentFlash3\\ZEL differs from the package: $(cat "$root/diff")"
[ "$(ls -A "$root/ResidentFlash3")" = ZEL ] ||
  fail "ResidentFlash3 holds $(ls -A "$root/ResidentFlash3" | tr '\n' ' ')"
cmp -s "$root/SDHC/ZEL_Update/ZEL.bin" "$root/ResidentFlash/ZEL.bin" ||
  fail "ResidentFlash\\ZEL.bin is not the package"
[ ! -e "$root/ResidentFlash2/UserConfig.dat" ] || fail "the user files were kept"
expect_file ResidentFlash2/UpdateInfo.dat 00000000
expect_progress "application preparing" "application 100%" "application backup" \
  "application success"
tr -d '\r' <"$root/out" | grep -qE '^application [1-9][0-9]?%$' ||
  fail "the library posted no percentage between 0 and 100"
expect_line "LoadLibrary zCompress.dll OK!"
expect_line "CP OK!"
grep -q '^SpaceInfo:[0-9]*,2$' "$root/err.lines" || fail "no SpaceInfo line for the 2 MiB package"
"$wine" reg query "$touch_key" /v MAX3_X 2>/dev/null | tr -d '\r' | grep -qi 'REG_DWORD *0x320$' ||
  fail "MAX3_X is not 800 in $touch_key"
"$wine" reg query "$touch_key" /v MIN3_X 2>/dev/null | tr -d '\r' | grep -qi 'REG_DWORD *0x64$' ||
  fail "MIN3_X is not 100 in $touch_key"
expect_started ResidentFlash3/ZEL/Velmoran.exe
finish

# --- A damaged archive fails with 1000 minus the library's code (-4) and asks for a retry.
install_device corrupt-package
content="$work/corrupt-package-pkg"
mkdir -p "$content/ZEL"
cp "$build/start-marker.exe" "$content/ZEL/Velmoran.exe"
head -c 200000 /dev/urandom >"$content/ZEL/data.bin"
make_package V1
printf 'garbage-garbage-garbage' |
  dd of="$root/SDHC/ZEL_Update/ZEL.bin" bs=1 seek=200 conv=notrunc status=none
put ResidentFlash/ZEL.bin 'old backup'
run --progress
expect_status 0
expect_file ResidentFlash2/UpdateInfo.dat 02000000
expect_progress "application preparing" "application failed, error code 1004"
[ "$(cat "$root/ResidentFlash/ZEL.bin")" = 'old backup' ] || fail "the backup was touched"
grep -q '^SpaceInfo' "$root/err.lines" && fail "a backup was considered after the failure"
expect_line "CP Failed!Error Code:3"
expect_started Windows/explorer.exe
finish

# --- A file without a package marker fails with 1003 (code -3); nothing is unpacked.
install_device bad-header
mkdir -p "$root/SDHC/ZEL_Update"
printf 'not a package at all, just some text' >"$root/SDHC/ZEL_Update/ZEL.bin"
run --progress
expect_status 0
expect_file ResidentFlash2/UpdateInfo.dat 02000000
expect_progress "application preparing" "application failed, error code 1003"
[ -z "$(ls -A "$root/ResidentFlash3")" ] || fail "something was unpacked"
finish

# --- Names that Windows would turn into other names or devices are refused (code -5): "..."
# would become "..", the parent folder, and "NUL.dat" the null device. The package holds a
# file before the bad name and the application and another file after it: the unpack is
# staged, so a refusal leaves nothing in ResidentFlash3, and with no application the shell
# starts. Had the name been taken, "..." would put "evil" into ResidentFlash3, the null device
# would swallow "NUL.dat", and the unpacked application would start.
for name in NUL.dat ...; do
  install_device "unsafe-name-${name//./dot}"
  content="$work/$scenario-pkg"
  mkdir -p "$content/ZEL"
  printf 'first' >"$content/ZEL/-first.dat"
  if [ "$name" = ... ]; then
    mkdir -p "$content/ZEL/$name"
    printf 'payload' >"$content/ZEL/$name/evil"
  else
    printf 'payload' >"$content/ZEL/$name"
  fi
  cp "$build/start-marker.exe" "$content/ZEL/Velmoran.exe"
  printf 'last' >"$content/ZEL/z-last.dat"
  make_tar_package
  run --progress
  expect_status 0
  expect_file ResidentFlash2/UpdateInfo.dat 02000000
  expect_progress "application preparing" "application failed, error code 1005"
  left="$(cd "$root/ResidentFlash3" && find . -mindepth 1 | LC_ALL=C sort | tr '\n' ' ')"
  [ -z "$left" ] || fail "ResidentFlash3 holds $left, expected nothing"
  [ -z "$(find "$work" -name evil -not -path "$content/*")" ] ||
    fail "an entry was written outside its folder: $(find "$work" -name evil -not -path "$content/*")"
  expect_started Windows/explorer.exe
  expect_not_started ResidentFlash3/ZEL/Velmoran.exe
  finish
done

# pack_one_file: a small package of one file as SDHC\ZEL_Update\ZEL.bin.
pack_one_file() {
  content="$work/$scenario-pkg"
  mkdir -p "$content/ZEL"
  cp "$build/start-marker.exe" "$content/ZEL/Velmoran.exe"
  make_package "$1"
}

# --- No library in "Windows" nor at the medium's root: code 12, a retry is asked for; the
# application folder stays as it was (here without a program, so the shell starts).
install_device no-library
rm "$root/Windows/zCompress.dll"
put ResidentFlash3/ZEL/old.dat old
pack_one_file V1
run --progress
expect_status 0
expect_file ResidentFlash2/UpdateInfo.dat 02000000
expect_progress "application preparing" "application failed, error code 12"
expect_line "LoadLibrary zCompress.dll Failed!"
[ "$(cat "$root/ResidentFlash3/ZEL/old.dat")" = old ] || fail "the application folder was touched"
expect_line "CP Failed!Error Code:2"
expect_started Windows/explorer.exe
finish

# --- A library without the unpack export (the formatter's DLL under the library's name):
# code 14; the application folder stays as it was.
install_device missing-export
cp "$build/modules/fatutil.dll" "$root/Windows/zCompress.dll"
put ResidentFlash3/ZEL/old.dat old
pack_one_file V1
run --progress
expect_status 0
expect_file ResidentFlash2/UpdateInfo.dat 02000000
expect_progress "application preparing" "application failed, error code 14"
expect_line "GetProcAddress Failed!"
[ "$(cat "$root/ResidentFlash3/ZEL/old.dat")" = old ] || fail "the application folder was touched"
expect_started Windows/explorer.exe
finish

# --- The library at the medium's root serves when "Windows" has none.
install_device library-on-medium
pack_one_file V2
mv "$root/Windows/zCompress.dll" "$root/SDHC/zCompress.dll"
run --progress
expect_status 0
expect_line "LoadLibrary Windows zCompress.dll Failed! 126"
expect_line "LoadLibrary zCompress.dll OK!"
expect_progress "application preparing" "application success"
expect_file ResidentFlash2/UpdateInfo.dat 00000000
expect_started ResidentFlash3/ZEL/Velmoran.exe
finish
