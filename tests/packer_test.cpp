// The packer: manifests it must refuse, and packages that must decode back
// to exactly what went in.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "package/stream.h"
#include "tests/test_support.h"

namespace {

std::string builds_text(size_t count = KnownBuildCount)
{
    std::string text;
    for (size_t i = 0; i < count; i++)
        text += "build b" + std::to_string(i) + "\n";
    return text;
}

// Writes a manifest (and the files it is given) and reads it back.
struct ManifestCase {
    ScratchFolder folder;
    Manifest manifest;
    std::string error;

    int read(const std::string& text)
    {
        write_text(folder / "m.txt", text);
        return read_manifest(folder / "m.txt", manifest, error);
    }
};

Manifest manifest_of(const std::vector<std::vector<unsigned char>>& contents)
{
    Manifest m;
    m.builds.assign(KnownBuildCount, "b");
    for (size_t i = 0; i < contents.size(); i++)
        m.files.push_back({std::string("f").append(std::to_string(i)), contents[i]});
    return m;
}

// Returns the compressed size. A round trip checks what decodes, not how
// small it is: the fastest level unless a test says otherwise.
size_t expect_round_trip(const Manifest& m, const char* what, const EncoderOptions& options = FastEncoderOptions,
                         PackedPayload* kept = nullptr)
{
    PackedPayload packed = pack_payload(m, options);
    std::string error;
    EXPECT_EQ(verify_payload(m, packed, error), 1) << what << ": " << error;
    size_t payload = 0;
    for (const ManifestFile& f : m.files)
        payload += f.bytes.size();
    EXPECT_EQ(packed.blocks.size(), (payload + PackerBlockSize - 1) / PackerBlockSize) << what;
    for (const EncodedBlock& b : packed.blocks) {
        EXPECT_EQ(b.stream.size(), (b.bit_count + 7) / 8) << what;
        uint32_t codes[SymbolCount];
        EXPECT_EQ(canonical_codes(b.code_lengths, codes), 1) << what;
    }
    size_t size = compressed_size(packed);
    if (kept)
        *kept = std::move(packed);
    return size;
}

std::vector<unsigned char> text_like(size_t size, uint32_t seed)
{
    const char* words[] = {"the ", "map ", "of ", "dravik ", "shows ", "a ", "quiet ", "valley\r\n", "and ", "stone "};
    std::vector<unsigned char> noise = random_bytes(size, seed);
    std::vector<unsigned char> out;
    for (size_t i = 0; out.size() < size; i++)
        for (const char* c = words[noise[i % size] % 10]; *c && out.size() < size; c++)
            out.push_back((unsigned char)*c);
    return out;
}

struct Case {
    const char* what;
    std::string text;
    std::string says;
};

// Each case's text, before 128 good build lines, in a folder holding the
// files "ok" and "sub/" only.
template <size_t N>
void expect_refused(Case (&cases)[N])
{
    for (Case& k : cases) {
        ManifestCase c;
        write_text(c.folder / "ok", "x");
        make_folders(c.folder / "sub");
        EXPECT_EQ(c.read(k.text + builds_text()), 0) << k.what;
        EXPECT_NE(c.error.find(k.says), std::string::npos) << k.what << ": " << c.error;
    }
}

}  // namespace

TEST(Manifest, ReadsDirectivesInOrderSkippingCommentsBlanksAndCarriageReturns)
{
    ManifestCase c;
    make_folders(c.folder / "d");
    write_text(c.folder / "d/a b.txt", "spaced name");
    write_text(c.folder / "top", "");
    ASSERT_EQ(c.read("# comment\r\n\r\ndir \\Quorvel\\d\r\n" + builds_text() + "file d/a b.txt\r\nfile top\n"), 1)
        << c.error;
    EXPECT_EQ(c.manifest.directories, (std::vector<std::string>{"\\Quorvel\\d"}));
    EXPECT_EQ(c.manifest.builds.front(), "b0");
    ASSERT_EQ(c.manifest.files.size(), 2u);
    EXPECT_EQ(c.manifest.files[0].name, "d/a b.txt");
    EXPECT_EQ(std::string(c.manifest.files[0].bytes.begin(), c.manifest.files[0].bytes.end()), "spaced name");
    EXPECT_TRUE(c.manifest.files[1].bytes.empty());
    EXPECT_FALSE(c.manifest.files[0].executable);
    EXPECT_EQ(c.manifest.support_address, "support@quorvel.example") << "today's address by default";
    EXPECT_EQ(c.manifest.version, "");

    ASSERT_EQ(c.read(builds_text() + "exec top\nsupport help@studio.example\nversion 65535.0.7\n"), 1) << c.error;
    EXPECT_TRUE(c.manifest.files[0].executable);
    EXPECT_EQ(c.manifest.support_address, "help@studio.example");
    EXPECT_EQ(c.manifest.version, "65535.0.7");
}

