# What the shell tests take from the headers, so that each is written once.
# message_text NAME prints the string literals of NAME's definition in
# installer/messages.h joined, with their C escapes kept (\n, \") as wine's
# traces show them too; layout_path NAME INDEX prints the string at INDEX
# of the array NAME in package/layout.h.
headers=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

header_strings() {   # header, name: the literals of name's definition, a line each
    awk -v name="$2" '
        !on && $0 ~ "constexpr .*[ *]" name "(\\[[0-9]*\\])? =" { on = 1 }
        on {
            line = $0
            while (match(line, /"([^"\\]|\\.)*"/)) {
                print substr(line, RSTART + 1, RLENGTH - 2)
                line = substr(line, RSTART + RLENGTH)
            }
            if ($0 ~ /;[ \t]*(\/\/.*)?$/) { found = 1; exit }
        }
        END { if (!found) exit 1 }
    ' "$headers/$1"
}

message_text() {   # name
    header_strings installer/messages.h "$1" | tr -d '\n'
}

layout_path() {   # array name, index
    header_strings package/layout.h "$1" | sed -n "$(($2 + 1))p"
}
