#!/usr/bin/env bash
# Cuts the power at every mutating file operation of an update and checks that the unit
# recovers by itself.
#
# For each scenario: build a fresh device, boot once cleanly while counting the mutating
# operations (N), then for every k in 1..N boot a fresh copy with a cut at k (a clean cut,
# and for writes and copies a torn one that leaves half of the bytes), and boot that device
# again, with the medium still inserted, until a boot launches the main application without
# an update (or 5 boots). The end state is classified:
#   app-ok        the main application starts and is the new one or the intact old one
#   retried       as app-ok, reached only after a later boot repeated the update
#   navi-updated  the card holds the whole navigation tree
#   navi-retried  as navi-updated, reached only after a later boot repeated the update
#   navi-old      the card keeps its old navigation data; the update was not repeated
#   navi-lost     the card lacks navigation data that the medium holds (finding)
#   restored      the main application, gone before the first boot, was restored from the
#                 backup package in that boot and starts
#   restored-retried  as restored, reached only after later boots (a search for a medium,
#                 then the restore again); in app-away: the old application, restored from
#                 the backup package at a later boot
#   stuck         the main application cannot start and no boot retries the update (finding)
#   corrupt-app   a damaged main application is started (finding)
#   +backup-damaged  suffix: the backup package is neither the old nor the new one (finding)
#   +no-backup    suffix: no backup package: a cut came while the old one was already gone and
#                 the new one not yet whole; the next install makes it again (not a finding)
#   boot-loop     5 boots without settling (finding)
#   crash         a boot ended with another exit code than 0 (finding)
# Firmware (an MPEG and an MCU update against two coproc-sim, restarted for every boot; a
# boot that ends on the reset countdown counts as reset by the unit), per co-processor:
#   fw-done       the co-processor received its whole image in the first boot, then the
#                 unit starts the main application
#   fw-retried    as fw-done, but in a later boot: the cut boot did not start programming
#   fw-repeated   as fw-done, after the firmware stage ran in more than one boot
#   fw-old        no boot got the co-processor into programming; it keeps its old firmware
#                 and the update is not repeated (the request word was consumed)
#   fw-interrupted  the co-processor was told to start programming, no boot completed it,
#                 and no later boot retries
#
# Usage: scripts/power-cut-sweep.sh [--size FILES] [--scenario NAME]... [--every N] [--list]
#                                   [--build DIR] [--work DIR] [--keep]
# Scenarios: app (application update from SDHC), app-away (the same, with the medium taken
# out after the cut boot), navi (navigation update), firmware (MPEG and MCU images from SDHC,
# request 0x0C), restore (the application folder is gone, the backup package is good, no
# medium).
# --every N cuts only at every N-th operation (1, 1+N, ...), for a quick run; --list prints
# the end state of every cut.
# Exits 1 when a cut ends in a finding.
set -euo pipefail

size=3
every=1
list=0
build=build
work=""
keep=0
scenarios=()
while [ $# -gt 0 ]; do
  case "$1" in
    --size) size="$2"; shift 2 ;;
    --scenario) scenarios+=("$2"); shift 2 ;;
    --every) every="$2"; shift 2 ;;
    --list) list=1; shift ;;
    --build) build="$2"; shift 2 ;;
    --work) work="$2"; shift 2 ;;
    --keep) keep=1; shift ;;
    -h|--help) sed -n '2,45p' "$0"; exit 0 ;;
    *) echo "unknown option $1" >&2; exit 2 ;;
  esac
