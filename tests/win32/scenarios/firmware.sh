# Firmware scenarios: the update dialog on a real window, and the co-processors' firmware
# over serial ports, with the co-processor simulator of the host build on pseudo-terminals
# mapped as COM2 (MCU) and COM3 (MPEG module). Sourced by scripts/wine-e2e.sh.

# A firmware image of SIZE random bytes with TEXT at OFFSET: firmware_image FILE SIZE OFFSET TEXT
firmware_image() {
  mkdir -p "$(dirname "$root/$1")"
  head -c "$2" /dev/urandom >"$root/$1"
  printf '%s' "$4" | dd of="$root/$1" bs=1 seek="$3" conv=notrunc status=none
}

# --- An MCU update is asked for but no card holds its file: the dialog counts the seconds
# down on its window's timer, gives up and starts the application.
device detection-countdown
program ResidentFlash3/ZEL/Velmoran.exe
put ResidentFlash2/UpdateInfo.dat '\4\0\0\0'
run --progress
expect_status 0
seq 20 -1 1 | sed 's/^/detecting update files /' >"$work/detection-countdown.expected"
diff -u "$work/detection-countdown.expected" "$root/out" >"$root/diff" ||
  fail "progress lines differ: $(cat "$root/diff")"
expect_started ResidentFlash3/ZEL/Velmoran.exe
finish

# --- An MCU update: the image goes to the MCU block by block, its identification lands in
# RawData, and the dialog stays on the reset countdown (the unit is reset from outside).
device mcu-update
program ResidentFlash3/ZEL/Velmoran.exe
firmware_image SDHC/ZEL_Update/MCU 131072 131047 MCU-WINE-1
put ResidentFlash2/UpdateInfo.dat '\4\0\0\0'
coprocessor 2 mcu --image-out "$root/mcu-received.bin" --log "$root/mcu-sim.log"
coprocessor 3 mpeg --log "$root/mpeg-sim.log"
run_until "reset countdown 0" --progress
expect_status stopped
cmp -s "$root/SDHC/ZEL_Update/MCU" "$root/mcu-received.bin" ||
  fail "the MCU received another image ($(stat -c %s "$root/mcu-received.bin" 2>/dev/null) bytes)"
for line in "MCU preparing" "MCU 50%" "MCU success" "reset countdown 30" "reset countdown 0"; do
  expect_output "$line"
done
for line in "Read MCU update file: 128k" "MCU Version:MCU-SIM-1.0" "MCU Date:240601" \
  "S:5a a5 03 00 01 fc " "S:5a a5 02 17 e7 " "S:5a a5 02 14 ea "; do
  expect_line "$line"
done
# The simulated MCU's record: version (17 bytes), date (6), a spare byte, 8 bytes of CAN text.
expect_file ResidentFlash2/RawData \
  4d43552d53494d2d312e300000000000003234303630310043414e2d53494d00
expect_file ResidentFlash2/UpdateInfo.dat 00000000
grep -q MPEG "$root/out" && fail "an MPEG stage was shown"
expect_not_started ResidentFlash3/ZEL/Velmoran.exe
finish

# --- The MCU reports a programming error after the transfer: the dialog shows the code,
# closes and starts the application.
device mcu-update-fails
program ResidentFlash3/ZEL/Velmoran.exe
firmware_image SDHC/ZEL_Update/MCU 131072 131047 MCU-WINE-2
put ResidentFlash2/UpdateInfo.dat '\4\0\0\0'
coprocessor 2 mcu --result 40 --log "$root/mcu-sim.log"
coprocessor 3 mpeg --log "$root/mpeg-sim.log"
run --progress
expect_status 0
expect_output "MCU failed, error code 32"
grep -q "MCU success\|reset countdown" "$root/out" && fail "a success was shown"
expect_line "MCU Thread Closed!"
expect_started ResidentFlash3/ZEL/Velmoran.exe
finish

# --- An MPEG update whose card comes in while the dialog counts down: the next tick finds
# it, the module takes the image and writes its flash, and the loader closes the dialog and
# starts the application. The MCU is told of the update before and after.
device mpeg-update
program ResidentFlash3/ZEL/Velmoran.exe
firmware_image card/SDHC/ZEL_Update/DVDROM.bin 100000 48 MPG-WINE-7
put ResidentFlash2/UpdateInfo.dat '\10\0\0\0'
coprocessor 2 mcu --log "$root/mcu-sim.log"
coprocessor 3 mpeg --image-out "$root/mpeg-received.bin" --alive-ms 5 --flash-ms 25 \
  --log "$root/mpeg-sim.log"
(  # the card, in one move, once the countdown shows 19
  for _ in $(seq 300); do
    grep -qxF "detecting update files 19" "$root/out" 2>/dev/null && break
    sleep 0.1
  done
  mv "$root/card/SDHC" "$root/SDHC"
) &
card=$!
run --progress
wait "$card"
expect_status 0
expect_output "detecting update files 19"
grep -qxF "detecting update files 16" "$root/out" && fail "the card was not found on the next ticks"
cmp -s "$root/SDHC/ZEL_Update/DVDROM.bin" "$root/mpeg-received.bin" ||
  fail "the MPEG module received another image"
for line in "MPEG preparing" "MPEG writing flash" "MPEG success"; do
  expect_output "$line"
done
for line in "Read MPEG update file: 97k" "MPEG Ver:MPG-1.0" "MPEG Thread Closed!" \
  "MCU Thread Closed!"; do
  expect_line "$line"
done
grep -q "MPEG_UPDATE_MODE: 5a a5 05 03 01 00 08 ef" "$root/mcu-sim.log" ||
  fail "the MCU was not told of the MPEG update"
grep -q "MPEG_UPDATE_MODE: 5a a5 05 03 01 00 00 f7" "$root/mcu-sim.log" ||
  fail "the MCU was not told that the MPEG update is over"
expect_started ResidentFlash3/ZEL/Velmoran.exe
[ -e "$root/ResidentFlash2/RawData" ] && fail "RawData was written"
finish
