// The platform's file calls as the installer relies on them: text reads,
// folders that never open as files, both separators, and writes that land
// whole or not at all.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "package/stream.h"
#include "platform/platform.h"
#include "tests/test_support.h"

#ifndef _WIN32
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#endif

namespace {

std::string read_text_mode(const std::string& path)
{
    platform::File* file = platform::fopen(path.c_str(), "r");
    if (!file)
        return "<cannot open>";
    std::string text;
    for (int c; (c = platform::fgetc(file)) >= 0;)
        text += char(c);
    EXPECT_TRUE(platform::feof(file));
    platform::fclose(file);
    return text;
}

std::string file_text(const std::string& path)
{
    std::vector<unsigned char> bytes;
    return read_file(path, bytes) ? std::string(bytes.begin(), bytes.end()) : "<missing>";
}

int write_through_platform(const std::string& path, const std::string& text)
{
    platform::File* file = platform::fopen(path.c_str(), "wb");
    if (!file)
        return 0;
    for (char c : text)
        if (platform::fputc((unsigned char)c, file) < 0) {
            platform::fdiscard(file);
            return 0;
        }
    return platform::fclose(file) == 0;
}

}  // namespace

TEST(TextReads, CarriageReturnLineFeedReadsAsLineFeed)
{
    ScratchFolder folder;
    ASSERT_TRUE(write_text(folder / "v.txt", "build128\r\nx\ry\r\r\nend\r"));
    EXPECT_EQ(read_text_mode(folder / "v.txt"), "build128\nx\ry\r\nend\r");
}

TEST(TextReads, EndOfFileIsSetOnlyByTheReadThatFindsIt)
{
    ScratchFolder folder;
    ASSERT_TRUE(write_text(folder / "v.txt", "ab"));
    platform::File* file = platform::fopen((folder / "v.txt").c_str(), "r");
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(platform::fgetc(file), 'a');
    EXPECT_EQ(platform::fgetc(file), 'b');
    EXPECT_FALSE(platform::feof(file));
    EXPECT_EQ(platform::fgetc(file), -1);
    EXPECT_TRUE(platform::feof(file));
    platform::fclose(file);
}

TEST(Paths, FoldersNeverOpenAsFilesAndBothSeparatorsWork)
{
    ScratchFolder folder;
    ASSERT_TRUE(make_folders(folder / "a/b"));
    ASSERT_TRUE(write_text(folder / "a/b/c.txt", "c"));
    EXPECT_EQ(platform::fopen((folder / "a").c_str(), "r"), nullptr);
    EXPECT_EQ(platform::fopen((folder / "a").c_str(), "wb"), nullptr);
    EXPECT_EQ(read_text_mode(folder.path + "\\a\\b/c.txt"), "c");
    EXPECT_TRUE(platform::CreateDirectoryA((folder.path + "\\a\\d").c_str(), nullptr));
    EXPECT_TRUE(is_folder(folder / "a/d"));
    EXPECT_FALSE(platform::CreateDirectoryA((folder.path + "\\a\\d").c_str(), nullptr)) << "it exists";
    EXPECT_TRUE(platform::DeleteFileA((folder.path + "\\a\\b\\c.txt").c_str()));
    EXPECT_FALSE(exists(folder / "a/b/c.txt"));
    EXPECT_FALSE(platform::DeleteFileA((folder.path + "\\a\\b\\c.txt").c_str()));
    EXPECT_FALSE(platform::DeleteFileA((folder / "a/b").c_str())) << "a folder is not a file";
}

// The calls a fresh install claims its top folder with, and the lock that
// keeps a second copy out: a move never replaces what stands at its target,
// a removal takes a whole tree, and one folder under two spellings is one
// lock.
TEST(Folders, MovesNeverReplaceRemovalsTakeTreesAndLocksMeetAcrossSpellings)
{
    ScratchFolder folder;
    ASSERT_TRUE(make_folders(folder / "tree/inner"));
    ASSERT_TRUE(write_text(folder / "tree/inner/f.txt", "f"));
    ASSERT_TRUE(make_folders(folder / "there"));
    EXPECT_EQ(platform::move_folder((folder / "tree").c_str(), (folder / "there").c_str()), platform::NameTaken);
    ASSERT_TRUE(write_text(folder / "file", "x"));
    EXPECT_EQ(platform::move_folder((folder / "tree").c_str(), (folder / "file").c_str()), platform::NameTaken);
    EXPECT_EQ(platform::move_folder((folder.path + "\\tree").c_str(), (folder / "moved").c_str()), platform::Moved);
    EXPECT_EQ(file_text(folder / "moved/inner/f.txt"), "f");
    EXPECT_EQ(platform::move_folder((folder / "tree").c_str(), (folder / "again").c_str()), platform::MoveFailed);

    EXPECT_TRUE(platform::remove_tree((folder.path + "\\moved").c_str()));
    EXPECT_FALSE(exists(folder / "moved"));
    EXPECT_TRUE(platform::remove_tree((folder / "moved").c_str())) << "nothing there is nothing left";
    EXPECT_TRUE(platform::remove_tree((folder / "file").c_str()));
    EXPECT_FALSE(exists(folder / "file"));
    EXPECT_TRUE(platform::sync_folder((folder / "there").c_str()));

    platform::FolderLock first, second;
    ASSERT_EQ(platform::lock_folder((folder / "there").c_str(), first), platform::LockHeld);
    EXPECT_EQ(platform::lock_folder((folder.path + "\\there\\.").c_str(), second), platform::LockBusy);
    EXPECT_EQ(platform::lock_folder(folder.path.c_str(), second), platform::LockHeld) << "another folder";
    platform::unlock_folder(second);
    EXPECT_EQ(platform::lock_folder((folder / "nowhere").c_str(), second), platform::LockFailed);
    platform::unlock_folder(first);
    EXPECT_EQ(platform::lock_folder((folder / "there").c_str(), second), platform::LockHeld) << "let go";
    platform::unlock_folder(second);
}

