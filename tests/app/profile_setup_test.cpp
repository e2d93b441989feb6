#include "app/profile_setup.h"
#include "base/data_folder.h"
#include "config/settings_store.h"
#include "tests/config/config_fixture.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace kestrelle {
namespace {

using testing::readFile;
using testing::writeFile;
namespace fs = std::filesystem;

// ConfigTest also hides the user's XDG config, which names the documents folder.
class ProfileSetupTest : public testing::ConfigTest {
protected:
    void SetUp() override {
        ConfigTest::SetUp();
        shipped_ = path("program/Profile");
        fs::create_directories(shipped_);
    }
    std::string userDir() const { return dataFolder() + "/Profile"; }
    std::string log() const { return readFile(dataFolder() + "/run.log"); }
    void ship(const std::string& name, const std::string& bytes) {
        ASSERT_TRUE(writeFile(shipped_ + "/" + name, bytes));
    }
    std::string shipped_;
};

TEST_F(ProfileSetupTest, CopiesWhatTheUserLacksAndLogsEachCopy) {
    ship("One.ipf", "<Profile>1</Profile>");
    ship("Two.ipf", "<Profile>2</Profile>");
    ship("readme.txt", "not a profile");
    fs::create_directories(shipped_ + "/Dir.ipf");
    EXPECT_EQ(setUpUserProfileFolder(shipped_), 2);
    EXPECT_EQ(readFile(userDir() + "/One.ipf"), "<Profile>1</Profile>");
    EXPECT_EQ(readFile(userDir() + "/Two.ipf"), "<Profile>2</Profile>");
    EXPECT_FALSE(fs::exists(userDir() + "/readme.txt"));
    EXPECT_FALSE(fs::exists(userDir() + "/Dir.ipf"));
    const std::string text = log();
    EXPECT_NE(text.find("|Module Path:" + shipped_ + ",Access:0,Found:1\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find("|File Name:One.ipf,Success:1\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find("|File Name:Two.ipf,Success:1\r\n"), std::string::npos) << text;
    EXPECT_EQ(text.find("Dir.ipf"), std::string::npos);
}

TEST_F(ProfileSetupTest, NeverOverwritesTheUsersProfileInAnyLetterCase) {
    ship("A.IPF", "<Profile>shipped</Profile>");
    ship("B.ipf", "<Profile>shipped b</Profile>");
    fs::create_directories(userDir());
    writeFile(userDir() + "/a.ipf", "<Profile>mine</Profile>");
    writeFile(userDir() + "/Own.ipf", "<Profile>own</Profile>");
    EXPECT_EQ(setUpUserProfileFolder(shipped_), 1);
    EXPECT_EQ(readFile(userDir() + "/a.ipf"), "<Profile>mine</Profile>");
    EXPECT_FALSE(fs::exists(userDir() + "/A.IPF"));
    EXPECT_EQ(readFile(userDir() + "/Own.ipf"), "<Profile>own</Profile>");
    EXPECT_EQ(readFile(userDir() + "/B.ipf"), "<Profile>shipped b</Profile>");

    // A deleted shipped profile comes back at the next start; the edited one still stays.
    fs::remove(userDir() + "/B.ipf");
    writeFile(userDir() + "/a.ipf", "<Profile>edited</Profile>");
    EXPECT_EQ(setUpUserProfileFolder(shipped_), 1);
    EXPECT_EQ(readFile(userDir() + "/B.ipf"), "<Profile>shipped b</Profile>");
    EXPECT_EQ(readFile(userDir() + "/a.ipf"), "<Profile>edited</Profile>");
    EXPECT_EQ(setUpUserProfileFolder(shipped_), 0);
}

TEST_F(ProfileSetupTest, AMissingShippedFolderIsLoggedAndCopiesNothing) {
    const std::string missing = path("nowhere/Profile");
    EXPECT_EQ(setUpUserProfileFolder(missing), 0);
    EXPECT_TRUE(fs::is_directory(userDir()));
    EXPECT_NE(log().find("|Module Path:" + missing + ",Access:-1,Found:0\r\n"), std::string::npos) << log();
    // An existing folder without profiles: found nothing.
    EXPECT_EQ(setUpUserProfileFolder(shipped_), 0);
    EXPECT_NE(log().find("|Module Path:" + shipped_ + ",Access:0,Found:0\r\n"), std::string::npos) << log();
}

TEST_F(ProfileSetupTest, AFailedCopyIsLoggedAndStartUpGoesOn) {
    ship("Good.ipf", "<Profile/>");
    std::string huge(2 * 1024 * 1024, ' ');
    ship("Huge.ipf", huge);  // no profile is this large
    EXPECT_EQ(setUpUserProfileFolder(shipped_), 1);
    EXPECT_NE(log().find("|File Name:Huge.ipf,Success:0\r\n"), std::string::npos);
    EXPECT_FALSE(fs::exists(userDir() + "/Huge.ipf"));
}

TEST_F(ProfileSetupTest, WithoutProfilesStartUpIsRefusedWithTheReinstallText) {
    SettingsStore empty;
    empty.load();
    std::string refusal;
    EXPECT_FALSE(checkProfilesAvailable(empty, refusal));
    EXPECT_EQ(refusal, "Can't locate configuration file.\nPlease re-install Kestrelle to fix the problem.");
}

TEST_F(ProfileSetupTest, TheProgramsOwnProfilesLoadWithNormalQualityCurrent) {
    ASSERT_GT(setUpUserProfileFolder(), 0) << programFolder();
    SettingsStore store;
    store.listCodecs();
    store.load();
    std::string refusal;
    EXPECT_TRUE(checkProfilesAvailable(store, refusal));
    EXPECT_TRUE(refusal.empty());
    ASSERT_NE(store.currentProfile(), nullptr);
    EXPECT_EQ(store.currentProfile()->name, "Normal Quality(.avi)");
    const CodecEntry* codec = store.codecForCurrentProfile();
    ASSERT_NE(codec, nullptr);
    // The shipped profiles name Xvid; without it they fall back to the first codec.
    EXPECT_EQ(codec, store.isCodecInstalled("Xvid MPEG-4 Codec") ? store.findCodec("Xvid MPEG-4 Codec")
                                                                 : store.firstCodec());
}

// A user of an earlier version keeps every profile file of theirs, edited or not, and gets the MP4
// profiles that were added since.
TEST_F(ProfileSetupTest, ProfilesAddedToTheProgramReachAnExistingUserWithoutTouchingTheirFiles) {
    fs::create_directories(userDir());
    ASSERT_TRUE(writeFile(userDir() + "/Normal Quality(.avi).ipf", "edited by the user"));
    ASSERT_TRUE(writeFile(userDir() + "/Mine.ipf", "my own"));
    ASSERT_GE(setUpUserProfileFolder(), 5) << programFolder();
    EXPECT_EQ(readFile(userDir() + "/Normal Quality(.avi).ipf"), "edited by the user");
    EXPECT_EQ(readFile(userDir() + "/Mine.ipf"), "my own");
    for (const char* name : {"MP4 1080p(.mp4)", "MP4 720p(.mp4)", "MP4 4K(.mp4)", "MP4 1080p 60(.mp4)",
                             "MP4 Phone portrait(.mp4)"})
        EXPECT_TRUE(fs::is_regular_file(userDir() + "/" + name + ".ipf")) << name;
    // A second start copies nothing more.
    EXPECT_EQ(setUpUserProfileFolder(), 0);
}

}  // namespace
}  // namespace kestrelle
