#!/usr/bin/env bash
# The real Windows executable under wine, on its own X server, answered with
# xdotool: a fresh install on the desktop, an update of that installation,
# and an update the version gate refuses. Message texts are read from wine's
# message box trace; the installed tree is compared byte for byte.
# usage: wine_e2e.sh QUORVEL_PACKAGE_EXE DEFAULT_PACKAGE_DIR ARTEFACT_DIR
set -uo pipefail
exe=$1 package=$2 artefacts=$3

for tool in wine Xvfb xdotool import; do
    command -v "$tool" >/dev/null || { echo "FAIL: $tool is missing (Debian packages wine, xvfb, xdotool, imagemagick)"; exit 1; }
done

work=$(mktemp -d)
server=""
cleanup() {
    [ -n "$server" ] && kill "$server" 2>/dev/null
    WINEPREFIX=$work/prefix wineserver -k 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

display=90
while [ -e /tmp/.X$display-lock ] || [ -e /tmp/.X11-unix/X$display ]; do display=$((display + 1)); done
Xvfb :$display -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
server=$!
export DISPLAY=:$display HOME=$work/home WINEPREFIX=$work/prefix WINEDLLOVERRIDES="mscoree,mshtml="
for _ in $(seq 50); do xdotool getdisplaygeometry >/dev/null 2>&1 && break; sleep 0.1; done
mkdir -p "$HOME/Desktop" "$artefacts"
WINEDEBUG=-all timeout 180 wineboot --init >/dev/null 2>&1 || { echo "FAIL: wineboot"; exit 1; }

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

ask_desktop='L"Unpack on the desktop?"'
found='L"The chosen location already contains a version of Quorvel.\nThis package will NOT overwrite it (and destroy save data).\n(If you want that, you have to delete it manually.)\nHowever, would you like it updated?"'
unpacked='L"Quorvel has successfully unpacked!\nThe icons for running the game are in the Quorvel folder."'
patched='L"Patch successfully completed!"'
older='L"This patch is older than your installed version, and can'"'"'t be applied."'

# Runs the installer and answers each of its message boxes with Return
# (Yes, the default button, or OK). Arguments: the run's name, then the
# caption and trace text of each box in order. Sets status to the exit code.
run() {
    local name=$1; shift
    local log=$work/$name.log
    WINEDEBUG=trace+msgbox timeout 300 wine "$exe" >/dev/null 2>"$log" &
    local pid=$! seen=0 previous=""
    while [ $# -ge 2 ]; do
        local caption=$1 text=$2; shift 2
        local window=""
        for _ in $(seq 600); do
            window=$(xdotool search --onlyvisible --name "^$caption\$" 2>/dev/null | grep -vx "$previous" | head -1)
            [ -n "$window" ] && [ "$(grep -c MSGBOX_OnInit "$log")" -gt "$seen" ] && break
            window=""; sleep 0.1
        done
        seen=$((seen + 1))
        [ -n "$window" ] || { fail "$name: box $seen ($caption) never appeared"; kill $pid; wait $pid; status=-1; return; }
        local shown
        shown=$(grep MSGBOX_OnInit "$log" | sed -n "${seen}p" | sed 's/.*MSGBOX_OnInit //')
        [ "$shown" = "$text" ] || fail "$name: box $seen said $shown, expected $text"
        [ -f "$artefacts/wine-ask-desktop.png" ] || import -window root "$artefacts/wine-ask-desktop.png"
        # A box can be listed a moment before it takes the focus; press
        # until it is gone.
        for _ in $(seq 50); do
            xdotool windowfocus --sync "$window" key Return 2>/dev/null
            sleep 0.2
            xdotool getwindowname "$window" >/dev/null 2>&1 || break
        done
        previous=$window
    done
    wait $pid
    status=$?
    local extra
    extra=$(grep -c MSGBOX_OnInit "$log")
    [ "$extra" -eq "$seen" ] || fail "$name: $extra boxes shown, expected $seen"
}

same_tree() {   # the installed tree holds exactly the package's files
    diff -r --exclude=package.manifest "$package" "$HOME/Desktop/Quorvel" >/dev/null
}

run fresh "Quorvel Package" "$ask_desktop" "Quorvel Package" "$unpacked"
[ "$status" -eq 0 ] || fail "fresh install exited $status"
same_tree || fail "fresh install: the tree differs from the package"

top=$HOME/Desktop/Quorvel
echo "old" >"$top/dravik/hesk.wad"
echo "fast" >"$top/Quorvel (fullscreen, fast).exe"
echo "smooth" >"$top/Quorvel (fullscreen, smooth).exe"
run update "Quorvel Package" "$ask_desktop" "Quorvel Package" "$found" "Quorvel Patch" "$patched"
[ "$status" -eq 0 ] || fail "update exited $status"
same_tree || fail "update: the tree differs from the package (launchers left or a file not rewritten)"

printf 'build999\r\n' >"$top/dravik/exec.ver"
echo "fast" >"$top/Quorvel (fullscreen, fast).exe"
echo "old" >"$top/dravik/hesk.wad"
run refused "Quorvel Package" "$ask_desktop" "Quorvel Package" "$found" "Quorvel Patch" "$older"
[ "$status" -eq 1 ] || fail "refused update exited $status"
[ -f "$top/Quorvel (fullscreen, fast).exe" ] || fail "refused update deleted a launcher"
[ "$(cat "$top/dravik/hesk.wad")" = "old" ] || fail "refused update wrote a file"

if [ $failures -gt 0 ]; then
    echo "$failures failure(s)"
    exit 1
fi
echo "wine end to end: all passed"
