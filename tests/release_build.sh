#!/usr/bin/env bash
# The Windows executable as a studio releases it.
# Reproducible: two clean cross builds of the same sources give the same
# executable, byte for byte. The second builds from its own copy of the
# tree, in a folder whose name differs in length from the first's, so a
# build path or time that reached the program shows as a difference. The
# first is the build that runs this test, when given (PROGRAM), else another
# copy of the tree. Only the installer target is built, with the options
# given (the calling build's tools among them).
# Signed: the second tree is then configured with a throwaway certificate
# made here and a small package of a studio's own, with its support
# address, version and program name; only that package, the link and the
# signing run again. A good certificate
# gives a verified SHA-256 signature; a wrong password, an expired
# certificate or a missing setting fail with their reason, and no unsigned
# program is left where the signed one belongs.
# usage: release_build.sh SOURCE_DIR TOOLCHAIN_FILE PROGRAM|"" [CMAKE_OPTION...]
set -uo pipefail
source=$1 toolchain=$2 program=$3; shift 3

for tool in osslsigncode openssl; do
    command -v "$tool" >/dev/null || { echo "FAIL: $tool is missing (Debian packages osslsigncode, openssl)"; exit 1; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
jobs=${CMAKE_BUILD_PARALLEL_LEVEL:-2}
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# A release is dated by its commit.
if [ -z "${SOURCE_DATE_EPOCH:-}" ] && epoch=$(git -C "$source" log -1 --format=%ct 2>/dev/null); then
    export SOURCE_DATE_EPOCH=$epoch
fi

build() {   # folder name, cmake options
    local tree=$work/$1; shift
    mkdir -p "$tree/src"
    tar -C "$source" --exclude=./build --exclude='./build-*' --exclude=./.git -cf - . | tar -C "$tree/src" -xf -
    cmake -S "$tree/src" -B "$tree/out" -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DQUORVEL_TESTS=OFF -DQUORVEL_BENCH=OFF \
          -DQUORVEL_SIGN_PKCS12= -DQUORVEL_SIGN_PASSWORD_FILE= "$@" >"$tree/log" 2>&1 &&
        cmake --build "$tree/out" -j "$jobs" --target quorvel-package >>"$tree/log" 2>&1 ||
        { echo "FAIL: the build in $tree failed:"; tail -20 "$tree/log"; exit 1; }
}

# ---- reproducible ----
a=$program
if [ -z "$a" ]; then
    build first "$@"
    a=$work/first/out/installer/quorvel-package.exe
fi
tree=$work/second-with-a-longer-name
build second-with-a-longer-name "$@"
b=$tree/out/installer/quorvel-package.exe
if cmp -s "$a" "$b"; then
    echo "reproducible: $(stat -c %s "$a") bytes, identical"
else
    fail "the two builds differ in $(cmp -l "$a" "$b" | wc -l) bytes; the first (offset, octal bytes):"
    cmp -l "$a" "$b" | head -5
    grep -q -a "$work" "$b" && echo "the program names its build folder"
fi
# The program's own cost: the executable less the package's compressed
# bytes, which the packer names in the build's log.
compressed=$(sed -n 's/.* blocks, \([0-9]*\) compressed$/\1/p' "$tree/log" | tail -1)
if [ -n "$compressed" ]; then
    overhead=$(($(stat -c %s "$a") - compressed))
    echo "program overhead: $overhead bytes ($(stat -c %s "$a") less $compressed of package)"
    [ "$overhead" -le 40960 ] || fail "the program costs $overhead bytes over its package, more than 40 KiB"
else
    fail "the build log does not give the package's compressed size"
fi
# The version information and the failed message's address, read back from
# the program: "1.0" and today's address for the default package.
resource_value() {   # program, key: the string after the key in the UTF-16 resources
    strings -n 3 -el "$1" | grep -A1 -x "$2" | sed -n 2p
}
expect_details() {   # program, version, original file name, support address
    for key in FileVersion ProductVersion; do
        [ "$(resource_value "$1" $key)" = "$2" ] || fail "$key of $1 is '$(resource_value "$1" $key)', not '$2'"
    done
    [ "$(resource_value "$1" OriginalFilename)" = "$3" ] || fail "OriginalFilename of $1 is not $3"
    grep -q -a -F "$4" "$1" || fail "$1 lacks the support address $4"
}
custom_package=""
for option in "$@"; do
    case $option in -DQUORVEL_MANIFEST=?*) custom_package=yes ;; esac
done
[ -n "$custom_package" ] || expect_details "$b" 1.0 quorvel-package.exe support@quorvel.example

unsigned=$(osslsigncode verify -in "$b" 2>&1)
echo "$unsigned" | grep -q "No signature found" || fail "a build without the signing settings is signed: $unsigned"