TEST(Manifest, BadInputIsRefusedNamingTheLine)
{
    Case cases[] = {
        {"unknown keyword", "folder x\n", ":1: unknown keyword"},
        {"no value", "file\n", ":1: file needs a value"},
        {"missing file", "file nothere\n", ":1: file 'nothere': no readable file"},
        {"a folder as a file", "file sub\n", ":1: file 'sub': no readable file"},
        {"name too long", "file " + std::string(124, 'n') + "\n", "124 bytes; at most 123"},
        {"absolute name", "file /etc/passwd\n", "absolute"},
        {"backslash absolute", "file \\x\n", "absolute"},
        {"dot-dot", "dir \\Quorvel\\sub\nfile sub/../../x\n", "'..'"},
        {"drive name", "file C:x\n", "':'"},
        {"duplicate", "file ok\nfile ok\n", ":2: duplicate file"},
        {"duplicate by case", "file ok\nfile OK\n", ":2: duplicate file"},
        {"folder not listed", "file sub/x\n", "needs 'dir \\Quorvel\\sub'"},
        {"dir outside the top", "dir \\Other\n", "inside \\Quorvel"},
        {"dir before its parent", "dir \\Quorvel\\a\\b\n", "before its parent"},
        {"dir escaping", "dir \\Quorvel\\..\n", "'..'"},
        {"duplicate build", "build b0\n", ":2: duplicate build"},
        {"build name too long", "build " + std::string(126, 'x') + "\n", "build name"},
        {"a second support line", "support a@b\nsupport c@d\n", ":2: a second support line"},
        {"a support address too long", "support " + std::string(101, 'a') + "\n", "101 bytes; at most 100"},
        {"a support address beyond ASCII", "support \xC3\xA9@b\n", "only printable ASCII"},
        {"a version of five parts", "version 1.2.3.4.5\n", "at most four parts"},
        {"a version part too large", "version 1.65536\n", "number of 0 to 65535"},
        {"a version that is a name", "version 1.x\n", "number of 0 to 65535"},
        {"an empty version part", "version 1..2\n", "number of 0 to 65535"},
        {"a second version line", "version 1\nversion 2\n", ":2: a second version line"},
    };
    expect_refused(cases);
}

