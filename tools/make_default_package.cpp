// make-default-package OUTDIR
//
// Writes the default Quorvel package (the fourteen game files and
// package.manifest) that the installer build embeds as its payload. Every byte
// is synthesised from fixed seeds, so the payload is reproducible without
// keeping large binaries in the tree, while still looking like real game data
// to the compressor: code, string tables, textures, sound, text and data that
// is already compressed.

#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <initializer_list>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

[[noreturn]] void die(const std::string& message) {
    std::fprintf(stderr, "make-default-package: %s\n", message.c_str());
    std::exit(1);
}

// ======================================================================
// Deterministic randomness

struct Rng {
    std::uint64_t state;
};

// splitmix64: tiny, fast and identical on every platform.
std::uint64_t next_u64(Rng& r) {
    r.state += 0x9E3779B97F4A7C15ull;
    std::uint64_t z = r.state;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

std::uint32_t next_u32(Rng& r) { return static_cast<std::uint32_t>(next_u64(r) >> 32); }

// Multiply-shift instead of std:: distributions, whose output differs
// between standard library implementations.
std::uint32_t below(Rng& r, std::uint32_t n) {
    return static_cast<std::uint32_t>((std::uint64_t{next_u32(r)} * n) >> 32);
}

int between(Rng& r, int lo, int hi) {
    return lo + static_cast<int>(below(r, static_cast<std::uint32_t>(hi - lo + 1)));
}

std::size_t between_z(Rng& r, std::size_t lo, std::size_t hi) {
    return lo + below(r, static_cast<std::uint32_t>(hi - lo + 1));
}

bool chance(Rng& r, std::uint32_t percent) { return below(r, 100) < percent; }

// Each file gets its own stream so that changing one generator leaves the
// bytes of all the others untouched.
Rng seeded(std::string_view tag) {
    std::uint64_t h = 0xCBF29CE484222325ull;
    for (char c : tag) {
        h ^= static_cast<unsigned char>(c);
        h *= 0x100000001B3ull;
    }
    return Rng{h};
}

template <typename T, std::size_t N>
const T& pick(Rng& r, const T (&items)[N]) {
    return items[below(r, static_cast<std::uint32_t>(N))];
}

// Position-keyed noise, so pictures do not depend on drawing order.
std::uint32_t lattice(std::uint32_t seed, int x, int y) {
    Rng r{(std::uint64_t{seed} << 40) ^
          (std::uint64_t{static_cast<std::uint32_t>(x)} << 20) ^ static_cast<std::uint32_t>(y)};
    return next_u32(r);
}

// Bilinear value noise in 0..255; integer only so results never depend on libm.
int value_noise(std::uint32_t seed, int x, int y, int cell) {
    const int cx = x / cell, cy = y / cell, fx = x % cell, fy = y % cell;
    const int a = static_cast<int>(lattice(seed, cx, cy) & 255u);
    const int b = static_cast<int>(lattice(seed, cx + 1, cy) & 255u);
    const int c = static_cast<int>(lattice(seed, cx, cy + 1) & 255u);
    const int d = static_cast<int>(lattice(seed, cx + 1, cy + 1) & 255u);
    const int top = a * (cell - fx) + b * fx;
    const int bottom = c * (cell - fx) + d * fx;
    return (top * (cell - fy) + bottom * fy) / (cell * cell);
}

// Sine with a 16-bit phase and a +-32767 result (Bhaskara's rational
// approximation); libm's sin may round differently between machines.
int isin(std::uint32_t phase) {
    phase &= 0xFFFFu;
    const bool negative = phase >= 0x8000u;
    const std::int64_t x = phase & 0x7FFFu;
    const std::int64_t p = 0x8000;
    const std::int64_t num = 16 * x * (p - x);
    const std::int64_t den = 5 * p * p - 4 * x * (p - x);
    const int v = static_cast<int>(num * 32767 / den);
    return negative ? -v : v;
}

int clamp_int(int v, int lo, int hi) { return std::min(hi, std::max(lo, v)); }

// ======================================================================
// Byte buffers

void put8(Bytes& b, std::uint32_t v) { b.push_back(static_cast<std::uint8_t>(v & 0xFFu)); }
void put16(Bytes& b, std::uint32_t v) {
    put8(b, v);
    put8(b, v >> 8);
}
void put32(Bytes& b, std::uint32_t v) {
    put16(b, v & 0xFFFFu);
    put16(b, v >> 16);
}
void put64(Bytes& b, std::uint64_t v) {
    put32(b, static_cast<std::uint32_t>(v));
    put32(b, static_cast<std::uint32_t>(v >> 32));
}
void put_s16(Bytes& b, int v) { put16(b, static_cast<std::uint32_t>(v) & 0xFFFFu); }
void put_s32(Bytes& b, int v) { put32(b, static_cast<std::uint32_t>(v)); }

void put_text(Bytes& b, std::string_view s) {
    for (char c : s) put8(b, static_cast<unsigned char>(c));
}
void put_textz(Bytes& b, std::string_view s) {
    put_text(b, s);
    put8(b, 0);
}
void put_fixed(Bytes& b, std::string_view s, std::size_t width) {
    for (std::size_t i = 0; i < width; ++i) put8(b, i < s.size() ? static_cast<unsigned char>(s[i]) : 0u);
}
void put_utf16z(Bytes& b, std::string_view s) {
    for (char c : s) put16(b, static_cast<unsigned char>(c));
    put16(b, 0);
}
void append(Bytes& b, const Bytes& more) { b.insert(b.end(), more.begin(), more.end()); }

std::size_t align_up(std::size_t v, std::size_t a) { return (v + a - 1) / a * a; }
void pad_to(Bytes& b, std::size_t size, std::uint8_t fill = 0) {
    if (b.size() < size) b.resize(size, fill);
}
void align_to(Bytes& b, std::size_t a, std::uint8_t fill = 0) { pad_to(b, align_up(b.size(), a), fill); }

void poke16(Bytes& b, std::size_t at, std::uint32_t v) {
    b[at] = static_cast<std::uint8_t>(v & 0xFFu);
    b[at + 1] = static_cast<std::uint8_t>((v >> 8) & 0xFFu);
}
void poke32(Bytes& b, std::size_t at, std::uint32_t v) {
    poke16(b, at, v & 0xFFFFu);
    poke16(b, at + 2, v >> 16);
}
void poke64(Bytes& b, std::size_t at, std::uint64_t v) {
    poke32(b, at, static_cast<std::uint32_t>(v));
    poke32(b, at + 4, static_cast<std::uint32_t>(v >> 32));
}

std::uint32_t u32(std::size_t v) { return static_cast<std::uint32_t>(v); }

Bytes to_bytes(std::string_view s) {
    Bytes b;
    put_text(b, s);
    return b;
}

Bytes zlib_compress(const Bytes& in, int level) {
    uLongf out_size = compressBound(static_cast<uLong>(in.size()));
    Bytes out(out_size);
    if (compress2(out.data(), &out_size, in.data(), static_cast<uLong>(in.size()), level) != Z_OK)
        die("internal error: zlib compress2 failed");
    out.resize(out_size);
    return out;
}

std::uint32_t crc_of(const std::uint8_t* data, std::size_t size) {
    return static_cast<std::uint32_t>(crc32(crc32(0L, Z_NULL, 0), data, static_cast<uInt>(size)));
}

// ======================================================================
// Words and text

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
constexpr std::string_view kCreatures[] = {
    "mossling", "grubwhisker", "fenhound", "cinderbat", "tallowmite", "brackeel", "husk walker",
    "slatejaw", "murkfly", "thornback", "reedcrawler", "ashwren",
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

using SentenceFn = std::string (*)(Rng&);

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

// Words separated by single spaces, exactly n characters long (n >= 1).
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

std::vector<std::string> wrap(std::string_view text, std::string_view first, std::string_view rest,
                              std::size_t width = 72) {
    std::vector<std::string> lines;
    std::string line(first);
    bool empty = true;
    std::size_t i = 0;
    while (i < text.size()) {
        std::size_t j = text.find(' ', i);
        if (j == std::string_view::npos) j = text.size();
        const std::string_view word = text.substr(i, j - i);
        i = j + 1;
        if (word.empty()) continue;
        if (!empty && line.size() + 1 + word.size() > width) {
            lines.push_back(line);
            line = rest;
            empty = true;
        }
        if (!empty) line += ' ';
        line += word;
        empty = false;
    }
    if (!empty) lines.push_back(line);
    return lines;
}

// A text file grown line by line towards an exact byte count.
struct Doc {
    std::string text;
    std::size_t target = 0;
    std::string_view eol = "\r\n";
};

std::size_t room_left(const Doc& d) { return d.target > d.text.size() ? d.target - d.text.size() : 0; }

std::size_t block_size(const Doc& d, const std::vector<std::string>& lines) {
    std::size_t n = 0;
    for (const auto& l : lines) n += l.size() + d.eol.size();
    return n;
}

void add_line(Doc& d, std::string_view line) {
    d.text += line;
    d.text += d.eol;
}

// Adds the whole block only if it leaves at least `reserve` bytes free.
bool add_block(Doc& d, const std::vector<std::string>& lines, std::size_t reserve) {
    if (block_size(d, lines) + reserve > room_left(d)) return false;
    for (const auto& l : lines) add_line(d, l);
    return true;
}

// Fills the remaining bytes exactly with 72-column lines of words.
void exact_tail(Rng& r, Doc& d, std::string_view first, std::string_view rest) {
    const std::size_t total = room_left(d);
    if (total == 0) return;
    const std::size_t per_line = 72 + d.eol.size();
    const std::size_t count = (total + per_line - 1) / per_line;
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t bytes = total / count + (i < total % count ? 1 : 0);
        const std::string_view prefix = i == 0 ? first : rest;
        const std::size_t n = bytes - d.eol.size() - prefix.size();
        std::string words = i + 1 == count ? words_exact(r, n - 1) + "." : words_exact(r, n);
        if (i == 0) words = capitalise(words);
        add_line(d, std::string(prefix) + words);
    }
}

// Ends a document with one ordinary paragraph and a short word-fitted tail,
// so only the last couple of lines are not proper sentences.
void finish_doc(Rng& r, Doc& d, SentenceFn sentence, std::string_view first, std::string_view rest) {
    constexpr std::size_t kTail = 100;
    std::string para;
    std::vector<std::string> lines;
    for (int tries = 0; tries < 60; ++tries) {
        std::string more = para.empty() ? sentence(r) : para + " " + sentence(r);
        auto trial = wrap(more, first, rest);
        if (block_size(d, trial) + kTail > room_left(d)) continue;
        para = std::move(more);
        lines = std::move(trial);
    }
    add_block(d, lines, 0);
    if (room_left(d) < first.size() + rest.size() + 8) die("internal error: text tail too short");
    exact_tail(r, d, lines.empty() ? first : rest, rest);
}

std::string paragraph(Rng& r, SentenceFn sentence, int sentences) {
    std::string p;
    for (int i = 0; i < sentences; ++i) {
        if (!p.empty()) p += ' ';
        p += sentence(r);
    }
    return p;
}

void push_lines(std::vector<std::string>& block, const std::vector<std::string>& lines) {
    block.insert(block.end(), lines.begin(), lines.end());
}

// ======================================================================
// Text files of the package

std::string version_file() { return "build128\r\n"; }

std::string make_licence(std::size_t size) {
    static constexpr std::string_view kTitles[] = {
        "Definitions", "Grant of use", "Copies", "Altered copies", "Host programs", "Notices",
        "Payment", "Names and marks", "No promises", "Limits of liability", "Ending these terms",
        "Later revisions", "Governing rules", "Translations", "Archives and mirrors",
        "Compiled files", "Bundles", "Records", "Fair dealing", "Contact",
    };
    Rng r = seeded("licence");
    const std::string ending = "\r\nEND OF TERMS\r\n";
    Doc d{{}, size - ending.size(), "\r\n"};
    add_line(d, "BRACKMOOR LIBRARY USE TERMS");
    add_line(d, "Revision 2, for the runtime libraries shipped with Quorvel");
    add_line(d, "");
    add_block(d, wrap("These terms say what you may and may not do with the library files that "
                      "come with this game. Read them before you copy, change or pass on any of "
                      "those files. Capitalised words are explained in Section 1.", "", ""), 0);
    add_line(d, "");
    for (std::size_t section = 1;; ++section) {
        std::string title(kTitles[(section - 1) % std::size(kTitles)]);
        if (section > std::size(kTitles)) title = "Further rules on " + lower(title);
        std::vector<std::string> block{std::to_string(section) + ". " + upper(title), ""};
        const int paras = between(r, 2, 4);
        for (int p = 0; p < paras; ++p) {
            const std::string label = std::string("  (") + static_cast<char>('a' + p) + ") ";
            push_lines(block, wrap(paragraph(r, legal_sentence, between(r, 2, 4)), label, "      "));
            block.emplace_back();
        }
        if (!add_block(d, block, 400)) {
            add_line(d, std::to_string(section) + ". FINAL PROVISIONS");
            add_line(d, "");
            break;
        }
    }
    finish_doc(r, d, legal_sentence, "  ", "  ");
    return d.text + ending;
}

struct Date {
    int year, month, day;
};

Date days_before(Date t, int days) {
    static constexpr int kLengths[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    for (int i = 0; i < days; ++i) {
        if (--t.day > 0) continue;
        if (--t.month == 0) {
            t.month = 12;
            --t.year;
        }
        const bool leap = (t.year % 4 == 0 && t.year % 100 != 0) || t.year % 400 == 0;
        t.day = kLengths[t.month - 1] + (t.month == 2 && leap ? 1 : 0);
    }
    return t;
}

std::string iso_date(Date t) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", t.year, t.month, t.day);
    return buf;
}

std::string make_changelog(std::size_t size) {
    Rng r = seeded("changelog");
    Doc d{{}, size, "\r\n"};
    add_line(d, "QUORVEL CHANGE LOG");
    add_line(d, "==================");
    add_line(d, "Newest build first. Dates are the release dates of the public builds.");
    add_line(d, "");
    constexpr int kNewest = 128, kOldest = 41;
    const std::size_t start = d.text.size();
    const std::size_t per_build = (size - start - 600) / (kNewest - kOldest + 1);
    Date date{2006, 11, 14};
    for (int build = kNewest; build >= kOldest; --build) {
        const std::string heading = "build" + std::to_string(build) + " (" + iso_date(date) + ")";
        add_line(d, heading);
        add_line(d, std::string(heading.size(), '-'));
        const bool oldest = build == kOldest;
        const std::size_t goal = start + static_cast<std::size_t>(kNewest - build + 1) * per_build;
        do {
            if (!add_block(d, wrap(change_item(r), "- ", "  "), oldest ? 250 : 600)) break;
        } while (oldest || d.text.size() < goal);
        if (oldest) finish_doc(r, d, change_item, "- ", "  ");
        else add_line(d, "");
        date = days_before(date, between(r, 3, 16));
    }
    return d.text;
}

std::string make_instructions(std::size_t size) {
    static constexpr std::string_view kControls[][2] = {
        {"Move forward", "W or Up arrow"},        {"Move backward", "S or Down arrow"},
        {"Step left", "A"},                       {"Step right", "D"},
        {"Turn", "Mouse, or Left / Right arrow"}, {"Jump", "Space"},
        {"Crouch", "Ctrl"},                       {"Run", "Shift (hold)"},
        {"Use / open", "E"},                      {"Strike", "Left mouse button"},
        {"Block", "Right mouse button"},          {"Throw", "Q"},
        {"Toggle lantern", "L"},                  {"Next item", "Mouse wheel up"},
        {"Previous item", "Mouse wheel down"},    {"Journal", "J"},
        {"Map", "Tab"},                           {"Quick save", "F5"},
        {"Quick load", "F9"},                     {"Screenshot", "F12"},
        {"Pause / menu", "Esc"},                  {"Console", "~ (when enabled)"},
    };
    static constexpr std::string_view kMenuItems[][2] = {
        {"New Game", "starts a new journey at Wendle Crossing. You can choose one of three difficulty levels."},
        {"Continue", "loads the most recent save, whether it was a quick save or an automatic one."},
        {"Load Game", "lists every saved game with its place, date and play time."},
        {"Options", "holds the Video, Audio, Controls and Game pages. Changes apply at once."},
        {"Extras", "shows concept sketches and the music player once you have finished the game."},
        {"Quit", "leaves the game. Unsaved progress since the last save point is lost."},
    };
    Rng r = seeded("instructions");
    const std::string ending = "\r\nGood luck out there, and mind the water.\r\n";
    Doc d{{}, size - ending.size(), "\r\n"};
    add_line(d, "QUORVEL - HOW TO PLAY");
    add_line(d, "=====================");
    add_line(d, "");
    add_block(d, wrap(paragraph(r, game_sentence, 4), "", ""), 0);
    add_line(d, "");
    add_line(d, "CONTROLS");
    add_line(d, "--------");
    for (const auto& c : kControls) {
        std::string line = "  " + std::string(c[0]) + " ";
        while (line.size() < 30) line += '.';
        add_line(d, line + " " + std::string(c[1]));
    }
    add_line(d, "");
    add_block(d, wrap("All keys can be changed on the Controls page of the Options menu. "
                      "A gamepad works as well; its layout is shown on the same page.", "", ""), 0);
    add_line(d, "");
    add_line(d, "MENUS");
    add_line(d, "-----");
    for (const auto& m : kMenuItems) {
        add_block(d, wrap(std::string(m[0]) + ": " + std::string(m[1]), "  ", "    "), 0);
    }
    add_line(d, "");
    add_line(d, "CREATURES");
    add_line(d, "---------");
    for (std::string_view c : kCreatures) {
        std::string text = capitalise(std::string(c)) + ". " + paragraph(r, game_sentence, between(r, 1, 3));
        add_block(d, wrap(text, "  ", "    "), 0);
        add_line(d, "");
    }
    add_line(d, "TIPS");
    add_line(d, "----");
    while (add_block(d, wrap(game_sentence(r), "  * ", "    "), 300)) {
    }
    finish_doc(r, d, game_sentence, "  * ", "    ");
    return d.text + ending;
}

std::string make_readme(std::size_t size) {
    static constexpr std::string_view kHeadings[] = {
        "About the game", "System requirements", "Installing Quorvel", "Starting the game",
        "Fullscreen and windowed play", "Saving your progress", "Sound and music", "Known problems",
        "Troubleshooting", "Custom maps",
    };
    static constexpr std::string_view kContents[][2] = {
        {"Quorvel (fullscreen).exe", "starts the game in fullscreen mode"},
        {"Quorvel (windowed).exe", "starts the game in a window"},
        {"dravik\\dravik.exe", "the game itself"},
        {"dravik\\hesk.wad", "textures, levels and sounds"},
        {"dravik\\trovin.wad", "more sounds and the music"},
        {"dravik\\maps\\wendle.map", "the first area"},
        {"dravik\\images\\mossling.png", "a picture for the desktop"},
        {"changelog.txt", "what changed in each build"},
        {"instructions.txt", "controls and menus"},
        {"lgpl.txt", "terms for the included libraries"},
    };
    Rng r = seeded("readme");
    std::string ending = "\r\nThanks for playing!\r\n\r\n  " + person_name(r);
    ending += ", " + person_name(r);
    ending += " and " + person_name(r) + "\r\n  Brackmoor Softworks\r\n";
    Doc d{{}, size - ending.size(), "\r\n"};
    add_line(d, "QUORVEL");
    add_line(d, "Readme for build128");
    add_line(d, "");
    add_line(d, "Contents of this package");
    add_line(d, "========================");
    for (const auto& c : kContents) {
        std::string line = "  " + std::string(c[0]);
        while (line.size() < 34) line += ' ';
        add_line(d, line + std::string(c[1]));
    }
    add_line(d, "");
    for (std::string_view h : kHeadings) {
        std::vector<std::string> block{std::string(h), std::string(h.size(), '=')};
        const int paras = between(r, 3, 5);
        for (int p = 0; p < paras; ++p) {
            if (chance(r, 25)) {
                for (int i = between(r, 3, 6); i > 0; --i) push_lines(block, wrap(game_sentence(r), "  * ", "    "));
            } else {
                push_lines(block, wrap(paragraph(r, game_sentence, between(r, 3, 6)), "", ""));
            }
            block.emplace_back();
        }
        if (!add_block(d, block, 600)) break;
    }
    add_line(d, "Questions and answers");
    add_line(d, "=====================");
    for (;;) {
        std::vector<std::string> block =
            wrap("Q: " + expand(r, "Why can I not {pverb} the {adj} {thing} in {place}?"), "", "   ");
        push_lines(block, wrap("A: " + paragraph(r, game_sentence, between(r, 1, 3)), "", "   "));
        block.emplace_back();
        if (!add_block(d, block, 300)) break;
    }
    finish_doc(r, d, game_sentence, "", "");
    return d.text + ending;
}

// ======================================================================
// Windows PE images

struct ImportDll {
    std::string name;
    std::vector<std::string> functions;
};

struct PeSettings {
    std::string tag;
    std::size_t file_size = 0;
    bool dll = false;
    std::uint32_t timestamp = 0;
    unsigned text_percent = 50;
    unsigned data_percent = 5;
    std::string module_name;
    std::string description;
    std::vector<std::string> slot_strings;
    std::uint32_t mode_constant = 0;
    std::vector<int> icon_sizes;
    bool manifest = false;
    std::vector<ImportDll> imports;
    std::vector<std::string> exports;
};

constexpr std::size_t kFileAlign = 0x200;
constexpr std::size_t kSectionAlign = 0x1000;
constexpr std::size_t kHeaderSize = 0x400;
constexpr std::size_t kPeOffset = 0x80;

struct PeLayout {
    std::uint64_t image_base = 0;
    std::size_t text_raw = 0, rdata_raw = 0, data_raw = 0, rsrc_raw = 0;
    std::uint32_t text_rva = 0, rdata_rva = 0, data_rva = 0, rsrc_rva = 0;
    std::uint32_t data_vsize = 0;
};

struct DataDir {
    std::uint32_t rva = 0, size = 0;
};

std::vector<std::string> library_exports() {
    static constexpr std::string_view kVerbs[] = {
        "Create", "Destroy", "Get", "Set", "Open", "Close", "Update", "Query", "Lock", "Unlock", "Load",
        "Free", "Push", "Poll", "Bind", "Show", "Hide", "Wait", "Init", "Quit",
    };
    static constexpr std::string_view kNouns[] = {
        "Window", "Renderer", "Texture", "Surface", "AudioDevice", "Joystick", "Mutex", "Thread",
        "Timer", "Event", "Cursor", "KeyboardState", "MouseState", "Palette", "Clipboard", "Display",
        "GLContext", "SoundChannel", "ColorKey", "ClipRect", "GammaRamp", "Semaphore",
    };
    Rng r = seeded("library exports");
    std::vector<std::string> names;
    for (std::string_view v : kVerbs)
        for (std::string_view n : kNouns)
            if (chance(r, 45)) names.push_back("QV_" + std::string(v) + std::string(n));
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<std::string> sample_of(Rng& r, const std::vector<std::string>& all, std::uint32_t percent) {
    std::vector<std::string> out;
    for (const auto& n : all)
        if (chance(r, percent)) out.push_back(n);
    return out;
}

ImportDll system_imports(Rng& r, std::string_view dll, std::initializer_list<std::string_view> names,
                         std::uint32_t percent) {
    ImportDll d{std::string(dll), {}};
    for (std::string_view n : names)
        if (chance(r, percent)) d.functions.emplace_back(n);
    if (d.functions.empty()) d.functions.emplace_back(*names.begin());
    return d;
}

std::vector<ImportDll> common_imports(Rng& r, std::uint32_t percent) {
    std::vector<ImportDll> dlls;
    dlls.push_back(system_imports(
        r, "KERNEL32.dll",
        {"CloseHandle", "CreateDirectoryW", "CreateEventW", "CreateFileW", "CreateProcessW",
         "CreateThread", "DeleteCriticalSection", "DeleteFileW", "EnterCriticalSection", "ExitProcess",
         "FindClose", "FindFirstFileW", "FindNextFileW", "FreeLibrary", "GetCommandLineW",
         "GetCurrentDirectoryW", "GetExitCodeProcess", "GetFileSize", "GetLastError",
         "GetModuleFileNameW", "GetModuleHandleW", "GetProcAddress", "GetProcessHeap",
         "GetSystemTimeAsFileTime", "GetTickCount", "HeapAlloc", "HeapFree",
         "InitializeCriticalSection", "LeaveCriticalSection", "LoadLibraryW", "MultiByteToWideChar",
         "OutputDebugStringA", "QueryPerformanceCounter", "QueryPerformanceFrequency", "ReadFile",
         "SetCurrentDirectoryW", "SetEvent", "SetFilePointer", "Sleep", "VirtualAlloc", "VirtualFree",
         "WaitForSingleObject", "WideCharToMultiByte", "WriteFile"},
        percent));
    dlls.push_back(system_imports(
        r, "USER32.dll",
        {"AdjustWindowRectEx", "ChangeDisplaySettingsW", "ClipCursor", "CreateWindowExW", "DefWindowProcW",
         "DestroyWindow", "DispatchMessageW", "EnumDisplaySettingsW", "GetAsyncKeyState", "GetClientRect",
         "GetCursorPos", "GetSystemMetrics", "LoadCursorW", "LoadIconW", "MessageBoxW", "PeekMessageW",
         "PostQuitMessage", "RegisterClassExW", "ScreenToClient", "SetCursor", "SetCursorPos",
         "SetWindowPos", "SetWindowTextW", "ShowCursor", "ShowWindow", "TranslateMessage", "UpdateWindow"},
        percent));
    return dlls;
}

// ---------------------------------------------------------------- code

struct CodeGen {
    Bytes code;
    Rng* rng = nullptr;
    // Compiled functions reuse a few registers and stack slots, which is much
    // of why real code compresses; these are re-drawn for every function.
    std::uint32_t regs[3] = {0, 1, 2};
    std::uint32_t slots[4] = {0x20, 0x28, 0x30, 0x38};
    std::uint32_t base_rva = 0;
    std::size_t limit = 0;
    std::vector<std::uint32_t> functions;
    std::vector<std::uint32_t> iat_slots;
    std::uint32_t rdata_lo = 0, rdata_hi = 0, data_lo = 0, data_hi = 0;
};

std::uint32_t here(const CodeGen& g) { return g.base_rva + u32(g.code.size()); }

void emit(CodeGen& g, std::initializer_list<std::uint32_t> bytes) {
    for (std::uint32_t v : bytes) put8(g.code, v);
}

// rel32 operands are relative to the end of the instruction, which is where
// the displacement itself ends.
void emit_rel32(CodeGen& g, std::uint32_t target) { put32(g.code, target - (here(g) + 4)); }

std::uint32_t any_reg(CodeGen& g) {
    static constexpr std::uint32_t kRegs[] = {0, 1, 2, 3, 6, 7, 8, 9, 10, 11, 0, 1, 2, 3};
    return chance(*g.rng, 80) ? pick(*g.rng, g.regs) : pick(*g.rng, kRegs);
}
std::uint32_t low_reg(CodeGen& g) {
    static constexpr std::uint32_t kRegs[] = {0, 1, 2, 3, 6, 7, 0, 1};
    const std::uint32_t reg = pick(*g.rng, g.regs);
    return reg < 8 && chance(*g.rng, 80) ? reg : pick(*g.rng, kRegs);
}
std::uint32_t slot(CodeGen& g) { return pick(*g.rng, g.slots); }
std::uint32_t rex_w(std::uint32_t reg, std::uint32_t rm) {
    return 0x48u | (reg >= 8 ? 4u : 0u) | (rm >= 8 ? 1u : 0u);
}
std::uint32_t rdata_target(CodeGen& g) {
    return g.rdata_lo + 8u * below(*g.rng, (g.rdata_hi - g.rdata_lo) / 8u);
}
std::uint32_t data_target(CodeGen& g) { return g.data_lo + 4u * below(*g.rng, (g.data_hi - g.data_lo) / 4u); }

std::uint32_t common_immediate(Rng& r) {
    static constexpr std::uint32_t kValues[] = {0,     1,     2,     3,    4,    8,   0x10, 0x20,
                                                0x40,  0x80,  0x100, 0x400, 0x1000, 0x8000, 0xFFFFFFFFu};
    const std::uint32_t roll = below(r, 100);
    if (roll < 3) return next_u32(r);
    if (roll < 25) return below(r, 1000);
    return pick(r, kValues);
}

void ins_local(CodeGen& g, bool store) {  // mov reg, [rsp+disp8] / mov [rsp+disp8], reg
    const std::uint32_t reg = any_reg(g);
    emit(g, {rex_w(reg, 0), store ? 0x89u : 0x8Bu, 0x44u | ((reg & 7u) << 3), 0x24u, slot(g)});
}
void ins_mov_reg(CodeGen& g) {
    const std::uint32_t dst = any_reg(g);
    std::uint32_t src = any_reg(g);
    if (src == dst) src = dst == 3 ? 6 : 3;  // compilers never emit mov reg, reg
    emit(g, {rex_w(dst, src), 0x8Bu, 0xC0u | ((dst & 7u) << 3) | (src & 7u)});
}
void ins_mov_imm(CodeGen& g) {
    emit(g, {0xB8u + low_reg(g)});
    put32(g.code, common_immediate(*g.rng));
}
void ins_lea_rip(CodeGen& g) {
    static constexpr std::uint32_t kArgRegs[] = {1, 2, 8, 9, 1, 2};
    const std::uint32_t reg = pick(*g.rng, kArgRegs);
    emit(g, {rex_w(reg, 0), 0x8Du, 0x05u | ((reg & 7u) << 3)});
    emit_rel32(g, rdata_target(g));
}
// The first dozen functions play the small helpers every other function
// calls; until they exist, calls go forward to code not yet laid out.
std::uint32_t hot_function(CodeGen& g) {
    if (g.functions.size() < 12) return g.base_rva + 16u * below(*g.rng, u32(g.limit / 16));
    return g.functions[below(*g.rng, 12)];
}

void ins_call(CodeGen& g) {
    emit(g, {0xE8u});
    std::uint32_t target;
    if (chance(*g.rng, 45)) {
        target = hot_function(g);
    } else if (!g.functions.empty() && chance(*g.rng, 75)) {
        target = g.functions[below(*g.rng, u32(g.functions.size()))];
    } else {
        target = g.base_rva + 16u * below(*g.rng, u32(g.limit / 16));
    }
    emit_rel32(g, target);
}
void ins_call_import(CodeGen& g) {
    emit(g, {0xFFu, 0x15u});
    emit_rel32(g, g.iat_slots[below(*g.rng, u32(g.iat_slots.size()))]);
}
void ins_test_jump(CodeGen& g) {
    if (chance(*g.rng, 50)) emit(g, {0x85u, 0xC0u});
    else emit(g, {0x48u, 0x85u, 0xC0u});
    emit(g, {chance(*g.rng, 50) ? 0x74u : 0x75u, 4u + below(*g.rng, 40)});
}
void ins_cmp_jump(CodeGen& g) {
    static constexpr std::uint32_t kJumps[] = {0x74, 0x75, 0x7C, 0x7D, 0x7E, 0x7F, 0x72, 0x77};
    emit(g, {0x83u, 0xF8u + low_reg(g), below(*g.rng, 16), pick(*g.rng, kJumps), 2u + below(*g.rng, 40)});
}
void ins_xor_zero(CodeGen& g) {
    const std::uint32_t reg = low_reg(g);
    emit(g, {0x33u, 0xC0u | (reg << 3) | reg});
}
void ins_arith(CodeGen& g) {
    static constexpr std::uint32_t kOps[] = {0xC0, 0xE8, 0xE0, 0xC8};  // add, sub, and, or
    static constexpr std::uint32_t kImms[] = {1, 1, 2, 4, 8, 0x10, 0x20, 0x0F, 0x7F};
    const std::uint32_t reg = any_reg(g);
    emit(g, {rex_w(0, reg), 0x83u, pick(*g.rng, kOps) | (reg & 7u), pick(*g.rng, kImms)});
}
void ins_field(CodeGen& g, bool store) {  // mov r32, [base+disp8] and the store form
    static constexpr std::uint32_t kBases[] = {1, 2, 3, 6, 7};
    const std::uint32_t dst = low_reg(g), base = pick(*g.rng, kBases);
    const std::uint32_t disp = 8u * below(*g.rng, 8);
    if (!store && chance(*g.rng, 25)) emit(g, {0x0Fu, 0xB6u, 0x40u | (dst << 3) | base, disp});
    else emit(g, {store ? 0x89u : 0x8Bu, 0x40u | (dst << 3) | base, disp});
}
void ins_global(CodeGen& g) {
    emit(g, {chance(*g.rng, 60) ? 0x8Bu : 0x89u, 0x05u});
    emit_rel32(g, data_target(g));
}
void ins_float(CodeGen& g) {
    const std::uint32_t xmm = below(*g.rng, 4);
    emit(g, {0xF3u, 0x0Fu, chance(*g.rng, 70) ? 0x10u : 0x59u, 0x05u | (xmm << 3)});
    emit_rel32(g, rdata_target(g));
}
void ins_shift(CodeGen& g) {
    const std::uint32_t op = chance(*g.rng, 50) ? 0xE0u : 0xE8u;
    emit(g, {0xC1u, op + low_reg(g), 1u + below(*g.rng, 12)});
}

// Multi-instruction patterns a compiler emits over and over: argument set-up
// followed by a call, virtual calls, checked calls and zeroing calls.
void emit_idiom(CodeGen& g) {
    Rng& r = *g.rng;
    switch (below(r, 5)) {
    case 0:  // lea rcx, [rip+message]; call log helper
        emit(g, {0x48u, 0x8Du, 0x0Du});
        emit_rel32(g, rdata_target(g));
        emit(g, {0xE8u});
        emit_rel32(g, hot_function(g));
        break;
    case 1:  // mov rcx, rbx; call f; test eax, eax; je short
        emit(g, {0x48u, 0x8Bu, 0xCBu, 0xE8u});
        emit_rel32(g, hot_function(g));
        emit(g, {0x85u, 0xC0u, 0x74u, 4u + below(r, 24)});
        break;
    case 2:  // mov rax, [rcx]; call qword [rax+slot]
        emit(g, {0x48u, 0x8Bu, 0x01u, 0xFFu, 0x50u, 8u * below(r, 12)});
        break;
    case 3:  // xor edx, edx; mov r8d, size; mov rcx, rdi; call memset-like helper
        emit(g, {0x33u, 0xD2u, 0x41u, 0xB8u});
        put32(g.code, 8u * (1u + below(r, 32)));
        emit(g, {0x48u, 0x8Bu, 0xCFu, 0xE8u});
        emit_rel32(g, hot_function(g));
        break;
    default:  // mov rcx, [rsp+slot]; mov rdx, rsi; call f
        emit(g, {0x48u, 0x8Bu, 0x4Cu, 0x24u, slot(g), 0x48u, 0x8Bu, 0xD6u, 0xE8u});
        emit_rel32(g, hot_function(g));
        break;
    }
}

void emit_instruction(CodeGen& g) {
    // Weights roughly follow the instruction mix of compiled game code.
    const std::uint32_t roll = below(*g.rng, 100);
    if (roll < 12) ins_local(g, false);
    else if (roll < 18) ins_local(g, true);
    else if (roll < 29) ins_mov_reg(g);
    else if (roll < 36) ins_mov_imm(g);
    else if (roll < 44) ins_lea_rip(g);
    else if (roll < 53) ins_call(g);
    else if (roll < 57) ins_call_import(g);
    else if (roll < 64) ins_test_jump(g);
    else if (roll < 69) ins_cmp_jump(g);
    else if (roll < 73) ins_xor_zero(g);
    else if (roll < 78) ins_arith(g);
    else if (roll < 87) ins_field(g, false);
    else if (roll < 91) ins_field(g, true);
    else if (roll < 95) ins_global(g);
    else if (roll < 97) ins_float(g);
    else ins_shift(g);
}

struct Frame {
    std::vector<std::uint32_t> saved;
    std::uint32_t stack = 0;
};

void emit_prologue(CodeGen& g, const Frame& f) {
    for (std::uint32_t reg : f.saved) {
        if (reg >= 8) emit(g, {0x41u, 0x50u + (reg & 7u)});
        else emit(g, {0x50u + reg});
    }
    if (f.stack < 0x80) emit(g, {0x48u, 0x83u, 0xECu, f.stack});
    else {
        emit(g, {0x48u, 0x81u, 0xECu});
        put32(g.code, f.stack);
    }
}

void emit_epilogue(CodeGen& g, const Frame& f) {
    if (f.stack < 0x80) emit(g, {0x48u, 0x83u, 0xC4u, f.stack});
    else {
        emit(g, {0x48u, 0x81u, 0xC4u});
        put32(g.code, f.stack);
    }
    for (auto it = f.saved.rbegin(); it != f.saved.rend(); ++it) {
        if (*it >= 8) emit(g, {0x41u, 0x58u + (*it & 7u)});
        else emit(g, {0x58u + *it});
    }
    emit(g, {0xC3u});
}

void emit_function(CodeGen& g, std::size_t body, std::uint32_t mode_constant) {
    align_to(g.code, 16, 0xCC);
    g.functions.push_back(here(g));
    Rng& r = *g.rng;
    static constexpr std::uint32_t kPalette[] = {0, 1, 2, 3, 6, 7, 8, 0, 1, 3};
    for (auto& reg : g.regs) reg = pick(r, kPalette);
    for (auto& s : g.slots) s = 0x20u + 8u * below(r, 10);
    const bool launch_code = g.functions.size() == 2;  // receives the display mode below
    if (!launch_code && chance(r, 15)) {  // small leaf helper
        const std::size_t end = g.code.size() + std::min<std::size_t>(body, 24);
        while (g.code.size() < end) emit_instruction(g);
        emit(g, {0xC3u});
        return;
    }
    static constexpr std::uint32_t kSavable[] = {3, 6, 7, 12, 14};
    Frame f;
    for (std::uint32_t i = 0, n = below(r, 4); i < n; ++i) f.saved.push_back(kSavable[i]);
    f.stack = 0x28u + 0x10u * below(r, 7);
    if (chance(r, 10)) f.stack += 0x100u;
    emit_prologue(g, f);
    if (launch_code) {
        emit(g, {0xB9u});
        put32(g.code, mode_constant);
    }
    const std::size_t end = g.code.size() + body;
    while (g.code.size() < end) {
        if (chance(r, 22)) emit_idiom(g);
        else emit_instruction(g);
        if (chance(r, 2)) emit_epilogue(g, f);  // early return
    }
    emit_epilogue(g, f);
}

Bytes gen_text(Rng& r, const PeSettings& s, const PeLayout& l, const std::vector<std::uint32_t>& iat_slots,
               std::vector<std::uint32_t>& functions, std::uint32_t& vsize) {
    CodeGen g;
    g.rng = &r;
    g.base_rva = l.text_rva;
    g.limit = l.text_raw;
    g.iat_slots = iat_slots;
    g.rdata_lo = l.rdata_rva + 0x800;
    g.rdata_hi = l.rdata_rva + u32(l.rdata_raw * 7 / 8);
    g.data_lo = l.data_rva;
    g.data_hi = l.data_rva + l.data_vsize - 8;
    // The margin covers alignment, prologue, one overlong instruction and epilogue.
    constexpr std::size_t kMargin = 96;
    while (g.code.size() + kMargin + 32 < l.text_raw) {
        std::size_t body = chance(r, 10) ? between_z(r, 400, 2400) : between_z(r, 16, 400);
        body = std::min(body, l.text_raw - g.code.size() - kMargin);
        emit_function(g, body, s.mode_constant);
    }
    if (g.code.size() > l.text_raw) die("internal error: code overflowed .text");
    vsize = u32(g.code.size());
    pad_to(g.code, l.text_raw);
    functions = g.functions;
    return g.code;
}

// ---------------------------------------------------------------- read-only data

std::vector<std::uint32_t> plan_iat(const std::vector<ImportDll>& dlls, std::uint32_t rdata_rva) {
    std::vector<std::uint32_t> slots;
    std::uint32_t offset = 0;
    for (const auto& d : dlls) {
        for (std::size_t i = 0; i < d.functions.size(); ++i, offset += 8) slots.push_back(rdata_rva + offset);
        offset += 8;
    }
    return slots;
}

struct RdataOut {
    Bytes bytes;
    std::uint32_t vsize = 0;
    DataDir imports, iat, exports;
};

// Import address table first (as linkers place it), then descriptors, lookup
// tables, hint/name entries and module names.
void write_imports(Rng& r, RdataOut& o, std::uint32_t rva, const std::vector<ImportDll>& dlls) {
    Bytes& b = o.bytes;
    std::vector<std::size_t> iat_at, ilt_at;
    for (const auto& d : dlls) {
        iat_at.push_back(b.size());
        pad_to(b, b.size() + 8 * (d.functions.size() + 1));
    }
    o.iat = {rva, u32(b.size())};
    align_to(b, 16);
    const std::size_t desc_at = b.size();
    pad_to(b, b.size() + 20 * (dlls.size() + 1));
    o.imports = {rva + u32(desc_at), u32(20 * (dlls.size() + 1))};
    for (const auto& d : dlls) {
        ilt_at.push_back(b.size());
        pad_to(b, b.size() + 8 * (d.functions.size() + 1));
    }
    for (std::size_t i = 0; i < dlls.size(); ++i) {
        std::uint32_t hint = below(r, 64);
        for (std::size_t f = 0; f < dlls[i].functions.size(); ++f) {
            align_to(b, 2);
            const std::uint32_t entry = rva + u32(b.size());
            hint += 1 + below(r, 24);
            put16(b, hint);
            put_textz(b, dlls[i].functions[f]);
            poke64(b, iat_at[i] + 8 * f, entry);
            poke64(b, ilt_at[i] + 8 * f, entry);
        }
    }
    for (std::size_t i = 0; i < dlls.size(); ++i) {
        align_to(b, 2);
        const std::size_t d = desc_at + 20 * i;
        poke32(b, d + 0, rva + u32(ilt_at[i]));
        poke32(b, d + 12, rva + u32(b.size()));
        poke32(b, d + 16, rva + u32(iat_at[i]));
        put_textz(b, dlls[i].name);
    }
}

void write_exports(RdataOut& o, std::uint32_t rva, const PeSettings& s, const std::vector<std::uint32_t>& functions) {
    Bytes& b = o.bytes;
    align_to(b, 16);
    const std::size_t dir = b.size();
    const std::size_t n = s.exports.size();
    pad_to(b, dir + 40);
    const std::size_t eat = b.size();
    for (std::size_t i = 0; i < n; ++i) put32(b, functions[1 + i * (functions.size() - 1) / n]);
    const std::size_t name_ptrs = b.size();
    pad_to(b, name_ptrs + 4 * n);
    const std::size_t ordinals = b.size();
    for (std::size_t i = 0; i < n; ++i) put16(b, u32(i));
    const std::size_t module = b.size();
    put_textz(b, s.module_name);
    for (std::size_t i = 0; i < n; ++i) {
        poke32(b, name_ptrs + 4 * i, rva + u32(b.size()));
        put_textz(b, s.exports[i]);
    }
    poke32(b, dir + 4, s.timestamp);
    poke32(b, dir + 12, rva + u32(module));
    poke32(b, dir + 16, 1);
    poke32(b, dir + 20, u32(n));
    poke32(b, dir + 24, u32(n));
    poke32(b, dir + 28, rva + u32(eat));
    poke32(b, dir + 32, rva + u32(name_ptrs));
    poke32(b, dir + 36, rva + u32(ordinals));
    o.exports = {rva + u32(dir), u32(b.size() - dir)};
}

// IEEE single bits of num / 2^shift, built from integers so no FPU is involved.
std::uint32_t float_bits(std::int32_t num, int shift) {
    if (num == 0) return 0;
    const std::uint32_t sign = num < 0 ? 0x80000000u : 0u;
    std::uint32_t mag = static_cast<std::uint32_t>(num < 0 ? -num : num);
    int top = 31;
    while (!(mag & (1u << top))) --top;
    const std::uint32_t mantissa = top >= 23 ? (mag >> (top - 23)) : (mag << (23 - top));
    const auto exponent = static_cast<std::uint32_t>(top - shift + 127);
    return sign | (exponent << 23) | (mantissa & 0x7FFFFFu);
}

std::string message_string(Rng& r) {
    static constexpr std::string_view kPatterns[] = {
        "Could not open {file}.", "Failed to read {file} (error %d).", "Out of memory while loading the {file}.",
        "The {tech} could not be started.", "Unknown setting '%s' in the config file.",
        "{tech}: %d items loaded in %d ms", "Missing texture %s in {file}", "Invalid lump size in %s",
        "Sound %s has an unsupported format", "Could not set the screen resolution to %dx%d.",
        "Saved game %s was written by a newer build.", "Press any key to continue", "Loading {place}...",
        "The {tech} reported {problem}.", "Joystick %d connected", "Script error at line %d: %s",
        "Entering {place}", "The {creature} %d has no spawn point", "{setting} changed to %d",
    };
    switch (below(r, 6)) {
    case 0: {
        static constexpr std::string_view kDirs[] = {"render", "sound", "game", "ui", "sys", "script", "net"};
        const std::string dir(pick(r, kDirs));
        return "src/" + dir + "/" + syllable_word(r, 2) + ".cpp";
    }
    case 1: {
        static constexpr std::string_view kGroups[] = {"video", "sound", "input", "game", "debug", "menu"};
        const std::string group(pick(r, kGroups));
        return group + "." + syllable_word(r, between(r, 1, 3));
    }
    case 2: return game_sentence(r);
    default: return capitalise(expand(r, pick(r, kPatterns)));
    }
}

Bytes rdata_item(Rng& r, const PeLayout& l, const std::vector<std::uint32_t>& functions) {
    Bytes b;
    const std::uint32_t roll = below(r, 100);
    if (roll < 55) {
        put_textz(b, message_string(r));
    } else if (roll < 65) {
        put_utf16z(b, message_string(r));
    } else if (roll < 77) {  // vtable-like arrays of code pointers
        const std::uint32_t first = below(r, u32(functions.size()));
        for (int i = between(r, 3, 24); i > 0; --i)
            put64(b, l.image_base + functions[std::min<std::size_t>(functions.size() - 1, first + below(r, 40))]);
    } else if (roll < 85) {  // small integer tables
        const int step = between(r, 1, 64), start = between(r, -200, 200);
        for (int i = 0, n = between(r, 8, 64); i < n; ++i) put_s32(b, start + i * step + between(r, 0, 3));
    } else if (roll < 93) {  // float constant tables
        const int shift = between(r, 2, 10);
        for (int i = 0, n = between(r, 4, 48); i < n; ++i) put32(b, float_bits(between(r, -4096, 4096), shift));
    } else if (roll < 98) {  // fixed-width lump name tables
        static constexpr std::string_view kStems[] = {"BRICK", "PLANK", "STONE", "METAL", "MOSS", "SLATE", "SN_"};
        for (int i = 0, n = between(r, 8, 40); i < n; ++i) {
            const std::string stem(pick(r, kStems));
            put_fixed(b, stem + std::to_string(between(r, 1, 99)), 16);
        }
    } else {  // an 8x8 bitmap font
        for (int glyph = 0; glyph < 96; ++glyph)
            for (int row = 0; row < 8; ++row) put8(b, row == 7 ? 0u : next_u32(r) & 0x7Eu);
    }
    return b;
}

void write_sine_table(Bytes& b) {
    for (std::uint32_t i = 0; i < 1024; ++i) put_s16(b, isin(i * 64));
}

void write_crc_table(Bytes& b) {
    for (std::uint32_t n = 0; n < 256; ++n) {
        std::uint32_t c = n;
        for (int k = 0; k < 8; ++k) c = (c & 1u) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        put32(b, c);
    }
}

RdataOut gen_rdata(Rng& r, const PeSettings& s, const PeLayout& l, const std::vector<std::uint32_t>& functions) {
    RdataOut o;
    Bytes& b = o.bytes;
    write_imports(r, o, l.rdata_rva, s.imports);
    if (!s.exports.empty()) write_exports(o, l.rdata_rva, s, functions);
    // Fixed-width slots keep the layout identical between launcher variants.
    align_to(b, 16);
    for (const auto& str : s.slot_strings) put_fixed(b, str, 32);
    align_to(b, 16);
    write_crc_table(b);
    write_sine_table(b);
    for (int misses = 0; misses < 40;) {
        Bytes item = rdata_item(r, l, functions);
        const std::size_t at = align_up(b.size(), 8);
        if (at + item.size() + 8 > l.rdata_raw) {
            ++misses;
            continue;
        }
        pad_to(b, at);
        append(b, item);
    }
    o.vsize = u32(b.size());
    pad_to(b, l.rdata_raw);
    return o;
}

// ---------------------------------------------------------------- data

Bytes data_table(Rng& r, const PeLayout& l, const std::vector<std::uint32_t>& functions) {
    Bytes b;
    switch (below(r, 4)) {
    case 0:
        for (int i = between(r, 4, 32); i > 0; --i)
            put64(b, l.image_base + functions[below(r, u32(functions.size()))]);
        break;
    case 1:
        for (int i = between(r, 8, 96); i > 0; --i) put_s32(b, chance(r, 30) ? 0 : between(r, -1, 300));
        break;
    case 2: {
        static constexpr std::string_view kDefaults[] = {"player", "default.cfg", "english", "slot01",
                                                         "wendle", "dravik", "autosave", "journal"};
        for (int i = between(r, 2, 8); i > 0; --i) put_fixed(b, pick(r, kDefaults), 32);
        break;
    }
    default:
        for (int i = between(r, 16, 256); i > 0; --i) put8(b, chance(r, 60) ? 0u : below(r, 256));
        break;
    }
    return b;
}

Bytes gen_data(Rng& r, const PeLayout& l, const std::vector<std::uint32_t>& functions) {
    Bytes b;
    while (b.size() + 128 < l.data_raw) {
        pad_to(b, std::min(l.data_raw, align_up(b.size() + between_z(r, 16, 900), 8)));
        Bytes t = data_table(r, l, functions);
        if (b.size() + t.size() > l.data_raw) break;
        append(b, t);
    }
    pad_to(b, l.data_raw);
    return b;
}

// ---------------------------------------------------------------- resources

struct Resource {
    std::uint32_t type = 0, id = 0;
    Bytes data;
};

// The three-level tree Windows expects: type, then id, then language.
Bytes build_rsrc(const std::vector<Resource>& items, std::uint32_t rva) {
    std::vector<std::uint32_t> types;
    for (const auto& it : items)
        if (types.empty() || types.back() != it.type) types.push_back(it.type);
    std::vector<std::size_t> type_dir(types.size()), id_dir(items.size()), entry(items.size()), data(items.size());
    std::size_t off = 16 + 8 * types.size();
    for (std::size_t t = 0; t < types.size(); ++t) {
        type_dir[t] = off;
        off += 16 + 8 * static_cast<std::size_t>(std::count_if(items.begin(), items.end(),
                                                                [&](const Resource& x) { return x.type == types[t]; }));
    }
    for (std::size_t i = 0; i < items.size(); ++i, off += 24) id_dir[i] = off;
    for (std::size_t i = 0; i < items.size(); ++i, off += 16) entry[i] = off;
    for (std::size_t i = 0; i < items.size(); ++i) {
        data[i] = align_up(off, 8);
        off = data[i] + items[i].data.size();
    }
    auto directory = [](Bytes& b, std::size_t ids) {
        put32(b, 0);
        put32(b, 0);
        put32(b, 0);
        put16(b, 0);
        put16(b, u32(ids));
    };
    Bytes b;
    directory(b, types.size());
    for (std::size_t t = 0; t < types.size(); ++t) {
        put32(b, types[t]);
        put32(b, 0x80000000u | u32(type_dir[t]));
    }
    for (std::uint32_t type : types) {
        std::vector<std::size_t> members;
        for (std::size_t i = 0; i < items.size(); ++i)
            if (items[i].type == type) members.push_back(i);
        directory(b, members.size());
        for (std::size_t i : members) {
            put32(b, items[i].id);
            put32(b, 0x80000000u | u32(id_dir[i]));
        }
    }
    for (std::size_t i = 0; i < items.size(); ++i) {
        directory(b, 1);
        put32(b, 0x0409);
        put32(b, u32(entry[i]));
    }
    for (std::size_t i = 0; i < items.size(); ++i) {
        put32(b, rva + u32(data[i]));
        put32(b, u32(items[i].data.size()));
        put32(b, 0);
        put32(b, 0);
    }
    for (std::size_t i = 0; i < items.size(); ++i) {
        pad_to(b, data[i]);
        append(b, items[i].data);
    }
    return b;
}

struct Rgb {
    int r = 0, g = 0, b = 0;
    bool creature = false;
};

bool in_ellipse(int x, int y, int cx, int cy, int rx, int ry) {
    const long dx = x - cx, dy = y - cy;
    return dx * dx * ry * ry + dy * dy * rx * rx <= static_cast<long>(rx) * rx * ry * ry;
}

bool in_circle(int x, int y, int cx, int cy, int radius) { return in_ellipse(x, y, cx, cy, radius, radius); }

// The mossling, on a 256x256 canvas: a round green creature with leaf ears,
// big eyes and a mossy coat, standing in a marsh at dusk.
Rgb mossling_pixel(int x, int y) {
    Rgb c;
    const int haze = value_noise(11, x, y, 32) - 128;
    if (y < 150) {
        c = {70 + y / 3 + haze / 10, 90 + y / 3 + haze / 12, 125 + y / 6, false};
    } else {
        const int grass = value_noise(12, x, y * 3, 6) - 128;
        c = {60 + grass / 8 + haze / 12, 84 + grass / 5, 40 + grass / 12, false};
        if (in_ellipse(x, y, 128, 222, 92, 16)) c = {c.r * 2 / 3, c.g * 2 / 3, c.b * 2 / 3, false};
    }
    const bool leaf = in_ellipse(x, y, 104, 78, 14, 26) || in_ellipse(x, y, 152, 74, 16, 24);
    const bool foot = in_ellipse(x, y, 96, 214, 22, 12) || in_ellipse(x, y, 160, 214, 22, 12);
    if (leaf) c = {80 + (y - 50) / 2, 160 + (x % 7), 60, true};
    if (foot) c = {46, 92, 40, true};
    if (in_ellipse(x, y, 128, 148, 84, 70)) {
        const long dx = x - 128, dy = y - 148;
        const long t = (dx * dx * 1024) / (84 * 84) + (dy * dy * 1024) / (70 * 70);
        const int light = static_cast<int>(1024 - t) / 10 - static_cast<int>(dx + dy) / 3;
        const bool moss = value_noise(13, x, y, 5) > 160;
        c = {60 + light / 3, 120 + light / 2, 45 + light / 5, true};
        if (moss) c = {c.r - 18, c.g - 10, c.b - 12, true};
        if (in_circle(x, y, 100, 128, 17) || in_circle(x, y, 156, 128, 17)) c = {236, 234, 218, true};
        if (in_circle(x, y, 103, 131, 7) || in_circle(x, y, 159, 131, 7)) c = {22, 20, 30, true};
        if (in_circle(x, y, 97, 124, 3) || in_circle(x, y, 153, 124, 3)) c = {255, 255, 250, true};
        const long mx = x - 128, my = y - 150;
        const long d2 = mx * mx + my * my;
        if (y > 168 && d2 > 27 * 27 && d2 < 32 * 32) c = {38, 52, 30, true};
    }
    c.r = clamp_int(c.r, 0, 255);
    c.g = clamp_int(c.g, 0, 255);
    c.b = clamp_int(c.b, 0, 255);
    return c;
}

// BITMAPINFOHEADER + bottom-up BGRA pixels + AND mask, as stored in RT_ICON.
Bytes icon_image(int size) {
    Bytes b;
    put32(b, 40);
    put_s32(b, size);
    put_s32(b, size * 2);
    put16(b, 1);
    put16(b, 32);
    put32(b, 0);
    const std::size_t mask_row = align_up(static_cast<std::size_t>(size + 7) / 8, 4);
    put32(b, u32(static_cast<std::size_t>(size * size * 4) + mask_row * static_cast<std::size_t>(size)));
    for (int i = 0; i < 4; ++i) put32(b, 0);
    for (int y = size - 1; y >= 0; --y)
        for (int x = 0; x < size; ++x) {
            const Rgb p = mossling_pixel(x * 256 / size, y * 256 / size);
            put8(b, static_cast<std::uint32_t>(p.b));
            put8(b, static_cast<std::uint32_t>(p.g));
            put8(b, static_cast<std::uint32_t>(p.r));
            put8(b, p.creature ? 255u : 0u);
        }
    for (int y = size - 1; y >= 0; --y) {
        Bytes row(mask_row, 0);
        for (int x = 0; x < size; ++x)
            if (!mossling_pixel(x * 256 / size, y * 256 / size).creature)
                row[static_cast<std::size_t>(x / 8)] |= static_cast<std::uint8_t>(0x80u >> (x % 8));
        append(b, row);
    }
    return b;
}

Bytes version_node(std::string_view key, const Bytes& value, std::uint32_t value_length, std::uint32_t type,
                   const std::vector<Bytes>& children) {
    Bytes n;
    put16(n, 0);
    put16(n, value_length);
    put16(n, type);
    put_utf16z(n, key);
    align_to(n, 4);
    append(n, value);
    for (const auto& c : children) {
        align_to(n, 4);
        append(n, c);
    }
    poke16(n, 0, u32(n.size()));
    return n;
}

Bytes version_string(std::string_view key, std::string_view text) {
    Bytes v;
    put_utf16z(v, text);
    return version_node(key, v, u32(text.size() + 1), 1, {});
}

Bytes version_info(const PeSettings& s) {
    Bytes fixed;
    put32(fixed, 0xFEEF04BDu);
    put32(fixed, 0x00010000u);
    for (int i = 0; i < 2; ++i) {  // file version, then product version: 1.0.128.0
        put32(fixed, 0x00010000u);
        put32(fixed, 0x00800000u);
    }
    put32(fixed, 0x3F);
    put32(fixed, 0);
    put32(fixed, 0x00040004u);
    put32(fixed, s.dll ? 2u : 1u);
    put32(fixed, 0);
    put32(fixed, 0);
    put32(fixed, 0);
    const std::string base = s.module_name.substr(0, s.module_name.rfind('.'));
    std::vector<Bytes> strings{
        version_string("CompanyName", "Brackmoor Softworks"),
        version_string("FileDescription", s.description),
        version_string("FileVersion", "1.0.128.0"),
        version_string("InternalName", base),
        version_string("LegalCopyright", "Copyright (C) 2004-2006 Brackmoor Softworks"),
        version_string("OriginalFilename", s.module_name),
        version_string("ProductName", "Quorvel"),
        version_string("ProductVersion", "build128"),
    };
    Bytes table = version_node("040904B0", {}, 0, 1, strings);
    Bytes translation;
    put16(translation, 0x0409);
    put16(translation, 0x04B0);
    Bytes var_info = version_node("VarFileInfo", {}, 0, 1, {version_node("Translation", translation, 4, 0, {})});
    return version_node("VS_VERSION_INFO", fixed, u32(fixed.size()), 0,
                        {version_node("StringFileInfo", {}, 0, 1, {table}), var_info});
}

std::string app_manifest(const PeSettings& s) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n"
           "<assembly xmlns=\"urn:schemas-microsoft-com:asm.v1\" manifestVersion=\"1.0\">\r\n"
           "  <assemblyIdentity type=\"win32\" name=\"Brackmoor.Quorvel." +
           s.tag +
           "\" version=\"1.0.128.0\" processorArchitecture=\"amd64\"/>\r\n"
           "  <description>" +
           s.description +
           "</description>\r\n"
           "  <trustInfo xmlns=\"urn:schemas-microsoft-com:asm.v3\">\r\n"
           "    <security>\r\n"
           "      <requestedPrivileges>\r\n"
           "        <requestedExecutionLevel level=\"asInvoker\" uiAccess=\"false\"/>\r\n"
           "      </requestedPrivileges>\r\n"
           "    </security>\r\n"
           "  </trustInfo>\r\n"
           "</assembly>\r\n";
}

std::vector<Resource> pe_resources(const PeSettings& s) {
    constexpr std::uint32_t kIcon = 3, kGroupIcon = 14, kVersion = 16, kManifest = 24;
    std::vector<Resource> res;
    Bytes group;
    put16(group, 0);
    put16(group, 1);
    put16(group, u32(s.icon_sizes.size()));
    std::uint32_t id = 1;
    for (int size : s.icon_sizes) {
        Bytes image = icon_image(size);
        put8(group, static_cast<std::uint32_t>(size));
        put8(group, static_cast<std::uint32_t>(size));
        put8(group, 0);
        put8(group, 0);
        put16(group, 1);
        put16(group, 32);
        put32(group, u32(image.size()));
        put16(group, id);
        res.push_back({kIcon, id++, std::move(image)});
    }
    if (!s.icon_sizes.empty()) res.push_back({kGroupIcon, 101, group});
    res.push_back({kVersion, 1, version_info(s)});
    if (s.manifest) res.push_back({kManifest, 1, to_bytes(app_manifest(s))});
    return res;
}

// ---------------------------------------------------------------- headers

PeLayout plan_layout(const PeSettings& s, std::size_t rsrc_size) {
    PeLayout l;
    l.image_base = s.dll ? 0x180000000ull : 0x140000000ull;
    const std::size_t body = s.file_size - kHeaderSize;
    l.rsrc_raw = align_up(rsrc_size, kFileAlign);
    l.text_raw = body * s.text_percent / 100 / kFileAlign * kFileAlign;
    l.data_raw = std::max(kFileAlign, body * s.data_percent / 100 / kFileAlign * kFileAlign);
    if (l.text_raw + l.data_raw + l.rsrc_raw + 8 * kFileAlign > body) die("internal error: PE sections do not fit");
    l.rdata_raw = body - l.text_raw - l.data_raw - l.rsrc_raw;
    l.text_rva = u32(kSectionAlign);
    l.rdata_rva = l.text_rva + u32(align_up(l.text_raw, kSectionAlign));
    l.data_rva = l.rdata_rva + u32(align_up(l.rdata_raw, kSectionAlign));
    l.data_vsize = u32(l.data_raw + (s.dll ? 0x900u : 0x6A40u));  // .bss tail
    l.rsrc_rva = l.data_rva + u32(align_up(l.data_vsize, kSectionAlign));
    return l;
}

struct SectionHeader {
    std::string_view name;
    std::uint32_t vsize, rva;
    std::size_t raw, raw_offset;
    std::uint32_t flags;
};

void write_dos_header(Bytes& b) {
    put_text(b, "MZ");
    for (std::uint32_t v : {0x90u, 3u, 0u, 4u, 0u, 0xFFFFu, 0u, 0xB8u, 0u, 0u, 0u, 0x40u, 0u}) put16(b, v);
    pad_to(b, 0x3C);
    put32(b, u32(kPeOffset));
    // 16-bit stub: print the message below through DOS and exit with code 1.
    for (std::uint32_t v : {0x0Eu, 0x1Fu, 0xBAu, 0x0Eu, 0x00u, 0xB4u, 0x09u, 0xCDu, 0x21u, 0xB8u, 0x01u, 0x4Cu, 0xCDu, 0x21u})
        put8(b, v);
    put_text(b, "This program needs 64-bit Windows.\r\r\n$");
    pad_to(b, kPeOffset);
}

Bytes pe_headers(const PeSettings& s, const PeLayout& l, const std::vector<SectionHeader>& sections,
                 std::uint32_t entry, const std::vector<DataDir>& dirs, std::uint32_t image_size) {
    Bytes b;
    write_dos_header(b);
    put_text(b, std::string_view("PE\0\0", 4));
    put16(b, 0x8664);
    put16(b, u32(sections.size()));
    put32(b, s.timestamp);
    put32(b, 0);
    put32(b, 0);
    put16(b, 0xF0);
    put16(b, s.dll ? 0x2022u : 0x0023u);
    put16(b, 0x20B);
    put8(b, 9);
    put8(b, 0);
    put32(b, u32(l.text_raw));
    put32(b, u32(l.rdata_raw + l.data_raw + l.rsrc_raw));
    put32(b, 0);
    put32(b, entry);
    put32(b, l.text_rva);
    put64(b, l.image_base);
    put32(b, u32(kSectionAlign));
    put32(b, u32(kFileAlign));
    for (std::uint32_t v : {6u, 0u, 1u, 0u, 6u, 0u}) put16(b, v);
    put32(b, 0);
    put32(b, image_size);
    put32(b, u32(kHeaderSize));
    put32(b, 0);  // checksum, patched once the file is complete
    put16(b, 2);
    put16(b, s.dll ? 0x0100u : 0x8100u);
    for (std::uint64_t v : {0x100000ull, 0x1000ull, 0x100000ull, 0x1000ull}) put64(b, v);
    put32(b, 0);
    put32(b, 16);
    for (std::size_t i = 0; i < 16; ++i) {
        put32(b, i < dirs.size() ? dirs[i].rva : 0);
        put32(b, i < dirs.size() ? dirs[i].size : 0);
    }
    for (const auto& sec : sections) {
        put_fixed(b, sec.name, 8);
        put32(b, sec.vsize);
        put32(b, sec.rva);
        put32(b, u32(sec.raw));
        put32(b, u32(sec.raw_offset));
        put32(b, 0);
        put32(b, 0);
        put32(b, 0);
        put32(b, sec.flags);
    }
    if (b.size() > kHeaderSize) die("internal error: PE headers too large");
    pad_to(b, kHeaderSize);
    return b;
}

constexpr std::size_t kChecksumOffset = kPeOffset + 4 + 20 + 64;

std::uint32_t pe_checksum(const Bytes& f) {
    std::uint64_t sum = 0;
    for (std::size_t i = 0; i + 1 < f.size(); i += 2) {
        if (i == kChecksumOffset || i == kChecksumOffset + 2) continue;
        sum += static_cast<std::uint32_t>(f[i] | (f[i + 1] << 8));
        sum = (sum & 0xFFFFu) + (sum >> 16);
    }
    sum = (sum & 0xFFFFu) + (sum >> 16);
    return static_cast<std::uint32_t>(sum + f.size());
}

Bytes make_pe(const PeSettings& s) {
    Rng r = seeded(s.tag);
    const std::vector<Resource> resources = pe_resources(s);
    const PeLayout l = plan_layout(s, build_rsrc(resources, 0).size());
    const Bytes rsrc = build_rsrc(resources, l.rsrc_rva);
    std::vector<std::uint32_t> functions;
    std::uint32_t text_vsize = 0;
    const Bytes text = gen_text(r, s, l, plan_iat(s.imports, l.rdata_rva), functions, text_vsize);
    const RdataOut rdata = gen_rdata(r, s, l, functions);
    const Bytes data = gen_data(r, l, functions);

    std::vector<SectionHeader> sections{
        {".text", text_vsize, l.text_rva, l.text_raw, kHeaderSize, 0x60000020u},
        {".rdata", rdata.vsize, l.rdata_rva, l.rdata_raw, kHeaderSize + l.text_raw, 0x40000040u},
        {".data", l.data_vsize, l.data_rva, l.data_raw, kHeaderSize + l.text_raw + l.rdata_raw, 0xC0000040u},
        {".rsrc", u32(rsrc.size()), l.rsrc_rva, l.rsrc_raw, kHeaderSize + l.text_raw + l.rdata_raw + l.data_raw,
         0x40000040u},
    };
    std::vector<DataDir> dirs(13);
    dirs[0] = rdata.exports;
    dirs[1] = rdata.imports;
    dirs[2] = {l.rsrc_rva, u32(rsrc.size())};
    dirs[12] = rdata.iat;
    const std::uint32_t image_size = l.rsrc_rva + u32(align_up(rsrc.size(), kSectionAlign));
    Bytes file = pe_headers(s, l, sections, functions.front(), dirs, image_size);
    append(file, text);
    append(file, rdata.bytes);
    append(file, data);
    append(file, rsrc);
    pad_to(file, s.file_size);
    poke32(file, kChecksumOffset, pe_checksum(file));
    return file;
}

PeSettings launcher_settings(bool fullscreen) {
    Rng r = seeded("launcher imports");
    PeSettings s;
    s.tag = "Launcher";
    s.file_size = 36864;
    s.timestamp = fullscreen ? 0x4559A3C0u : 0x4559A3E7u;
    s.text_percent = 50;
    s.data_percent = 4;
    s.module_name = fullscreen ? "Quorvel (fullscreen).exe" : "Quorvel (windowed).exe";
    s.description = "Quorvel launcher";
    s.slot_strings = fullscreen
        ? std::vector<std::string>{"Quorvel (fullscreen)", "-fullscreen", "dravik\\dravik.exe -fullscreen"}
        : std::vector<std::string>{"Quorvel (windowed)", "-windowed", "dravik\\dravik.exe -windowed"};
    s.mode_constant = fullscreen ? 1 : 0;
    s.icon_sizes = {32};
    s.manifest = true;
    s.imports = common_imports(r, 30);
    s.imports.push_back({"SHELL32.dll", {"SHGetFolderPathW", "ShellExecuteW"}});
    return s;
}

PeSettings game_settings() {
    Rng r = seeded("game imports");
    PeSettings s;
    s.tag = "Game";
    s.file_size = 1146880;
    s.timestamp = 0x45599F10u;
    s.text_percent = 57;
    s.data_percent = 3;
    s.module_name = "dravik.exe";
    s.description = "Quorvel";
    s.icon_sizes = {16, 32, 48};
    s.manifest = true;
    s.imports = common_imports(r, 75);
    s.imports.push_back({"GDI32.dll", {"BitBlt", "CreateCompatibleDC", "CreateDIBSection", "DeleteDC",
                                       "DeleteObject", "GetDeviceCaps", "SelectObject", "SetDeviceGammaRamp"}});
    s.imports.push_back({"SDL.dll", sample_of(r, library_exports(), 40)});
    s.imports.push_back({"WINMM.dll", {"timeBeginPeriod", "timeEndPeriod", "timeGetTime"}});
    return s;
}

PeSettings library_settings() {
    Rng r = seeded("library imports");
    PeSettings s;
    s.tag = "Library";
    s.file_size = 319488;
    s.dll = true;
    s.timestamp = 0x44F1C2A8u;
    s.text_percent = 62;
    s.data_percent = 5;
    s.module_name = "SDL.dll";
    s.description = "Quorvel media layer";
    s.imports = common_imports(r, 55);
    s.imports.push_back({"GDI32.dll", {"CreateDIBSection", "DeleteObject", "GetDeviceCaps", "SetDeviceGammaRamp"}});
    s.imports.push_back({"WINMM.dll", {"timeBeginPeriod", "timeGetTime", "waveOutClose", "waveOutOpen",
                                       "waveOutPrepareHeader", "waveOutWrite"}});
    s.exports = library_exports();
    return s;
}

// ======================================================================
// Game data archives

struct Lump {
    std::string name;
    Bytes data;
};

std::string lump_name(std::string_view stem, int number) {
    std::string n = std::to_string(number);
    return std::string(stem.substr(0, 8 - n.size())) + n;
}

// 16 colour ramps of 16 shades, the usual layout of a paletted game.
const int kRampColours[16][3] = {
    {200, 200, 200}, {140, 90, 60},  {170, 60, 40},  {90, 130, 60},  {60, 100, 40},  {110, 110, 130},
    {150, 130, 90},  {60, 80, 140},  {190, 160, 60}, {120, 70, 110}, {80, 140, 140}, {200, 120, 60},
    {100, 80, 60},   {160, 170, 120}, {70, 70, 80},  {230, 210, 170},
};

Bytes palette_lump() {
    Bytes b;
    static constexpr int kTints[4][3] = {{0, 0, 0}, {60, -20, -20}, {-10, 40, -10}, {30, 30, 30}};
    for (const auto& tint : kTints)
        for (const auto& ramp : kRampColours)
            for (int shade = 0; shade < 16; ++shade)
                for (int ch = 0; ch < 3; ++ch)
                    put8(b, static_cast<std::uint32_t>(clamp_int(ramp[ch] * (shade + 2) / 14 + tint[ch], 0, 255)));
    return b;
}

Bytes colormap_lump() {
    Bytes b;
    for (int level = 0; level < 32; ++level)
        for (int index = 0; index < 256; ++index) {
            const int shade = index % 16;
            put8(b, static_cast<std::uint32_t>(index - shade + shade * (32 - level) / 32));
        }
    return b;
}

int texture_shade(Rng& r, int style, std::uint32_t seed, int x, int y) {
    const int grain = static_cast<int>(below(r, 3)) - 1;
    switch (style) {
    case 0: {  // bricks
        const int row = y / 16, bx = x + (row % 2) * 16;
        if (y % 16 == 0 || bx % 32 == 0) return 3 + grain;
        return 8 + static_cast<int>(lattice(seed, bx / 32, row) % 5) - 2 + (y % 16 == 1 ? 2 : 0) + grain;
    }
    case 1: {  // planks
        const int board = x / 16;
        const int wave = isin(static_cast<std::uint32_t>(y * 900) + lattice(seed, board, 0)) >> 13;
        return 8 + wave + (x % 16 == 0 ? -4 : 0) + grain;
    }
    case 2:  // rough stone
        return 3 + value_noise(seed, x, y, 16) * 9 / 256 + value_noise(seed + 1, x, y, 4) / 96 + grain;
    case 3:  // riveted metal
        if (x % 64 == 0 || y % 64 == 0) return 2;
        if (x % 32 >= 3 && x % 32 <= 5 && y % 32 >= 3 && y % 32 <= 5) return 14;
        return 5 + y * 6 / 128 + (grain > 0 ? 1 : 0);
    default:  // moss
        return 4 + value_noise(seed, x, y, 8) * 8 / 256 + (chance(r, 10) ? 3 : 0) + grain;
    }
}

Bytes texture_pixels(Rng& r, int w, int h) {
    Bytes b;
    const int style = static_cast<int>(below(r, 5));
    const std::uint32_t ramp = below(r, 16), seed = next_u32(r);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            put8(b, ramp * 16 + static_cast<std::uint32_t>(clamp_int(texture_shade(r, style, seed, x, y), 0, 15)));
    return b;
}

Bytes texture_lump(Rng& r) {
    static constexpr int kSizes[][2] = {{64, 64}, {64, 64}, {64, 128}, {128, 128}, {128, 64}, {32, 32}, {256, 128}};
    const auto& size = pick(r, kSizes);
    Bytes b;
    put16(b, static_cast<std::uint32_t>(size[0]));
    put16(b, static_cast<std::uint32_t>(size[1]));
    put_s16(b, size[0] / 2);
    put_s16(b, size[1] - 4);
    append(b, texture_pixels(r, size[0], size[1]));
    return b;
}

// Integer synthesis: oscillators, noise and a linear attack/decay envelope.
Bytes sound_samples(Rng& r, std::size_t samples, std::uint32_t rate) {
    Bytes b;
    const std::uint32_t kind = below(r, 5);
    const int f0 = between(r, 70, 1200), f1 = kind == 1 ? between(r, 60, 2400) : f0;
    const int noise = kind == 2 ? 9000 : between(r, 900, 3500);
    const int tone = kind == 2 ? 6000 : between(r, 9000, 20000);
    const std::size_t attack = std::max<std::size_t>(1, samples / between_z(r, 8, 60));
    std::uint32_t phase = 0, mod_phase = 0;
    int low = 0;
    for (std::size_t i = 0; i < samples; ++i) {
        const auto f = static_cast<std::uint64_t>(f0 + static_cast<std::int64_t>(f1 - f0) * static_cast<std::int64_t>(i) /
                                                           static_cast<std::int64_t>(samples));
        phase += static_cast<std::uint32_t>((f << 32) / rate);
        mod_phase += static_cast<std::uint32_t>((f << 31) / rate);
        std::uint32_t p = phase >> 16;
        if (kind == 3) p += static_cast<std::uint32_t>(isin(mod_phase >> 16) / 4);  // growl: phase modulation
        int wave = isin(p) + isin(p * 2) / 3;
        if (kind == 0 && i > samples / 2) wave = isin(p * 3 / 2);  // two-note chime
        if (kind == 4 && (i / (rate / 8)) % 2 == 1) wave = 0;      // footsteps
        const int white = static_cast<int>(next_u32(r) >> 16) - 32768;
        low += (white - low) / 4;
        const int env = static_cast<int>(i < attack ? i * 1024 / attack : (samples - i) * 1024 / (samples - attack + 1));
        const int v = (wave * tone / 32767 + low * noise / 16384) * env / 1024;
        put_s16(b, clamp_int(v, -32768, 32767));
    }
    return b;
}

Bytes sound_lump(Rng& r, std::size_t samples) {
    Bytes b;
    const std::uint32_t rate = chance(r, 60) ? 11025u : 22050u;
    put16(b, 1);
    put16(b, 1);
    put32(b, rate);
    put32(b, u32(samples));
    append(b, sound_samples(r, samples, rate));
    return b;
}

Bytes music_lump(Rng& r, std::size_t events) {
    static constexpr int kScale[] = {0, 3, 5, 7, 10, 12, 15, 17};
    Bytes b;
    put_text(b, "QMUS");
    put16(b, 8);
    put16(b, 96);
    put16(b, u32(static_cast<std::size_t>(between(r, 80, 140))));
    const int patterns = between(r, 3, 6);
    put16(b, static_cast<std::uint32_t>(patterns));
    put32(b, u32(events));
    std::vector<Bytes> bank;
    for (int p = 0; p < patterns; ++p) {
        Bytes pat;
        int step = between(r, 0, 7);
        for (int i = between(r, 24, 48); i > 0; --i) {
            step = clamp_int(step + between(r, -2, 2), 0, 7);
            const std::uint32_t channel = below(r, 3);
            put8(pat, chance(r, 30) ? 0u : 24u * (1u + below(r, 2)));
            put8(pat, 0x10u | channel);
            put8(pat, static_cast<std::uint32_t>(48 + 12 * static_cast<int>(channel) / 2 + kScale[step]));
            put8(pat, 64u + below(r, 48));
        }
        bank.push_back(pat);
    }
    const std::size_t end = b.size() + 4 * events;
    while (b.size() < end) {
        const Bytes& pat = bank[below(r, u32(bank.size()))];
        static constexpr int kTransposes[] = {0, 0, 5, 7, -2};
        const int transpose = pick(r, kTransposes);
        for (std::size_t i = 0; i + 3 < pat.size() && b.size() < end; i += 4) {
            put8(b, pat[i]);
            put8(b, pat[i + 1]);
            put8(b, static_cast<std::uint32_t>(pat[i + 2] + transpose));
            put8(b, static_cast<std::uint32_t>(pat[i + 3]) - below(r, 6));
        }
    }
    return b;
}

std::string script_text(Rng& r, std::size_t size, std::string_view eol) {
    Doc d{{}, size, eol};
    for (int room = between(r, 1, 40);; ++room) {
        std::vector<std::string> block{"room " + std::to_string(room) + " \"" +
                                       capitalise(expand(r, "{adj} {thing}")) + "\""};
        for (int h = between(r, 1, 3); h > 0; --h) {
            if (chance(r, 50)) block.push_back("  on enter");
            else {
                const std::string use = expand(r, "  on use {thing} ");
                block.push_back(use + std::to_string(between(r, 1, 60)));
            }
            for (int a = between(r, 1, 4); a > 0; --a) {
                switch (below(r, 5)) {
                case 0: block.push_back("    play sound \"" + lump_name("SN_", between(r, 1, 300)) + "\""); break;
                case 1: block.push_back("    set light " + std::to_string(16 * between(r, 2, 15))); break;
                case 2: {
                    const std::string door = "    open door " + std::to_string(between(r, 1, 90));
                    block.push_back(door + " speed " + std::to_string(between(r, 1, 4)));
                    break;
                }
                case 3: {
                    const std::string spawn = expand(r, "    spawn {creature} at ");
                    block.push_back(spawn + std::to_string(between(r, 1, 200)));
                    break;
                }
                default: block.push_back("    say \"" + game_sentence(r) + "\""); break;
                }
            }
            block.push_back("  end");
        }
        block.push_back("end");
        block.emplace_back();
        if (!add_block(d, block, 200)) break;
    }
    finish_doc(r, d, game_sentence, "# ", "# ");
    return d.text;
}

Bytes packed_lump(Rng& r) {
    Bytes raw;
    switch (below(r, 3)) {
    case 0:
        for (int i = between(r, 2, 6); i > 0; --i) append(raw, texture_pixels(r, 128, 64));
        break;
    case 1: append(raw, to_bytes(script_text(r, between_z(r, 12000, 40000), "\n"))); break;
    default: append(raw, sound_samples(r, between_z(r, 4000, 16000), 11025)); break;
    }
    Bytes b;
    put_text(b, "ZPK1");
    put32(b, u32(raw.size()));
    put32(b, crc_of(raw.data(), raw.size()));
    append(b, zlib_compress(raw, 9));
    return b;
}

void add_level(Rng& r, std::vector<Lump>& lumps, int number) {
    struct Room {
        int x0, y0, x1, y1;
    };
    std::vector<Room> rooms;
    const int cols = between(r, 7, 10), rows = between(r, 7, 10);
    for (int gy = 0; gy < rows; ++gy)
        for (int gx = 0; gx < cols; ++gx)
            if (chance(r, 70)) {
                const int x0 = gx * 512 + 32 * between(r, 0, 4), y0 = gy * 512 + 32 * between(r, 0, 4);
                rooms.push_back({x0, y0, gx * 512 + 512 - 32 * between(r, 0, 4), gy * 512 + 512 - 32 * between(r, 0, 4)});
            }
    Bytes verts, lines, sectors, ents, nav;
    std::uint32_t vcount = 0;
    for (std::size_t s = 0; s < rooms.size(); ++s) {
        const Room& rm = rooms[s];
        const std::uint32_t first = vcount;
        auto vertex = [&](int x, int y) {
            put_s32(verts, x * 16);
            put_s32(verts, y * 16);
            ++vcount;
        };
        for (int x = rm.x0; x < rm.x1; x += 64) vertex(x, rm.y0);
        for (int y = rm.y0; y < rm.y1; y += 64) vertex(rm.x1, y);
        for (int x = rm.x1; x > rm.x0; x -= 64) vertex(x, rm.y1);
        for (int y = rm.y1; y > rm.y0; y -= 64) vertex(rm.x0, y);
        for (std::uint32_t v = first; v < vcount; ++v) {
            const bool door = chance(r, 6);
            put16(lines, v);
            put16(lines, v + 1 < vcount ? v + 1 : first);
            put16(lines, door ? 0x0004u : 0x0001u);
            put16(lines, u32(s));
            put16(lines, door ? below(r, u32(rooms.size())) : 0xFFFFu);
            put16(lines, below(r, 40));
            put16(lines, door ? below(r, 90) : 0u);
            put16(lines, 0);
        }
        const int floor = 8 * between(r, -8, 16);
        put_s16(sectors, floor);
        put_s16(sectors, floor + 8 * between(r, 16, 32));
        put16(sectors, below(r, 24));
        put16(sectors, below(r, 24));
        put8(sectors, 16u * (6u + below(r, 10)));
        put8(sectors, chance(r, 85) ? 0u : below(r, 12));
        put16(sectors, chance(r, 80) ? 0u : below(r, 90));
        for (int e = between(r, 2, 9); e > 0; --e) {
            put_s32(ents, (rm.x0 + 16 + static_cast<int>(below(r, u32(static_cast<std::size_t>(rm.x1 - rm.x0 - 32))))) * 16);
            put_s32(ents, (rm.y0 + 16 + static_cast<int>(below(r, u32(static_cast<std::size_t>(rm.y1 - rm.y0 - 32))))) * 16);
            put16(ents, 45u * below(r, 8));
            put16(ents, 1u + below(r, 60));
            put16(ents, 7);
            put16(ents, chance(r, 80) ? 0u : below(r, 90));
        }
    }
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x) {
            std::uint32_t cell = 0;
            for (const Room& rm : rooms)
                if (x * 80 >= rm.x0 && x * 80 < rm.x1 && y * 80 >= rm.y0 && y * 80 < rm.y1)
                    cell = (x * 80 - rm.x0 < 80 || rm.x1 - x * 80 <= 80) ? 2u : 1u;
            put8(nav, cell);
        }
    lumps.push_back({lump_name("LEVEL", number), {}});
    lumps.push_back({"VERTS", verts});
    lumps.push_back({"LINES", lines});
    lumps.push_back({"SECTS", sectors});
    lumps.push_back({"ENTS", ents});
    lumps.push_back({"NAV", nav});
}

