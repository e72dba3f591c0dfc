# The installer's texts for the shell tests, read from installer/messages.h
# so that they are written once. message_text NAME prints the string
# literals of NAME's definition joined, with their C escapes kept (\n, \")
# as wine's traces show them too.
messages_header=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)/installer/messages.h
message_text() {   # name
    awk -v name="$1" '
        !on && $0 ~ "constexpr (Message|char) " name "(\\[\\])? =" { on = 1 }
        on {
            line = $0
            while (match(line, /"([^"\\]|\\.)*"/)) {
                text = text substr(line, RSTART + 1, RLENGTH - 2)
                line = substr(line, RSTART + RLENGTH)
            }
            if ($0 ~ /;[ \t]*(\/\/.*)?$/) { print text; found = 1; exit }
        }
        END { if (!found) exit 1 }
    ' "$messages_header"
}
