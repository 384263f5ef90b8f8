# Sourced by the project's scripts: installs what is missing, then chooses
# the target, the build folder, the Wine loader and the private Wine prefix.
# The choice looks at the installed Wine, so it is made only after setup.sh
# has run; scripts started by a script that has already chosen inherit the
# choice.
#
# Tessel is a 32-bit program (i686). Some hosts (kernels without IA-32
# emulation) cannot execute 32-bit code at all, so Wine cannot run i686
# programs there; on those the tests run the x86_64 build instead.
# TESSEL_ARCH=i686|x86_64 overrides the choice.

TESSEL_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
source "$TESSEL_ROOT/tools/steps.sh"

tessel_can_run_i386() {
    [ -x /usr/lib/wine/wine ] && /usr/lib/wine/wine --version >/dev/null 2>&1
}

tessel_choose_wine() {
    tessel_step "choosing the target and the Wine loader"
    if [ -z "${TESSEL_ARCH:-}" ]; then
        if tessel_can_run_i386; then TESSEL_ARCH=i686; else TESSEL_ARCH=x86_64; fi
    fi
    case "$TESSEL_ARCH" in
        i686) TESSEL_WINE=/usr/lib/wine/wine ;;
        x86_64) TESSEL_WINE=/usr/lib/wine/wine64 ;;
        *) tessel_die "TESSEL_ARCH is '$TESSEL_ARCH', not i686 or x86_64" ;;
    esac
    [ -x "$TESSEL_WINE" ] || tessel_die "the Wine loader $TESSEL_WINE for $TESSEL_ARCH is not installed"
    # A 64-bit prefix needs the 64-bit server; it also serves 32-bit
    # programs through WOW64. Only a Wine without wine64 uses the 32-bit one.
    TESSEL_WINESERVER=/usr/lib/wine/wineserver64
    if [ ! -x "$TESSEL_WINESERVER" ]; then
        [ "$TESSEL_ARCH" = i686 ] || tessel_die "wine64 is installed without /usr/lib/wine/wineserver64"
        TESSEL_WINESERVER=/usr/lib/wine/wineserver32
    fi
    [ -x "$TESSEL_WINESERVER" ] || tessel_die "no wineserver is installed"
    export TESSEL_ARCH TESSEL_WINE TESSEL_WINESERVER
    export TESSEL_BUILD_DIR=${TESSEL_BUILD_DIR:-$TESSEL_ROOT/build/$TESSEL_ARCH}
    export WINEPREFIX=${TESSEL_WINEPREFIX:-$TESSEL_BUILD_DIR/wineprefix}
    export WINELOADER=$TESSEL_WINE
    export WINESERVER=$TESSEL_WINESERVER
    export TESSEL_ENV_READY=1
}

if [ -z "${TESSEL_ENV_READY:-}" ]; then
    tessel_step "installing the packages"
    "$TESSEL_ROOT/tools/setup.sh"
    tessel_choose_wine
fi
export WINEDEBUG=-all
# Wine keeps Windows file names in the character set of the Unix locale, and
# only UTF-8 holds every name; a clean environment (cron, chroot, CI) has the
# C locale, in which names beyond ASCII cannot be created.
if [ "$(locale charmap 2>/dev/null)" != UTF-8 ]; then
    export LC_ALL=C.UTF-8
fi
# WinINet applies these, and loopback requests then fail.
unset http_proxy https_proxy no_proxy HTTP_PROXY HTTPS_PROXY NO_PROXY
