// The payload stream and extraction: bytes handed out across blocks, files
// written whole or counted as errors, and never a good file destroyed.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include "package/decoder.h"
#include "package/stream.h"
#include "platform/platform.h"
#include "tests/test_support.h"

namespace {

namespace fs = std::filesystem;

// A two-block image: "abc" in a block shorter than the buffer, then "defg".
void short_blocks(TestImage& image)
{
    std::vector<unsigned char> code = all_symbols_code();
    image.blocks.push_back(coded_block(code, literal_symbols({'a', 'b', 'c'})));
    image.blocks.push_back(coded_block(code, literal_symbols({'d', 'e', 'f', 'g'})));
}

std::string text_of(const std::vector<unsigned char>& bytes)
{
    return std::string(bytes.begin(), bytes.end());
}

std::string file_text(const std::string& path)
{
    std::vector<unsigned char> bytes;
    return read_file(path, bytes) ? text_of(bytes) : "<missing>";
}

}  // namespace

TEST(PayloadStream, ShortBlocksAndEntriesAcrossTheBoundary)
{
    TestImage image;
    short_blocks(image);
    image.add_entry("one.txt", 2);
    image.add_entry("empty.txt", 0);
    image.add_entry("two.txt", 4);    // "cd" + "ef": crosses the block boundary
    image.add_entry("three.txt", 1);
    image.install();
    ScratchFolder folder;
    for (const EntryRecord& entry : image.entries)
        extract_entry(folder.path.c_str(), &entry);
    EXPECT_EQ(ErrorCount, 0);
    EXPECT_EQ(file_text(folder / "one.txt"), "ab");
    EXPECT_EQ(file_text(folder / "empty.txt"), "");
    EXPECT_EQ(file_text(folder / "two.txt"), "cdef");
    EXPECT_EQ(file_text(folder / "three.txt"), "g");
    EXPECT_EQ(Stream.block_index, 1u);
    EXPECT_EQ(Stream.read_position, 4u) << "every byte of the last block was handed out";
    EXPECT_EQ(next_payload_byte(), -1) << "and no more";
}

TEST(PayloadStream, FirstByteDecodesBlockZeroAndTheSwitchComesLate)
{
    TestImage image;
    short_blocks(image);
    image.install();
    EXPECT_EQ(Stream.pending, 1);
    EXPECT_EQ(next_payload_byte(), 'a');
    EXPECT_EQ(Stream.pending, 0);
    next_payload_byte();
    next_payload_byte();
    EXPECT_EQ(Stream.block_index, 0u) << "no block is decoded before its first byte is asked for";
    EXPECT_EQ(next_payload_byte(), 'd');
    EXPECT_EQ(Stream.block_index, 1u);
}

TEST(PayloadStream, ReadingPastThePayloadBreaksTheStream)
{
    TestImage image;
    short_blocks(image);
    image.install();
    for (int i = 0; i < 7; i++)
        ASSERT_GE(next_payload_byte(), 0);
    EXPECT_EQ(next_payload_byte(), -1);
    EXPECT_EQ(Stream.broken, 1);
    EXPECT_EQ(next_payload_byte(), -1);
}

TEST(PayloadStream, MalformedBlockFailsItsFileAndEveryLaterOne)
{
    TestImage image;
    short_blocks(image);
    image.blocks[1] = hand_block({{1, 2}, {2, 2}}, "00 11");   // missing branch
    image.add_entry("good.txt", 3);
    image.add_entry("bad.txt", 2);
    image.add_entry("later.txt", 1);
    image.add_entry("empty.txt", 0);
    image.install();
    ScratchFolder folder;
    ASSERT_TRUE(write_text(folder / "bad.txt", "installed copy"));
    for (const EntryRecord& entry : image.entries)
        extract_entry(folder.path.c_str(), &entry);
    EXPECT_EQ(ErrorCount, 2);
    EXPECT_EQ(file_text(folder / "good.txt"), "abc");
    EXPECT_EQ(file_text(folder / "bad.txt"), "installed copy") << "a failed file never replaces a good one";
    EXPECT_FALSE(exists(folder / "later.txt"));
    EXPECT_EQ(file_text(folder / "empty.txt"), "") << "an empty file needs no payload";
    EXPECT_EQ(files_below(folder.path), (std::vector<std::string>{"bad.txt", "empty.txt", "good.txt"}))
        << "no staging file is left behind";
}

TEST(Extraction, AFileThatCannotBeOpenedStillTakesItsBytes)
{
    TestImage image;
    short_blocks(image);
    image.add_entry("missing-folder/one.txt", 3);
    image.add_entry("two.txt", 4);
    image.install();
    ScratchFolder folder;
    for (const EntryRecord& entry : image.entries)
        extract_entry(folder.path.c_str(), &entry);
    EXPECT_EQ(ErrorCount, 1);
    EXPECT_EQ(file_text(folder / "two.txt"), "defg");
}

