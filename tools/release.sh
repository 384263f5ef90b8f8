#!/usr/bin/env bash
# Makes a release of Tessel: builds the 32-bit program in release mode and
# writes into dist/ (TESSEL_DIST_DIR chooses another folder):
#   Tessel-<version>.zip         the portable program and its read-me
#   Tessel-<version>-setup.exe   the installer (NSIS)
#   update-server/               the update server's content: copy it as it
#                                is to the server's document root
#   SHA256SUMS                   digests of all of the above
#
#   TESSEL_UPDATE_SIGNING_KEY=update-key.pem \
#   tools/release.sh [--cert CERT.pem --key KEY.pem [--pass PASSWORD]]
#                    [--serial N] [--expires-days DAYS] [-DNAME=VALUE ...]
#   TESSEL_UPDATE_SIGNING_KEY=update-key.pem \
#   tools/release.sh --resign dist/update-server/data/update.php [--serial N] [--expires-days DAYS]
#
# TESSEL_UPDATE_SIGNING_KEY names the maker's private P-256 key (PEM, kept
# outside the repository): its public key is built into the program and the
# update answer is signed with it; without it no release is made.
#
# The answer carries a serial and an expiry. The serial is the last one
# (kept in the file update-key.serial beside update-key.pem) + 1, or --serial;
# the expiry is the start of the day DAYS (90 by default) from today, UTC.
# --resign gives an answer already made a new expiry and serial and signs
# it again, without building: run it before the old expiry comes, or
# programs stop updating (see Releases in README.md).
# TESSEL_UPDATE_NEXT_KEY may name the public key (PEM) of the next key, which
# the program then accepts as well, so that the maker can change keys.
#
# With a certificate and key, Tessel.exe and the installer are signed with
# osslsigncode; without them nothing is signed and the script says so.
# -D options go to CMake (for example -DTESSEL_UPDATE_SERVER=http://...).
# TESSEL_RELEASE_ARCH=x86_64 makes the 64-bit variant (tests only).
source "$(dirname "$0")/env.sh"

cert= key= pass= serial= expires_days=90 resign=
cmake_args=()
while [ $# -gt 0 ]; do
    case "$1" in
        --cert) cert=$2; shift 2 ;;
        --key) key=$2; shift 2 ;;
        --pass) pass=$2; shift 2 ;;
        --serial) serial=$2; shift 2 ;;
        --expires-days) expires_days=$2; shift 2 ;;
        --resign) resign=$2; shift 2 ;;
        -D*) cmake_args+=("$1"); shift ;;
        *) tessel_die "unknown argument '$1' (see the top of $0)" ;;
    esac
done
if [ -n "$cert$key" ] && { [ -z "$cert" ] || [ -z "$key" ]; }; then
    tessel_die "signing needs both --cert and --key"
fi
signing_key=${TESSEL_UPDATE_SIGNING_KEY:-}
if [ -z "$signing_key" ] || [ ! -r "$signing_key" ]; then
    tessel_die "no key for the update answer: TESSEL_UPDATE_SIGNING_KEY must name the maker's private P-256 key (PEM; see Releases in README.md)"
