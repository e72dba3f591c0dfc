// quorvel-pack MANIFEST OUTPUT [--depfile FILE] [--level fast|default|best]
//                             [--previous MANIFEST [--no-new-folders]]
// quorvel-pack init FOLDER [--build NAME] [--previous MANIFEST [--no-new-folders]]
//                   [--exclude PATTERN]... [--keep-usual-leftovers]
// Turns the files a manifest names into the package image files that the
// installer is built with, or writes a manifest for a folder. Exit status: 0
// done, 1 could not write or the package did not decode back to its input,
// 2 bad input. The whole usage is in usage.cpp.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

#include <unistd.h>

#include "tools/pack/image_files.h"
#include "tools/pack/init.h"
#include "tools/pack/packer.h"
#include "tools/pack/updates.h"
#include "tools/pack/usage.h"

namespace {

int usage()
{
    std::fprintf(stderr, "%sSee quorvel-pack --help.\n", UsageLines);
    return 2;
}

// Written beside the target and moved over it, so a failed run leaves no
// output behind and a build never sees half a file.
int write_file(const std::string& path, const std::string& text)
{
    std::string staging = path + ".part";
    {
        std::ofstream out(staging, std::ios::binary | std::ios::trunc);
        out << text;
        out.close();
        if (!out) {
            std::remove(staging.c_str());
            return 0;
        }
    }
    if (std::rename(staging.c_str(), path.c_str()) != 0) {
        std::remove(staging.c_str());
        return 0;
    }
    return 1;
}

std::string escaped_for_make(const std::string& path)
{
    std::string out;
    for (char c : path) {
        if (c == ' ' || c == '#' || c == '\\')
            out += '\\';
        if (c == '$')
            out += '$';
        out += c;
    }
    return out;
}

// Every file written is a target: a build that lost the data file packs
// again, though no compiler reports reading it.
std::string depfile_text(const ImageFiles& files, const Manifest& manifest)
{
    std::string text = escaped_for_make(files.data) + " " + escaped_for_make(files.assembly) + " " +
                       escaped_for_make(files.source) + ":";
    for (const std::string& input : manifest.inputs)
        text += " \\\n  " + escaped_for_make(input);
    return text + "\n";
}

// The manifest goes to standard output only when the folder holds nothing
// the packer would refuse; it is then checked to have got there whole.
int init_command(int argc, char** argv)
{
    InitRequest request;
    for (int i = 2; i < argc; i++) {
        std::string option = argv[i];
        if ((option == "--build" || option == "--previous") && i + 1 < argc)
            (option == "--build" ? request.build : request.previous) = argv[++i];
        else if (option == "--exclude" && i + 1 < argc)
            request.excludes.push_back(argv[++i]);
        else if (option == "--no-new-folders" || option == "--keep-usual-leftovers")
            (option == "--no-new-folders" ? request.refuse_new_folders : request.keep_usual_leftovers) = true;
        else if (request.folder.empty() && !option.empty() && option[0] != '-')
            request.folder = option;
        else
            return usage();
    }
    if (request.folder.empty() || (request.refuse_new_folders && request.previous.empty()))
        return usage();
    InitResult result = init_manifest(request);
    for (const std::string& line : result.left_out)
        std::fprintf(stderr, "quorvel-pack: %s\n", line.c_str());
    for (const std::string& problem : result.problems)
        std::fprintf(stderr, "quorvel-pack: %s\n", problem.c_str());
    if (!result.problems.empty())
        return 2;
    if (!result.warning.empty())
        std::fprintf(stderr, "quorvel-pack: %s\n", result.warning.c_str());
    for (const std::string& note : result.notes)
        std::fprintf(stderr, "quorvel-pack: %s\n", note.c_str());
    std::fwrite(result.manifest.data(), 1, result.manifest.size(), stdout);
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        std::fprintf(stderr, "quorvel-pack: cannot write the manifest to standard output\n");
        return 1;
    }
    return 0;
}

struct PackRequest {
    std::string manifest;
    std::string output;
    std::string depfile;          // "" for none
    EncoderOptions options = DefaultEncoderOptions;
    std::string previous;         // the last release's manifest; "" for none
    bool refuse_new_folders = false;
};

int level_options(const std::string& name, EncoderOptions& options)
{
    for (const EncoderLevel& level : EncoderLevels)
        if (name == level.name) {
            options = level.options;
            return 1;
        }
    return 0;
}

int parse_pack_request(int argc, char** argv, PackRequest& request)
{
    if (argc < 3 || argv[1][0] == '-')
        return 0;
    request.manifest = argv[1];
    request.output = argv[2];
    for (int i = 3; i < argc; i++) {
        std::string option = argv[i];
        if (option == "--no-new-folders")
            request.refuse_new_folders = true;
        else if (i + 1 == argc)
            return 0;
        else if (option == "--depfile" && request.depfile.empty())
            request.depfile = argv[++i];
        else if (option == "--previous" && request.previous.empty())
            request.previous = argv[++i];
        else if (option != "--level" || !level_options(argv[++i], request.options))
            return 0;
    }
    return !(request.refuse_new_folders && request.previous.empty());
}

