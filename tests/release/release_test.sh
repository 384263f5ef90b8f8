#!/usr/bin/env bash
# The release as a user gets it: the release command run twice gives the
# same zip and update feed; the feed names its file with the right digest;
# the portable zip unpacks with Info-ZIP's unzip and runs; the installer,
# run silently in a fresh Wine prefix, installs for the current user (the
# user's programs folder, the entry under HKCU), registers and starts Tessel,
# and its uninstaller removes all of it but the user's settings; a release
# made with a certificate is signed and one made without is not; and an
# installed 1.00 updates itself to the 1.01 made by the same command and
# served over HTTPS by the project's test server (its certificate from a CA
# made for this run and trusted in the fresh prefix only), while a served
# file that does not match its digest leaves 1.00 installed and working. The
# update answer is signed with a key pair made for the run: no release is
# made without it, and an answer changed by one byte, one signed with
# another key and a replayed answer of 1.00 ask nothing and change no file.
#
# Runs inside the test command's session (display, Wine, simulator built).
# On a host that runs only 64-bit code it tests the x86_64 variant of the
# same release and installer script; the shipped release is the i686 one.
source "$(dirname "$0")/../../tools/env.sh"
source "$TESSEL_ROOT/tools/session.sh"

arch=$TESSEL_ARCH
work=$(mktemp -d "$TESSEL_BUILD_DIR/release-test.XXXXXX")
session_prefix=$WINEPREFIX
fresh_prefix=$work/prefix
driver=$TESSEL_BUILD_DIR/TesselDriver.exe
uninstall_key='HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Tessel'
settings_key='HKCU\Software\Brindle\Tessel'
if [ "$arch" = i686 ]; then view=/reg:32; else view=/reg:64; fi
# Until the update test, releases point at a port where nothing listens
# (over https: a build with update keys takes no other server).
update_server=https://127.0.0.1:9
# A throwaway key pair for the update answer's signature, made for this run.
openssl ecparam -name prime256v1 -genkey -noout -out "$work/update-key.pem"
openssl ecparam -name prime256v1 -genkey -noout -out "$work/other-key.pem"
openssl pkey -in "$work/update-key.pem" -pubout -out "$work/update-key.pub.pem" 2>/dev/null
export TESSEL_UPDATE_SIGNING_KEY=$work/update-key.pem

end_test() {
    local status=$?
    # End of input ends the update server.
    if [ -n "${SERVER_PID:-}" ]; then
        [ -n "${SERVER[1]:-}" ] && eval "exec ${SERVER[1]}>&-"
        wait "$SERVER_PID" 2>/dev/null || true
    fi
    # Whatever is still running in the fresh prefix ends with its server.
    WINEPREFIX=$fresh_prefix "$TESSEL_WINESERVER" -k >/dev/null 2>&1 || true
    WINEPREFIX=$session_prefix "$TESSEL_WINE" "$driver" close >/dev/null 2>&1 </dev/null &
    if [ $status = 0 ]; then
        rm -rf "$work"
        echo "release test: passed"
    else
        echo "release test: the logs and releases are kept in $work" >&2
    fi
}
trap end_test EXIT

fail() { tessel_die "$*"; }

# Runs a command every half second until it succeeds, at most $1 seconds.
wait_until() {
    local seconds=$1 what=$2
    shift 2
    for _ in $(seq $((seconds * 2))); do
        "$@" >/dev/null 2>&1 && return 0
        sleep 0.5
    done
    fail "waited $seconds s for $what"
}

release() {
    local name=$1
    shift
    TESSEL_RELEASE_ARCH=$arch TESSEL_RELEASE_BUILD_DIR=$work/build-$name \
        TESSEL_DIST_DIR=$work/dist-$name "$TESSEL_ROOT/tools/release.sh" \
        -DTESSEL_UPDATE_SERVER=$update_server "$@" >"$work/release-$name.log"
}

# "title<TAB>sensor rows" of the Tessel window in the current prefix.
describe() { "$TESSEL_WINE" "$driver" describe </dev/null | tr -d '\r'; }

shows_version_with_sensors() {
    local line
    line=$(describe) || return 1
    [ "${line%%$'\t'*}" = "Tessel [$version]" ] && [ "${line##*$'\t'}" -gt 0 ]
}

reg_value() { # key value [view]
    "$TESSEL_WINE" reg query "$1" /v "$2" ${3:-} </dev/null 2>/dev/null | tr -d '\r' |
        sed -n "s/^ *$2 *REG_[A-Z_]* *//p"
}