std::size_t lumps_end(const std::vector<Lump>& lumps) {
    std::size_t off = 12;
    for (const auto& l : lumps) off = align_up(off, 4) + l.data.size();
    return align_up(off, 4);
}

// File size if `extra` more directory entries (and no more data) were added.
std::size_t wad_size(const std::vector<Lump>& lumps, std::size_t extra) {
    return lumps_end(lumps) + 16 * (lumps.size() + extra);
}

Bytes build_wad(const std::vector<Lump>& lumps) {
    Bytes b;
    put_text(b, "QWAD");
    put32(b, u32(lumps.size()));
    put32(b, 0);
    std::vector<std::size_t> offsets;
    for (const auto& l : lumps) {
        align_to(b, 4);
        offsets.push_back(b.size());
        append(b, l.data);
    }
    align_to(b, 4);
    poke32(b, 8, u32(b.size()));
    for (std::size_t i = 0; i < lumps.size(); ++i) {
        put32(b, u32(offsets[i]));
        put32(b, u32(lumps[i].data.size()));
        put_fixed(b, lumps[i].name, 8);
    }
    return b;
}

struct WadMix {
    unsigned textures, levels, scripts, music, packed;  // percent of the file; sounds take the rest
};

void add_until(std::vector<Lump>& lumps, std::size_t budget, const std::string& stem, Rng& r, Bytes (*make)(Rng&)) {
    const std::size_t start = lumps_end(lumps);
    for (int n = 1; lumps_end(lumps) - start < budget; ++n) lumps.push_back({lump_name(stem, n), make(r)});
}