TEST(Extraction, AFolderStandingAtTheNameIsAnErrorAndStaysAFolder)
{
    TestImage image;
    short_blocks(image);
    image.add_entry("taken", 3);
    image.add_entry("next.txt", 4);
    image.install();
    ScratchFolder folder;
    ASSERT_TRUE(make_folders(folder / "taken"));
    for (const EntryRecord& entry : image.entries)
        extract_entry(folder.path.c_str(), &entry);
    EXPECT_EQ(ErrorCount, 1);
    EXPECT_TRUE(is_folder(folder / "taken"));
    EXPECT_EQ(file_text(folder / "next.txt"), "defg");
    EXPECT_EQ(files_below(folder.path), (std::vector<std::string>{"next.txt"}));
}

TEST(Extraction, ExistingFilesAreReplacedWhole)
{
    TestImage image;
    short_blocks(image);
    image.add_entry("one.txt", 7);
    image.install();
    ScratchFolder folder;
    ASSERT_TRUE(write_text(folder / "one.txt", "a much longer installed file"));
    extract_entry(folder.path.c_str(), &image.entries[0]);
    EXPECT_EQ(ErrorCount, 0);
    EXPECT_EQ(file_text(folder / "one.txt"), "abcdefg");
}

TEST(Extraction, APathTooLongForItsBufferIsAnErrorNotACut)
{
    TestImage image;
    short_blocks(image);
    image.add_entry("one.txt", 3);
    image.add_entry("two.txt", 4);
    image.install();
    ScratchFolder folder;
    // Exactly one byte too long with "/one.txt"; cut, it would name "folder/one.tx".
    std::string deep = folder.path + std::string(PathBufferSize - folder.path.size() - 8, '/');
    char joined[PathBufferSize];
    EXPECT_EQ(join_path(deep.c_str(), "one.txt", joined), 0);
    EXPECT_EQ(joined[0], '\0');
    extract_entry(deep.c_str(), &image.entries[0]);
    extract_entry(folder.path.c_str(), &image.entries[1]);
    EXPECT_EQ(ErrorCount, 1);
    EXPECT_EQ(file_text(folder / "two.txt"), "defg");
    EXPECT_EQ(files_below(folder.path), (std::vector<std::string>{"two.txt"}));
}

TEST(InstallFresh, ReproducesThePackedTreeAndNeverWritesIntoAnExistingTopFolder)
{
    Manifest manifest = small_quorvel_manifest();
    // More files than are held open for their flush at once.
    for (int n = 0; n < 80; n++)
        manifest.files.push_back({"extra" + std::to_string(n) + ".dat", random_bytes(100 + 300 * n, n)});
    PackedTestImage packed(manifest);
    ScratchFolder folder;
    ASSERT_EQ(install_fresh(folder.path.c_str()), FreshUnpacked);
    EXPECT_EQ(ErrorCount, 0);
    std::vector<std::string> expected;
    for (const ManifestFile& f : manifest.files) {
        expected.push_back("Quorvel/" + f.name);
        std::vector<unsigned char> bytes;
        ASSERT_TRUE(read_file(folder / ("Quorvel/" + f.name), bytes)) << f.name;
        EXPECT_EQ(bytes, f.bytes) << f.name;
    }
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(files_below(folder.path), expected) << "no staging name is left";

    // The name is taken now: the second tree is built and thrown away.
    ASSERT_TRUE(write_text(folder / "Quorvel/readme.txt", "the player's notes"));
    rewind_payload();
    EXPECT_EQ(install_fresh(folder.path.c_str()), FreshTaken);
    EXPECT_EQ(files_below(folder.path), expected);
    EXPECT_EQ(file_text(folder / "Quorvel/readme.txt"), "the player's notes");
}