tessel_step "making the release twice"
release a --serial 1
release b --serial 1
version=$(cat "$work/build-a/tessel-version.txt")
a=$work/dist-a
b=$work/dist-b
zip=Tessel-$version.zip
feed=update-server/data/update.php
served=update-server/data/tessel/$version/Tessel.exe
for file in "$zip" "$served"; do
    cmp -s "$a/$file" "$b/$file" || fail "$file differs between two releases of the same sources"
done
# ECDSA signatures differ each time: the answers agree up to their
# signature lines, and each signature is good.
unsigned_feed() { head -n -1 "$1"; }
signature_of() { tail -n 1 "$1" | sed -n 's/^<!--tessel-signature:\(.*\)-->$/\1/p' | base64 -d; }
verifies() { # feed public-key
    openssl dgst -sha256 -verify "$2" -signature <(signature_of "$1") <(unsigned_feed "$1") >/dev/null
}
cmp -s <(unsigned_feed "$a/$feed") <(unsigned_feed "$b/$feed") ||
    fail "the update answers of two releases of the same sources differ"
verifies "$a/$feed" "$work/update-key.pub.pem" && verifies "$b/$feed" "$work/update-key.pub.pem" ||
    fail "the update answer is not signed with the update key"
if TESSEL_UPDATE_SIGNING_KEY= release unkeyed 2>/dev/null; then
    fail "a release was made without a key for the update answer"
fi
# A 256-bit key of another curve has a public key of the same length.
openssl ecparam -name brainpoolP256r1 -genkey -noout -out "$work/brainpool-key.pem"
openssl pkey -in "$work/brainpool-key.pem" -pubout -out "$work/brainpool-key.pub.pem" 2>/dev/null
if TESSEL_UPDATE_SIGNING_KEY=$work/brainpool-key.pem release brainpool 2>/dev/null; then
    fail "a release was made with a key that is not P-256"
fi
configure_fails() { # what cmake-arguments...
    local what=$1
    shift
    if cmake -S "$TESSEL_ROOT" -B "$work/build-refused" -DBUILD_TESTING=OFF \
        -DCMAKE_TOOLCHAIN_FILE="$TESSEL_ROOT/cmake/mingw-$arch.cmake" "$@" >/dev/null 2>&1; then
        fail "a build was configured with $what"
    fi
}
configure_fails "a key that is not P-256" -DTESSEL_UPDATE_KEYS="$work/brainpool-key.pub.pem" \
    -DTESSEL_UPDATE_SERVER=https://update.example.com
configure_fails "a key and a plain http update server" \
    -DTESSEL_UPDATE_KEYS="$work/update-key.pub.pem" -DTESSEL_UPDATE_SERVER=http://update.example.com
grep -q "not signed" "$work/release-a.log" || fail "an unsigned release does not say so"
osslsigncode verify -in "$a/$served" >/dev/null 2>&1 && fail "a release without a certificate is signed"

tessel_step "checking what the release holds"
(cd "$a" && sha256sum --quiet -c SHA256SUMS) || fail "SHA256SUMS does not match the release"
for file in "$zip" "$served"; do
    grep -q " $file\$" "$a/SHA256SUMS" || fail "SHA256SUMS does not list $file"
done
[ -f "$a/Tessel-$version-setup.exe" ] || fail "no installer"
[ "$(unzip -Z1 "$a/$zip" | LC_ALL=C sort | tr '\n' ' ')" = "ReadMe.txt Tessel.exe " ] ||
    fail "the zip holds $(unzip -Z1 "$a/$zip" | tr '\n' ' ')"
! grep -qaF -e "$TESSEL_ROOT" -e "$work" "$a/$served" || fail "Tessel.exe holds a build path"
digest=$(sha256sum "$a/$served" | cut -d' ' -f1)
url="$update_server/data/tessel/$version/Tessel.exe"
size=$(stat -c %s "$a/$served")
grep -qF "<url name=\"Tessel.exe\" sha256=\"$digest\" size=\"$size\">$url</url>" "$a/$feed" ||
    fail "the feed does not name $url with its digest and size"
