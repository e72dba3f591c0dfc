#!/bin/sh
# Stands in for zenity: records every call and answers from a script.
#   STAND_IN_CALLS    a folder; call N (from 0) leaves its arguments in the
#                     file N, each ended by a NUL byte
#                     A --progress call's standard input is kept in
#                     the file beside the folder named as it, plus
#                     "-progress".
#   STAND_IN_ANSWERS  a file; its line N+1 answers call N: an exit status,
#                     then optionally a space and a line to print; or
#                     "hang", as on a display that accepts the connection
#                     and never answers
set -eu
call=$(ls "$STAND_IN_CALLS" | wc -l)
printf '%s\0' "$@" >"$STAND_IN_CALLS/$call"
if [ "${1:-}" = --progress ]; then
    cat >"$STAND_IN_CALLS-progress"
fi
answer=$(sed -n "$((call + 1))p" "$STAND_IN_ANSWERS")
if [ "$answer" = hang ]; then
    exec sleep 600
fi
if [ -z "$answer" ]; then
    echo "zenity stand-in: no answer for call $call" >&2
    exit 98
fi
case $answer in
*" "*) printf '%s\n' "${answer#* }" ;;
esac
exit "${answer%% *}"
