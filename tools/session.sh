# Sourced by test.sh and run.sh: a display, the private Wine prefix and a
# persistent wineserver for the length of one run, all ended on exit.

TESSEL_XVFB_PID=
TESSEL_LOG_DIR=$TESSEL_BUILD_DIR/logs
mkdir -p "$TESSEL_LOG_DIR"

tessel_end_session() {
    "$TESSEL_WINESERVER" -k >/dev/null 2>&1 || true
    "$TESSEL_WINESERVER" -w >/dev/null 2>&1 || true
    if [ -n "$TESSEL_XVFB_PID" ]; then
        kill "$TESSEL_XVFB_PID" 2>/dev/null || true
        wait "$TESSEL_XVFB_PID" 2>/dev/null || true
    fi
}

# Starts a private X server on a free display number.
tessel_start_xvfb() {
    tessel_step "starting Xvfb (log: $TESSEL_LOG_DIR/xvfb.log)"
    local fdfile=$TESSEL_LOG_DIR/xvfb.display
    rm -f "$fdfile"
    Xvfb -displayfd 9 -screen 0 "${TESSEL_XVFB_SCREEN:-1024x768x24}" -nolisten tcp 9>"$fdfile" \
        >"$TESSEL_LOG_DIR/xvfb.log" 2>&1 </dev/null &
    TESSEL_XVFB_PID=$!
    for _ in $(seq 100); do
        [ -s "$fdfile" ] && break
        sleep 0.1
    done
    [ -s "$fdfile" ] || tessel_die "Xvfb did not start within 10 s"
    export DISPLAY=:$(head -n1 "$fdfile")
}

tessel_wine() { "$TESSEL_WINE" "$@" >>"$TESSEL_LOG_DIR/wine.log" 2>&1 </dev/null; }

# Creates the prefix once: no Mono or Gecko prompts, no window manager
# delays, no crash dialog.
tessel_make_prefix() {
    local stamp=$WINEPREFIX/.tessel-ready
    [ -f "$stamp" ] && return 0
    echo "session: creating the Wine prefix $WINEPREFIX"
    tessel_step "creating the Wine prefix $WINEPREFIX"
    rm -rf "$WINEPREFIX"
    # wineboot may answer non-zero on a first start that still worked; the
    # prefix's registry tells whether it did.
    WINEDLLOVERRIDES="mscoree,mshtml=" tessel_wine wineboot -i || true
    "$TESSEL_WINESERVER" -w
    [ -f "$WINEPREFIX/system.reg" ] || tessel_die "wineboot made no prefix"
    tessel_wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f
    tessel_wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f
    "$TESSEL_WINESERVER" -w
    touch "$stamp"
}

# The 64-bit Wine loader does not find the fonts of fonts-wine (Tahoma,
# Marlett, ...) in its data folder; copies in the prefix's Fonts folder are
# found by both loaders.
tessel_install_fonts() {
    local fonts=$WINEPREFIX/drive_c/windows/Fonts
    [ -d /usr/share/wine/fonts ] && [ -d "$fonts" ] || return 0
    cp -n /usr/share/wine/fonts/*.ttf "$fonts"/ 2>/dev/null || true
}

# Registers the sensor simulator as the Sensor API of the prefix.
tessel_register_simulator() {
    tessel_step "registering the sensor simulator"
    local dll=$TESSEL_BUILD_DIR/simulator/SensorSim.dll
    [ -f "$dll" ] || return 0
    tessel_wine regsvr32 /s "$(winepath_w "$dll")"
}

winepath_w() { printf 'Z:%s' "$(echo "$1" | tr / '\\')"; }

tessel_start_session() {
    trap tessel_end_session EXIT
    TESSEL_FAILURE_HINT="Wine's output is in $TESSEL_LOG_DIR/wine.log"
    if [ -z "${DISPLAY:-}" ] || [ "${TESSEL_HEADLESS:-1}" = 1 ]; then
        tessel_start_xvfb
    fi
    tessel_make_prefix
    tessel_install_fonts
    # Answers 2 when a server for the prefix is still running: use that one.
    tessel_step "starting the wineserver and Wine's services"
    "$TESSEL_WINESERVER" -p >/dev/null 2>&1 </dev/null || true
    # The first program of a wineserver session starts Wine's own services
    # (explorer, rpcss), which inherit its output. Start them here with the
    # log as output, or every test's output pipe stays open behind them.
    tessel_wine cmd /c exit
    tessel_register_simulator
}

# Sets the prefix's display scale (dots per inch) and restarts its
# wineserver so that programs started from now on see it.
tessel_set_dpi() {
    tessel_wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$1" /f
    tessel_wine reg add 'HKLM\System\CurrentControlSet\Hardware Profiles\Current\Software\Fonts' \
        /v LogPixels /t REG_DWORD /d "$1" /f
    "$TESSEL_WINESERVER" -k >/dev/null 2>&1 || true
    "$TESSEL_WINESERVER" -w >/dev/null 2>&1 || true
    "$TESSEL_WINESERVER" -p >/dev/null 2>&1 </dev/null || true
    tessel_wine cmd /c exit
}