grep -qF "<version>$version</version>" "$a/$feed" || fail "the feed offers another version"
platform=win32
[ "$arch" = x86_64 ] && platform=win64
grep -qF "<platform>$platform</platform>" "$a/$feed" || fail "the feed names another platform"
grep -qF "<serial>1</serial>" "$a/$feed" || fail "the feed does not carry the serial asked for"
expires=$(sed -n 's|.*<expires>\(.*\)</expires>.*|\1|p' "$a/$feed")
days=$((($(date -u -d "$expires" +%s) - $(date -u +%s)) / 86400))
[ "$days" -ge 88 ] && [ "$days" -le 90 ] || fail "the feed expires at $expires, not in 90 days"
cp "$a/$feed" "$work/renewed.php"
TESSEL_UPDATE_SIGNING_KEY=$TESSEL_UPDATE_SIGNING_KEY "$TESSEL_ROOT/tools/release.sh" \
    --resign "$work/renewed.php" --expires-days 200 >/dev/null || fail "renewing the answer"
verifies "$work/renewed.php" "$work/update-key.pub.pem" || fail "the renewed answer is not signed"
grep -qF "<serial>2</serial>" "$work/renewed.php" || fail "renewing did not raise the serial"
grep -qF "<expires>$(date -u -d "today + 200 days" +%Y-%m-%d)T00:00:00Z</expires>" \
    "$work/renewed.php" || fail "renewing did not move the expiry"

tessel_step "running the portable program unpacked by unzip"
unzip -q "$a/$zip" -d "$work/portable"
cmp -s "$work/portable/Tessel.exe" "$a/$served" || fail "the zip's Tessel.exe is not the served one"
"$TESSEL_WINE" "$work/portable/Tessel.exe" >>"$TESSEL_LOG_DIR/wine.log" 2>&1 </dev/null &
wait_until 30 "the portable Tessel [$version] with sensors" shows_version_with_sensors
"$TESSEL_WINE" "$driver" close </dev/null || fail "the portable program did not close"

tessel_step "installing silently into a fresh prefix"
export WINEPREFIX=$fresh_prefix
tessel_make_prefix >/dev/null
tessel_install_fonts
tessel_register_simulator
tessel_wine "$a/Tessel-$version-setup.exe" /S || fail "the installer failed"
location=$(reg_value "$uninstall_key" InstallLocation $view)
[ -n "$location" ] || fail "no uninstall entry with an install location"
case "$location" in *'\AppData\Local\Programs\Brindle\Tessel') ;; *) fail "installed into $location" ;; esac
folder=$("$TESSEL_WINE" winepath -u "$location" </dev/null 2>/dev/null | tr -d '\r')
folder=${folder%/}
cmp -s "$folder/Tessel.exe" "$a/$served" || fail "Tessel.exe is not in $folder"
[ -f "$folder/Uninstall.exe" ] && [ -f "$folder/ReadMe.txt" ] || fail "$folder is incomplete"
[ "$(reg_value "$uninstall_key" DisplayName $view)" = Tessel ] || fail "DisplayName"
[ "$(reg_value "$uninstall_key" DisplayVersion $view)" = "$version" ] || fail "DisplayVersion"
[ "$(reg_value "$uninstall_key" Publisher $view)" = Brindle ] || fail "Publisher"
[ "$(reg_value "$uninstall_key" UninstallString $view)" = "\"$location\\Uninstall.exe\"" ] ||
    fail "UninstallString"
size=$(reg_value "$uninstall_key" EstimatedSize $view)
[ $((size)) -ge $(($(stat -c %s "$folder/Tessel.exe") / 1024)) ] || fail "EstimatedSize $size"
shortcuts=$(find "$WINEPREFIX/drive_c" -path '*Start Menu/Programs/Tessel.lnk')
[ -n "$shortcuts" ] || fail "no Start-menu shortcut"

tessel_step "starting the installed program"
"$TESSEL_WINE" "$folder/Tessel.exe" >>"$TESSEL_LOG_DIR/wine.log" 2>&1 </dev/null &
wait_until 30 "the installed Tessel [$version] with sensors" shows_version_with_sensors
"$TESSEL_WINE" "$driver" close </dev/null || fail "the installed program did not close"
[ -n "$(reg_value "$settings_key" Main)" ] || fail "the program saved no placement"

tessel_step "uninstalling silently"
# The uninstaller runs on from a copy of itself and ends on its own.
tessel_wine "$folder/Uninstall.exe" /S || fail "the uninstaller failed"
wait_until 30 "the uninstaller to remove $folder" test ! -e "$folder"
[ ! -e "$(dirname "$folder")" ] || fail "the maker's folder stays"
[ -z "$(find "$WINEPREFIX/drive_c" -name Tessel.lnk)" ] || fail "the shortcut stays"
[ -z "$(reg_value "$uninstall_key" DisplayName $view)" ] || fail "the uninstall entry stays"
[ -n "$(reg_value "$settings_key" Main)" ] || fail "the user's settings were removed"