# ---- signed ----
cd "$work" || exit 1
printf 'throwaway pass\n' >password
openssl req -x509 -newkey rsa:2048 -nodes -keyout key.pem -out cert.pem -days 2 -subj "/CN=Quorvel Test Signer" \
        -addext "extendedKeyUsage=codeSigning" >/dev/null 2>&1 &&
    openssl pkcs12 -export -inkey key.pem -in cert.pem -out signer.p12 -passout file:password &&
    openssl x509 -in cert.pem -signkey key.pem -days -1 -out expired.pem >/dev/null 2>&1 &&
    openssl pkcs12 -export -inkey key.pem -in expired.pem -out expired.p12 -passout file:password ||
    { echo "FAIL: openssl could not make the throwaway certificates"; exit 1; }

sign_build() {   # log name, cmake options; the build's status
    local log=$work/$1.log; shift
    cmake -S "$tree/src" -B "$tree/out" "$@" >"$log" 2>&1 &&
        cmake --build "$tree/out" -j "$jobs" --target quorvel-package >>"$log" 2>&1
}

# The least an installation holds: its marker files and first version file.
source "$(dirname "$0")/header_texts.sh"
marker=$(layout_path MarkerFiles 0) picture=$(layout_path MarkerFiles 1) exec_ver=$(layout_path VersionFiles 0)
folders=$(for path in "$marker" "$picture" "$exec_ver"; do
              folder=$(dirname "$path")
              while [ "$folder" != . ]; do echo "$folder"; folder=$(dirname "$folder"); done
          done | LC_ALL=C sort -u)
studio=$work/studio
while IFS= read -r folder; do mkdir -p "$studio/$folder"; done <<<"$folders"
printf 'MZ' >"$studio/$marker"
printf 'PNG' >"$studio/$picture"
printf '2.5.1\r\n' >"$studio/$exec_ver"
{
    printf '%s\n' 'support help@studio.example'
    while IFS= read -r folder; do printf 'dir \\Quorvel\\%s\n' "${folder//\//\\}"; done <<<"$folders"
    echo 'build 2.5.1'
    for slot in $(seq 2 128); do printf 'build old-%s\n' "$slot"; done
    printf '%s\n' "exec $marker" "file $exec_ver" "file $picture"
} >"$studio/package.manifest"
b=$tree/out/installer/studio-setup.exe
sign_build signed -DQUORVEL_SIGN_PKCS12="$work/signer.p12" -DQUORVEL_SIGN_PASSWORD_FILE="$work/password" \
           -DQUORVEL_MANIFEST="$studio/package.manifest" -DQUORVEL_PROGRAM_NAME=studio-setup ||
    { fail "the signed build failed:"; tail -20 "$work/signed.log"; }
expect_details "$b" 2.5.1 studio-setup.exe help@studio.example
verified=$(osslsigncode verify -CAfile "$work/cert.pem" -in "$b" 2>&1)
echo "$verified" | grep -q "^Signature verification: ok" || fail "the signature does not verify: $verified"
echo "$verified" | grep -q "Message digest algorithm *: SHA256" || fail "the signature's digest is not SHA-256"
echo "$verified" | grep -q "Subject: /CN=Quorvel Test Signer" || fail "signed by another certificate"
grep -q "^Signing $b\$" "$work/signed.log" || fail "the signing step does not name the file it signs"
[ -x "$b" ] || fail "the signed program lost its run bit: $(stat -c %A "$b")"

printf 'not the password\n' >password
if sign_build wrong-password; then
    fail "a wrong password built"
else
    grep -q "failed: a wrong password in $work/password, or $work/signer.p12 is not a PKCS#12 file" "$work/wrong-password.log" ||
        { fail "a wrong password failed without saying so:"; tail -20 "$work/wrong-password.log"; }
fi
[ -e "$b" ] && fail "a wrong password left a program behind"

printf 'throwaway pass\n' >password
if sign_build expired -DQUORVEL_SIGN_PKCS12="$work/expired.p12"; then
    fail "an expired certificate built"
else
    grep -q "the signature does not verify" "$work/expired.log" && grep -q "certificate has expired" "$work/expired.log" ||
        { fail "an expired certificate failed without saying so:"; tail -20 "$work/expired.log"; }
fi
[ -e "$b" ] && fail "an expired certificate left a program behind"

if sign_build half -DQUORVEL_SIGN_PKCS12="$work/signer.p12" -DQUORVEL_SIGN_PASSWORD_FILE=; then
    fail "a certificate without a password file configured"
else
    grep -q "QUORVEL_SIGN_PASSWORD_FILE is empty" "$work/half.log" || fail "a missing password file was not named"
fi

if [ $failures -gt 0 ]; then
    echo "$failures failure(s)"
    exit 1
fi
echo "release build: all passed"
