// Vocabulary and sentence makers: the made-up game's words, its help texts,
// change notes and licence clauses, and filler fitted to an exact length.
#include "tools/default_package/words.h"

#include <algorithm>
#include <vector>

#include "tools/default_package/bytes.h"

namespace {

constexpr std::string_view kFillWords[] = {
    "a", "an", "as", "at", "by", "if", "in", "it", "of", "on", "or", "to", "up",
    "and", "any", "can", "day", "far", "few", "key", "map", "new", "old", "one", "the", "two", "way",
    "also", "door", "each", "fast", "game", "keep", "lamp", "mist", "once", "path", "rope", "slow",
    "soon", "tide", "wall", "again", "cloud", "ember", "field", "heavy", "later", "level", "light",
    "quiet", "stone", "storm", "torch", "water", "amount", "bridge", "candle", "castle", "corner",
    "hollow", "marrow", "meadow", "player", "screen", "window", "harbour", "journal", "lantern",
    "machine", "options", "village", "weather", "creature", "darkness", "entrance", "evenings",
    "keyboard", "location", "settings", "woodland", "adventure", "character", "difficult",
    "inventory", "otherwise", "something", "waterfall", "atmosphere", "background", "difficulty",
    "everything", "throughout", "underneath", "alternative", "environment", "information",
    "performance", "temperature", "installation", "instructions", "occasionally", "requirements",
};
constexpr std::size_t kLongestFillWord = 12;

constexpr std::string_view kAdjectives[] = {
    "old", "narrow", "hidden", "broken", "heavy", "quiet", "glowing", "rusted", "crooked", "damp",
    "frozen", "hollow", "ancient", "bright", "dark", "slippery", "wooden", "iron", "mossy", "sunken",
    "overgrown", "cracked", "silent", "painted",
};
constexpr std::string_view kThings[] = {
    "door", "lever", "lantern", "bridge", "crystal", "passage", "stairway", "chest", "key", "map",
    "shield", "spear", "potion", "rune", "gate", "tower", "cellar", "cavern", "ledge", "portal",
    "relic", "scroll", "amulet", "barrel", "crate", "well", "trapdoor", "statue", "banner", "mirror",
    "candle", "rope", "bell", "raft",
};
constexpr std::string_view kPlaces[] = {
    "Wendle Crossing", "the Hesk Mire", "Trovin Vale", "the Ashen Stair", "Coldmere",
    "the Sunken Archive", "Bramble Holt", "the Dravik Gate", "Lowfen", "the Tallow Mines",
};
constexpr std::string_view kTech[] = {
    "renderer", "sound mixer", "save game loader", "map loader", "config parser", "input handler",
    "texture cache", "music player", "menu system", "launcher", "collision code", "particle system",
    "font renderer", "joystick code", "gamma correction", "resolution list", "demo recorder",
    "script interpreter", "path finder", "lighting code", "archive reader", "entity spawner", "console",
};
constexpr std::string_view kProblems[] = {
    "a crash", "a memory leak", "a rare freeze", "flickering", "stuttering", "wrong colours",
    "missing sounds", "a division by zero", "an off-by-one error", "slow loading", "a hang",
    "garbled text", "lost key bindings", "corrupted saves", "an endless loop", "a black screen",
    "clipping through walls", "doubled footsteps",
};
constexpr std::string_view kWhen[] = {
    "when switching windows", "on wide screens", "after loading a quick save",
    "with several joysticks attached", "when the lantern runs out of oil", "in the Hesk Mire",
    "on slow machines", "when the window is resized", "while the map is open",
    "at very low frame rates", "with the music volume at zero", "when the disk is full",
    "on the second visit to Coldmere", "after a long play session", "when two creatures collide",
};
constexpr std::string_view kSettings[] = {
    "screen resolution", "gamma", "mouse sensitivity", "music volume", "effects volume",
    "texture detail", "view distance", "subtitle size", "key bindings", "frame rate limit",
    "field of view", "language",
};
constexpr std::string_view kMenus[] = {
    "Options", "Video", "Audio", "Controls", "Game", "Load Game", "Save Game", "Extras",
};
constexpr std::string_view kFiles[] = {
    "hesk.wad", "trovin.wad", "wendle.map", "data.ver", "exec.ver", "config file", "save files",
    "mossling.png",
};
constexpr std::string_view kNoises[] = {
    "clicking", "wet", "low humming", "rattling", "whistling", "scraping", "bubbling",
};
constexpr std::string_view kPlayerVerbs[] = {
    "open", "light", "pick up", "push", "pull", "examine", "climb", "ring", "unlock", "read",
};
constexpr std::string_view kCreatureVerbs[] = {
    "charges", "hisses", "burrows", "circles you", "spits", "calls for help", "hides", "flees",
};
constexpr std::string_view kThingVerbs[] = {
    "opens", "guards", "hides", "blocks", "lights", "reveals", "drains", "unlocks", "protects",
    "leads to", "faces", "overlooks",
};
constexpr std::string_view kKeys[] = {
    "W", "S", "A", "D", "E", "Q", "Space", "Ctrl", "Shift", "Tab", "F5", "F9", "Esc",
    "the left mouse button", "the right mouse button", "the mouse wheel",
};
constexpr std::string_view kFolders[] = {"playerdata", "saves", "screenshots", "dravik"};

// Vocabulary of the made-up library licence.
constexpr std::string_view kLegalSubjects[] = {
    "The Licensee", "A Distributor", "The Author", "Any recipient", "A Publisher",
    "The holder of an Altered Copy",
};
constexpr std::string_view kLegalModals[] = {
    "may", "shall", "must not", "is allowed to", "agrees to", "need not", "is entitled to",
};
constexpr std::string_view kLegalVerbs[] = {
    "copy", "hand out", "change", "link to", "sell copies of", "publish", "translate", "bundle",
    "mirror", "archive",
};
constexpr std::string_view kLegalObjects[] = {
    "the Library Files", "an Altered Copy", "a Host Program", "the Original Files",
    "the Compiled Files", "the accompanying notes", "the installer package",
};
constexpr std::string_view kLegalConditions[] = {
    "provided that this notice stays with every copy", "subject to Section {sec}",
    "without asking the Author first", "for any purpose, paid or unpaid",
    "only if each change is dated and signed", "as long as the recipient is told where the Original Files can be found",
    "unless a separate written agreement says otherwise", "in the manner set out in Section {sec}",
    "within thirty days of a written request", "at no charge beyond the cost of the medium",
};
constexpr std::string_view kLegalCarriers[] = {"archive", "disc", "download", "bundle", "mirror site"};

std::string tag_value(Rng& r, std::string_view tag) {
    if (tag == "adj") return std::string(pick(r, kAdjectives));
    if (tag == "thing") return std::string(pick(r, kThings));
    if (tag == "creature") return std::string(pick(r, kCreatures));
    if (tag == "place") return std::string(pick(r, kPlaces));
    if (tag == "tech") return std::string(pick(r, kTech));
    if (tag == "problem") return std::string(pick(r, kProblems));
    if (tag == "when") return std::string(pick(r, kWhen));
    if (tag == "setting") return std::string(pick(r, kSettings));
    if (tag == "menu") return std::string(pick(r, kMenus));
    if (tag == "file") return std::string(pick(r, kFiles));
    if (tag == "noise") return std::string(pick(r, kNoises));
    if (tag == "pverb") return std::string(pick(r, kPlayerVerbs));
    if (tag == "cverb") return std::string(pick(r, kCreatureVerbs));
    if (tag == "tverb") return std::string(pick(r, kThingVerbs));
    if (tag == "key") return std::string(pick(r, kKeys));
    if (tag == "folder") return std::string(pick(r, kFolders));
    if (tag == "subject") return std::string(pick(r, kLegalSubjects));
    if (tag == "modal") return std::string(pick(r, kLegalModals));
    if (tag == "lverb") return std::string(pick(r, kLegalVerbs));
    if (tag == "object") return std::string(pick(r, kLegalObjects));
    if (tag == "carrier") return std::string(pick(r, kLegalCarriers));
    if (tag == "num") return std::to_string(between(r, 2, 40));
    if (tag == "sec") return std::to_string(between(r, 1, 12));
    die("internal error: unknown template tag {" + std::string(tag) + "}");
}

// "a" before a vowel-initial word becomes "an"; templates cannot know which
// word will fill a slot.
std::string fix_articles(std::string s) {
    auto vowel = [](char c) { return std::string_view("aeiouAEIOU").find(c) != std::string_view::npos; };
    for (std::size_t i = 0; i + 2 < s.size(); ++i) {
        const bool word_start = i == 0 || s[i - 1] == ' ';
        if (word_start && (s[i] == 'a' || s[i] == 'A') && s[i + 1] == ' ' && vowel(s[i + 2])) s.insert(i + 1, "n");
    }
    return s;
}

const std::vector<std::vector<std::string_view>>& words_by_length() {
    static const std::vector<std::vector<std::string_view>> table = [] {
        std::vector<std::vector<std::string_view>> t(kLongestFillWord + 1);
        for (std::string_view w : kFillWords) t[w.size()].push_back(w);
        for (std::size_t n = 1; n <= kLongestFillWord; ++n)
            if (t[n].empty()) die("internal error: no filler word of length " + std::to_string(n));
        return t;
    }();
    return table;
}

}  // namespace

