// Recognising an installation and gating an update by its build names.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

#include "installer/probes.h"
#include "tests/test_support.h"

namespace {

struct Probes : ::testing::Test {
    ScratchFolder folder;
    Manifest manifest = small_quorvel_manifest();
    PackedTestImage image{manifest};

    void SetUp() override { make_folders(folder / "dravik/playerdata"); }
    std::string name_read_from(const std::string& content)
    {
        write_text(folder / VersionFiles[0], content);
        char name[VersionNameSize];
        std::memset(name, 'x', sizeof name);
        read_version_name(folder.path.c_str(), VersionFiles[0], name);
        return name;
    }
    int gate(const char* exec, const char* data)
    {
        std::remove((folder / VersionFiles[0]).c_str());
        std::remove((folder / VersionFiles[1]).c_str());
        if (exec)
            write_text(folder / VersionFiles[0], exec);
        if (data)
            write_text(folder / VersionFiles[1], data);
        return check_version(folder.path.c_str());
    }
};

}  // namespace

TEST_F(Probes, OnlyFilesExistAndBothMarkersMakeAnInstallation)
{
    make_folders(folder / "dravik/images");
    EXPECT_EQ(file_exists(folder.path.c_str(), "dravik"), 0) << "a folder is not a file";
    EXPECT_EQ(is_installed(folder.path.c_str()), 0);
    write_text(folder / MarkerFiles[0], "MZ");
    EXPECT_EQ(file_exists(folder.path.c_str(), MarkerFiles[0]), 1);
    EXPECT_EQ(is_installed(folder.path.c_str()), 0) << "the image is missing";
    write_text(folder / MarkerFiles[1], "");
    EXPECT_EQ(is_installed(folder.path.c_str()), 1);
    EXPECT_EQ(is_installed((folder.path + "\\dravik").c_str()), 0);
}

TEST_F(Probes, VersionNamesLoseOnlyTrailingLineFeeds)
{
    EXPECT_EQ(name_read_from("build128\r\n"), "build128");
    EXPECT_EQ(name_read_from("build128\n"), "build128");
    EXPECT_EQ(name_read_from("build128"), "build128");
    EXPECT_EQ(name_read_from("build128\n\r\n\n"), "build128");
    EXPECT_EQ(name_read_from(""), "");
    EXPECT_EQ(name_read_from("\n"), "\n") << "a line feed in the first place stays";
    EXPECT_EQ(name_read_from("\n\n"), "\n");
    EXPECT_EQ(name_read_from("build128\nbuild127\n"), "build128\nbuild127");
    EXPECT_EQ(name_read_from("build128\r"), "build128\r");
    std::string long_name(200, 'a');
    EXPECT_EQ(name_read_from(long_name), std::string(125, 'a')) << "the 126th byte is cut off";
}

TEST_F(Probes, KnownBuildsMatchExactly)
{
    EXPECT_EQ(is_known_build("build128"), 1);
    EXPECT_EQ(is_known_build("build41"), 1);
    EXPECT_EQ(is_known_build(manifest.builds.back().c_str()), 1);
    EXPECT_EQ(is_known_build("build40"), 0);
    EXPECT_EQ(is_known_build("Build128"), 0);
    EXPECT_EQ(is_known_build(" build128"), 0);
    EXPECT_EQ(is_known_build("build128 "), 0);
    EXPECT_EQ(is_known_build("build12"), 0);
    EXPECT_EQ(is_known_build(""), 0);
}

TEST_F(Probes, GateAllowsKnownOrMissingNamesOnly)
{
    EXPECT_EQ(gate("build128\r\n", "build128\r\n"), 1);
    EXPECT_EQ(gate(nullptr, nullptr), 1) << "both missing";
    EXPECT_EQ(gate(nullptr, "build90\n"), 1);
    EXPECT_EQ(gate(nullptr, "build129\n"), 0);
    EXPECT_EQ(gate("build129", "build128"), 0);
    EXPECT_EQ(gate("build129", nullptr), 0);
    EXPECT_EQ(gate("build100", nullptr), 1);
    EXPECT_EQ(gate("build100", "build128 "), 0);
    EXPECT_EQ(gate("", nullptr), 0) << "an empty file is the empty name";
    EXPECT_EQ(gate("\n", nullptr), 0);
    EXPECT_EQ(gate("build128\nbuild127\n", nullptr), 0);
}

TEST_F(Probes, VersionFileThatCannotBeOpenedReadsAsEmpty)
{
    char name[VersionNameSize] = "stale";
    read_version_name(folder.path.c_str(), "dravik/none.ver", name);
    EXPECT_STREQ(name, "");
    EXPECT_EQ(is_known_build(name), 0);
}
