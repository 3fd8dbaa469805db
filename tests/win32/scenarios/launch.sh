# Launch scenarios: no update requested, the loader starts the main application or the
# shell. Sourced by scripts/wine-e2e.sh, which provides device, put, program, run, expect_*.

# --- The direct launch: nothing requested, the system files are well, the application starts.
device direct-launch
program ResidentFlash3/ZEL/Velmoran.exe
run --log 'Q:\run.log'
expect_status 0
cat >"$work/direct-launch.expected" <<'LINES'
Quarrin 2.0.0.24(50 times timeout) starting......
MCU-COM2-DisableCalitration
ZEL Exist!
Detect SystemFile Well:<n>ms
CP OK!
Quarrin quit!
LINES
expect_lines "$work/direct-launch.expected"
cmp -s "$root/run.log" "$root/err" || fail "the log file differs from the debug output"
expect_started ResidentFlash3/ZEL/Velmoran.exe
finish

# --- The marker file starts the shell instead.
device shell-marker
program ResidentFlash3/ZEL/Velmoran.exe
program Windows/explorer.exe
put ResidentFlash3/gotoeee
run
expect_status 0
grep -q CP "$root/err.lines" && fail "a launch of the application was logged"
expect_started Windows/explorer.exe
expect_not_started ResidentFlash3/ZEL/Velmoran.exe
finish

# --- A missing application (its folder too) falls back to the shell.
device missing-application
put ResidentFlash2/UpdateInfo.dat '\0\0\0\0'
program Windows/explorer.exe
run
expect_status 0
expect_line "CP Failed!Error Code:3"
expect_started Windows/explorer.exe
finish

# --- A file that is no program is reported, and nothing starts.
device not-a-program
put ResidentFlash3/ZEL/Velmoran.exe 'not a program'
program Windows/explorer.exe
run
expect_status 0
expect_line "CP Failed!Error Code:193"
expect_not_started Windows/explorer.exe
finish