std::string capitalise(std::string s) {
    if (!s.empty() && s[0] >= 'a' && s[0] <= 'z') s[0] = static_cast<char>(s[0] - 'a' + 'A');
    return s;
}

std::string upper(std::string s) {
    for (char& c : s)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return s;
}

std::string lower(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

std::string syllable_word(Rng& r, int syllables) {
    static constexpr std::string_view kOnsets[] = {"b", "br", "d", "dr", "f", "g", "gr", "h", "k", "kl",
                                                   "l", "m", "n", "p", "pr", "qu", "r", "s", "sk", "st",
                                                   "t", "tr", "v", "w", "z", "th", "sh"};
    static constexpr std::string_view kVowels[] = {"a", "e", "i", "o", "u", "ai", "ea", "ou", "y"};
    static constexpr std::string_view kCodas[] = {"", "", "", "n", "r", "l", "m", "s", "th", "nd",
                                                  "rk", "st", "x", "sk"};
    std::string w;
    for (int i = 0; i < syllables; ++i) {
        w += pick(r, kOnsets);
        w += pick(r, kVowels);
        if (i + 1 == syllables || chance(r, 30)) w += pick(r, kCodas);
    }
    return w;
}

// Every random draw gets its own statement: the operands of + are
// unsequenced, and compilers really do evaluate them in different orders.
std::string person_name(Rng& r) {
    const std::string first = capitalise(syllable_word(r, between(r, 1, 2)));
    return first + " " + capitalise(syllable_word(r, between(r, 2, 3)));
}

// Expands {tag} placeholders; a tag may expand to text with further tags.
std::string expand(Rng& r, std::string_view pattern) {
    std::string out;
    for (std::size_t i = 0; i < pattern.size();) {
        if (pattern[i] != '{') {
            out += pattern[i++];
            continue;
        }
        const std::size_t close = pattern.find('}', i);
        out += expand(r, tag_value(r, pattern.substr(i + 1, close - i - 1)));
        i = close + 1;
    }
    return out;
}

std::string game_sentence(Rng& r) {
    static constexpr std::string_view kPatterns[] = {
        "the {adj} {thing} in {place} {tverb} the {thing}.",
        "press {key} to {pverb} the {thing} in front of you.",
        "some {creature}s only wake up when you carry a lit lantern.",
        "if a {creature} {cverb}, step back and wait for it to tire.",
        "you can change the {setting} from the {menu} menu at any time.",
        "saved games are kept in the {folder} folder next to the game.",
        "most {thing}s can be moved, but the {adj} ones are too heavy to carry.",
        "look for a {adj} {thing} near the entrance of {place}.",
        "the game remembers your {setting} between sessions.",
        "on slower machines, lower the {setting} to keep the game smooth.",
        "{place} is home to {num} kinds of {creature}, each with its own habits.",
        "listen carefully: a {creature} makes a {noise} sound before it moves.",
        "when your lantern burns low, head back to the nearest {thing} to refill it.",
        "a {adj} {thing} usually means that a {creature} is close.",
        "hold {key} while you {pverb} a {thing} to do it quietly.",
        "the path to {place} stays closed until you {pverb} the {adj} {thing}.",
        "every {thing} you find is listed in the journal with a short note.",
        "there are {num} {thing}s hidden in {place}; finding them all is optional.",
        "the {creature} avoids light, so keep your lantern trimmed {when}.",
        "each {thing} in the journal shows where you found it and what it is for.",
        "you will hear {noise} noises near {place} long before you see anything.",
        "nobody in {place} remembers who built the {adj} {thing}, but everyone has a theory.",
        "a short rest by a {thing} restores some strength, though never all of it.",
        "the {menu} menu also lets you turn off the {setting} if it distracts you.",
        "trade a {thing} with the ferryman to reach {place} without getting wet.",
        "mark a {thing} on the map with {key} and it stays marked until you remove it.",
        "{creature}s travel in pairs in {place}, and one of them always keeps watch.",
        "the weather changes while you play, and rain makes every {thing} harder to {pverb}.",
    };
    static constexpr std::string_view kOpeners[] = {
        "later on, ", "in most cases ", "remember that ", "as a rule, ", "early in the game ",
        "be warned: ", "if you get stuck, note that ", "oddly enough, ",
    };
    std::string text = expand(r, pick(r, kPatterns));
    if (chance(r, 25)) text = std::string(pick(r, kOpeners)) + text;
    return capitalise(fix_articles(text));
}

std::string change_item(Rng& r) {
    static constexpr std::string_view kPatterns[] = {
        "fixed {problem} in the {tech} {when}.",
        "fixed {problem} {when}.",
        "improved the speed of the {tech} by about {num} percent.",
        "added an option to change the {setting} from the {menu} menu.",
        "added {num} new {creature} sounds.",
        "added a new side area to {place}.",
        "changed the {adj} {thing} in {place} so it is easier to spot.",
        "removed an unused {thing} from {place}.",
        "tweaked {creature} behaviour so they {cverb} less often.",
        "the {tech} now recovers from {problem} without stopping the game.",
        "updated the format of the {file}; old files are converted on first start.",
        "reduced the memory used by the {tech}.",
        "reworded several messages in the {menu} menu.",
        "sped up loading of the {file}.",
        "the {setting} is now saved {when}.",
        "moved the {adj} {thing} in {place} closer to the path.",
        "{tech}: fixed {problem} {when}.",
        "{tech}: removed {num} obsolete checks.",
        "the {creature} no longer gets stuck behind the {adj} {thing} in {place}.",
        "lowered the volume of {noise} sounds in {place}.",
        "new default for the {setting}; existing settings are kept.",
        "the journal now lists every {thing} found in {place}.",
        "saving {when} no longer causes {problem}.",
        "fewer {creature}s appear in {place} on the easiest difficulty.",
        "added tooltips to the {menu} menu.",
        "rebalanced the {creature}: it now {cverb} after {num} seconds instead of at once.",
    };
    std::string text = expand(r, pick(r, kPatterns));
    if (chance(r, 12)) text += " Thanks to " + person_name(r) + " for the report.";
    else if (chance(r, 8)) text += " (issue " + std::to_string(between(r, 100, 2999)) + ")";
    return capitalise(fix_articles(text));
}

std::string legal_sentence(Rng& r) {
    static constexpr std::string_view kPatterns[] = {
        "{subject} {modal} {lverb} {object} {cond}.",
        "{subject} {modal} {lverb} {object} {cond}.",
        "a copy of these terms must travel with every {carrier} that contains {object}.",
        "the Author gives no promise that {object} will suit any purpose, and the Licensee carries the whole risk of using it.",
        "if a court decides that a clause of Section {sec} cannot be enforced, the remaining sections still apply.",
        "these terms end at once for anyone who breaks Section {sec}, but people who received copies earlier keep their rights.",
        "where Section {sec} and Section {sec} disagree, the narrower reading is the one that counts.",
        "for the purposes of Section {sec}, one {carrier} counts as a single copy.",
        "nothing in Section {sec} takes away a right that the law gives to the users of {object} anyway.",
        "notes added to {object} must say who made them and when.",
        "a Host Program that only calls into the Library Files is not itself an Altered Copy.",
        "{subject} who receives a request under Section {sec} has {num} days to answer it in writing.",
        "the Author may publish later revisions of these terms, and each revision will carry its own number.",
        "any payment asked for {object} must cover only the real cost of making the copy.",
        "the names Brackmoor and Quorvel are not licensed by these terms and may not be used to promote {object}.",
        "{subject} {modal} remove the notices described in Section {sec} from {object}.",
        "when {object} is shipped on a {carrier}, the terms may be placed in a separate text file.",
    };
    static constexpr std::string_view kOpeners[] = {
        "except as stated in Section {sec}, ", "in addition, ", "for clarity, ", "subject to these terms, ",
        "to the extent the law allows, ",
    };
    std::string pattern(pick(r, kPatterns));
    const std::size_t at = pattern.find("{cond}");
    if (at != std::string::npos) pattern.replace(at, 6, pick(r, kLegalConditions));
    std::string text = expand(r, pattern);
    if (chance(r, 30)) text = expand(r, pick(r, kOpeners)) + lower(text.substr(0, 1)) + text.substr(1);
    return capitalise(fix_articles(text));
}

std::string words_exact(Rng& r, std::size_t n) {
    const auto& by_length = words_by_length();
    std::string out;
    for (;;) {
        const std::size_t room = n - out.size();
        if (room <= kLongestFillWord) {
            const auto& fits = by_length[room];
            out += fits[below(r, u32(fits.size()))];
            return out;
        }
        // Leave at least three letters so the text does not end in a lone "a".
        const std::size_t limit = std::min<std::size_t>(9, room - 4);
        std::string_view w = pick(r, kFillWords);
        while (w.size() > limit) w = pick(r, kFillWords);
        out += w;
        out += ' ';
    }
}