#ifndef _WIN32
// A program the game runs is created runnable, as the umask allows; an
// update leaves the mode of a file already there as its user set it, and
// creates a program new to the copy runnable.
TEST(InstallFresh, MarkedFilesAreCreatedRunnableAndUpdatesKeepModes)
{
    Manifest manifest = small_quorvel_manifest();
    for (ManifestFile& f : manifest.files)
        f.executable = f.name == MarkerFiles[0];
    mode_t mask = ::umask(022);
    ScratchFolder folder;
    std::string top = folder / "Quorvel";
    {
        PackedTestImage packed(manifest);
        EXPECT_EQ(install_fresh(folder.path.c_str()), 1);
    }
    for (const ManifestFile& f : manifest.files)
        EXPECT_EQ(permission_bits(top + "/" + f.name), f.executable ? 0755u : 0644u) << f.name;

    ::chmod((top + "/" + MarkerFiles[0]).c_str(), 0700);
    ::chmod((top + "/lgpl.txt").c_str(), 0600);
    std::filesystem::remove(top + "/readme.txt");
    manifest.files[13].executable = true;   // readme.txt
    PackedTestImage again(manifest);
    for (uint32_t i = 0; i < Package->entries.count; i++)
        extract_entry(top.c_str(), &Package->entries.entries[i]);
    ::umask(027);
    std::filesystem::remove(top + "/dravik/SDL.dll");
    manifest.files[1].executable = true;
    PackedTestImage masked(manifest);
    for (uint32_t i = 0; i < Package->entries.count; i++)
        extract_entry(top.c_str(), &Package->entries.entries[i]);
    ::umask(mask);
    EXPECT_EQ(ErrorCount, 0);
    EXPECT_EQ(permission_bits(top + "/" + MarkerFiles[0]), 0700u) << "the user's mode stays";
    EXPECT_EQ(permission_bits(top + "/lgpl.txt"), 0600u) << "the user's mode stays";
    EXPECT_EQ(permission_bits(top + "/readme.txt"), 0755u) << "created by the first update";
    EXPECT_EQ(permission_bits(top + "/dravik/SDL.dll"), 0750u) << "created under umask 027";
}
#endif

TEST(InstallFresh, AFolderThatCannotHoldTheTreeFailsBeforeDecoding)
{
    PackedTestImage packed(small_quorvel_manifest());
    ScratchFolder folder;
    ASSERT_TRUE(write_text(folder / "file", "not a folder"));
    EXPECT_EQ(install_fresh((folder / "file").c_str()), FreshFailed);
    EXPECT_EQ(Stream.pending, 1) << "nothing was decoded";
    EXPECT_EQ(files_below(folder.path), std::vector<std::string>{"file"});
}

// Every path is known before the first write: one that would not fit, the
// top folder's or only the longest entry's, creates nothing at all.
TEST(InstallFresh, APathThatDoesNotFitCreatesNothing)
{
    Manifest manifest = small_quorvel_manifest();
    PackedTestImage packed(manifest);
    size_t longest = 0;
    for (const ManifestFile& f : manifest.files)
        longest = std::max(longest, f.name.size());
    ScratchFolder folder;
    // "\\Quorvel" (8 bytes) makes the first one byte too long for a path
    // buffer; the second leaves room for the top folder and its staging
    // name but not for the longest entry below them.
    size_t staged_top = std::string("\\Quorvel").size() + std::strlen(platform::StagingSuffix);
    for (size_t length : {size_t(PathBufferSize - 8), PathBufferSize - staged_top - longest}) {
        std::string deep = folder.path + std::string(length - folder.path.size(), '/');
        EXPECT_EQ(install_fresh(deep.c_str()), FreshFailed) << length;
        EXPECT_TRUE(files_below(folder.path).empty());
        EXPECT_TRUE(fs::is_empty(folder.path)) << "not even a folder";
        EXPECT_EQ(Stream.pending, 1);
    }
}

TEST(PayloadStream, EmptyBlocksArePassedOver)
{
    TestImage image;
    std::vector<unsigned char> code = all_symbols_code();
    image.blocks.push_back(coded_block(code, literal_symbols({'a', 'b'})));
    image.blocks.push_back(coded_block(code, {}));
    image.blocks.push_back(coded_block(code, {}));
    image.blocks.push_back(coded_block(code, literal_symbols({'c'})));
    image.add_entry("one.txt", 3);
    image.install();
    ScratchFolder folder;
    extract_entry(folder.path.c_str(), &image.entries[0]);
    EXPECT_EQ(ErrorCount, 0);
    EXPECT_EQ(file_text(folder / "one.txt"), "abc");
    EXPECT_EQ(Stream.block_index, 3u);
}

#ifndef _WIN32
TEST(Extraction, AFailedRenameOrCloseIsAnErrorAndLeavesNoStagingFile)
{
    TestImage image;
    short_blocks(image);
    image.add_entry("one.txt", 3);
    image.add_entry("two.txt", 4);
    image.install();
    ScratchFolder folder;
    // The name turns into a folder with something in it while the file is
    // being written: the rename over it fails.
    platform::File* file = platform::fopen((folder / "one.txt").c_str(), "wb");
    ASSERT_NE(file, nullptr);
    platform::fputc('x', file);
    ASSERT_TRUE(make_folders(folder / "one.txt/inside"));
    EXPECT_NE(platform::fclose(file), 0);
    EXPECT_EQ(files_below(folder.path), std::vector<std::string>{}) << "no staging file is left";

    // Through extraction: a close that cannot write the buffered bytes.
    with_file_size_limit(2, [&] { extract_entry((folder / "one.txt/inside").c_str(), &image.entries[0]); });
    EXPECT_EQ(ErrorCount, 1) << "the file's three bytes only leave the buffer at close";
    EXPECT_TRUE(files_below(folder / "one.txt").empty());
}
#endif
