#include "tests/safety_cases.h"

#include <algorithm>
#include <cstring>
#include <filesystem>

#include <sys/stat.h>
#include <unistd.h>

#include "tests/test_support.h"

namespace fs = std::filesystem;

namespace {

void replace_with(const std::string& path, const std::function<void(const char*)>& make)
{
    fs::remove_all(path);
    make(path.c_str());
}

}  // namespace

const std::vector<SafetyCase>& safety_cases()
{
    static const std::vector<SafetyCase> cases = [] {
        auto pipe = [](const char* p) { ::mkfifo(p, 0644); };
        std::vector<SafetyCase> list;
        list.push_back({"a pipe named Quorvel",
                        [=](const std::string& place, const Manifest&) { pipe((place + "/Quorvel").c_str()); },
                        {false},
                        {Told::TakenQuestion},
                        nullptr});
        // A pipe is no marker file: the copy is a folder that is no installation.
        for (std::string marker : MarkerFiles)
            list.push_back({"a pipe at " + marker,
                            [=](const std::string& place, const Manifest& package) {
                                install_old_copy(place + "/Quorvel", package);
                                replace_with(place + "/Quorvel/" + marker, pipe);
                            },
                            {false},
                            {Told::TakenQuestion},
                            nullptr});
        // Version files that exist but cannot be read might name a newer build.
        struct Kind {
            const char* what;
            std::function<void(const char*)> make;
            bool unreadable = false;
        };
        const Kind kinds[] = {
            {"a folder", [](const char* p) { fs::create_directory(p); }},
            {"a pipe", pipe},
            {"a link to nothing", [](const char* p) { ::symlink("/nonexistent/version", p); }},
            {"a file no one may read",
             [](const char* p) {
                 write_text(p, "build100\r\n");
                 ::chmod(p, 0);
             },
             true},
        };
        for (std::string version : VersionFiles)
            for (const Kind& kind : kinds)
                list.push_back({std::string(kind.what) + " at " + version,
                                [=](const std::string& place, const Manifest& package) {
                                    install_old_copy(place + "/Quorvel", package);
                                    replace_with(place + "/Quorvel/" + version, kind.make);
                                },
                                {true},
                                {Told::FoundQuestion, Told::OlderRefusal},
                                nullptr,
                                kind.unreadable});
        // The parent (the desktop, say) must never receive the game's files.
        list.push_back({"the copy moves while the found question waits",
                        [](const std::string& place, const Manifest& package) {
                            install_old_copy(place + "/Quorvel", package);
                        },
                        {true},
                        {Told::FoundQuestion, Told::UpdateFailure},
                        [](const std::string& place, const std::string& elsewhere) {
                            fs::rename(place + "/Quorvel", elsewhere + "/Quorvel");
                        }});
        return list;
    }();
    return cases;
}

std::vector<ImageDamage> image_damages(const PackageImage& image)
{
    auto bytes = [](const void* p) { return static_cast<const unsigned char*>(p); };
    const char* folder = image.directories.paths[image.directories.count - 1];
    const EntryRecord& entry = image.entries.entries[std::min<uint32_t>(10, image.entries.count - 1)];
    const char* build = image.known_builds[100];
    // The old copy's own build: the image check comes before the gate reads
    // it, so this fails the update and never refuses it as older.
    const char* installed = build;
    for (uint32_t i = 0; i < KnownBuildCount; i++)
        if (std::strcmp(image.known_builds[i], "build100") == 0)
            installed = image.known_builds[i];
    uint32_t block = image.blocks.block_count / 2;
    uint32_t middle = image.blocks.bit_counts[block] / 16;
    return {
        {"folder list", bytes(folder), std::strlen(folder) + 1, 10},
        {"entry name", bytes(&entry), sizeof entry, 3},
        {"entry size", bytes(&entry), sizeof entry, 125},
        {"build list", bytes(build), std::strlen(build) + 1, 1},
        {"installed build", bytes(installed), std::strlen(installed) + 1, 5},
        {"code lengths", image.blocks.code_lengths[block], SymbolCount, 40},
        {"stream", image.blocks.streams[block] + middle - 32, 64, 20},
    };
}
