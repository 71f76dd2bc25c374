#!/usr/bin/env bash
# Ctrl+C on the console that a Windows launcher and its VM share, under Wine: Wine delivers
# console events only to programs on a real console, so each case runs tests/console_driver
# inside a pseudo-terminal (script), where it starts the launcher and sends CTRL_C_EVENT to
# every process on the console.
# - A VM that cleans up for 600 ms on Ctrl+C and then exits 130: the clean-up completes and
#   the launcher exits 130, as the VM does.
# - A VM that takes Ctrl+C and goes on: a second Ctrl+C ends it, and the launcher exits 1.
# Arguments: tools/wine-run, the launcher, the stand-in VM, the console driver.
set -euo pipefail
wine_run=$1
launcher=$2
stand_in_vm=$3
driver=$4

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/jdk/bin"
cp "$launcher" "$work/se_javac.exe"
cp "$stand_in_vm" "$work/jdk/bin/java.exe"
windows_work="Z:${work//\//\\}"
printf 'JDK_HOME=%s\\jdk\n' "$windows_work" >"$work/morle_tool.cfg"

failed=0
# run_case <name> <events> <signals to exit> <expected result> <expected log, a regex>
run_case() {
    local name=$1 events=$2 to_exit=$3 expected_result=$4 expected_log=$5
    rm -f "$work/log" "$work/pid" "$work/result"
    STAND_IN_PID_FILE="$windows_work\\pid" STAND_IN_SIGNAL_LOG="$windows_work\\log" \
        STAND_IN_SIGNALS_TO_EXIT=$to_exit STAND_IN_CLEANUP_MS=600 STAND_IN_EXIT=130 \
        STAND_IN_SLEEP_MS=60000 timeout 120 script -qec \
        "'$wine_run' '$driver' '$windows_work\\result' $events '\"$windows_work\\se_javac.exe\" x'" \
        /dev/null >"$work/console.txt" 2>&1 || true
    local result log
    # The driver's last line is its result; lines before it note starts it tried again.
    result=$(tr -d '\r' <"$work/result" 2>/dev/null | tail -n 1 || true)
    result=${result:-no result}
    tr -d '\r' <"$work/result" 2>/dev/null | head -n -1 | sed "s/^/$name: /" || true
    log=$(tr '\n' '|' <"$work/log" 2>/dev/null || true)
    if [[ $result == "$expected_result" && $log =~ $expected_log ]]; then
        echo "$name: $result, the VM logged $log"
    else
        echo "FAILED: $name: $result (expected $expected_result), the VM logged '$log'" \
            "(expected '$expected_log')"
        failed=1
    fi
}

run_case "Ctrl+C, the VM cleans up and exits 130" 1 1 "exit 130" '^0\|cleaned up\|$'
# The second event may reach the VM's handler before the launcher ends the VM, or not.
run_case "Ctrl+C twice, the VM takes both and goes on" 2 100 "exit 1" '^0\|(0\|)?$'
exit $failed