Bytes script_lump(Rng& r) { return to_bytes(script_text(r, between_z(r, 1500, 9000), "\n")); }
Bytes music_lump_random(Rng& r) { return music_lump(r, between_z(r, 1500, 6000)); }

Bytes make_wad(std::string_view tag, std::size_t total, const WadMix& mix) {
    Rng r = seeded(tag);
    std::vector<Lump> lumps{{"PALETTE", palette_lump()}, {"COLORMAP", colormap_lump()}};
    for (int level = 1; lumps_end(lumps) < total * mix.levels / 100; ++level) add_level(r, lumps, level);
    add_until(lumps, total * mix.scripts / 100, "SCR_", r, script_lump);
    lumps.push_back({"TX_START", {}});
    add_until(lumps, total * mix.textures / 100, "TX_", r, texture_lump);
    lumps.push_back({"TX_END", {}});
    if (mix.music > 0) add_until(lumps, total * mix.music / 100, "MU_", r, music_lump_random);
    add_until(lumps, total * mix.packed / 100, "ZP_", r, packed_lump);
    lumps.push_back({"SN_START", {}});
    constexpr std::size_t kCredits = 4096;
    constexpr std::size_t kLongestSound = 12 + 2 * 30000;
    int n = 1;
    while (wad_size(lumps, 4) + kLongestSound + kCredits + 64 < total)
        lumps.push_back({lump_name("SN_", n++), sound_lump(r, between_z(r, 2000, 30000))});
    // One last sound sized so that the credits text gets about kCredits bytes.
    const std::size_t room = total - wad_size(lumps, 3);
    if (room > kCredits + 12 + 64) lumps.push_back({lump_name("SN_", n), sound_lump(r, (room - kCredits - 12) / 2)});
    lumps.push_back({"SN_END", {}});
    const std::size_t credits = total - wad_size(lumps, 1);
    if (credits < 512 || wad_size(lumps, 1) > total) die("internal error: archive plan does not fit");
    Doc d{{}, credits, "\n"};
    add_line(d, "Quorvel data archive, build128");
    add_line(d, "");
    for (int i = between(r, 6, 10); i > 0; --i) add_line(d, "  " + person_name(r));
    add_line(d, "");
    finish_doc(r, d, game_sentence, "", "");
    lumps.push_back({"CREDITS", to_bytes(d.text)});
    return build_wad(lumps);
}

