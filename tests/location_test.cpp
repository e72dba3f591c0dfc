// Desktop lookup and folder picker over the shell: the path they return and
// the shell objects they must always give back.
#include <gtest/gtest.h>

#include "installer/location.h"
#include "platform/paths.h"
#include "platform/platform.h"
#include "tests/fake_shell.h"

namespace {

struct Location : ::testing::Test {
    char buffer[PathBufferSize] = {};
    void SetUp() override { reset_fake_shell(); }
    void TearDown() override
    {
        EXPECT_EQ(Fake.lists_outstanding, 0) << "every item list goes back to the allocator";
        EXPECT_EQ(Fake.allocator_references, 0) << "the allocator is released";
    }
    std::string pick(const std::string& chosen, int expected_result)
    {
        Fake.picks = {chosen};
        int result = browse_for_folder(buffer, "Title");
        EXPECT_EQ(result, expected_result) << chosen;
        return result ? std::string(buffer) : std::string("<not to be used>");
    }
};

}  // namespace

TEST_F(Location, DesktopFoundOrNot)
{
    Fake.desktop = "/home/u/Desktop";
    EXPECT_EQ(get_special_folder(buffer, platform::DesktopDirectoryFolder), 1);
    EXPECT_STREQ(buffer, "/home/u/Desktop");
    Fake.desktop = NoPath;
    EXPECT_EQ(get_special_folder(buffer, platform::DesktopDirectoryFolder), 0);
    Fake.desktop_found = false;
    EXPECT_EQ(get_special_folder(buffer, platform::DesktopDirectoryFolder), 0);
}

TEST_F(Location, PickerRemovesExactlyOneTrailingSeparator)
{
    EXPECT_EQ(pick("C:\\", 1), "C:") << "a drive root comes back as the drive alone";
    EXPECT_EQ(pick("/", 1), "");
    EXPECT_EQ(pick("/games/", 1), "/games");
    EXPECT_EQ(pick("D:\\games\\\\", 1), "D:\\games\\");
    EXPECT_EQ(pick("/games/quorvel", 1), "/games/quorvel");
    EXPECT_EQ(pick("", 1), "");
    EXPECT_EQ(Fake.shown.size(), 6u);
    EXPECT_EQ(Fake.shown[0].caption, "Title");
}

TEST_F(Location, PickerCancelAndFoldersWithoutAPath)
{
    pick(Cancel, 0);
    pick(NoPath, 0);
}

TEST_F(Location, WithoutTheAllocatorNothingIsShown)
{
    Fake.allocator_available = false;
    EXPECT_EQ(get_special_folder(buffer, platform::DesktopDirectoryFolder), 0);
    EXPECT_EQ(browse_for_folder(buffer, "Title"), 0);
    EXPECT_TRUE(Fake.shown.empty());
}
