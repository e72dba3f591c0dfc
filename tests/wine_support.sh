# Shared by the wine end-to-end scripts: an X server and wine prefix of the
# script's own, and a run of the installer whose dialogs are answered with
# xdotool. Message texts are read from wine's message box trace, and
# expected as installer/messages.h writes them.
# Callers set exe, then source this; failures are counted with fail() and
# reported by finish().

for tool in wine Xvfb xdotool import; do
    command -v "$tool" >/dev/null || { echo "FAIL: $tool is missing (Debian packages wine, xvfb, xdotool, imagemagick)"; exit 1; }
done

work=$(mktemp -d)
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# Ends the script: the failure count and status 1, or the passing line.
finish() {   # passing line
    if [ $failures -gt 0 ]; then
        echo "$failures failure(s)"
        exit 1
    fi
    echo "$1"
}

server=""
stop_session() {
    [ -n "$server" ] && kill "$server" 2>/dev/null
    [ -n "${WINEPREFIX:-}" ] && wineserver -k 2>/dev/null
    rm -rf "$work"
}
trap stop_session EXIT

# An X server on a display number of its own choosing (so that suites run
# side by side never share one) and a wine prefix: the one given in
# QUORVEL_WINE_PREFIX, made for QUORVEL_WINE_HOME, whose desktop is emptied
# (no other test may use it meanwhile), else a fresh one for the home
# folder given. The caller may set USER and LANG first; wine names the
# profile folder when it makes the prefix.
start_session() {   # home folder, for a fresh prefix
    local home=$1 prefix=$work/prefix
    if [ -n "${QUORVEL_WINE_PREFIX:-}" ]; then
        home=$QUORVEL_WINE_HOME prefix=$QUORVEL_WINE_PREFIX
        WINEPREFIX=$prefix wineserver -k 2>/dev/null
        rm -rf "$home/Desktop"
    fi
    mkdir -p "$home/Desktop"
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" >/dev/null 2>&1 &
    server=$!
    for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
    export DISPLAY=:$(head -1 "$work/display") HOME=$home WINEPREFIX=$prefix WINEDLLOVERRIDES="mscoree,mshtml="
    for _ in $(seq 50); do xdotool getdisplaygeometry >/dev/null 2>&1 && break; sleep 0.1; done
    if [ -z "${QUORVEL_WINE_PREFIX:-}" ]; then
        WINEDEBUG=-all timeout 180 wineboot --init >/dev/null 2>&1 || { echo "FAIL: wineboot"; exit 1; }
    fi
    # No window manager runs here: wine would wait 2 s for one to withdraw
    # each closed window, most of a run's time.
    WINEDEBUG=-all wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
    local profile
    profile=$(find "$WINEPREFIX/drive_c/users" -mindepth 1 -maxdepth 1 -type d ! -name Public | head -1)
    [ "$(readlink -f "$profile/Desktop")" = "$(readlink -f "$HOME/Desktop")" ] ||
        { echo "FAIL: the prefix's desktop is $(readlink -f "$profile/Desktop"), not $HOME/Desktop"; exit 1; }
}

# Presses key in window until the window is gone: a window can be listed a
# moment before it takes the focus. Wine may keep a closed box's window,
# hidden, for a while; a key pressed then would answer the next box.
press_until_gone() {   # window, key
    for _ in $(seq 50); do
        xdotool search --onlyvisible --name '' 2>/dev/null | grep -qx "$1" || return 0
        xdotool windowfocus --sync "$1" key "$2" 2>/dev/null
        sleep 0.2
    done
}

# Waits for a visible window named name other than previous; prints its id.
find_window() {   # name, previous window
    local window
    for _ in $(seq 600); do
        window=$(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | grep -vx "${2:-none}" | head -1)
        [ -n "$window" ] && { echo "$window"; return 0; }
        sleep 0.1
    done
    return 1
}