// ======================================================================
// PNG picture

void png_chunk(Bytes& png, std::string_view type, const Bytes& data) {
    put8(png, u32(data.size()) >> 24);
    put8(png, u32(data.size()) >> 16);
    put8(png, u32(data.size()) >> 8);
    put8(png, u32(data.size()));
    const std::size_t start = png.size();
    put_text(png, type);
    append(png, data);
    const std::uint32_t crc = crc_of(png.data() + start, png.size() - start);
    for (int shift = 24; shift >= 0; shift -= 8) put8(png, crc >> shift);
}

int paeth(int a, int b, int c) {
    const int p = a + b - c, pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
    if (pa <= pb && pa <= pc) return a;
    return pb <= pc ? b : c;
}

// Per-row filter choice by smallest sum of absolute differences, the
// heuristic most encoders use.
Bytes png_filtered_rows(const Bytes& rgb, int width, int height) {
    const std::size_t stride = static_cast<std::size_t>(width) * 3;
    Bytes out;
    Bytes prev(stride, 0);
    for (int y = 0; y < height; ++y) {
        const std::uint8_t* row = rgb.data() + static_cast<std::size_t>(y) * stride;
        Bytes best;
        long best_cost = -1;
        for (std::uint32_t type = 0; type < 5; ++type) {
            Bytes line{static_cast<std::uint8_t>(type)};
            long cost = 0;
            for (std::size_t i = 0; i < stride; ++i) {
                const int a = i >= 3 ? row[i - 3] : 0, b = prev[i], c = i >= 3 ? prev[i - 3] : 0;
                const int predict = type == 0 ? 0 : type == 1 ? a : type == 2 ? b : type == 3 ? (a + b) / 2 : paeth(a, b, c);
                const auto v = static_cast<std::uint8_t>((row[i] - predict) & 0xFF);
                line.push_back(v);
                cost += v < 128 ? v : 256 - v;
            }
            if (best_cost < 0 || cost < best_cost) {
                best_cost = cost;
                best = std::move(line);
            }
        }
        append(out, best);
        prev.assign(row, row + stride);
    }
    return out;
}

