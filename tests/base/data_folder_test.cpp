#include "base/data_folder.h"

#include "tests/support/temp_home.h"

#include <sys/stat.h>

namespace kestrelle {
namespace {

class DataFolderTest : public testing::TempHomeTest {};

bool isFolder(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

TEST_F(DataFolderTest, CreatesBrightmoorAndTheNamedFolderOnce) {
    std::string first;
    ASSERT_TRUE(resolveDataFolder("Kestrelle", first));
    EXPECT_EQ(first, dataHome() + "/Brightmoor/Kestrelle");
    EXPECT_TRUE(isFolder(dataHome() + "/Brightmoor"));
    EXPECT_TRUE(isFolder(first));
    std::string second;
    ASSERT_TRUE(resolveDataFolder("Kestrelle", second));
    EXPECT_EQ(second, first);
}

TEST_F(DataFolderTest, FallsBackToHomeAndFailsWithoutAnyDataHome) {
    unsetenv("XDG_DATA_HOME");
    std::string folder;
    ASSERT_TRUE(resolveDataFolder("Kestrelle", folder));
    EXPECT_EQ(folder, root() + "/.local/share/Brightmoor/Kestrelle");

    setenv("HOME", "not/absolute", 1);
    std::string untouched = "unchanged";
    EXPECT_FALSE(resolveDataFolder("Kestrelle", untouched, DataFolderLogging::Silent));
    EXPECT_EQ(untouched, "unchanged");
}

TEST_F(DataFolderTest, AFileInTheWayIsAFailure) {
    ASSERT_TRUE(testing::writeFile(dataHome(), "a file where the data home should be"));
    std::string folder;
    EXPECT_FALSE(resolveDataFolder("Kestrelle", folder, DataFolderLogging::Silent));
}

TEST_F(DataFolderTest, FreeSpaceOfMissingOrEmptyPathIsZero) {
    EXPECT_GT(freeDiskBytes(root()), 0u);
    EXPECT_EQ(freeDiskBytes(root() + "/no/such/folder"), 0u);
    EXPECT_EQ(freeDiskBytes(""), 0u);
}

TEST(ProgramFolder, IsTheFolderOfTheRunningExecutable) {
    const std::string folder = programFolder();
    ASSERT_FALSE(folder.empty());
    EXPECT_NE(folder.back(), '/');
    struct stat info {};
    EXPECT_EQ(::stat((folder + "/test_base").c_str(), &info), 0);
}

}  // namespace
}  // namespace kestrelle