# The folder picker, driven by the keyboard: the focus moves from OK to the
# tree, the folder name (a child of the desktop) is typed to select it, then
# Right twice per level opens a folder and steps to its only child; Return
# is OK. Without a name, Escape cancels.
answer_picker() {   # [folder name, levels below it]
    local window
    window=$(find_window "Browse for Folder") || { fail "$name: the folder picker never appeared"; return 1; }
    if [ $# -eq 0 ]; then
        press_until_gone "$window" Escape
        return 0
    fi
    sleep 0.5
    xdotool windowfocus --sync "$window" key shift+Tab
    xdotool type --delay 50 "$1"
    for _ in $(seq "$2"); do xdotool key --delay 100 Right Right; done
    import -window root "$artefacts/wine-picker-$name.png"
    press_until_gone "$window" Return
}

# Runs the installer with its answers, tracing wine's channels in trace as
# well (its log is $work/NAME.log). Steps, each a word and its arguments:
#   yes CAPTION TEXT        a message box, answered with Return (Yes or OK)
#   no CAPTION TEXT         a Yes/No box, answered No
#   press KEY CAPTION TEXT  a box answered with KEY (y, r, Escape...).
#                           Wine may hand a box's last key on to the box
#                           that follows at once, so such boxes are
#                           answered with keys the next one ignores.
#   while COMMAND           COMMAND runs once the next box is up, before
#                           it is answered
#   pick FOLDER LEVELS      the folder picker, see answer_picker
#   cancel                  the folder picker, cancelled
# Every box's text must be TEXT as wine's trace shows it, and no box may
# come beyond those listed. Sets status to the exit code.
run() {   # name, steps...
    name=$1; shift
    local log=$work/$name.log
    WINEDEBUG=trace+msgbox${trace:+,$trace} timeout 300 wine "$exe" >/dev/null 2>"$log" &
    local pid=$! seen=0 previous="" action=""
    while [ $# -gt 0 ]; do
        local kind=$1 key=Return; shift
        case $kind in
        no) key=n ;;
        press) key=$1; shift ;;
        while) action=$1; shift; continue ;;
        pick) answer_picker "$1" "$2" || { kill $pid; wait $pid; status=-1; return; }; shift 2; continue ;;
        cancel) answer_picker || { kill $pid; wait $pid; status=-1; return; }; continue ;;
        esac
        local caption=$1 text=$2 window=""; shift 2
        for _ in $(seq 600); do
            window=$(xdotool search --onlyvisible --name "^$caption\$" 2>/dev/null | grep -vx "${previous:-none}" | head -1)
            [ -n "$window" ] && [ "$(grep -c MSGBOX_OnInit "$log")" -gt "$seen" ] && break
            window=""; sleep 0.1
        done
        seen=$((seen + 1))
        [ -n "$window" ] || { fail "$name: box $seen ($caption) never appeared"; kill $pid; wait $pid; status=-1; return; }
        local shown
        shown=$(grep MSGBOX_OnInit "$log" | sed -n "${seen}p" | sed 's/.*MSGBOX_OnInit //')
        [ "$shown" = "$text" ] || fail "$name: box $seen said $shown, expected $text"
        [ -f "$artefacts/wine-ask-desktop.png" ] || import -window root "$artefacts/wine-ask-desktop.png"
        [ -z "$action" ] || { eval "$action"; action=""; }
        press_until_gone "$window" "$key"
        previous=$window
    done
    # A dialog nobody answers would hold the run to its timeout.
    for _ in $(seq 600); do kill -0 $pid 2>/dev/null || break; sleep 0.1; done
    kill -0 $pid 2>/dev/null && { fail "$name: still running a minute after its last answer"; kill $pid; }
    wait $pid
    status=$?
    # A manifest wine cannot read is dropped silently, and with it the code
    # page, DPI and long-path settings.
    grep -q "failed to parse manifest" "$log" && fail "$name: wine could not read the program's manifest"
    local extra
    extra=$(grep -c MSGBOX_OnInit "$log")
    [ "$extra" -eq "$seen" ] || fail "$name: $extra boxes shown, expected $seen"
}

same_tree() {   # folder: it holds exactly the package's files, and nothing half-written
    diff -r --exclude=package.manifest "$package" "$1" >/dev/null &&
        [ -z "$(find "$1" -name '*.quorvel-part')" ]
}

source "$(dirname "${BASH_SOURCE[0]}")/header_texts.sh"
package_caption=$(message_text PackageCaption)
patch_caption=$(message_text PatchCaption)
ask_desktop="L\"$(message_text AskDesktop)\""
found="L\"$(message_text Found)\""
unpacked="L\"$(message_text Unpacked)\""
patched="L\"$(message_text Patched)\""
older="L\"$(message_text Older)\""
marker=$(layout_path MarkerFiles 0) picture=$(layout_path MarkerFiles 1) exec_ver=$(layout_path VersionFiles 0)
fast=$(layout_path RetiredLaunchers 0) smooth=$(layout_path RetiredLaunchers 1)
# The in-use box as the trace shows it for the file at path (as the program
# names it, backslashes single).
in_use_box() {   # path
    echo "L\"$(message_text InUse)${1//\\/\\\\}$(message_text InUseClosing)\""
}