fi
# A key of another curve would build, and every answer signed with it would
# be refused by the program: refused here instead.
public_key=$(openssl pkey -in "$signing_key" -pubout 2>/dev/null | sed '1d;$d' | tr -d '\n')
case "$public_key" in
    MFkwEwYHKoZIzj0CAQYIKoZIzj0DAQcDQgAE*) [ ${#public_key} -eq 124 ] ;;
    *) false ;;
esac || tessel_die "$signing_key is not the private key of a P-256 (prime256v1) key pair"
[[ "$expires_days" =~ ^[1-9][0-9]*$ ]] || tessel_die "--expires-days needs a positive number of days"
serial_file=${signing_key%.pem}.serial
if [ -z "$serial" ]; then
    last=$(cat "$serial_file" 2>/dev/null || echo 0)
    [[ "$last" =~ ^[0-9]+$ ]] || tessel_die "$serial_file does not hold a serial"
    serial=$((last + 1))
fi
[[ "$serial" =~ ^[1-9][0-9]*$ ]] && [ "$serial" -le 4294967295 ] ||
    tessel_die "the serial must be a positive number below 2^32"
expires=$(date -u -d "today + $expires_days days" +%Y-%m-%dT00:00:00Z)

# Signs the update answer: the signature covers every byte of the answer
# before its own last line (base64 of openssl's DER signature); the program
# reads nothing else. The serial used is kept for the next release.
sign_answer() {
    local signature
    signature=$(openssl dgst -sha256 -sign "$signing_key" "$1" | base64 -w0)
    [ -n "$signature" ] || tessel_die "openssl could not sign $1"
    printf '<!--tessel-signature:%s-->\n' "$signature" >>"$1"
    echo "$serial" >"$serial_file"
}

if [ -n "$resign" ]; then
    [ -f "$resign" ] || tessel_die "no update answer at $resign"
    tessel_step "renewing $resign: expires $expires, serial $serial"
    "$TESSEL_ROOT/tools/release_files.py" refresh "$resign" "$expires" "$serial"
    sign_answer "$resign"
    sums=$(dirname "$resign")/../../SHA256SUMS
    if [ -f "$sums" ]; then
        (cd "$(dirname "$sums")" && find . -type f ! -name SHA256SUMS | sed 's|^\./||' |
            LC_ALL=C sort | xargs sha256sum >SHA256SUMS)
    fi
    echo "release: $resign signed again, valid until $expires"
    exit 0
fi

arch=${TESSEL_RELEASE_ARCH:-i686}
build=${TESSEL_RELEASE_BUILD_DIR:-$TESSEL_ROOT/build/release-$arch}
dist=${TESSEL_DIST_DIR:-$TESSEL_ROOT/dist}
# Times inside the release come from the sources, never from the clock.
epoch=${SOURCE_DATE_EPOCH:-$(git -C "$TESSEL_ROOT" log -1 --format=%ct 2>/dev/null || echo 0)}

tessel_step "deriving the update answer's public key from $signing_key"
mkdir -p "$build"
openssl pkey -in "$signing_key" -pubout -out "$build/update-key.pem" ||
    tessel_die "$signing_key is not a readable private key"
update_keys=$build/update-key.pem
[ -n "${TESSEL_UPDATE_NEXT_KEY:-}" ] && update_keys="$update_keys;$TESSEL_UPDATE_NEXT_KEY"

tessel_step "building the $arch release in $build"
cmake -S "$TESSEL_ROOT" -B "$build" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF \
    -DCMAKE_TOOLCHAIN_FILE="$TESSEL_ROOT/cmake/mingw-$arch.cmake" \
    -DTESSEL_UPDATE_KEYS="$update_keys" -DTESSEL_REQUIRE_UPDATE_KEY=ON "${cmake_args[@]}" >/dev/null
cmake --build "$build" --target Tessel -j"$(nproc)" >/dev/null
version=$(cat "$build/tessel-version.txt")
cache_value() { sed -n "s/^$1:[A-Z]*=//p" "$build/CMakeCache.txt"; }
update_server=$(cache_value TESSEL_UPDATE_SERVER)
web_address=$(cache_value TESSEL_WEB_ADDRESS)

tessel_step "preparing $dist"
rm -rf "$dist"
mkdir -p "$dist"
stage=$build/release-stage
rm -rf "$stage"
mkdir -p "$stage"

# One command signs every file, also the ones makensis writes: the
# uninstaller inside the installer and the installer itself.
signer=
if [ -n "$cert" ]; then
    signer=$build/sign-file.sh
    args=(-certs "$cert" -key "$key" -n Tessel -i "$web_address" -h sha256 -time "$epoch")
    # The key's password stays out of the file, in the environment.
    export TESSEL_SIGN_PASS=$pass
    {
        echo '#!/usr/bin/env bash'
        echo '# Signs the file $1 in place (written by tools/release.sh).'
        echo 'set -e'
        echo "osslsigncode sign $(printf '%q ' "${args[@]}")" \
            '${TESSEL_SIGN_PASS:+-pass "$TESSEL_SIGN_PASS"} -in "$1" -out "$1.signed" >/dev/null'
        echo 'mv "$1.signed" "$1"'
    } >"$signer"
    chmod +x "$signer"
fi

tessel_step "staging Tessel.exe and the read-me"
cp "$build/Tessel.exe" "$stage/Tessel.exe"
if [ -n "$signer" ]; then
    tessel_step "signing Tessel.exe"
    "$signer" "$stage/Tessel.exe"
fi
"$TESSEL_ROOT/tools/release_files.py" readme "$TESSEL_ROOT/installer/ReadMe.txt.in" \
    "$stage/ReadMe.txt" "$version" "$web_address"
touch -d "@$epoch" "$stage/Tessel.exe" "$stage/ReadMe.txt"

tessel_step "writing Tessel-$version.zip"
"$TESSEL_ROOT/tools/release_files.py" zip "$dist/Tessel-$version.zip" "$epoch" \
    "$stage/Tessel.exe" "$stage/ReadMe.txt"

tessel_step "making the installer with makensis"
nsis_args=(-V2 -DVERSION="$version" -DEXE="$stage/Tessel.exe" -DREADME="$stage/ReadMe.txt"
           -DOUTFILE="$dist/Tessel-$version-setup.exe")
[ "$arch" = x86_64 ] && nsis_args+=(-DX64)
[ -n "$signer" ] && nsis_args+=(-DSIGNER="$signer")
makensis "${nsis_args[@]}" "$TESSEL_ROOT/installer/Tessel.nsi" >/dev/null

tessel_step "writing the update server's content"
platform=win32
[ "$arch" = x86_64 ] && platform=win64
"$TESSEL_ROOT/tools/release_files.py" feed "$dist/update-server" "$version" \
    "$update_server" "$web_address" "$stage/Tessel.exe" "$platform" "$expires" "$serial"

tessel_step "signing the update answer (serial $serial, expires $expires)"
sign_answer "$dist/update-server/data/update.php"

tessel_step "writing SHA256SUMS"
(cd "$dist" && find . -type f ! -name SHA256SUMS | sed 's|^\./||' | LC_ALL=C sort |
    xargs sha256sum >SHA256SUMS)

echo "release: Tessel $version ($arch) in $dist"
if [ -n "$cert" ]; then
    echo "release: Tessel.exe, the installer and its uninstaller are signed with $cert"
else
    echo "release: not signed (no certificate given: --cert CERT.pem --key KEY.pem)"
fi