// What Windows cannot hold, or would take for another name, fails the line
// that brings it in.
TEST(Manifest, NamesWindowsCannotHoldOrWouldConfuseAreRefused)
{
    const std::string same = " and dir '\\Quorvel\\";
    Case cases[] = {
        {"a file and a folder of one name", "dir \\Quorvel\\ok\nfile ok\n",
         ":2: file 'ok'" + same + "ok' on line 1 would be one name on Windows"},
        {"a file and a folder that differ in case", "dir \\Quorvel\\OK\nfile ok\n",
         ":2: file 'ok'" + same + "OK' on line 1 would be one"},
        {"folders that differ in case", "dir \\Quorvel\\sub\ndir \\Quorvel\\SUB\n",
         ":2: duplicate dir '\\Quorvel\\SUB': dir '\\Quorvel\\sub' on line 1 differs only in letter case"},
        {"E acute in two cases", "dir \\Quorvel\\\xC3\x89\ndir \\Quorvel\\\xC3\xA9\n", ":2: duplicate dir"},
        {"A macron in two cases", "dir \\Quorvel\\\xC4\x80\ndir \\Quorvel\\\xC4\x81\n", ":2: duplicate dir"},
        {"Y diaeresis in two cases", "dir \\Quorvel\\\xC5\xB8\ndir \\Quorvel\\\xC3\xBF\n", ":2: duplicate dir"},
        {"overlong slash", "file a\xC0\xAF\n", ":1: file 'a\\xC0\\xAF': bytes that are not UTF-8 at offset 1"},
        {"overlong three bytes", "file \xE0\x80\xAF\n", "not UTF-8 at offset 0"},
        {"surrogate", "file \xED\xA0\x80\n", "not UTF-8"},
        {"beyond U+10FFFF", "file \xF4\x90\x80\x80\n", "not UTF-8"},
        {"no lead byte", "file \x80\n", "not UTF-8"},
        {"cut short", "file ab\xC3\n", "not UTF-8 at offset 2"},
        {"device name", "file nul\n", ":1: file 'nul': 'nul' is a Windows device name"},
        {"device name with an extension", "file Con.txt\n", "'Con.txt' is a Windows device name"},
        {"device name before spaces", "file aux .log\n", "device name"},
        {"numbered device", "file LPT9\n", "device name"},
        {"superscript device", "file com\xC2\xB9.x\n", "device name"},
        {"device as a folder", "dir \\Quorvel\\prn\n", ":1: dir '\\Quorvel\\prn': 'prn' is a Windows device name"},
        {"device inside a folder", "file sub/COM1.dat\n", "'COM1.dat' is a Windows device name"},
        {"less than", "file a<b\n", "'<' is not allowed in a Windows name"},
        {"greater than", "file a>b\n", "'>' is not allowed"},
        {"double quote", "file a\"b\n", "'\"' is not allowed"},
        {"pipe", "file a|b\n", "'|' is not allowed"},
        {"question mark", "dir \\Quorvel\\a?\n", "'?' is not allowed"},
        {"star", "file *\n", "'*' is not allowed"},
        {"control byte", "file a\x01" "b\n", "file 'a\\x01b': control characters are not allowed"},
        {"NUL in a build name", std::string("build ab\0cd\n", 12), ":1: build name: control characters"},
        {"escape in a build name", "build a\x1B\n", "build name: control characters"},
        {"C1 control in a build name", "build a\xC2\x85\n", "build name: control characters"},
        {"build name not UTF-8", "build \xFF\n", "build name: bytes that are not UTF-8"},
    };
    expect_refused(cases);
}

TEST(Manifest, AcceptsNamesThatOnlyLookLikeRefusedOnes)
{
    ManifestCase c;
    std::string dirs;
    for (const char* name : {"COM10", "console", "nullable.txt", "a.con", "LPT", "\xC3\x9F", "ss", "\xC4\xB0", "i",
                             "\xC3\x89t\xC3\xA9 2", "\xF0\x9F\x8E\xB2"})
        dirs += std::string("dir \\Quorvel\\") + name + "\n";
    EXPECT_EQ(c.read(dirs + builds_text(127) + "build \xC3\xA9t\xC3\xA9 # 7\n"), 1) << c.error;
    EXPECT_EQ(c.manifest.directories.size(), 11u);
    EXPECT_EQ(c.manifest.builds.back(), "\xC3\xA9t\xC3\xA9 # 7");
}

TEST(Manifest, ExactlyOneHundredTwentyEightBuildNames)
{
    for (size_t count : {size_t(127), size_t(129)}) {
        ManifestCase c;
        std::string text;
        for (size_t i = 0; i < count; i++)
            text += "build n" + std::to_string(i) + "\n";
        EXPECT_EQ(c.read(text), 0);
        EXPECT_NE(c.error.find(std::to_string(count) + " build names; exactly 128"), std::string::npos) << c.error;
    }
}

#ifndef _WIN32
TEST(Manifest, PayloadOverFourGibibytesIsRefusedBeforeReading)
{
    ManifestCase c;
    write_text(c.folder / "huge", "");
    std::filesystem::resize_file(c.folder / "huge", (uint64_t(1) << 32));   // sparse
    EXPECT_EQ(c.read(builds_text() + "file huge\n"), 0);
    EXPECT_NE(c.error.find("exceed 4 GiB"), std::string::npos) << c.error;
}

TEST(PackerCommand, BadInputExitsTwoAndWritesNothing)
{
    ScratchFolder folder;
    write_text(folder / "m.txt", builds_text() + "file missing\n");
    std::string command = std::string(QUORVEL_PACK) + " " + (folder / "m.txt") + " " + (folder / "out.cpp") +
                          " 2>" + (folder / "err.txt");
    int status = std::system(command.c_str());
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 2);
    for (const char* output : {"out.cpp", "out.S", "out.bin"})
        EXPECT_FALSE(exists(folder / output)) << output;
    std::vector<unsigned char> err;
    read_file(folder / "err.txt", err);
    EXPECT_NE(std::string(err.begin(), err.end()).find("m.txt:129: file 'missing'"), std::string::npos);
}

