#include "tools/pack/names.h"

#include <cstdint>
#include <sstream>

#include "package/image.h"

namespace {

constexpr uint32_t NoCodePoint = 0xFFFFFFFFu;

// The code point that starts at name[at], advancing at past it; NoCodePoint
// for bytes that are not UTF-8: a stray or missing continuation byte, an
// overlong form, a surrogate or a value beyond U+10FFFF.
uint32_t next_code_point(const std::string& name, size_t& at)
{
    unsigned char lead = static_cast<unsigned char>(name[at++]);
    if (lead < 0x80)
        return lead;
    size_t extra = lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC0 ? 1 : 0;
    if (extra == 0 || lead > 0xF4)
        return NoCodePoint;
    uint32_t value = lead & (0x3Fu >> extra);
    for (size_t k = 0; k < extra; k++, at++) {
        if (at >= name.size() || (static_cast<unsigned char>(name[at]) & 0xC0) != 0x80)
            return NoCodePoint;
        value = value << 6 | (static_cast<unsigned char>(name[at]) & 0x3F);
    }
    static const uint32_t shortest[] = {0, 0x80, 0x800, 0x10000};
    if (value < shortest[extra] || (value >= 0xD800 && value <= 0xDFFF) || value > 0x10FFFF)
        return NoCodePoint;
    return value;
}

void append_utf8(std::string& out, uint32_t c)
{
    if (c < 0x80) {
        out += char(c);
    } else if (c < 0x800) {
        out += char(0xC0 | c >> 6);
        out += char(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += char(0xE0 | c >> 12);
        out += char(0x80 | (c >> 6 & 0x3F));
        out += char(0x80 | (c & 0x3F));
    } else {
        out += char(0xF0 | c >> 18);
        out += char(0x80 | (c >> 12 & 0x3F));
        out += char(0x80 | (c >> 6 & 0x3F));
        out += char(0x80 | (c & 0x3F));
    }
}

// Unicode's simple case folding (CaseFolding.txt, statuses C and S) for
// the blocks names of Western and Eastern European games use.
uint32_t folded(uint32_t c)
{
    bool even = c % 2 == 0;
    if ((c >= 'A' && c <= 'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7))
        return c + 0x20;
    if (c == 0xB5)
        return 0x3BC;   // micro sign: Greek mu
    if ((c >= 0x100 && c <= 0x12F && even) || (c >= 0x132 && c <= 0x137 && even) ||
        (c >= 0x139 && c <= 0x148 && !even) || (c >= 0x14A && c <= 0x177 && even) ||
        (c >= 0x179 && c <= 0x17E && !even))
        return c + 1;
    if (c == 0x178)
        return 0xFF;
    if (c == 0x17F)
        return 's';   // long s
    if (c == 0x386)
        return 0x3AC;
    if (c >= 0x388 && c <= 0x38A)
        return c + 0x25;
    if (c == 0x38C)
        return 0x3CC;
    if (c == 0x38E || c == 0x38F)
        return c + 0x3F;
    if ((c >= 0x391 && c <= 0x3AB && c != 0x3A2) || (c >= 0x410 && c <= 0x42F))
        return c + 0x20;
    if (c == 0x3C2)
        return 0x3C3;   // final sigma
    if (c >= 0x400 && c <= 0x40F)
        return c + 0x50;
    return c;
}

bool is_control(uint32_t c)
{
    return c < 0x20 || (c >= 0x7F && c <= 0x9F);
}

// "" when the name is UTF-8 without control characters, else why not.
std::string text_problem(const std::string& name)
{
    for (size_t at = 0; at < name.size();) {
        size_t start = at;
        uint32_t c = next_code_point(name, at);
        if (c == NoCodePoint)
            return "bytes that are not UTF-8 at offset " + std::to_string(start);
        if (is_control(c))
            return "control characters are not allowed (one at offset " + std::to_string(start) + ")";
    }
    return "";
}

std::string upper_ascii(std::string text)
{
    for (char& c : text)
        if (c >= 'a' && c <= 'z')
            c = char(c - 'a' + 'A');
    return text;
}

// Windows opens a device for these whatever the folder and extension:
// "nul.txt" and "Com1 .log" are devices too.
bool is_device_name(const std::string& component)
{
    std::string base = upper_ascii(component.substr(0, component.find('.')));
    while (!base.empty() && base.back() == ' ')
        base.pop_back();
    if (base == "CON" || base == "PRN" || base == "AUX" || base == "NUL")
        return true;
    if (base.size() < 4 || (base.compare(0, 3, "COM") != 0 && base.compare(0, 3, "LPT") != 0))
        return false;
    std::string number = base.substr(3);
    return (number.size() == 1 && number[0] >= '0' && number[0] <= '9') || number == "\xC2\xB9" ||
           number == "\xC2\xB2" || number == "\xC2\xB3";
}

std::string component_problem(const std::string& part)
{
    if (part.empty() || part == "." || part == "..")
        return "empty, '.' and '..' components are not allowed";
    if (part.back() == ' ' || part.back() == '.')
        return "a component may not end in a space or '.' (Windows drops them)";
    if (is_device_name(part))
        return "'" + part + "' is a Windows device name (CON, PRN, AUX, NUL, COM0-9, LPT0-9, with any extension)";
    return "";
}

}  // namespace

std::string name_problem(const std::string& name)
{
    if (name.empty())
        return "empty name";
    if (name[0] == '/' || name[0] == '\\')
        return "absolute names are not allowed";
    if (name.find('\\') != std::string::npos)
        return "use '/' as the separator; '\\' is not allowed in a name";
    if (name.find(':') != std::string::npos)
        return "':' is not allowed (a drive or stream name on Windows)";
    std::string text = text_problem(name);
    if (!text.empty())
        return text;
    for (const char* c = "<>\"|?*"; *c; c++)
        if (name.find(*c) != std::string::npos)
            return std::string("'") + *c + "' is not allowed in a Windows name";
    std::stringstream parts(name);
    for (std::string part; std::getline(parts, part, '/');) {
        std::string problem = component_problem(part);
        if (!problem.empty())
            return problem;
    }
    if (name.back() == '/')
        return "a name may not end in '/'";
    return "";
}

std::string entry_name_problem(const std::string& name)
{
    constexpr size_t MaxEntryName = sizeof(EntryRecord{}.name) - 1;
    if (name.size() > MaxEntryName)
        return "the name is " + std::to_string(name.size()) + " bytes; at most " + std::to_string(MaxEntryName) +
               " fit";
    return name_problem(name);
}

std::string build_name_problem(const std::string& name)
{
    if (name.empty() || name.size() > MaxBuildNameLength)
        return "build name must be 1 to " + std::to_string(MaxBuildNameLength) + " bytes";
    std::string text = text_problem(name);
    return text.empty() ? "" : "build name: " + text;
}

std::string quote(const std::string& text)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string out = "'";
    for (size_t at = 0; at < text.size();) {
        size_t start = at;
        uint32_t c = next_code_point(text, at);
        if (c != NoCodePoint && !is_control(c)) {
            out.append(text, start, at - start);
            continue;
        }
        // One byte at a time, so the bytes after a bad one are read afresh.
        at = start + 1;
        unsigned char byte = static_cast<unsigned char>(text[start]);
        out += "\\x";
        out += digits[byte >> 4];
        out += digits[byte & 15];
    }
    return out + "'";
}

std::string folded_name(const std::string& name)
{
    std::string out;
    for (size_t at = 0; at < name.size();)
        append_utf8(out, folded(next_code_point(name, at)));
    return out;
}

std::string add_name(NameSet& names, const std::string& name, const std::string& shown, bool folder, int line)
{
    auto [seen, added] = names.by_folded.insert({folded_name(name), {shown, folder, line}});
    if (added)
        return "";
    const NameSet::Seen& other = seen->second;
    std::string where = other.line ? " on line " + std::to_string(other.line) : "";
    if (other.shown == shown)
        return "duplicate " + shown + (other.line ? " (first on line " + std::to_string(other.line) + ")" : "");
    if (other.folder == folder)
        return "duplicate " + shown + ": " + other.shown + where + " differs only in letter case";
    return shown + " and " + other.shown + where + " would be one name on Windows";
}
