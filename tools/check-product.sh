#!/usr/bin/env bash
# Checks the shipped program: Tessel.exe must be a 32-bit GUI executable
# that imports nothing but the known DLLs of Windows.
#   check-product.sh EXE           checks an existing i686 build
#   check-product.sh --build DIR   builds the i686 program in DIR first
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/tools/steps.sh"

if [ "${1:-}" = --build ]; then
    dir=$2
    tessel_step "building the i686 Tessel.exe in $dir"
    cmake -S "$root" -B "$dir" -DBUILD_TESTING=OFF \
        -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" >/dev/null
    cmake --build "$dir" --target Tessel -j"$(nproc)" >/dev/null
    exe=$dir/Tessel.exe
else
    exe=$1
fi

tessel_step "checking $exe"
description=$(file -b "$exe")
case "$description" in
    "PE32 executable (GUI) Intel 80386"*) ;;
    *) echo "FAIL: $exe is '$description'"; exit 1 ;;
esac

# Only "known DLLs", which Windows always maps from its own folder: any other
# library that the program imports would be looked for next to the program
# first, where anyone may have put one. Everything else is loaded at run
# time from the system folder.
system_dlls="kernel32 user32 gdi32 comdlg32 shell32 ole32 oleaut32 advapi32 msvcrt"
status=0
for dll in $(i686-w64-mingw32-objdump -p "$exe" | sed -n 's/^\s*DLL Name: \(.*\)\.dll$/\1/Ip'); do
    name=$(echo "$dll" | tr '[:upper:]' '[:lower:]')
    if ! echo "$system_dlls" | grep -qw "$name"; then
        echo "FAIL: Tessel.exe imports $dll.dll"
        status=1
    fi
done
[ $status = 0 ] && echo "Tessel.exe: $description; imports only known DLLs"
exit $status
