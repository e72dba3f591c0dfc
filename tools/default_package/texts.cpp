// The package's text files, in the made-up game's words: the library
// licence, the change log, the instructions, the readme and the version
// files, each to the exact size the package gives it.
#include <algorithm>
#include <cctype>
#include <cstring>
#include <utility>

#include "tools/default_package/generator.h"

namespace {

struct Vocabulary {
    const char* tag;
    const char* words;   // separated by '|'
};

const Vocabulary Words[] = {
    {"onset", "b|br|d|dr|f|g|gr|h|k|kl|l|m|n|p|pr|qu|r|s|sk|st|t|tr|v|w|z|th|sh"},
    {"vowel", "a|e|i|o|u|ai|ea|ou|y"},
    {"coda", "|||n|r|l|m|s|th|nd|rk|st|x|sk"},
    {"adj", "old|narrow|hidden|broken|heavy|quiet|glowing|rusted|crooked|damp|frozen|hollow|ancient|mossy|sunken"},
    {"thing", "door|lever|lantern|bridge|crystal|passage|chest|key|map|potion|rune|gate|tower|cellar|ledge|relic|well"},
    {"creature", "mossling|grubwhisker|fenhound|cinderbat|tallowmite|brackeel|slatejaw|murkfly|thornback|ashwren"},
    {"place", "Wendle Crossing|the Hesk Mire|Trovin Vale|the Ashen Stair|Coldmere|Bramble Holt|the Dravik Gate"},
    {"key", "W|S|A|D|E|Q|Space|Ctrl|Shift|Tab|F5|F9|Esc|the left mouse button"},
    {"verb", "open|light|pick up|push|pull|examine|climb|ring|unlock|read"},
    {"setting", "screen resolution|gamma|mouse sensitivity|music volume|texture detail|view distance|key bindings"},
    {"menu", "Options|Video|Audio|Controls|Game|Load Game|Save Game|Extras"},
    {"tech", "renderer|sound mixer|save game loader|map loader|config parser|input handler|texture cache|launcher"},
    {"problem", "a crash|a memory leak|a rare freeze|flickering|stuttering|wrong colours|missing sounds|a hang"},
    {"when", "when switching windows|on wide screens|after loading a quick save|on slow machines|while the map is open"},
    {"subject", "The Licensee|A Distributor|The Author|Any recipient|A Publisher|The holder of an Altered Copy"},
    {"modal", "may|shall|must not|is allowed to|agrees to|need not|is entitled to"},
    {"legal", "copy|hand out|change|link to|sell copies of|publish|translate|bundle|mirror|archive"},
    {"object", "the Library Files|an Altered Copy|a Host Program|the Original Files|the Compiled Files"},
    {"terms", "provided that this notice stays with every copy|subject to Section {num}|for any purpose|"
              "without asking the Author first|unless a separate written agreement says otherwise"},
    {"script", "play sound \"SN_{num}\"|set light {num}|open door {num} speed {num}|spawn {creature} at {num}|"
               "say \"{game}\""},
    {"game", "the {adj} {thing} in {place} leads to the {thing}.|press {key} to {verb} the {thing} in front of you.|"
             "some {creature}s only wake up when you carry a lit lantern.|look for a {adj} {thing} near {place}.|"
             "you can change the {setting} from the {menu} menu at any time.|a {adj} {thing} means a {creature}.|"
             "{place} is home to {num} kinds of {creature}, each with its own habits.|hold {key} to sneak.|"
             "the path to {place} stays closed until you {verb} the {adj} {thing}.|"
             "there are {num} {thing}s hidden in {place}; finding them all is optional."},
    {"change", "fixed {problem} in the {tech} {when}.|fixed {problem} {when}.|reduced the memory used by the {tech}.|"
               "improved the speed of the {tech} by about {num} percent.|added a new side area to {place}.|"
               "added an option to change the {setting} from the {menu} menu.|"
               "the {creature} no longer gets stuck behind the {adj} {thing} in {place}."},
    {"law", "{subject} {modal} {legal} {object} {terms}.|{subject} {modal} {legal} {object} {terms}.|"
            "a copy of these terms must travel with every copy of {object}.|"
            "if a court decides that Section {num} cannot be enforced, the remaining sections still apply.|"
            "where Section {num} and Section {num} disagree, the narrower reading is the one that counts."},
};

std::string pick_word(Rng& r, const char* words)
{
    int count = 1 + int(std::count(words, words + std::strlen(words), '|'));
    const char* start = words;
    for (int skip = int(below(r, uint32_t(count))); skip > 0; skip--)
        start = std::strchr(start, '|') + 1;
    return std::string(start, std::strcspn(start, "|"));
}

}  // namespace

