#!/usr/bin/env bash
# Runs test programs (or some of their cases) again at other display
# scales: for each DPI the prefix's LogPixels is set, a fresh wineserver
# reads it, and an X screen as many times larger as the scale keeps the
# screen's size at 100 % what the other tests see. Everything is put back
# afterwards, also when a run fails.
#   run_at_dpi.sh "144 192" program [doctest options] [-- program2 [options]]...
set -u
dpis=$1
shift
wine=${TESSEL_WINE:?run by the test command}
server=${TESSEL_WINESERVER:?run by the test command}
logs=${TESSEL_BUILD_DIR:?run by the test command}/logs
mkdir -p "$logs"
display=${DISPLAY:-}
xvfb_pid=

set_dpi() {
    "$wine" reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$1" /f \
        >>"$logs/wine.log" 2>&1 </dev/null
    "$wine" reg add 'HKLM\System\CurrentControlSet\Hardware Profiles\Current\Software\Fonts' \
        /v LogPixels /t REG_DWORD /d "$1" /f >>"$logs/wine.log" 2>&1 </dev/null
}

restart_server() {
    "$server" -k >/dev/null 2>&1
    "$server" -w >/dev/null 2>&1
    "$server" -p >/dev/null 2>&1 </dev/null
    "$wine" cmd /c exit >>"$logs/wine.log" 2>&1 </dev/null
}

stop_xvfb() {
    if [ -n "$xvfb_pid" ]; then
        kill "$xvfb_pid" 2>/dev/null
        wait "$xvfb_pid" 2>/dev/null
        xvfb_pid=
    fi
}

put_back() {
    set_dpi 96
    "$server" -k >/dev/null 2>&1
    "$server" -w >/dev/null 2>&1
    stop_xvfb
    export DISPLAY=$display
    "$server" -p >/dev/null 2>&1 </dev/null
    "$wine" cmd /c exit >>"$logs/wine.log" 2>&1 </dev/null
}
trap put_back EXIT

start_xvfb() {
    local fdfile=$logs/xvfb-dpi.display
    rm -f "$fdfile"
    Xvfb -displayfd 9 -screen 0 "$(( 1024 * $1 / 96 ))x$(( 768 * $1 / 96 ))x24" -nolisten tcp \
        9>"$fdfile" >"$logs/xvfb-dpi.log" 2>&1 </dev/null &
    xvfb_pid=$!
    for _ in $(seq 100); do
        [ -s "$fdfile" ] && break
        sleep 0.1
    done
    [ -s "$fdfile" ] || { echo "run_at_dpi.sh: Xvfb did not start" >&2; exit 1; }
    export DISPLAY=:$(head -n1 "$fdfile")
}

status=0
for dpi in $dpis; do
    "$server" -k >/dev/null 2>&1
    "$server" -w >/dev/null 2>&1
    stop_xvfb
    start_xvfb "$dpi"
    set_dpi "$dpi"
    restart_server
    command=()
    for arg in "$@" --; do
        if [ "$arg" = -- ]; then
            [ ${#command[@]} -gt 0 ] || continue
            echo "== ${command[*]} at $dpi dpi"
            # Only doctest's own summary counts: a crash can end with 0.
            output=$(TESSEL_TEST_DPI=$dpi "$wine" "${command[@]}" 2>&1 </dev/null)
            echo "$output"
            echo "$output" | grep -q "Status: SUCCESS!" || status=1
            command=()
        else
            command+=("$arg")
        fi
    done
done
[ "$status" = 0 ] && echo "all runs at other DPIs passed"
exit "$status"
