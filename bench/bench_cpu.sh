#!/usr/bin/env bash
# CPU time of the real Tessel.exe and of the prefix's wineserver while Tessel
# shows live sensors: (a) the default tablet scenario, (b) the same with the
# accelerometer, compass and inclinometer reporting about 60 times a second,
# (c) as (b) with a chart open for each of those three sensors.
# Each scenario runs the program once; the figures are the user and system
# time the two processes used over the measured seconds (read from /proc),
# as a percentage of one core, beside the goal. The floor runs each scenario
# too: bench_sensor_floor.exe subscribes to the same simulated sensors and
# reads every report but shows nothing, so its figures are the simulator's
# and Wine's delivery, which any viewer pays. For (c) the floor also puts a
# ready picture of a chart's size on the screen in three windows at a
# chart's frame rate, as any live chart must. For (a) and (b) a second
# floor also shows every value as plain text, each changed one drawn again
# at Tessel's refresh pace: what any viewer of live values pays.
#
# Runs inside a session (tools/bench.sh): needs DISPLAY, WINEPREFIX,
# TESSEL_WINE, TESSEL_WINESERVER and TESSEL_BUILD_DIR.
# TESSEL_BENCH_CPU_SECONDS changes the measured time (20 s); letters as
# arguments (a b c) run only those scenarios.
set -euo pipefail

seconds=${TESSEL_BENCH_CPU_SECONDS:-20}
root=$(cd "$(dirname "$0")/.." && pwd)
exe=$TESSEL_BUILD_DIR/Tessel.exe
driver=$TESSEL_BUILD_DIR/TesselDriver.exe
floor=$TESSEL_BUILD_DIR/bench/bench_sensor_floor.exe
scenarios=$TESSEL_BUILD_DIR/bench-cpu
ticks_per_second=$(getconf CLK_TCK)
mkdir -p "$scenarios"