TEST(StagedWrites, ALeftoverStagingFileIsClearedAndNeverBlocksAWrite)
{
    ScratchFolder folder;
    std::string staging = folder / (std::string("f.dat") + platform::StagingSuffix);
    ASSERT_TRUE(write_text(folder / "f.dat", "old"));
    ASSERT_TRUE(write_text(staging, "half of a killed run's file"));
    EXPECT_TRUE(write_through_platform(folder / "f.dat", "new"));
    EXPECT_EQ(file_text(folder / "f.dat"), "new");
    EXPECT_EQ(files_below(folder.path), (std::vector<std::string>{"f.dat"}));

    // A folder there is nobody's leftover: the write fails, the file stays.
    ASSERT_TRUE(make_folders(staging));
    EXPECT_FALSE(write_through_platform(folder / "f.dat", "newer"));
    EXPECT_EQ(file_text(folder / "f.dat"), "new");
}

TEST(StagedWrites, LandOnlyOnCloseAndDiscardLeavesTheOldFile)
{
    ScratchFolder folder;
    ASSERT_TRUE(write_text(folder / "f.dat", "old"));
    platform::File* file = platform::fopen((folder / "f.dat").c_str(), "wb");
    ASSERT_NE(file, nullptr);
    platform::fputc('n', file);
    EXPECT_EQ(file_text(folder / "f.dat"), "old") << "nothing is written in place";
    platform::fdiscard(file);
    EXPECT_EQ(file_text(folder / "f.dat"), "old");
    EXPECT_EQ(files_below(folder.path), (std::vector<std::string>{"f.dat"}));

    EXPECT_TRUE(write_through_platform(folder / "f.dat", "new\r\n"));
    EXPECT_EQ(file_text(folder / "f.dat"), "new\r\n") << "binary mode writes bytes as they are";
    EXPECT_EQ(files_below(folder.path), (std::vector<std::string>{"f.dat"}));
}

#ifndef _WIN32
TEST(StagedWrites, RunsAndSingleBytesLandInOrderAcrossBufferFills)
{
    // Runs that end just short of a full buffer, fill it exactly, and span
    // several fills, between single bytes.
    std::vector<unsigned char> bytes = random_bytes(90000, 12);
    const uint32_t runs[] = {1, platform::FileBufferSize - 2, 1, 0, platform::FileBufferSize,
                             3 * platform::FileBufferSize + 5};
    ScratchFolder folder;
    std::string path = folder / "runs.bin";
    platform::File* file = platform::fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    size_t at = 0;
    for (uint32_t run : runs) {
        ASSERT_EQ(platform::fputc_each(bytes.data() + at, run, file), 1);
        at += run;
        ASSERT_EQ(platform::fputc(bytes[at], file), bytes[at]);
        at++;
    }
    ASSERT_EQ(platform::fclose(file), 0);
    std::vector<unsigned char> written;
    ASSERT_TRUE(read_file(path, written));
    bytes.resize(at);
    EXPECT_EQ(written, bytes);
}

TEST(StagedWrites, NeverWriteThroughALinkAtTheNameOrTheStagingName)
{
    ScratchFolder folder;
    ScratchFolder elsewhere;
    ASSERT_TRUE(write_text(elsewhere / "precious", "keep"));
    ASSERT_EQ(::symlink((elsewhere / "precious").c_str(), (folder / "f.dat").c_str()), 0);
    std::string staging = folder / (std::string("f.dat") + platform::StagingSuffix);
    ASSERT_EQ(::symlink((elsewhere / "precious").c_str(), staging.c_str()), 0);
    EXPECT_TRUE(write_through_platform(folder / "f.dat", "payload"));
    EXPECT_EQ(file_text(elsewhere / "precious"), "keep");
    EXPECT_EQ(file_text(folder / "f.dat"), "payload");
    EXPECT_FALSE(std::filesystem::is_symlink(folder / "f.dat")) << "the link itself was replaced";
}

