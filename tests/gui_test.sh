#!/usr/bin/env bash
# The installer with a display: on an X server of its own, the ask-desktop
# question appears as a zenity window under the package's caption.
#   desktop: Return answers Yes, the closing message is acknowledged, and
#            the desktop then holds the package byte for byte.
#   picker:  Escape answers No; the picker opens on the home folder, a
#            typed ~/games/ is taken, and games then holds the package.
# Usage: gui_test.sh INSTALLER PACKAGE_MANIFEST SCREENSHOT.png [desktop|picker]
set -euo pipefail
installer=$1 manifest=$2 shot=$3 scenario=${4:-desktop}
package=$(dirname "$manifest")
source "$(dirname "$0")/header_texts.sh"
caption=$(message_text PackageCaption)
picker_title=$(message_text PickerTitle)

fail() { echo "FAIL: $*" >&2; exit 1; }

for need in Xvfb:xvfb zenity:zenity xdotool:xdotool import:imagemagick identify:imagemagick xdpyinfo:x11-utils pgrep:procps setsid:util-linux; do
    command -v "${need%%:*}" >/dev/null || fail "${need%%:*} is missing: install the Debian package ${need#*:}"
done

work=$(mktemp -d)
xvfb_pid="" installer_pid=""
cleanup() {
    if [ -n "$installer_pid" ]; then
        # The installer leads a session of its own: this ends it and its zenity.
        kill -KILL -- "-$installer_pid" 2>/dev/null || true
    fi
    [ -z "$xvfb_pid" ] || kill "$xvfb_pid" 2>/dev/null || true
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP

# Xvfb picks a free display itself and names it once it takes connections.
Xvfb -displayfd 9 -screen 0 1024x768x24 -nolisten tcp 9>"$work/display" 2>"$work/xvfb.log" &
xvfb_pid=$!
for _ in $(seq 200); do
    [ -s "$work/display" ] && break
    kill -0 "$xvfb_pid" 2>/dev/null || fail "Xvfb did not start: $(cat "$work/xvfb.log")"
    sleep 0.1
done
[ -s "$work/display" ] || fail "Xvfb named no display within 20 s"
DISPLAY=":$(head -n1 "$work/display")"
export DISPLAY
timeout 10 xdpyinfo >/dev/null || fail "Xvfb on $DISPLAY does not answer"

home=$work/home
mkdir -p "$home/Desktop" "$home/games"
# The toolkit's own state goes outside HOME, so HOME shows only what the
# installer wrote.
setsid env -u XDG_CONFIG_HOME HOME="$home" XDG_CACHE_HOME="$work/cache" XDG_DATA_HOME="$work/data" \
    XDG_STATE_HOME="$work/state" GSETTINGS_BACKEND=memory NO_AT_BRIDGE=1 \
    "$installer" </dev/null >"$work/out" 2>&1 &
installer_pid=$!

# The installer's zenity showing a dialog other than the last one, if any;
# the short-lived display check (--version) shows none.
next_dialog() {
    local pid args
    for pid in $(pgrep -P "$installer_pid" -x zenity || true); do
        [ "$pid" != "$dialog_pid" ] || continue
        args=$(tr '\0' ' ' <"/proc/$pid/cmdline" 2>/dev/null || true)
        [ -n "$args" ] && [ "$args" != "zenity --version " ] || continue
        echo "$pid"
        return
    done
}

# Waits for the installer's next zenity, checks its arguments, and sets
# dialog_pid and window once that window, titled title, is visible and drawn.
dialog_pid=""
await_dialog() {
    local expected=$1 title=${2:-$caption} pid=""
    for _ in $(seq 300); do
        pid=$(next_dialog)
        [ -n "$pid" ] && break
        kill -0 "$installer_pid" 2>/dev/null || fail "the installer ended early; it printed: $(cat "$work/out")"
        sleep 0.1
    done
    [ -n "$pid" ] || fail "no dialog within 30 s"
    dialog_pid=$pid
    local args
    args=$(tr '\0' '\n' <"/proc/$pid/cmdline")
    [ "$args" = "$expected" ] || fail "zenity ran as:"$'\n'"$args"$'\n'"expected:"$'\n'"$expected"
    window=$(timeout 30 xdotool search --sync --all --onlyvisible --pid "$pid" --name "^${title//./\\.}\$" | head -n1) ||
        fail "no visible window titled '$title' within 30 s"
    [ "$(xdotool getwindowname "$window")" = "$title" ] || fail "window title is not '$title'"
    local colours
    for _ in $(seq 100); do
        colours=$(import -window "$window" png:- 2>/dev/null | identify -format %k - 2>/dev/null || true)
        [ "${colours:-0}" -gt 8 ] 2>/dev/null && return
        sleep 0.1
    done
    fail "the dialog was never drawn"
}

# Return presses the default button: Yes for a question, OK for a message.
# Escape closes a question with No.
press() {
    xdotool windowfocus --sync "$window"
    xdotool key "$@"
    for _ in $(seq 100); do
        kill -0 "$dialog_pid" 2>/dev/null || return 0
        sleep 0.1
    done
    fail "the dialog did not close on Return"
}

await_dialog "zenity
--question
--no-markup
--title=$caption
--text=$(message_text AskDesktop)"
mkdir -p "$(dirname "$shot")"
import -window root "$shot"
[ "$(identify -format %m "$shot")" = PNG ] || fail "no screenshot at $shot"
top=Desktop
if [ "$scenario" = picker ]; then
    press Escape
    await_dialog "zenity
--file-selection
--directory
--title=$picker_title
--filename=$home/" "$picker_title"
    # Typing a path opens the location field; Return takes the folder.
    xdotool windowfocus --sync "$window"
    xdotool key ctrl+l
    xdotool type --delay 20 '~/games/'
    press Return
    top=games
else
    press Return
fi

await_dialog "zenity
--info
--no-markup
--title=$caption
--text=$(printf '%b' "$(message_text Unpacked)")"
press Return

for _ in $(seq 300); do
    kill -0 "$installer_pid" 2>/dev/null || break
    sleep 0.1
done
! kill -0 "$installer_pid" 2>/dev/null || fail "the installer did not end within 30 s"
code=0
wait "$installer_pid" || code=$?
installer_pid=""
[ "$code" = 0 ] || fail "exit code $code, expected 0"
[ ! -s "$work/out" ] || fail "the installer printed (no terminal dialogs expected): $(cat "$work/out")"

# Exactly the package's files, nowhere else, with the package's bytes.
installed=$home/$top/Quorvel
[ -f "$installed/$(layout_path MarkerFiles 0)" ] || fail "$installed/$(layout_path MarkerFiles 0) is missing"
expected=$(sed -n "s|^file |./$top/Quorvel/|p" "$manifest" | LC_ALL=C sort)
actual=$(cd "$home" && find . -type f | LC_ALL=C sort)
[ -n "$expected" ] || fail "no files in $manifest"
[ "$actual" = "$expected" ] || fail "installed files differ:"$'\n'"$(diff <(echo "$expected") <(echo "$actual"))"
while IFS= read -r name; do
    cmp "$package/$name" "$installed/$name" || fail "$name differs from the package"
done < <(sed -n 's|^file ||p' "$manifest")
echo "PASS ($scenario): ask-desktop dialog shown ($shot), $(echo "$expected" | wc -l) files unpacked in $top"
