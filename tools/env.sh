# Sourced by the project's scripts: chooses the target, the build folder,
# the Wine loader and the private Wine prefix.
#
# Tessel is a 32-bit program (i686). Some hosts (kernels without IA-32
# emulation) cannot execute 32-bit code at all, so Wine cannot run i686
# programs there; on those the tests run the x86_64 build instead.
# TESSEL_ARCH=i686|x86_64 overrides the choice.

TESSEL_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

tessel_can_run_i386() {
    [ -x /usr/lib/wine/wine ] && /usr/lib/wine/wine --version >/dev/null 2>&1
}

if [ -z "${TESSEL_ARCH:-}" ]; then
    if tessel_can_run_i386; then TESSEL_ARCH=i686; else TESSEL_ARCH=x86_64; fi
fi
export TESSEL_ARCH
export TESSEL_BUILD_DIR=${TESSEL_BUILD_DIR:-$TESSEL_ROOT/build/$TESSEL_ARCH}
export WINEPREFIX=${TESSEL_WINEPREFIX:-$TESSEL_BUILD_DIR/wineprefix}
if [ "$TESSEL_ARCH" = i686 ]; then
    export TESSEL_WINE=/usr/lib/wine/wine
else
    export TESSEL_WINE=/usr/lib/wine/wine64
fi
export WINELOADER=$TESSEL_WINE
export TESSEL_WINESERVER=/usr/lib/wine/wineserver64
[ -x "$TESSEL_WINESERVER" ] || TESSEL_WINESERVER=/usr/lib/wine/wineserver32
export WINESERVER=$TESSEL_WINESERVER
export WINEDEBUG=-all
# WinINet applies these, and loopback requests then fail.
unset http_proxy https_proxy no_proxy HTTP_PROXY HTTPS_PROXY NO_PROXY