tessel_step "making a signed release"
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Tessel test signer" \
    -addext extendedKeyUsage=codeSigning -keyout "$work/key.pem" -out "$work/cert.pem" 2>/dev/null
release a --cert "$work/cert.pem" --key "$work/key.pem"
grep -q "signed with" "$work/release-a.log" || fail "a signed release does not say so"
for file in "$served" "Tessel-$version-setup.exe"; do
    osslsigncode verify -CAfile "$work/cert.pem" -in "$a/$file" >"$work/verify.log" 2>&1 ||
        fail "$file is not signed: $(tail -3 "$work/verify.log")"
done

tessel_step "starting the update server"
coproc SERVER {
    trap - ERR
    exec python3 "$TESSEL_ROOT/tests/release/serve_release.py" 2>>"$work/server.log"
}
read -r -t 30 port <&"${SERVER[0]}" || fail "the HTTP test server did not start"
update_server=https://127.0.0.1:$port
# The server's pipes exist only in this shell and its command substitutions,
# not in pipelines.
server() { # command -> its one-line answer
    echo "$*" >&"${SERVER[1]}"
    local reply
    read -r -t 30 reply <&"${SERVER[0]}" || fail "the HTTP test server did not answer '$*'"
    echo "$reply"
}
# Wine's crypt32 takes the current user's trusted roots from the prefix's
# registry, each certificate a serialized "Blob" (property 32, encoding 1,
# length, the certificate): so the server's CA is trusted in this prefix
# and nowhere else.
trust_server_ca() {
    local der=$work/server-ca.der thumbprint length blob
    [ "$(server ca "$der")" = ok ] || fail "the HTTPS test server gave no CA"
    thumbprint=$(openssl x509 -inform DER -in "$der" -noout -fingerprint -sha1 | sed 's/.*=//; s/://g')
    length=$(printf '%08x' "$(stat -c %s "$der")" | sed -E 's/(..)(..)(..)(..)/\4\3\2\1/')
    blob=2000000001000000$length$(od -An -v -tx1 "$der" | tr -d ' \n')
    tessel_wine reg add "HKCU\\Software\\Microsoft\\SystemCertificates\\Root\\Certificates\\$thumbprint" \
        /v Blob /t REG_BINARY /d "$blob" /f || fail "trusting the test CA"
}
server_saw() { # path
    local requests
    requests=$(server requests)
    case " $requests" in *" $1"*) return 0 ;; *) return 1 ;; esac
}

trust_server_ca

tessel_step "making $version (signed) and the next version for the update server on port $port"
release a --cert "$work/cert.pem" --key "$work/key.pem"
major=${version%%.*}
next=$(printf '%d.%02d' "$major" $((10#${version#*.} + 1)))
mkdir "$work/next-sources"
tar -C "$TESSEL_ROOT" --exclude=./build --exclude=./dist --exclude=./.git -cf - . |
    tar -C "$work/next-sources" -xf -
sed -i "s/^project(Tessel VERSION [0-9.]*/project(Tessel VERSION $next/" \
    "$work/next-sources/CMakeLists.txt"
TESSEL_RELEASE_ARCH=$arch TESSEL_RELEASE_BUILD_DIR=$work/build-next TESSEL_DIST_DIR=$work/dist-next \
    "$work/next-sources/tools/release.sh" -DTESSEL_UPDATE_SERVER="$update_server" \
    >"$work/release-next.log"
[ -f "$work/dist-next/Tessel-$next.zip" ] || fail "no release $next"
new_program=$work/dist-next/update-server/data/tessel/$next/Tessel.exe
old_program=$a/$served
old_version=$version

install_and_start_overdue() {
    tessel_wine "$a/Tessel-$version-setup.exe" /S || fail "the installer failed"
    cmp -s "$folder/Tessel.exe" "$old_program" || fail "$version is not installed"
    # A check is due when the last one lies more than a week back.
    tessel_wine reg add "$settings_key" /v LastCheck /t REG_DWORD /d 0 /f
    tessel_wine reg delete "$settings_key" /v LastCheckVersion /f || true
    "$TESSEL_WINE" "$folder/Tessel.exe" >>"$TESSEL_LOG_DIR/wine.log" 2>&1 </dev/null &
}

answer_yes() { "$TESSEL_WINE" "$driver" answer yes </dev/null | tr -d '\r'; }

tessel_step "updating $version to $next"
[ "$(server publish "$work/dist-next/update-server")" = ok ] || fail "publishing $next"
install_and_start_overdue
osslsigncode verify -CAfile "$work/cert.pem" -in "$folder/Uninstall.exe" >"$work/verify.log" 2>&1 ||
    fail "the signed installer's uninstaller is not signed: $(tail -3 "$work/verify.log")"
question=$(answer_yes) || fail "Tessel $version asked nothing"
case "$question" in *"$next"*) ;; *) fail "the first question was '$question'" ;; esac
question=$(answer_yes) || fail "Tessel asked no restart question"
case "$question" in *Restart*|*"neu starten"*) ;; *) fail "the second question was '$question'" ;; esac
version=$next
wait_until 60 "the restarted Tessel [$next] with sensors" shows_version_with_sensors
cmp -s "$folder/Tessel.exe" "$new_program" || fail "Tessel.exe is not $next"
cmp -s "$folder/Tessel_old.exe" "$old_program" || fail "the old program was not kept as _old"
requests=$(server requests)
case "$requests" in *"/data/update.php?p=tessel&v=$old_version&id="*"/data/tessel/$next/Tessel.exe"*) ;;
    *) fail "the server saw '$requests'" ;; esac
