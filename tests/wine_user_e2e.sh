#!/usr/bin/env bash
# The real Windows executable under wine, run by a user whose name lies
# outside the system's code page: Дмитрий on a Western (code page 1252)
# system, with a home folder of that name too. A fresh install on the
# desktop, C:\users\Дмитрий\Desktop, and an update of it.
# usage: wine_user_e2e.sh QUORVEL_PACKAGE_EXE DEFAULT_PACKAGE_DIR ARTEFACT_DIR
set -uo pipefail
exe=$1 package=$2 artefacts=$3
source "$(dirname "$0")/wine_support.sh"
mkdir -p "$artefacts"
user=Дмитрий
# UTF-8 so that wine reads the name right; the C locale is a Western system
# to wine, code page 1252.
export USER=$user LOGNAME=$user LC_ALL=C.UTF-8
start_session "$work/$user"
WINEDEBUG=-all wineserver -w   # the registry reaches its files when the server exits

# The case this is about: the name really is the profile's, and the
# system's code page has no Cyrillic letters.
profile=$WINEPREFIX/drive_c/users/$user
[ -d "$profile" ] || { echo "FAIL: wine made no profile folder for $user: $(ls "$WINEPREFIX/drive_c/users")"; exit 1; }
grep -q '"ACP"="1252"' "$WINEPREFIX/system.reg" || { echo "FAIL: the prefix's ANSI code page is not 1252"; exit 1; }
[ "$(readlink -f "$profile/Desktop")" = "$(readlink -f "$HOME/Desktop")" ] ||
    { echo "FAIL: the profile's desktop is not $HOME/Desktop"; exit 1; }

run fresh yes "$package_caption" "$ask_desktop" yes "$package_caption" "$unpacked"
[ "$status" -eq 0 ] || fail "fresh install exited $status"
same_tree "$profile/Desktop/Quorvel" || fail "fresh install: C:\\users\\$user\\Desktop\\Quorvel differs from the package"

top=$HOME/Desktop/Quorvel
echo "old" >"$top/dravik/hesk.wad"
echo "fast" >"$top/$fast"
run update yes "$package_caption" "$ask_desktop" yes "$package_caption" "$found" yes "$patch_caption" "$patched"
[ "$status" -eq 0 ] || fail "update exited $status"
same_tree "$top" || fail "update: the tree differs from the package"

finish "wine end to end, user $user: all passed"
