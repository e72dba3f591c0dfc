// The package's Windows executables: the two launchers, the game program and
// its media library, laid out as PE images with their headers.
#include <algorithm>
#include <initializer_list>

#include "tools/default_package/executable.h"
#include "tools/default_package/package_files.h"

namespace {

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

}  // namespace

Bytes make_launcher(bool fullscreen, std::size_t size) {
    Rng r = seeded("launcher imports");
    PeSettings s;
    s.tag = "Launcher";
    s.file_size = size;
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
    return make_pe(s);
}

Bytes make_game(std::size_t size) {
    Rng r = seeded("game imports");
    PeSettings s;
    s.tag = "Game";
    s.file_size = size;
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
    return make_pe(s);
}

Bytes make_library(std::size_t size) {
    Rng r = seeded("library imports");
    PeSettings s;
    s.tag = "Library";
    s.file_size = size;
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
    return make_pe(s);
}