"$TESSEL_WINE" "$driver" close </dev/null || fail "Tessel $next did not close"

tessel_step "offering a file that does not match its digest"
version=$old_version
cp -r "$work/dist-next/update-server" "$work/tampered"
printf 'tampered' >>"$work/tampered/data/tessel/$next/Tessel.exe"
[ "$(server clear)" = ok ] && [ "$(server publish "$work/tampered")" = ok ] ||
    fail "publishing the tampered update"
install_and_start_overdue
answer_yes >/dev/null || fail "Tessel $version did not offer the tampered update"
wait_until 30 "the tampered download" server_saw "/data/tessel/$next/Tessel.exe"
wait_until 30 "the failed download to be removed" test ! -e "$folder/Tessel_new.exe"
wait_until 10 "Tessel [$version] still working" shows_version_with_sensors
cmp -s "$folder/Tessel.exe" "$old_program" || fail "a tampered download replaced Tessel.exe"
"$TESSEL_WINE" "$driver" close </dev/null || fail "Tessel $version did not close after the refusal"

# Answers that are not the maker's: Tessel reads nothing from them, asks
# nothing, downloads nothing, and 1.00 keeps running with every file as it was.
files_now() { (cd "$folder" && find . -type f -exec sha256sum {} + | LC_ALL=C sort); }
refused_answer() { # update-server-folder what
    [ "$(server clear)" = ok ] && [ "$(server publish "$1")" = ok ] || fail "publishing $2"
    install_and_start_overdue
    local before
    before=$(files_now)
    wait_until 30 "the update check with $2" server_saw "/data/update.php"
    if answer_yes >/dev/null 2>&1; then fail "Tessel asked about $2"; fi
    shows_version_with_sensors || fail "Tessel [$version] is not running after $2"
    [ "$(files_now)" = "$before" ] || fail "files changed after $2"
    if server_saw "/data/tessel/"; then fail "Tessel downloaded a file named by $2"; fi
    "$TESSEL_WINE" "$driver" close </dev/null || fail "Tessel $version did not close after $2"
}

tessel_step "offering answers that are not signed with the update key"
cp -r "$work/dist-next/update-server" "$work/changed"
sed -i '0,/is available/s//is availablE/' "$work/changed/data/update.php"
cmp -s "$work/changed/data/update.php" "$work/dist-next/$feed" && fail "no byte was changed"
refused_answer "$work/changed" "an answer changed by one byte"
cp -r "$work/dist-next/update-server" "$work/other"
unsigned_feed "$work/dist-next/$feed" >"$work/other/data/update.php"
other_signature=$(openssl dgst -sha256 -sign "$work/other-key.pem" "$work/other/data/update.php" |
    base64 -w0)
printf '<!--tessel-signature:%s-->\n' "$other_signature" >>"$work/other/data/update.php"
refused_answer "$work/other" "an answer signed with another key"
refused_answer "$a/update-server" "a replayed answer of $version"