// Exactly, none included; set-id bits never pass to new content.
TEST(StagedWrites, AReplacedFileKeepsItsPermissionBits)
{
    ScratchFolder folder;
    struct stat info;
    for (auto [before, after] : {std::pair<mode_t, mode_t>{0750, 0750}, {0, 0}, {04755, 0755}, {02640, 0640}}) {
        ASSERT_TRUE(write_text(folder / "run.sh", "old"));
        ASSERT_EQ(::chmod((folder / "run.sh").c_str(), before), 0);
        EXPECT_TRUE(write_through_platform(folder / "run.sh", "new"));
        ASSERT_EQ(::stat((folder / "run.sh").c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 07777, after) << "was " << std::oct << before;
        std::filesystem::remove(folder / "run.sh");
    }

    mode_t mask = ::umask(022);
    EXPECT_TRUE(write_through_platform(folder / "fresh.txt", "new"));
    ::umask(mask);
    ASSERT_EQ(::stat((folder / "fresh.txt").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0644u) << "a new file gets the usual mode";
}

// Pipes, sockets and devices: opening one must never wait, and none is
// read or replaced. A hang here is caught by the alarm.
TEST(SpecialFiles, NeverOpenNeverHangAndAreNeverReplaced)
{
    ScratchFolder folder;
    ASSERT_EQ(::mkfifo((folder / "pipe").c_str(), 0644), 0);
    int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(sock, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::string socket_path = folder / "socket";
    ASSERT_LT(socket_path.size(), sizeof address.sun_path);
    std::memcpy(address.sun_path, socket_path.c_str(), socket_path.size() + 1);
    ASSERT_EQ(::bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ::alarm(20);
    for (std::string name : {folder / "pipe", socket_path, std::string("/dev/null"), std::string("/dev/zero")})
        EXPECT_EQ(platform::fopen(name.c_str(), "r"), nullptr) << name;
    for (std::string name : {folder / "pipe", socket_path})
        EXPECT_EQ(platform::fopen(name.c_str(), "wb"), nullptr) << name;
    ::alarm(0);
    ::close(sock);
    struct stat info;
    ASSERT_EQ(::lstat((folder / "pipe").c_str(), &info), 0);
    EXPECT_TRUE(S_ISFIFO(info.st_mode));
    EXPECT_TRUE(files_below(folder.path).empty()) << "no staging file was made";
}

TEST(ProbePath, OnlyWhatIsNotThereIsFree)
{
    ScratchFolder folder;
    ASSERT_TRUE(write_text(folder / "file", "x"));
    ASSERT_TRUE(make_folders(folder / "folder"));
    ASSERT_EQ(::mkfifo((folder / "pipe").c_str(), 0644), 0);
    ASSERT_EQ(::symlink((folder / "nowhere").c_str(), (folder / "dangling").c_str()), 0);
    ASSERT_EQ(::symlink((folder / "file").c_str(), (folder / "link").c_str()), 0);
    EXPECT_EQ(platform::probe_path((folder / "none").c_str()), platform::NothingThere);
    EXPECT_EQ(platform::probe_path((folder / "file/under").c_str()), platform::NothingThere);
    EXPECT_EQ(platform::probe_path((folder.path + "\\file").c_str()), platform::RegularFile);
    EXPECT_EQ(platform::probe_path((folder / "link").c_str()), platform::RegularFile);
    EXPECT_EQ(platform::probe_path((folder / "folder").c_str()), platform::SomethingElse);
    EXPECT_EQ(platform::probe_path((folder / "pipe").c_str()), platform::SomethingElse);
    EXPECT_EQ(platform::probe_path((folder / "dangling").c_str()), platform::SomethingElse);
    EXPECT_EQ(platform::probe_path(std::string(PathBufferSize, 'a').c_str()), platform::CannotTell);
}

TEST(StagedWrites, AFullDiskCountsAsAnErrorAndKeepsTheInstalledFile)
{
    // A file size limit makes writes fail the way a full disk does.
    Manifest manifest = small_quorvel_manifest();
    manifest.files.resize(3);
    manifest.files[1].bytes = random_bytes(300000, 9);
    PackedTestImage packed(manifest);
    ScratchFolder folder;
    ASSERT_TRUE(make_folders(folder / "dravik"));
    ASSERT_TRUE(write_text(folder / "dravik/SDL.dll", "installed"));

    with_file_size_limit(100000, [&] {
        for (const EntryRecord& entry : packed.loaded.tables.entries)
            extract_entry(folder.path.c_str(), &entry);
    });

    EXPECT_EQ(ErrorCount, 1);
    EXPECT_EQ(file_text(folder / "dravik/SDL.dll"), "installed");
    std::vector<unsigned char> after;
    ASSERT_TRUE(read_file(folder / "dravik/hesk.wad", after));
    EXPECT_EQ(after, manifest.files[2].bytes) << "the next file still receives its own bytes";
    EXPECT_EQ(files_below(folder.path).size(), 3u) << "no staging file is left behind";
}
#endif