// Progress belongs on a terminal; a build log gets only what it got before.
TEST(PackerCommand, ShowsProgressOnlyOnATerminal)
{
    if (std::system("command -v script >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "script (util-linux) is not installed, so no terminal can be given to the packer";
    ScratchFolder folder;
    write_file(folder / "a", text_like(250000, 3));
    write_text(folder / "m.txt", builds_text() + "file a\n");
    std::string pack = std::string(QUORVEL_PACK) + " " + (folder / "m.txt") + " " + (folder / "out.cpp");
    struct {
        const char* what;
        std::string command;
        bool progress;
    } cases[] = {
        {"standard error to a file", pack + " >/dev/null 2>" + (folder / "err.txt"), false},
        {"a terminal", "script -qec '" + pack + "' /dev/null >" + (folder / "err.txt"), true},
    };
    for (const auto& k : cases) {
        ASSERT_EQ(std::system(k.command.c_str()), 0) << k.what;
        std::vector<unsigned char> err;
        read_file(folder / "err.txt", err);
        std::string text(err.begin(), err.end());
        EXPECT_EQ(text.find("\r0.2 of 0.2 MB, 1 of 1 files, ") != std::string::npos, k.progress)
            << k.what << ": " << text;
        EXPECT_EQ(text.find('\r') != std::string::npos, k.progress) << k.what << ": " << text;
    }
}

// The build links the bytes from the data file through the assembler
// source, which must name it wherever the build runs the assembler; the
// depfile names every output, so a lost data file packs again.
TEST(PackerCommand, PrintsTheSummaryLineAndWritesTheImageFiles)
{
    ScratchFolder folder;
    write_file(folder / "a", random_bytes(150000, 5));
    write_file(folder / "b", text_like(60000, 6));
    write_text(folder / "m.txt", builds_text() + "file a\nfile b\n");
    std::string command = std::string(QUORVEL_PACK) + " " + (folder / "m.txt") + " " + (folder / "out.cpp") +
                          " --depfile " + (folder / "out.d") + " >" + (folder / "summary.txt") + " 2>/dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0);
    std::vector<unsigned char> bytes;
    read_file(folder / "summary.txt", bytes);
    std::string line(bytes.begin(), bytes.end());
    EXPECT_EQ(line.rfind("2 files, 210000 bytes, 3 blocks, ", 0), 0u) << line;
    EXPECT_EQ(line.substr(line.size() - 12), " compressed\n") << line;
    std::string compressed = line.substr(line.find("blocks, ") + 8, line.size() - 12 - line.find("blocks, ") - 8);
    ASSERT_TRUE(read_file(folder / "out.S", bytes));
    std::string assembly(bytes.begin(), bytes.end());
    EXPECT_NE(assembly.find(".incbin \"" + (folder / "out.bin") + "\", 0, " + compressed + "\n"), std::string::npos)
        << "the blocks come first, as long as the summary says:\n" << assembly;
    ASSERT_TRUE(read_file(folder / "out.cpp", bytes));
    EXPECT_LT(bytes.size(), 4096u) << "the C++ source holds no payload";
    ASSERT_TRUE(read_file(folder / "out.d", bytes));
    std::string rule(bytes.begin(), bytes.end());
    EXPECT_EQ(rule.rfind((folder / "out.bin") + " " + (folder / "out.S") + " " + (folder / "out.cpp") + ":", 0), 0u)
        << rule;

    command = std::string(QUORVEL_PACK) + " " + (folder / "m.txt") + " " + (folder / "gone/out.cpp") + " >/dev/null 2>" +
              (folder / "err.txt");
    int status = std::system(command.c_str());
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1);
    read_file(folder / "err.txt", bytes);
    std::string err(bytes.begin(), bytes.end());
    EXPECT_NE(err.find("\nquorvel-pack: cannot write " + (folder / "gone/out.bin") + "\n"), std::string::npos) << err;
    EXPECT_EQ(files_below(folder.path), (std::vector<std::string>{"a", "b", "err.txt", "m.txt", "out.S", "out.bin",
                                                                  "out.cpp", "out.d", "summary.txt"}));
}
#endif

TEST(RoundTrip, RandomAndStructuredPayloads)
{
    std::vector<unsigned char> zeros(250000, 0);
    std::vector<unsigned char> periodic(120000);
    for (size_t i = 0; i < periodic.size(); i++)
        periodic[i] = (unsigned char)(i % 3 == 0 ? 'x' : i % 7);
    expect_round_trip(manifest_of({random_bytes(1, 1)}), "one byte");
    expect_round_trip(manifest_of({random_bytes(PackerBlockSize, 2)}), "exactly one block");
    expect_round_trip(manifest_of({random_bytes(PackerBlockSize + 1, 3)}), "one byte into the second block");
    expect_round_trip(manifest_of({{}, random_bytes(5000, 4), {}, text_like(300000, 5), {}}), "empty files between");
    expect_round_trip(manifest_of({zeros}), "long runs of one byte");
    expect_round_trip(manifest_of({periodic, text_like(90000, 7)}), "short periods and text");
    expect_round_trip(manifest_of({}), "nothing at all");
}

// Each level is its own parse; a slower one is never larger. A worker's
// buffers carry nothing from block to block: the blocks come out the same
// whichever it packed before, or builds would differ with the scheduling.
TEST(RoundTrip, EveryLevelDecodesBack)
{
    Manifest m = manifest_of({random_bytes(10000, 11), text_like(60000, 12), std::vector<unsigned char>(20000, 7),
                              text_like(70000, 13)});
    std::vector<unsigned char> payload;
    for (const ManifestFile& f : m.files)
        payload.insert(payload.end(), f.bytes.begin(), f.bytes.end());
    size_t larger = SIZE_MAX;
    for (const EncoderLevel& level : EncoderLevels) {
        PackedPayload packed;
        size_t size = expect_round_trip(m, level.name, level.options, &packed);
        EXPECT_LE(size, larger) << level.name;
        larger = size;
        ASSERT_EQ(packed.blocks.size(), 2u);
        EncoderScratchPointer scratch = make_encoder_scratch();
        for (size_t k : {size_t(1), size_t(0)}) {
            size_t start = k * PackerBlockSize;
            EncodedBlock again = encode_block(payload.data() + start, std::min<size_t>(PackerBlockSize, payload.size() - start),
                                              level.options, *scratch);
            EXPECT_EQ(again.stream, packed.blocks[k].stream) << level.name << ", block " << k;
            EXPECT_EQ(std::memcmp(again.code_lengths, packed.blocks[k].code_lengths, SymbolCount), 0) << level.name;
        }
    }
}

TEST(RoundTrip, CompressesWhatRepeats)
{
    Manifest m = manifest_of({text_like(200000, 8)});
    PackedPayload packed = pack_payload(m);
    EXPECT_LT(compressed_size(packed), 200000u / 3) << summary_line(m, packed);
    Manifest noise = manifest_of({random_bytes(200000, 9)});
    PackedPayload noise_packed = pack_payload(noise);
    EXPECT_LT(compressed_size(noise_packed), 200000u + 2 * (SymbolCount + 2000)) << "noise costs little more than itself";
}

// One string over and over: every reference can share one cheap source,
// and the parse must find it rather than the nearest copies.
TEST(RoundTrip, RepetitiveInputs)
{
    std::string paragraph = "The ferry leaves the quay at dawn and the map of Dravik shows a quiet valley beyond it, "
                            "where stone walls run along the river and the road climbs to the second cairn.\r\n";
    std::vector<unsigned char> paragraphs;
    while (paragraphs.size() < 300000)
        paragraphs.insert(paragraphs.end(), paragraph.begin(), paragraph.end());
    Manifest zeros = manifest_of({std::vector<unsigned char>(PackerBlockSize, 0)});
    expect_round_trip(zeros, "one block of zeros");
    EXPECT_LE(compressed_size(pack_payload(zeros)), 1200u) << "one source and one length cost about 4 bits a reference";
    expect_round_trip(manifest_of({std::vector<unsigned char>(250000, 0xAB)}), "one repeated byte, three blocks");
    expect_round_trip(manifest_of({paragraphs}), "a repeated paragraph");
    std::vector<unsigned char> run(70000, 'x');
    expect_round_trip(manifest_of({run, paragraphs, std::vector<unsigned char>(9, 0)}),
                      "runs and paragraphs across block boundaries");
}

TEST(RoundTrip, SummaryLineFormat)
{
    Manifest m = manifest_of({random_bytes(1000, 1), random_bytes(2000, 2)});
    PackedPayload packed = pack_payload(m);
    EXPECT_EQ(summary_line(m, packed),
              "2 files, 3000 bytes, 1 blocks, " + std::to_string(compressed_size(packed)) + " compressed");
    // One byte: its table and one stream byte holding a single 1-bit word.
    EXPECT_EQ(compressed_size(pack_payload(manifest_of({{'q'}}))), SymbolCount + 1u);
}

TEST(RoundTrip, VerificationCatchesADifference)
{
    Manifest m = manifest_of({text_like(5000, 1)});
    PackedPayload packed = pack_payload(m);
    m.files[0].bytes[4000] ^= 1;
    std::string error;
    EXPECT_EQ(verify_payload(m, packed, error), 0);
    EXPECT_NE(error.find("offset 4000 of 'f0'"), std::string::npos) << error;
}

// A package an executable cannot carry is refused: before packing when a
// sample of its blocks leaves no doubt, else at the first block past the
// limit. Read from disk, as the packer reads a game, since the sample seeks.
TEST(ImageLimit, RefusedBeforePackingWhenASampleIsSureAndAtTheFirstBlockPastItOtherwise)
{
    ScratchFolder folder;
    std::vector<unsigned char> stretches;
    for (uint32_t k = 0; k < 40; k++) {
        std::vector<unsigned char> block = k % 3 ? random_bytes(PackerBlockSize, k) : text_like(PackerBlockSize, k);
        stretches.insert(stretches.end(), block.begin(), block.end());
    }
    stretches.resize(stretches.size() - 1000);
    ASSERT_TRUE(write_file(folder / "game", stretches));
    Manifest m = manifest_of({});
    m.files.emplace_back("game");
    m.files[0].source = folder / "game";
    m.files[0].size = stretches.size();

    std::string error;
    std::vector<uint64_t> ends;   // the image's size after each block
    PackedTables tables;
    auto sink = [&](uint32_t, const EncodedBlock&) {
        ends.push_back(tables.compressed);
        return 1;
    };
    ASSERT_EQ(pack_blocks(m, FastEncoderOptions, UINT64_MAX, sink, nullptr, tables, error), 1) << error;
    const uint64_t whole = tables.compressed;
    const std::vector<uint64_t> whole_ends = ends;
    struct {
        const char* what;
        uint64_t limit;
        bool judged, refused_before, packed;
    } cases[] = {
        {"a quarter of its size", whole / 4, true, true, false},
        {"a byte short of it", whole - 1, true, false, false},
        {"exactly its size", whole, true, false, true},
        {"over four times the payload", 4 * stretches.size() + 4, false, false, true},
    };
    for (const auto& k : cases) {
        ImageEstimate estimate;
        ASSERT_EQ(estimate_image(m, FastEncoderOptions, k.limit, 16, estimate, error), 1) << k.what << ": " << error;
        EXPECT_EQ(estimate.sampled, k.judged ? 16u : 0u) << k.what;
        EXPECT_EQ(estimate.exceeds, k.refused_before) << k.what;
        if (k.judged) {
            EXPECT_LE(std::max(estimate.bytes, whole) - std::min(estimate.bytes, whole), estimate.margin) << k.what;
        }
        if (k.refused_before)
            continue;
        ends.clear();
        EXPECT_EQ(pack_blocks(m, FastEncoderOptions, k.limit, sink, nullptr, tables, error), k.packed ? 1 : 0) << k.what;
        EXPECT_EQ(tables.too_large, !k.packed) << k.what;
        size_t fitting = 0;
        while (fitting < whole_ends.size() && whole_ends[fitting] <= k.limit)
            fitting++;
        EXPECT_EQ(ends.size(), k.packed ? 40u : fitting) << k.what << ": no block past the limit reaches the image";
        if (!k.packed) {
            EXPECT_NE(error.find("would exceed the "), std::string::npos) << k.what << ": " << error;
        }
    }

    std::filesystem::resize_file(folder / "game", PackerBlockSize * 30);
    ImageEstimate estimate;
    EXPECT_EQ(estimate_image(m, FastEncoderOptions, whole / 4, 16, estimate, error), 0);
    EXPECT_NE(error.find("cannot read " + (folder / "game")), std::string::npos) << error;
}
