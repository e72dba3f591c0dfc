#!/usr/bin/env bash
# The real Windows executable under wine, on its own X server, answered with
# xdotool: a fresh install on the desktop, an update of that installation,
# an update beside a running game (a file held open: the box names it,
# Cancel changes nothing, Retry patches once it has gone), a marker file
# held without sharing (still an installation), read-only launchers and
# game files (deleted and replaced), an update the version gate refuses;
# then the folder picker driven by the
# keyboard to a folder and the install there, to a folder so deep that the
# installed files' paths reach the system's limit of 259 characters (their
# staging files' are longer), and a cancelled picker. The installed trees
# are compared byte for byte. Given the program built with a package of a
# game's size, its install shows a progress window between the boxes.
# usage: wine_e2e.sh QUORVEL_PACKAGE_EXE DEFAULT_PACKAGE_DIR ARTEFACT_DIR FILE_HOLDER_EXE [LARGE_EXE LARGE_PACKAGE_DIR]
set -uo pipefail
exe=$1 package=$2 artefacts=$3 holder=$4 large_exe=${5:-} large_package=${6:-}
source "$(dirname "$0")/wine_support.sh"
mkdir -p "$artefacts"
start_session "$work/home"

run fresh yes "$package_caption" "$ask_desktop" yes "$package_caption" "$unpacked"
[ "$status" -eq 0 ] || fail "fresh install exited $status"
same_tree "$HOME/Desktop/Quorvel" || fail "fresh install: the tree differs from the package"

top=$HOME/Desktop/Quorvel
echo "old" >"$top/dravik/hesk.wad"
echo "fast" >"$top/$fast"
echo "smooth" >"$top/$smooth"
run update yes "$package_caption" "$ask_desktop" yes "$package_caption" "$found" yes "$patch_caption" "$patched"
[ "$status" -eq 0 ] || fail "update exited $status"
same_tree "$top" || fail "update: the tree differs from the package (launchers left or a file not rewritten)"

# Another program holds path (none: sharing nothing; read: reading only)
# until release.
hold() {   # unix path, none|read
    rm -f "$work/release" "$work/holder.log"
    WINEDEBUG=-all wine "$holder" "Z:$1" "$2" "Z:$work/release" </dev/null >"$work/holder.log" 2>&1 &
    holder_pid=$!
    for _ in $(seq 300); do grep -q holding "$work/holder.log" 2>/dev/null && return 0; sleep 0.1; done
    fail "the holder never held $1: $(cat "$work/holder.log")"
}
release() {
    touch "$work/release"
    wait "$holder_pid"
}
# The desktop as the program sees it, C:\users\NAME\Desktop.
desktop="C:\\users\\$(find "$WINEPREFIX/drive_c/users" -mindepth 1 -maxdepth 1 -type d ! -name Public -printf '%f\n' | head -1)\\Desktop"

echo "old" >"$top/dravik/hesk.wad"
echo "fast" >"$top/$fast"
rm -rf "$work/before" && cp -a "$top" "$work/before"
hold "$top/$marker" read
held=$(in_use_box "$desktop\\Quorvel/$marker")
run in_use_cancel press y "$package_caption" "$ask_desktop" press y "$package_caption" "$found" \
    press Escape "$patch_caption" "$held"
[ "$status" -eq 1 ] || fail "cancelled in-use update exited $status"
diff -r "$work/before" "$top" >/dev/null || fail "a cancelled in-use update changed the installation"
run in_use_retry press y "$package_caption" "$ask_desktop" press y "$package_caption" "$found" \
    while release press r "$patch_caption" "$held" yes "$patch_caption" "$patched"
[ "$status" -eq 0 ] || fail "update retried once the file was free exited $status"
same_tree "$top" || fail "update retried once the file was free: the tree differs from the package"

# A marker held without sharing: still an installation, and in use.
hold "$top/$picture" none
run held_marker press y "$package_caption" "$ask_desktop" press y "$package_caption" "$found" \
    press Escape "$patch_caption" "$(in_use_box "$desktop\\Quorvel/$picture")"
[ "$status" -eq 1 ] || fail "cancelled update of a copy with a held marker exited $status"
release

