# Sourced after session.sh: tessel_set_dpi DPI sets the prefix's display
# scale and restarts the wineserver so that the next program sees it.
tessel_set_dpi() {
    tessel_wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$1" /f
    tessel_wine reg add 'HKLM\System\CurrentControlSet\Hardware Profiles\Current\Software\Fonts' \
        /v LogPixels /t REG_DWORD /d "$1" /f
    "$TESSEL_WINESERVER" -k >/dev/null 2>&1 || true
    "$TESSEL_WINESERVER" -w >/dev/null 2>&1 || true
    "$TESSEL_WINESERVER" -p >/dev/null 2>&1 </dev/null || true
    tessel_wine cmd /c exit
}