std::string expand(Rng& r, std::string_view pattern)
{
    std::string out;
    for (size_t i = 0; i < pattern.size(); i++) {
        size_t close = pattern.find('}', i);
        if (pattern[i] != '{' || close == std::string_view::npos) {
            out += pattern[i];
            continue;
        }
        std::string_view tag = pattern.substr(i + 1, close - i - 1);
        std::string word = std::to_string(between(r, 2, 40));
        for (const Vocabulary& v : Words)
            if (tag == v.tag)
                word = pick_word(r, v.words);
        out += expand(r, word);
        i = close;
    }
    return out;
}

namespace {

// A text file: a header, then headed sections of shortest to longest bytes
// of sentences, the last one fitted to the file's size.
struct Document {
    const char* seed;
    const char* header;
    const char* heading;    // a pattern; # stands for the section's number
    int first, step;        // the first section's number, and how numbers go on
    const char* sentences;
    const char* indent;
    int shortest, longest;
};

const Document Documents[] = {
    {"licence", "BRACKMOOR LIBRARY USE TERMS\r\nRevision 2, for the runtime libraries shipped with Quorvel\r\n\r\n",
     "#. {legal} {object}", 1, 1, "{law}", "  ", 500, 1500},
    {"changelog", "QUORVEL CHANGE LOG\r\n==================\r\nNewest build first.\r\n\r\n", "build#\r\n--------", 128, -1,
     "{change}", "- ", 300, 700},
    {"instructions", "QUORVEL - HOW TO PLAY\r\n\r\nMove .......... W\r\nUse .......... E\r\nLantern ...... L\r\n"
     "Journal ...... J\r\nMap .......... Tab\r\nQuick save ... F5\r\nMenu ......... Esc\r\n\r\n",
     "Meeting {creature}s in {place}\r\n========", 0, 0, "{game}", "  ", 800, 2000},
    {"readme", "QUORVEL\r\nReadme for build128\r\n\r\nContents: the game, its two launchers, its data, the "
     "first map,\r\na desktop picture, the change log and the library terms.\r\n\r\n",
     "The {adj} {thing} and the {setting}\r\n====================", 0, 0, "{game}", "", 1200, 3000},
};

}  // namespace

Bytes text_file(int which, size_t size)
{
    const Document& d = Documents[which];
    Rng r = seeded(d.seed);
    std::string text = d.header;
    for (int number = d.first;; number += d.step) {
        std::string heading = expand(r, d.heading);
        if (heading.find('#') != std::string::npos)
            heading.replace(heading.find('#'), 1, std::to_string(number));
        heading += "\r\n\r\n";
        size_t body = size_t(between(r, d.shortest, d.longest)), left = size - text.size() - heading.size();
        if (left < body + size_t(d.longest) + 2)
            return bytes_of(text + heading + text_of_size(r, left, "\r\n", d.indent, d.sentences));
        text += heading + text_of_size(r, body, "\r\n", d.indent, d.sentences) + "\r\n";
    }
}

std::string made_up_word(Rng& r, int syllables)
{
    std::string word;
    for (int i = 0; i < syllables; i++)
        word += expand(r, i + 1 == syllables || chance(r, 30) ? "{onset}{vowel}{coda}" : "{onset}{vowel}");
    return word;
}

// Each draw in a statement of its own: the operands of + are unsequenced.
std::string person_name(Rng& r)
{
    std::string first = made_up_word(r, between(r, 1, 2));
    std::string last = made_up_word(r, between(r, 2, 3));
    first[0] = char(std::toupper(first[0]));
    last[0] = char(std::toupper(last[0]));
    return first + " " + last;
}

std::string sentence(Rng& r, std::string_view pattern)
{
    std::string text = expand(r, pattern);
    text[0] = char(std::toupper(uint8_t(text[0])));
    return text;
}

std::string text_of_size(Rng& r, size_t size, std::string_view eol, std::string_view indent,
                         std::string_view pattern)
{
    const size_t width = 72;
    std::string text, line(indent);
    while (text.size() + line.size() < size + width) {
        std::string words = sentence(r, pattern);
        for (size_t at = 0, end; at < words.size(); at = end + 1) {
            end = std::min(words.find(' ', at), words.size());
            if (line.size() > indent.size() && line.size() + end - at >= width)
                text += std::exchange(line, std::string(indent)) + std::string(eol);
            if (line.size() > indent.size())
                line += ' ';
            line += words.substr(at, end - at);
        }
        if (chance(r, 20))   // a paragraph ends
            text += std::exchange(line, std::string(indent)) + std::string(eol) + std::string(eol);
    }
    // Cut to the byte, ending in a line end like every other line.
    text += line;
    text.resize(size - eol.size());
    return text + std::string(eol);
}