// `grain` is the percentage of pixels given a small luminance jitter (one
// value for all three channels, like film grain); dense grain does not fit.
Bytes png_pixels(int size, int grain) {
    Rng r = seeded("mossling grain");
    Bytes rgb;
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x) {
            const Rgb p = mossling_pixel(x * 256 / size, y * 256 / size);
            int jitter = 0;
            if (chance(r, static_cast<std::uint32_t>(grain))) jitter = chance(r, 50) ? between(r, 1, 2) : -between(r, 1, 2);
            for (int v : {p.r, p.g, p.b}) put8(rgb, static_cast<std::uint32_t>(clamp_int(v + jitter, 0, 255)));
        }
    return rgb;
}

Bytes png_idat(int size, int grain) {
    return zlib_compress(png_filtered_rows(png_pixels(size, grain), size, size), 9);
}

constexpr std::size_t kIdatPiece = 8192;

// Everything but the comment text: signature, IHDR, IDAT pieces, tEXt framing
// with its keyword, IEND.
std::size_t png_size_without_comment(std::size_t idat_size) {
    const std::size_t pieces = (idat_size + kIdatPiece - 1) / kIdatPiece;
    return 8 + 25 + idat_size + 12 * pieces + 12 + 8 + 12;
}

Bytes assemble_png(int size, const Bytes& idat, std::size_t total) {
    Bytes png{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    Bytes ihdr;
    for (int i = 0; i < 2; ++i)
        for (int shift = 24; shift >= 0; shift -= 8) put8(ihdr, static_cast<std::uint32_t>(size) >> shift);
    for (std::uint32_t v : {8u, 2u, 0u, 0u, 0u}) put8(ihdr, v);  // 8-bit RGB, no interlace
    png_chunk(png, "IHDR", ihdr);
    for (std::size_t at = 0; at < idat.size(); at += kIdatPiece)
        png_chunk(png, "IDAT", Bytes(idat.begin() + static_cast<std::ptrdiff_t>(at),
                                     idat.begin() + static_cast<std::ptrdiff_t>(std::min(idat.size(), at + kIdatPiece))));
    Rng r = seeded("mossling comment");
    Doc d{{}, total - png_size_without_comment(idat.size()), "\n"};
    add_line(d, "Mossling, a shy marsh creature from Quorvel. Desktop picture, build128.");
    finish_doc(r, d, game_sentence, "", "");
    Bytes text = to_bytes("Comment");
    put8(text, 0);
    append(text, to_bytes(d.text));
    png_chunk(png, "tEXt", text);
    png_chunk(png, "IEND", {});
    return png;
}

// The grainiest picture that still leaves room for a comment. 28 % is the
// largest grain that fits with zlib 1.2.x; lower values are only tried if the
// local zlib compresses worse, so normally one level-9 pass is enough.
Bytes make_png(std::size_t total) {
    constexpr std::size_t kMinComment = 1024;
    constexpr int kGrain = 28;
    for (int size : {256, 192, 128})
        for (int grain = kGrain; grain >= 0; grain -= 2) {
            const Bytes idat = png_idat(size, grain);
            if (png_size_without_comment(idat.size()) + kMinComment <= total) return assemble_png(size, idat, total);
        }
    die("internal error: the picture does not fit its size");
}

// ======================================================================
// Tile map

Bytes make_map(std::size_t total) {
    constexpr int kW = 128, kH = 128;
    constexpr std::size_t kLayerBytes = kW * kH * 2;
    Rng r = seeded("wendle");
    std::vector<std::uint16_t> floor(kW * kH), walls(kW * kH, 0), decor(kW * kH, 0), solid(kW * kH, 0);
    auto at = [](int x, int y) { return static_cast<std::size_t>(y * kW + x); };
    for (int y = 0; y < kH; ++y)
        for (int x = 0; x < kW; ++x) {
            const int n = value_noise(21, x, y, 24);
            std::uint16_t tile = n < 70 ? 40 : n < 90 ? 41 : n < 170 ? 1 : 3;  // water, shore, grass, heath
            if (tile == 1 && chance(r, 4)) tile = 2;
            floor[at(x, y)] = tile;
            if (tile <= 3 && chance(r, 3)) decor[at(x, y)] = static_cast<std::uint16_t>(300 + below(r, 6));
            if (tile == 40 || (decor[at(x, y)] >= 300 && decor[at(x, y)] < 303)) solid[at(x, y)] = 1;
        }
    for (int x = 0; x < kW; ++x) {  // the road through the crossing
        const int y = 64 + (isin(static_cast<std::uint32_t>(x * 700)) >> 12);
        for (int dy = -1; dy <= 1; ++dy) {
            floor[at(x, y + dy)] = 30;
            decor[at(x, y + dy)] = 0;
            solid[at(x, y + dy)] = 0;
        }
    }
    for (int house = 0; house < 14; ++house) {
        const int w = between(r, 6, 14), h = between(r, 5, 10);
        const int x0 = between(r, 2, kW - w - 3), y0 = between(r, 2, kH - h - 3);
        for (int y = y0; y <= y0 + h; ++y)
            for (int x = x0; x <= x0 + w; ++x) {
                const bool edge_x = x == x0 || x == x0 + w, edge_y = y == y0 || y == y0 + h;
                floor[at(x, y)] = static_cast<std::uint16_t>(100 + house % 4);
                decor[at(x, y)] = (!edge_x && !edge_y && chance(r, 8)) ? static_cast<std::uint16_t>(320 + below(r, 9)) : 0;
                walls[at(x, y)] = edge_x && edge_y ? 203 : edge_x ? 202 : edge_y ? 201 : 0;
                solid[at(x, y)] = walls[at(x, y)] != 0 ? 1 : 0;
            }
        const int door = x0 + w / 2;
        walls[at(door, y0 + h)] = 210;
        solid[at(door, y0 + h)] = 0;
    }

    const std::string author = person_name(r);
    std::string header;
    std::size_t entities = 0;
    for (int pass = 0; pass < 4; ++pass) {  // the header states the count, which depends on its own length
        header = "QMAP 2\nname = Wendle Crossing\nauthor = " + author +
                 "\nwidth = 128\nheight = 128\ntile_size = 32\nlayers = floor walls decor collision\n"
                 "layer_format = u16le\ntileset = dravik/tiles/marsh.til\nmusic = MU_3\nambient_light = 112\n"
                 "spawn = 12 97\nentity_size = 32\nentities = " +
                 std::to_string(entities) + "\nend\n";
        const std::size_t start = align_up(header.size(), 32);
        entities = (total - start - 4 * kLayerBytes - 32) / 32;
    }
    Bytes b = to_bytes(header);
    align_to(b, 32);
    for (const auto* layer : {&floor, &walls, &decor, &solid})
        for (std::uint16_t t : *layer) put16(b, t);
    put_text(b, "ENTS");
    put32(b, u32(entities));
    put32(b, 32);
    pad_to(b, b.size() + 20);
    static constexpr std::string_view kKinds[] = {"torch", "lantern", "chest", "sign", "mossling", "fenhound",
                                                  "murkfly", "barrel", "crate", "well", "trigger", "sound"};
    for (std::size_t i = 0; i < entities; ++i) {
        const std::uint32_t kind = below(r, u32(std::size(kKinds)));
        put16(b, 16u + 32u * below(r, kW));
        put16(b, 16u + 32u * below(r, kH));
        put16(b, kind + 1);
        put16(b, chance(r, 70) ? 7u : below(r, 8));
        put16(b, 45u * below(r, 8));
        put16(b, chance(r, 85) ? 0u : below(r, 40));
        put32(b, chance(r, 60) ? 0u : below(r, 1000));
        put_fixed(b, std::string(kKinds[kind]) + "_" + std::to_string(i + 1), 16);
    }
    return b;
}

// ======================================================================
// Manifest and output

std::vector<std::string> code_names() {
    Rng r = seeded("code names");
    std::set<std::string> seen;
    std::vector<std::string> names;
    while (names.size() < 40) {
        std::string w = syllable_word(r, between(r, 2, 3));
        // Short syllable strings are too often real words.
        if (w.size() < 6 || w.size() > 12 || !seen.insert(w).second) continue;
        names.push_back(w);
    }
    return names;
}

struct PackageFile {
    std::string name;
    std::size_t size;
    Bytes data;
};

std::vector<PackageFile> build_package() {
    std::vector<PackageFile> files{
        {"Quorvel (fullscreen).exe", 36864, {}}, {"dravik/SDL.dll", 319488, {}},
        {"dravik/hesk.wad", 1052672, {}},        {"dravik/playerdata/data.ver", 10, {}},
        {"lgpl.txt", 26530, {}},                 {"dravik/exec.ver", 10, {}},
        {"dravik/dravik.exe", 1146880, {}},      {"changelog.txt", 41213, {}},
        {"instructions.txt", 14322, {}},         {"Quorvel (windowed).exe", 36864, {}},
        {"dravik/trovin.wad", 1179648, {}},      {"dravik/images/mossling.png", 65536, {}},
        {"dravik/maps/wendle.map", 147456, {}},  {"readme.txt", 24603, {}},
    };
    files[0].data = make_pe(launcher_settings(true));
    files[1].data = make_pe(library_settings());
    files[2].data = make_wad("hesk", files[2].size, {34, 14, 7, 0, 12});
    files[3].data = to_bytes(version_file());
    files[4].data = to_bytes(make_licence(files[4].size));
    files[5].data = to_bytes(version_file());
    files[6].data = make_pe(game_settings());
    files[7].data = to_bytes(make_changelog(files[7].size));
    files[8].data = to_bytes(make_instructions(files[8].size));
    files[9].data = make_pe(launcher_settings(false));
    files[10].data = make_wad("trovin", files[10].size, {16, 8, 5, 22, 11});
    files[11].data = make_png(files[11].size);
    files[12].data = make_map(files[12].size);
    files[13].data = to_bytes(make_readme(files[13].size));
    for (const auto& f : files)
        if (f.data.size() != f.size)
            die("internal error: " + f.name + " came out as " + std::to_string(f.data.size()) + " bytes, expected " +
                std::to_string(f.size));
    return files;
}

std::string manifest_text(const std::vector<PackageFile>& files) {
    std::string m = "# generated by make-default-package; do not edit\n";
    for (std::string_view dir : {"\\Quorvel\\dravik", "\\Quorvel\\dravik\\playerdata", "\\Quorvel\\dravik\\images",
                                 "\\Quorvel\\dravik\\maps"})
        m += "dir " + std::string(dir) + "\n";
    for (int build = 128; build >= 41; --build) m += "build build" + std::to_string(build) + "\n";
    for (const auto& name : code_names()) m += "build " + name + "\n";
    for (const auto& f : files) m += "file " + f.name + "\n";
    return m;
}

void write_file(const std::filesystem::path& path, const Bytes& data) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) die("cannot create '" + path.string() + "': " + std::strerror(errno));
    const bool written = std::fwrite(data.data(), 1, data.size(), f) == data.size();
    const int saved = errno;
    if (std::fclose(f) != 0 || !written)
        die("cannot write '" + path.string() + "': " + std::strerror(written ? errno : saved));
}

void make_dirs(const std::filesystem::path& dir) {
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    if (ec || !std::filesystem::is_directory(dir, ec))
        die("cannot create folder '" + dir.string() + "': " + (ec ? ec.message() : "not a folder"));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2 || argv[1][0] == '\0') {
        std::fprintf(stderr, "usage: make-default-package OUTDIR\n");
        return 2;
    }
    const std::filesystem::path out = argv[1];
    const std::vector<PackageFile> files = build_package();
    make_dirs(out);
    for (const auto& f : files) {
        const std::filesystem::path path = out / f.name;
        make_dirs(path.parent_path());
        write_file(path, f.data);
    }
    write_file(out / "package.manifest", to_bytes(manifest_text(files)));
    return 0;
}