done
[ ${#scenarios[@]} -eq 0 ] && scenarios=(app app-away navi restore firmware)
build=$(cd "$build" && pwd)
quarrin="$build/quarrin"
tools="$build/tools"
sim="$tools/coproc-sim/coproc-sim"
[ -x "$quarrin" ] || { echo "no quarrin binary in $build" >&2; exit 2; }
if [ -z "$work" ]; then
  base=/tmp
  [ -d /dev/shm ] && [ -w /dev/shm ] && base=/dev/shm
  work=$(mktemp -d "$base/power-cut.XXXXXX")
fi
mkdir -p "$work"
[ "$keep" = 1 ] || trap 'rm -rf "$work"' EXIT
MAX_BOOTS=5
CLOCK_RATE=200
# The firmware stages resend START_PROGRAM only ten times, 2.5 s apart: a faster clock would
# let a busy machine fail them with 41.
FIRMWARE_CLOCK_RATE=50

# --- devices ------------------------------------------------------------------------------

put_main_application() {  # DEVICE FOLDER-BELOW-DEVICE
  mkdir -p "$1/$2"
  printf '#!/bin/sh\nexit 0\n' > "$1/$2/Velmoran.exe"
  chmod +x "$1/$2/Velmoran.exe"
}

common_device() {  # DEVICE
  local d="$1"
  mkdir -p "$d"/{ResidentFlash,ResidentFlash2,ResidentFlash3,ResidentFlash4,Windows,SDHC,硬盘}
  printf '#!/bin/sh\nexit 0\n' > "$d/Windows/explorer.exe"
  chmod +x "$d/Windows/explorer.exe"
  put_main_application "$d" ResidentFlash3/ZEL
  echo "old" > "$d/ResidentFlash3/ZEL/old.dat"
  printf 'settings' > "$d/ResidentFlash2/UserConfig.dat"
}

# The application package's content: the main application and `size` data files.
app_content() {  # FOLDER
  put_main_application "$1" ZEL
  mkdir -p "$1/ZEL/res"
  for i in $(seq 1 "$size"); do
    head -c $((20000 + i * 1000)) /dev/zero | tr '\0' "$(printf \\$(printf '%03o' $((97 + i % 26))))" \
      > "$1/ZEL/res/data$i.dat"
  done
}

make_app_device() {  # DEVICE
  local d="$1"
  common_device "$d"
  cp "$tools/zCompress.dll" "$d/Windows/"
  # The unit carries the backup package of its current application.
  put_main_application "$work/old-content" ZEL; echo "old" > "$work/old-content/ZEL/old.dat"
  "$tools/mkpackage" --version V1.0 -o "$d/ResidentFlash/ZEL.bin" "$work/old-content" >/dev/null
  rm -rf "$work/old-content"
  app_content "$work/app-content"
  mkdir -p "$d/SDHC/ZEL_Update"
  "$tools/mkpackage" --version V9.9 -o "$d/SDHC/ZEL_Update/ZEL.bin" "$work/app-content" >/dev/null
  cp "$d/SDHC/ZEL_Update/ZEL.bin" "$work/package.new"
  printf '\x02\x00\x00\x00' > "$d/ResidentFlash2/UpdateInfo.dat"
  (cd "$work/app-content/ZEL" && find . -type f -exec md5sum {} + | sort -k2) > "$work/app.expected"
  (cd "$d/ResidentFlash3/ZEL" && find . -type f -exec md5sum {} + | sort -k2) > "$work/app.old"
  rm -rf "$work/app-content"
  cp "$d/ResidentFlash/ZEL.bin" "$work/backup.old"
}

make_navi_device() {  # DEVICE
  local d="$1"
  common_device "$d"
  cp "$tools/fatutil.dll" "$d/Windows/"
  mkdir -p "$d/Storage Card/old" "$d/硬盘/navi_update/maps" "$d/硬盘/navi_update/voice"
  echo "old map" > "$d/Storage Card/old/map.dat"
  for i in $(seq 1 "$size"); do
    head -c $((3000 + i * 100)) /dev/urandom > "$d/硬盘/navi_update/maps/m$i.map"
  done
  echo "voice" > "$d/硬盘/navi_update/voice/zh.wav"
  printf '\x40\x00\x00\x00' > "$d/ResidentFlash2/UpdateInfo.dat"
}

# A unit whose application folder is gone (a failed install after its deletion, a cut
# followed by a boot without the medium), with the backup package of its application.
make_restore_device() {  # DEVICE
  local d="$1"
  common_device "$d"
  cp "$tools/zCompress.dll" "$d/Windows/"
  app_content "$work/backup-content"
  "$tools/mkpackage" --version V1.0 -o "$d/ResidentFlash/ZEL.bin" "$work/backup-content" >/dev/null
  (cd "$work/backup-content/ZEL" && find . -type f -exec md5sum {} + | sort -k2) > "$work/restore.expected"
  rm -rf "$work/backup-content" "$d/ResidentFlash3/ZEL"
  cp "$d/ResidentFlash/ZEL.bin" "$work/backup.old"
  printf '\x00\x00\x00\x00' > "$d/ResidentFlash2/UpdateInfo.dat"
}

make_firmware_device() {  # DEVICE
  local d="$1"
  common_device "$d"
  mkdir -p "$d/SDHC/ZEL_Update" "$d/硬盘/ZEL_Update"
  head -c 131072 /dev/urandom > "$d/SDHC/ZEL_Update/MCU"
  head -c 24000 /dev/urandom > "$d/SDHC/ZEL_Update/DVDROM.bin"
  head -c 144 /dev/zero > "$d/硬盘/ZEL_Update/Touchkey.bin"
  printf '\x0c\x00\x00\x00' > "$d/ResidentFlash2/UpdateInfo.dat"
}

# --- classification -------------------------------------------------------------------------

tree_sums() {  # FOLDER
  [ -d "$1" ] || return 0
  (cd "$1" && find . -type f -exec md5sum {} + | sort -k2)
}

app_state() {  # DEVICE BOOTS LASTLOG
  local d="$1" boots="$2" log="$3"
  if ! grep -q "CP OK!" "$log"; then echo stuck; return; fi
  local now; now=$(tree_sums "$d/ResidentFlash3/ZEL")
  # The backup package is what a restore would unpack: it must be the old or the new one.
  local backup="$d/ResidentFlash/ZEL.bin" suffix="+backup-damaged"
  if cmp -s "$backup" "$work/backup.old" || cmp -s "$backup" "$work/package.new"; then
    suffix=""
  elif [ ! -e "$backup" ]; then
    suffix="+no-backup"
  fi
  if [ "$now" = "$(cat "$work/app.expected")" ]; then
    if [ "$boots" -gt 2 ]; then echo "retried$suffix"; else echo "app-ok$suffix"; fi
  elif [ "$now" = "$(cat "$work/app.old")" ]; then
    echo "app-ok$suffix"
  else
    echo corrupt-app
  fi
}

# The same unit as app; the boots after the cut have no medium, so nothing repeats the
# install: a boot either starts what is there or restores from the backup.
make_app-away_device() {  # DEVICE
  make_app_device "$1"
}

app-away_state() {  # DEVICE BOOTS LASTLOG
  local d="$1" log="$3" state
  state=$(app_state "$d" 1 "$log")
  if [ "${state%%+*}" = app-ok ] && grep -qs "Detect SystemFile Damaged" "$d".boot*.log; then
    echo "restored-retried${state#app-ok}"
  else
    echo "$state"
  fi
}

navi_state() {  # DEVICE BOOTS LASTLOG
  local d="$1" boots="$2" log="$3"
  if ! grep -q "CP OK!" "$log"; then echo stuck; return; fi
  if [ -f "$d/Storage Card/old/map.dat" ]; then
    echo navi-old
  elif diff -rq "$d/硬盘/navi_update" "$d/Storage Card" 2>/dev/null | grep -q "^Only in $d/硬盘\|differ$"; then
    echo navi-lost
  elif [ -d "$d/Storage Card/maps" ]; then
    if [ "$boots" -gt 2 ]; then echo navi-retried; else echo navi-updated; fi
  else
    echo navi-lost
  fi
}

restore_state() {  # DEVICE BOOTS LASTLOG
  local d="$1" boots="$2" log="$3"
  if ! grep -q "CP OK!" "$log"; then echo stuck; return; fi
  local suffix="+backup-damaged"
  cmp -s "$d/ResidentFlash/ZEL.bin" "$work/backup.old" && suffix=""
  if [ "$(tree_sums "$d/ResidentFlash3/ZEL")" != "$(cat "$work/restore.expected")" ]; then
    echo corrupt-app
  elif [ "$boots" -gt 2 ]; then
    echo "restored-retried$suffix"
  else
    echo "restored$suffix"
  fi
}

# One co-processor's end state over the boots of DEVICE.
coprocessor_state() {  # DEVICE KIND IMAGE
  local d="$1" kind="$2" image="$3" started=0 done_boot=0 f n
  for f in "$d".$kind.boot*.log; do
    [ -e "$f" ] || continue
    if grep -q "recv START_PROGRAM" "$f"; then started=$((started + 1)); fi
  done
  for f in "$d".$kind.boot*.img; do
    [ -e "$f" ] || continue
    n=${f##*.boot}; n=${n%.img}
    if cmp -s "$f" "$image" && { [ $done_boot -eq 0 ] || [ "$n" -lt $done_boot ]; }; then
      done_boot=$n
    fi
  done
  if [ $done_boot -gt 0 ] && [ $started -gt 1 ]; then echo fw-repeated
  elif [ $done_boot -gt 1 ]; then echo fw-retried
  elif [ $done_boot -gt 0 ]; then echo fw-done
  elif [ $started -gt 0 ]; then echo fw-interrupted
  else echo fw-old
  fi
}

firmware_state() {  # DEVICE BOOTS LASTLOG
  local d="$1" log="$3"
  if ! grep -q "CP OK!" "$log"; then echo stuck; return; fi
  local mpeg mcu
  mpeg=$(coprocessor_state "$d" mpeg "$d/SDHC/ZEL_Update/DVDROM.bin")
  mcu=$(coprocessor_state "$d" mcu "$d/SDHC/ZEL_Update/MCU")
  echo "mpeg:$mpeg,mcu:$mcu"
}

# Boots a firmware device once, with fresh co-processor simulators on pseudo-terminals.
# A boot that reaches the end of the reset countdown is ended there, as the unit would be
# reset; it then counts as a normal end (0).
boot_firmware() {  # DEVICE BOOT ENV...
  local d="$1" boot="$2"; shift 2
  local sims=() tty_mcu tty_mpeg loader code=0 result=()
  # NOTE: the count of mutating operations is written when the loader exits, and a good MCU
  # stage never exits (it stays on the countdown). The counting boot therefore lets the MCU
  # report a failed programming: the same operations up to the result, then an exit.
  case "$*" in *QUARRIN_COUNT_MUTATIONS*) result=(--result 1) ;; esac
  "$sim" mcu "${result[@]}" --image-out "$d.mcu.boot$boot.img" --log "$d.mcu.boot$boot.log" \
    > "$d.mcu.tty" &
  sims+=($!)
  "$sim" mpeg --alive-ms 5 --flash-ms 25 --image-out "$d.mpeg.boot$boot.img" \
    --log "$d.mpeg.boot$boot.log" > "$d.mpeg.tty" &
  sims+=($!)
  for _ in $(seq 1 200); do
    [ -s "$d.mcu.tty" ] && [ -s "$d.mpeg.tty" ] && break
    sleep 0.01
  done
  tty_mcu=$(head -n 1 "$d.mcu.tty"); tty_mpeg=$(head -n 1 "$d.mpeg.tty")
  env "$@" "$quarrin" --root "$d" --log "$d.boot$boot.log" --clock-rate $FIRMWARE_CLOCK_RATE --progress \
    --com "2=$tty_mcu" --com "3=$tty_mpeg" > "$d.boot$boot.out" 2> "$d.boot$boot.err" &
  loader=$!
  for _ in $(seq 1 600); do
    kill -0 $loader 2>/dev/null || break
    if grep -qs "reset countdown 0$" "$d.boot$boot.out"; then
      kill $loader 2>/dev/null || true
      wait $loader 2>/dev/null || true
      loader=""
      break
    fi
    sleep 0.1
  done
  if [ -n "$loader" ]; then
    if kill -0 $loader 2>/dev/null; then kill -9 $loader; code=124; wait $loader 2>/dev/null || true
    else wait $loader || code=$?
    fi
  fi
  for pid in "${sims[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${sims[@]}"; do wait "$pid" 2>/dev/null || true; done
  return $code
}

# Boots DEVICE until it settles; the first boot gets the environment in CUT_ENV.
# Prints "STATE BOOTS CUTLINE".
boot_until_settled() {  # DEVICE SCENARIO
  local d="$1" scenario="$2" boots=0 log cutline="" code
  while [ $boots -lt $MAX_BOOTS ]; do
    boots=$((boots + 1))
    log="$d.boot$boots.log"
    set +e
    if [ "$scenario" = firmware ]; then
      if [ $boots -eq 1 ]; then
        boot_firmware "$d" $boots $CUT_ENV
      else
        boot_firmware "$d" $boots QUARRIN_NO_CUT=1
      fi
    elif [ $boots -eq 1 ]; then
      env $CUT_ENV timeout 60 "$quarrin" --root "$d" --log "$log" --clock-rate $CLOCK_RATE \
        > /dev/null 2> "$d.boot$boots.err"
    else
      timeout 60 "$quarrin" --root "$d" --log "$log" --clock-rate $CLOCK_RATE \
        > /dev/null 2> "$d.boot$boots.err"
    fi
    code=$?
    set -e
    # The medium is taken out after the first boot.
    if [ "$scenario" = app-away ] && [ $boots -eq 1 ]; then rm -rf "$d/SDHC/ZEL_Update"; fi
    if [ $code -eq 99 ] && [ $boots -eq 1 ]; then
      cutline=$(grep -m1 "power cut at" "$d.boot1.err" | sed 's/^quarrin: power cut at //')
      continue
    fi
    if [ $code -ne 0 ]; then echo "crash $boots exit$code:$cutline"; return; fi
    if grep -q "Detect SystemFile Well" "$log"; then
      echo "$("${scenario}_state" "$d" "$boots" "$log") $boots $cutline"
      return
    fi
  done
  echo "boot-loop $boots $cutline"
}

# --- sweep ---------------------------------------------------------------------------------

is_finding() {  # KIND
  case "$1" in
    stuck|corrupt-app|navi-lost|boot-loop|crash|*+backup-damaged|*fw-interrupted*) return 0 ;;
  esac
  return 1
}

sweep() {  # SCENARIO
  local scenario="$1" base="$work/$1-base" n k mode kind
  "make_${scenario}_device" "$base"
  rm -rf "$work/probe"; cp -a "$base" "$work/probe"
  local clean_state
  CUT_ENV="QUARRIN_COUNT_MUTATIONS=$work/$scenario.ops"
  clean_state=$(boot_until_settled "$work/probe" "$scenario")
  n=$(head -1 "$work/$scenario.ops")
  echo "== scenario $scenario: $n mutating operations; clean run ends ${clean_state%% *}"
  declare -A counts=()
  local cuts=0 torn=0 findings=()
  if is_finding "${clean_state%% *}"; then findings+=("${clean_state%% *} without a cut"); fi
  for k in $(seq 1 "$every" "$n"); do
    local op; op=$(sed -n "$((k + 1))p" "$work/$scenario.ops")
    for mode in clean torn; do
      if [ $mode = torn ]; then
        case "$op" in *" Write("*|*" Copy("*) ;; *) continue ;; esac
        torn=$((torn + 1))
        CUT_ENV="QUARRIN_POWER_CUT=$k QUARRIN_POWER_CUT_TORN=1"
      else
        cuts=$((cuts + 1))
        CUT_ENV="QUARRIN_POWER_CUT=$k"
      fi
      local d="$work/$scenario-$k-$mode"
      rm -rf "$d"; cp -a "$base" "$d"
      local result; result=$(boot_until_settled "$d" "$scenario")
      kind=${result%% *}
      counts[$kind]=$(( ${counts[$kind]:-0} + 1 ))
      if is_finding "$kind"; then findings+=("$kind k=$k $mode: $op"); fi
      if [ "$list" = 1 ]; then
        local boots=${result#* }
        echo "   $op ($mode): $kind after ${boots%% *} boots"
      fi
      [ "$keep" = 1 ] || rm -rf "$d" "$d".*
    done
  done
  echo "   cuts: $cuts clean, $torn torn"
  for kind in "${!counts[@]}"; do echo "   $kind: ${counts[$kind]}"; done | sort
  if [ ${#findings[@]} -eq 0 ]; then
    echo "   findings: none"
  else
    echo "   findings: ${#findings[@]}"
    printf '     %s\n' "${findings[@]}"
    found=1
  fi
}

found=0
for scenario in "${scenarios[@]}"; do
  case "$scenario" in
    app|app-away|navi|firmware|restore) sweep "$scenario" ;;
    *) echo "unknown scenario $scenario" >&2; exit 2 ;;
  esac
done
exit $found