# User plus system time of a process in clock ticks (fields 14 and 15 of
# stat; the command name before them may hold spaces, so count from its ')').
cpu_ticks() {
    local stat
    stat=$(cat "/proc/$1/stat" 2>/dev/null) || { echo 0; return; }
    stat=${stat##*) }
    set -- $stat
    echo $((${12} + ${13}))
}

# The wineserver of this prefix runs in a server folder named after the
# prefix's device and inode (under a temporary folder whose name varies);
# other sessions' servers run elsewhere.
prefix_wineserver() {
    local folder pid
    folder=$(printf 'server-%x-%x' "$(stat -c %d "$WINEPREFIX")" "$(stat -c %i "$WINEPREFIX")")
    for pid in $(pgrep -x 'wineserver(32|64)?' || true); do
        if [ "$(basename "$(readlink "/proc/$pid/cwd" 2>/dev/null)")" = "$folder" ]; then
            echo "$pid"
            return
        fi
    done
}

# The default scenario with the three motion and orientation sensors at a
# 16 ms interval.
make_fast_scenario() {
    awk '
        /^\[/ { fast = ($0 == "[Accelerometer]" || $0 == "[Compass]" || $0 == "[Inclinometer]") }
        fast && /^Interval=/ { print "Interval=16"; next }
        { print }
    ' "$root/simulator/scenarios/default.ini" >"$scenarios/fast.ini"
}

percent() { awk -v t="$1" -v hz="$ticks_per_second" -v s="$2" 'BEGIN { printf "%.2f", 100 * t / hz / s }'; }

windows_path() { printf 'Z:%s' "$(echo "$1" | tr / '\\')"; }

# Opens the charts of the sensor rows given (0 = the first sensor).
open_charts() {
    local row
    for row in "$@"; do
        "$TESSEL_WINE" "$driver" select "$row" >/dev/null 2>&1 &&
            "$TESSEL_WINE" "$driver" chart >/dev/null 2>&1 || return 1
    done
}

# Runs Tessel, or with "floor" as the fourth argument the floor program,
# with a scenario for the measured time; prints one table row and keeps
# the row's total in last_total. Sensor rows after "tessel" as the fourth
# argument get a chart each; after "floor" come the floor's count of windows
# presenting frames and, optionally, "values".
last_total=0
measure() {
    local name=$1 scenario=$2 goal=$3 kind=${4:-tessel} goal_text tessel server t0 s0 t1 s1 tessel_pct server_pct total
    shift 3
    [ $# -gt 0 ] && shift
    if [ "$kind" = floor ]; then
        TESSEL_SENSOR_SCENARIO=$(windows_path "$scenario") "$TESSEL_WINE" "$floor" $((seconds + 4)) "${1:-0}" ${2:-} \
            >>"$TESSEL_BUILD_DIR/logs/bench-cpu.log" 2>&1 </dev/null &
        tessel=$!
    else
        TESSEL_SENSOR_SCENARIO=$(windows_path "$scenario") \
            "$TESSEL_WINE" "$exe" >>"$TESSEL_BUILD_DIR/logs/bench-cpu.log" 2>&1 </dev/null &
        tessel=$!
        "$TESSEL_WINE" "$driver" wait >/dev/null 2>&1 || { echo "$name: Tessel did not start"; return 1; }
        open_charts "$@" || { echo "$name: the charts did not open"; return 1; }
    fi
    # Let start-up settle before the measured time begins.
    sleep 2
    server=$(prefix_wineserver)
    [ -n "$server" ] || { echo "$name: no wineserver for the prefix"; return 1; }
    t0=$(cpu_ticks "$tessel")
    s0=$(cpu_ticks "$server")
    sleep "$seconds"
    t1=$(cpu_ticks "$tessel")
    s1=$(cpu_ticks "$server")
    if [ "$kind" != floor ]; then
        "$TESSEL_WINE" "$driver" close >/dev/null 2>&1 || true
    fi
    wait "$tessel" 2>/dev/null || true
    tessel_pct=$(percent $((t1 - t0)) "$seconds")
    server_pct=$(percent $((s1 - s0)) "$seconds")
    total=$(percent $((t1 - t0 + s1 - s0)) "$seconds")
    last_total=$total
    [ "$goal" = - ] && goal_text=- || goal_text="<= $goal%"
    printf '%-40s %10s%% %10s%% %10s%% %10s\n' "$name" "$tessel_pct" "$server_pct" "$total" "$goal_text"
}

# Prints a program's total over a floor's as one table row.
ratio() {
    awk -v name="$1" -v over="$2" -v under="$3" -v goal="$4" 'BEGIN {
        printf "%-40s %34s %10s\n", name, (under > 0 ? sprintf("%.2fx", over / under) : "-"), goal }'
}

# Scenarios to run: the letters given as arguments, or all of them.
wanted=${*:-a b c}
runs() { [[ " $wanted " == *" $1 "* ]]; }

make_fast_scenario
echo "CPU time over $seconds s of the running program, % of one core"
printf '%-40s %11s %11s %11s %10s\n' "scenario" "program" "wineserver" "in all" "goal"
if runs a; then
    measure "(a) default tablet scenario" "$root/simulator/scenarios/default.ini" 1
    program=$last_total
    measure "(a) floor: reports read, nothing shown" "$root/simulator/scenarios/default.ini" - floor
    ratio "(a) over the floor" "$program" "$last_total" "<= 1.3x"
    measure "(a) floor: values shown as plain text" "$root/simulator/scenarios/default.ini" - floor 0 values
    ratio "(a) over the values floor" "$program" "$last_total" -
fi
if runs b; then
    measure "(b) three sensors at Interval=16" "$scenarios/fast.ini" 5
    program=$last_total
    measure "(b) floor: reports read, nothing shown" "$scenarios/fast.ini" - floor
    ratio "(b) over the floor" "$program" "$last_total" -
    measure "(b) floor: values shown as plain text" "$scenarios/fast.ini" - floor 0 values
    ratio "(b) over the values floor" "$program" "$last_total" -
fi
# Rows 1 to 3: the accelerometer, the compass and the inclinometer.
if runs c; then
    measure "(c) as (b), a chart of each of the three" "$scenarios/fast.ini" 5 tessel 1 2 3
    measure "(c) floor: (b)'s, three pictures at 30/s" "$scenarios/fast.ini" - floor 3
fi
