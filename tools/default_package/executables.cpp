// The package's Windows programs. Their headers and section table are those
// of a 64-bit image; the sections hold what a compiler and linker put there
// (x86-64 instructions in a compiler's mix, strings, tables), not wired up
// to run: nothing runs these files, but they compress as programs do.
#include <cstring>

#include "tools/default_package/generator.h"

namespace {

const uint32_t FileAlign = 0x200, SectionAlign = 0x1000, HeaderSize = 0x400;

uint32_t in_pages(size_t size)
{
    return uint32_t((size + SectionAlign - 1) / SectionAlign * SectionAlign);
}

// Instruction templates. Hex bytes stand for themselves; the letters are
// operands a compiler varies little: r a register pair, m a stack slot
// addressed through rsp, f a field offset, b a small constant, i a 32-bit
// constant, j a short jump, c a call's target and d a data address.
const char* const Instructions[] = {
    "48 8B m", "48 8B m", "48 89 m", "8B m", "89 m", "48 8B r", "48 8B r", "8B r", "4C 8B r",
    "48 8D 0D d", "48 8D 15 d", "4C 8D 05 d", "E8 c", "E8 c", "E8 c", "FF 15 d",
    "85 C0 74 j", "48 85 C0 75 j", "83 F8 b 7C j", "3B r 7F j", "33 C0", "33 D2", "45 33 C0",
    "8B 43 f", "89 47 f", "48 8B 4B f", "0F B6 43 f", "48 8B 46 f", "8B 05 d", "89 05 d",
    "C7 44 24 f i", "BA i", "41 B8 i", "48 83 C0 b", "83 E0 b", "C1 E0 b", "F3 0F 10 05 d", "F3 0F 59 C1",
    "48 8B CB E8 c 85 C0 74 j", "48 8B 01 FF 50 f", "48 8B CF E8 c", "EB j", "0F 84 c",
};

struct Code {
    Rng& r;
    Bytes bytes;
    uint32_t rva, end;                // where the code is loaded, and where it ends
    uint32_t data_start, data_end;    // the data it addresses
    uint8_t registers[3];             // a function uses few registers, which is much of why code compresses
};

void put_operand(Code& code, char kind)
{
    static const uint32_t Constants[] = {0, 1, 2, 4, 8, 0x10, 0x20, 0x40, 0x80, 0x100, 0x1000, 0xFFFFFFFF};
    Rng& r = code.r;
    uint32_t reg = pick(r, code.registers), other = pick(r, code.registers), target = 0;
    if (kind == 'r')
        put8(code.bytes, 0xC0 | reg << 3 | (other == reg ? 3 : other));
    if (kind == 'm') {   // modrm, then rsp as the base, then the displacement
        put8(code.bytes, 0x44 | reg << 3);
        put8(code.bytes, 0x24);
        put8(code.bytes, 0x20 + 8 * below(r, 8));
    }
    if (kind == 'f')
        put8(code.bytes, 8 * below(r, chance(r, 80) ? 8 : 32));
    if (kind == 'b')
        put8(code.bytes, chance(r, 70) ? pick(r, Constants) & 0x7F : below(r, 128));
    if (kind == 'i')
        put32(code.bytes, chance(r, 75) ? pick(r, Constants) : below(r, chance(r, 80) ? 1000 : 0xFFFFFFFF));
    if (kind == 'j')
        put8(code.bytes, 2 + below(r, 40));
    if (kind == 'c')   // most calls go to a few helpers near the start
        target = code.rva + 16 * below(r, chance(r, 40) ? 64 : (code.end - code.rva) / 16);
    if (kind == 'd')
        target = code.data_start + 8 * below(r, (code.data_end - code.data_start) / 8);
    if (kind == 'c' || kind == 'd')   // relative to the instruction's end, where the operand ends
        put32(code.bytes, target - (code.rva + uint32_t(code.bytes.size()) + 4));
}

void put_instruction(Code& code, const char* pattern)
{
    for (const char* p = pattern; *p; p++)
        if (*p >= 'a' && *p <= 'z') {
            put_operand(code, *p);
        } else if (*p != ' ') {
            put8(code.bytes, uint32_t(std::stoul(std::string(p, 2), nullptr, 16)));
            p++;
        }
}

// Functions: save registers, make a frame, a body, undo it all and return;
// int3 fills up to the next 16-byte boundary, as linkers pad.
Bytes code_section(Code& code, size_t size)
{
    static const uint8_t Registers[] = {0, 1, 2, 3, 6, 7};
    for (size_t start = 0; code.bytes.size() <= size; start = code.bytes.size()) {
        code.bytes.resize(start);
        for (uint8_t& reg : code.registers)
            reg = pick(code.r, Registers);
        put_instruction(code, chance(code.r, 60) ? "48 89 5C 24 08 57 48 83 EC b" : "40 53 48 83 EC b");
        for (int n = between(code.r, 4, chance(code.r, 20) ? 150 : 40); n > 0; n--)
            put_instruction(code, pick(code.r, Instructions));
        put_instruction(code, chance(code.r, 60) ? "48 8B 5C 24 m 48 83 C4 b 5F C3" : "48 83 C4 b 5B C3");
        align_to(code.bytes, 16, 0xCC);
    }
    code.bytes.resize(size);
    return code.bytes;
}

// Import names, a sine table, messages, and tables of code addresses,
// integers and floats.
Bytes read_only_data(Rng& r, size_t size, uint64_t code_base, uint32_t code_size)
{
    static const char* const Imports[] = {
        "CloseHandle", "CreateFileW", "CreateThread", "EnterCriticalSection", "ExitProcess", "FindFirstFileW",
        "GetCommandLineW", "GetLastError", "GetModuleHandleW", "GetProcAddress", "HeapAlloc", "HeapFree",
        "LoadLibraryW", "ReadFile", "Sleep", "VirtualAlloc", "WriteFile", "KERNEL32.dll", "CreateWindowExW",
        "DefWindowProcW", "DispatchMessageW", "MessageBoxW", "PeekMessageW", "ShowWindow", "USER32.dll"};
    static const char* const Formats[] = {"Could not open %s.", "Failed to read %s (error %d).",
                                          "Unknown setting '%s' in the config file.", "Script error at line %d: %s",
                                          "Missing texture %s", "Loading %s...", "src/render/%s.cpp", "video.%s"};
    Bytes b;
    for (uint32_t hint = 0; const char* name : Imports) {
        put16(b, hint += 1 + below(r, 24));
        put_fixed(b, name, (std::strlen(name) + 2) / 2 * 2);
    }
    for (uint32_t i = 0; i < 1024; i++)
        put16(b, uint32_t(int_sine(i * 64)));
    while (b.size() + 2048 < size) {
        align_to(b, 8);
        uint32_t roll = below(r, 100);
        if (roll < 48) {
            std::string text = chance(r, 50) ? pick(r, Formats) : sentence(r, "{game}");
            put_fixed(b, text, text.size() + 1);
        } else if (roll < 58) {   // UTF-16
            for (char c : sentence(r, "{game}") + '\0')
                put16(b, uint8_t(c));
        } else if (roll < 73) {   // tables of virtual functions
            for (uint32_t n = uint32_t(between(r, 3, 24)), first = below(r, code_size / 16); n > 0; n--) {
                uint64_t address = code_base + 16 * (first + below(r, 40));
                put32(b, uint32_t(address));
                put32(b, uint32_t(address >> 32));
            }
        } else if (roll < 83) {
            for (int n = between(r, 8, 64), step = between(r, 1, 64), at = between(r, -200, 200); n > 0; n--)
                put32(b, uint32_t(at += step + between(r, 0, 3)));
        } else if (roll < 98) {   // floats of few digits
            for (int n = between(r, 4, 48), exponent = between(r, 118, 134); n > 0; n--)
                put32(b, uint32_t(chance(r, 30)) << 31 | uint32_t(exponent + between(r, 0, 3)) << 23 |
                             (next32(r) & 0x7F0000));
        } else {   // an 8 x 8 font
            for (int n = 0; n < 96 * 8; n++)
                put8(b, n % 8 == 7 ? 0 : next32(r) & 0x7E);
        }
    }
    b.resize(size);
    return b;
}

struct Section {
    const char* name;
    Bytes bytes;
    uint32_t rva, flags;
};

// What finds a program's sections: the DOS header, pointing at "PE\0\0",
// the COFF header (machine, section count, time, no optional header,
// flags), then one 40-byte header per section.
Bytes headers(bool library, const std::vector<Section>& sections)
{
    Bytes b = bytes_of(std::string_view("MZ\x90\0\x03\0\0\0\x04\0\0\0\xFF\xFF\0\0\xB8", 17));
    pad_to(b, 0x3C);
    put32(b, 0x80);
    pad_to(b, 0x80);
    put_text(b, std::string_view("PE\0\0\x64\x86", 6));
    put16(b, uint32_t(sections.size()));
    for (uint32_t v : {0x4559A3C0u, 0u, 0u, (library ? 0x2022u : 0x22u) << 16})
        put32(b, v);
    for (size_t i = 0, offset = HeaderSize; i < sections.size(); offset += sections[i++].bytes.size()) {
        put_fixed(b, sections[i].name, 8);
        for (uint32_t v : {uint32_t(sections[i].bytes.size()), sections[i].rva, uint32_t(sections[i].bytes.size()),
                           uint32_t(offset), 0u, 0u, 0u, sections[i].flags})
            put32(b, v);
    }
    pad_to(b, HeaderSize);
    return b;
}

}  // namespace