# Wine shows a file without write permission as read-only.
echo "fast" >"$top/$fast"
echo "smooth" >"$top/$smooth"
echo "old" >"$top/dravik/hesk.wad"
chmod a-w "$top/$fast" "$top/$smooth" "$top/dravik/hesk.wad" "$top/$exec_ver"
run read_only yes "$package_caption" "$ask_desktop" yes "$package_caption" "$found" yes "$patch_caption" "$patched"
[ "$status" -eq 0 ] || fail "update of read-only files exited $status"
same_tree "$top" || fail "update of read-only files: the tree differs from the package (a launcher left?)"

printf 'build999\r\n' >"$top/$exec_ver"
echo "fast" >"$top/$fast"
echo "old" >"$top/dravik/hesk.wad"
run refused yes "$package_caption" "$ask_desktop" yes "$package_caption" "$found" yes "$patch_caption" "$older"
[ "$status" -eq 1 ] || fail "refused update exited $status"
[ -f "$top/$fast" ] || fail "refused update deleted a launcher"
[ "$(cat "$top/dravik/hesk.wad")" = "old" ] || fail "refused update wrote a file"

mkdir "$HOME/Desktop/Games"
run picked no "$package_caption" "$ask_desktop" pick Games 0 yes "$package_caption" "$unpacked"
[ "$status" -eq 0 ] || fail "install in a picked folder exited $status"
same_tree "$HOME/Desktop/Games/Quorvel" || fail "install in a picked folder: the tree differs from the package"

# The deep folder's path as the program sees it, C:\users\NAME\Desktop\Deep
# and one folder a level, long enough that the longest installed file's
# path is 256 characters and its deepest folder's 247, the most a folder
# may have (MAX_PATH less room for an 8.3 name).
longest=$(cd "$package" && find . -type f ! -name package.manifest | sed 's|^\.|\\Quorvel|' | awk '{ print length }' | sort -n | tail -1)
deepest=$(cd "$package" && find . -mindepth 1 -type d | sed 's|^\.|\\Quorvel|' | awk '{ print length }' | sort -n | tail -1)
target=$desktop\\Deep levels=0 unix=$HOME/Desktop/Deep
while [ $(( ${#target} + longest )) -lt 256 ]; do
    room=$(( 256 - longest - ${#target} - 1 ))
    [ $room -gt 40 ] && room=40
    [ $room -lt 1 ] && break
    part=$(printf "level$levels-%0${room}d" 0 | cut -c1-$room)
    target=$target\\$part unix=$unix/$part levels=$((levels + 1))
done
[ $(( ${#target} + longest )) -eq 256 ] && [ $(( ${#target} + deepest )) -le 247 ] ||
    fail "the deep folder came out at ${#target} characters"
echo "deep folder: $target, ${#target} characters"
mkdir -p "$unix"
run deep no "$package_caption" "$ask_desktop" pick Deep "$levels" yes "$package_caption" "$unpacked"
[ "$status" -eq 0 ] || fail "install $(( ${#target} + longest ))-character paths deep exited $status"
same_tree "$unix/Quorvel" || fail "install at the path limit: the tree differs from the package"

run cancelled no "$package_caption" "$ask_desktop" cancel
[ "$status" -eq 1 ] || fail "a cancelled picker exited $status"

# The window is a progress bar with the run's caption; wine's traces show it
# made and its position set (PBM_SETPOS, 0x402) as the blocks are done.
if [ -n "$large_exe" ]; then
    exe=$large_exe package=$large_package trace=trace+win,trace+progress
    mkdir "$HOME/Desktop/Large"
    run large no "Quorvel Package" "$ask_desktop" pick Large 0 yes "Quorvel Package" "$unpacked"
    [ "$status" -eq 0 ] || fail "install of the large package exited $status"
    same_tree "$HOME/Desktop/Large/Quorvel" || fail "large package: the tree differs from the package"
    grep -q 'CreateWindowEx "Quorvel Package" L"msctls_progress32"' "$work/large.log" ||
        fail "large package: no progress window captioned Quorvel Package was made"
    positions=$(grep -o 'msg 0402, wparam [0-9a-f]*' "$work/large.log" | sort -u | wc -l)
    [ "$positions" -ge 90 ] || fail "large package: the bar took $positions positions, not one a percent"
    [ $failures -eq 0 ] || cp "$work/large.log" "$artefacts/wine-large.log"
fi

finish "wine end to end: all passed"