// Prints what updates from the previous release will not do; 0 when a
// refused new folder, or the previous manifest itself, stops the packing.
int report_updates(const PackRequest& request, const Manifest& manifest)
{
    if (request.previous.empty())
        return 1;
    Manifest previous;
    std::string error;
    std::vector<std::string> problems;
    if (!read_manifest_listing(request.previous, previous, error))
        problems.push_back(error);
    std::vector<std::string> lines;
    if (problems.empty())
        lines = update_lines(update_notes(manifest, previous), request.refuse_new_folders, problems);
    for (const std::string& line : problems.empty() ? lines : problems)
        std::fprintf(stderr, "quorvel-pack: %s\n", line.c_str());
    return problems.empty();
}

// One line on a terminal, rewritten as blocks finish: bytes and files done,
// the rate and the time left. Nothing when standard error is not a
// terminal, so logs and build output stay as they were.
struct ProgressLine {
    bool shown = false;
    uint64_t total = 0;
    size_t files = 0;
    std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
    std::chrono::steady_clock::time_point last = start;

    void update(uint64_t bytes, size_t files_done)
    {
        auto now = std::chrono::steady_clock::now();
        if (bytes < total && now - last < std::chrono::milliseconds(200))
            return;
        last = now;
        double seconds = std::chrono::duration<double>(now - start).count();
        double rate = seconds > 0 ? double(bytes) / seconds : 0;
        long left = rate > 0 ? long(double(total - bytes) / rate + 0.5) : 0;
        std::fprintf(stderr, "\r%.1f of %.1f MB, %zu of %zu files, %.1f MB/s, %ld:%02ld left ", double(bytes) / 1e6,
                     double(total) / 1e6, files_done, files, rate / 1e6, left / 60, left % 60);
        std::fflush(stderr);
        shown = true;
    }

    // Leaves the terminal as it was before the first line.
    void clear()
    {
        if (shown)
            std::fprintf(stderr, "\r%*s\r", 79, "");
    }
};

int pack_command(const PackRequest& request)
{
    const std::string& manifest_path = request.manifest;
    const std::string& output = request.output;

    Manifest manifest;
    std::string error;
    if (!read_manifest(manifest_path, manifest, error, FileBytes::OnDemand)) {
        std::fprintf(stderr, "quorvel-pack: %s\n", error.c_str());
        return 2;
    }
    if (!check_version_files(manifest, error)) {
        std::fprintf(stderr, "quorvel-pack: %s: %s\n", manifest_path.c_str(), error.c_str());
        return 2;
    }
    std::string warning = marker_warning(manifest);
    if (!warning.empty())
        std::fprintf(stderr, "quorvel-pack: %s\n", warning.c_str());
    if (!report_updates(request, manifest))
        return 2;
    if (!request.previous.empty())
        manifest.inputs.push_back(request.previous);

    ImageEstimate estimate;
    if (!estimate_image(manifest, request.options, MaxImageBytes, ImageSampleBlocks, estimate, error)) {
        std::fprintf(stderr, "quorvel-pack: %s\n", error.c_str());
        return 2;
    }
    if (estimate.exceeds) {
        std::fprintf(stderr,
                     "quorvel-pack: the package would exceed the %u MiB an executable can carry (about %u MiB, "
                     "judged by packing %u of its blocks)\n",
                     unsigned(MaxImageBytes >> 20), unsigned(estimate.bytes >> 20), estimate.sampled);
        return 2;
    }
    ImageFiles files = image_files_beside(output);
    ImageWriter writer;
    if (!begin_image(writer, files, manifest_path)) {
        std::fprintf(stderr, "quorvel-pack: cannot write %s\n", files.data.c_str());
        return 1;
    }
    ProgressLine line;
    line.total = payload_length(manifest);
    line.files = manifest.files.size();
    PackProgress progress;
    if (isatty(fileno(stderr)))
        progress = [&](uint64_t bytes, size_t files_done) { line.update(bytes, files_done); };
    PackedTables tables;
    int written = 1;
    auto sink = [&](uint32_t, const EncodedBlock& block) {
        return written = add_image_block(writer, block.code_lengths, block.stream.data(), block.bit_count);
    };
    int packed = pack_blocks(manifest, request.options, MaxImageBytes, sink, progress, tables, error);
    line.clear();
    if (!packed || !written) {
        abandon_image(writer);
        if (tables.unreadable || tables.too_large) {
            std::fprintf(stderr, "quorvel-pack: %s\n", error.c_str());
            return 2;
        }
        if (!packed)
            std::fprintf(stderr, "quorvel-pack: internal error: %s\n", error.c_str());
        else
            std::fprintf(stderr, "quorvel-pack: cannot write %s\n", files.data.c_str());
        return 1;
    }
    if (!finish_image_files(writer, manifest, tables, error)) {
        std::fprintf(stderr, "quorvel-pack: %s\n", error.c_str());
        return 1;
    }
    if (!request.depfile.empty() && !write_file(request.depfile, depfile_text(files, manifest))) {
        std::fprintf(stderr, "quorvel-pack: cannot write %s\n", request.depfile.c_str());
        for (const std::string* path : {&files.data, &files.assembly, &files.source})
            std::remove(path->c_str());
        return 1;
    }
    std::printf("%s\n", summary_line(manifest, tables).c_str());
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::fputs(HelpText, stdout);
        return std::fflush(stdout) == 0 ? 0 : 1;
    }
    if (argc >= 2 && std::strcmp(argv[1], "init") == 0)
        return init_command(argc, argv);
    PackRequest request;
    if (!parse_pack_request(argc, argv, request))
        return usage();
    return pack_command(request);
}