Bytes windows_program(const Program& p)
{
    Rng r = seeded(p.tag);
    const uint64_t image_base = p.library ? 0x180000000ull : 0x140000000ull;
    size_t body = p.size - HeaderSize, text_size = body * p.code_percent / 100 / FileAlign * FileAlign;
    size_t data_size = body * 3 / 100 / FileAlign * FileAlign + FileAlign, rdata_size = body - text_size - data_size;
    uint32_t rdata_rva = SectionAlign + in_pages(text_size), data_rva = rdata_rva + in_pages(rdata_size);
    Code code = {r, {}, SectionAlign, SectionAlign + uint32_t(text_size), rdata_rva, data_rva + uint32_t(data_size), {}};
    std::vector<Section> sections = {
        {".text", code_section(code, text_size), SectionAlign, 0x60000020},
        {".rdata", read_only_data(r, rdata_size, image_base + SectionAlign, uint32_t(text_size)), rdata_rva, 0x40000040},
        {".data", Bytes(data_size), data_rva, 0xC0000040},
    };
    for (size_t at = 0; at < data_size; at += 4 + below(r, 16))   // variables: mostly zero, some counters
        sections[2].bytes[at] = uint8_t(below(r, 300));
    Bytes file = headers(p.library, sections);
    for (const Section& section : sections)
        file.insert(file.end(), section.bytes.begin(), section.bytes.end());
    return file;
}
