#include "app/start_checks.h"
#include "app/profile_setup.h"
#include "base/data_folder.h"
#include "base/message_box.h"
#include "config/settings_store.h"
#include "project/slideshow_project.h"
#include "tests/app/message_recorder.h"
#include "tests/config/config_fixture.h"

#include <QImage>

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

namespace kestrelle {
namespace {

namespace fs = std::filesystem;
using testing::readFile;
using testing::writeFile;

// A store with the shipped profiles and one Xvid codec, a project with one 4-second photo slide, a
// target folder the user has chosen, and plenty of free space: every check passes.
class StartChecksTest : public testing::ConfigTest {
public:
    void SetUp() override {
        ConfigTest::SetUp();
        setUpUserProfileFolder(programFolder() + "/Profile");
        // Rows of a table run one after another in this fixture: start each from scratch.
        provider_ = testing::xvidOnly();
        messages_ = testing::MessageRecorder();
        freeBytes_ = [](const std::string&) { return std::uint64_t{1} << 40; };
        project_.resetProject();
        store_ = std::make_unique<SettingsStore>(&provider_);
        store_->listCodecs();
        store_->load();
        ASSERT_GT(store_->profileCount(), 0);
        target_ = path("out");
        fs::create_directories(target_);
        store_->setTargetPath(target_);
        store_->settings().TargetChanged = 1;
        store_->setOutputName("Holiday");
        photo_ = path("photo.png");
        QImage picture(32, 24, QImage::Format_RGB32);
        picture.fill(Qt::darkCyan);
        ASSERT_TRUE(picture.save(QString::fromStdString(photo_)));
        project_.fillPlaceholders(400);
        ASSERT_EQ(project_.insertPhoto(photo_, 0, 1, 3.0, 1.0) >= 0, true);
        setMessagePresenter(&messages_);
    }
    void TearDown() override {
        setMessagePresenter(nullptr);
        ConfigTest::TearDown();
    }

    StartDecision check(const std::string& name = "Holiday") {
        return checkStart(StartRequest{*store_, project_, name, freeBytes_});
    }
    std::string file(const std::string& relative) const { return path(relative); }
    std::int64_t estimate() const {
        const OutputProfile* profile = store_->currentProfile();
        return project_.estimatedOutputBytes(
            OutputRates{profile->VideoBR, profile->AudioBR, profile->FrameRate});
    }

    testing::FakeProvider provider_ = testing::xvidOnly();
    std::unique_ptr<SettingsStore> store_;
    SlideShowProject project_;
    std::string target_;
    std::string photo_;
    testing::MessageRecorder messages_;
    std::function<std::uint64_t(const std::string&)> freeBytes_;
};

TEST_F(StartChecksTest, EachFailingCheckShowsItsOwnTextInOrder) {
    struct Row {
        const char* what;
        std::function<void(StartChecksTest&)> breakIt;
        std::string name;
        StartDecision decision;
        std::string text;
    };
    const std::vector<Row> rows = {
        {"no codec",
         [](StartChecksTest& t) {
             t.provider_.specs.clear();
             t.store_->listCodecs();
         },
         "Holiday", StartDecision::NoCodec, kNoCodecText},
        {"no photo",
         [](StartChecksTest& t) {
             t.project_.resetProject();
             t.project_.fillPlaceholders(400);
         },
         "Holiday", StartDecision::NoPhotos, kAddPhotosText},
        {"target missing", [](StartChecksTest& t) { t.store_->setTargetPath(t.target_ + "/gone"); },
         "Holiday", StartDecision::TargetMissing, kTargetMissingText},
        {"target is a file",
         [](StartChecksTest& t) {
             writeFile(t.file("a-file"), "x");
             t.store_->setTargetPath(t.file("a-file"));
         },
         "Holiday", StartDecision::TargetMissing, kTargetMissingText},
        {"default folder declined", [](StartChecksTest& t) { t.store_->settings().TargetChanged = 0; },
         "Holiday", StartDecision::DefaultTargetDeclined, kDefaultTargetQuestion},
        {"no space",
         [](StartChecksTest& t) { t.freeBytes_ = [](const std::string&) { return std::uint64_t{0}; }; },
         "Holiday", StartDecision::NotEnoughSpace, ""},
        {"reserved", nullptr, "Hol?day", StartDecision::ReservedCharacter, kReservedCharactersText},
        {"empty", nullptr, "", StartDecision::EmptyName, kEmptyNameText},
        {"300 characters", nullptr, std::string(300, 'n'), StartDecision::NameTooLong, kNameTooLongText},
        {"overwrite declined", [](StartChecksTest& t) { writeFile(t.target_ + "/Holiday.avi", "old"); },
         "Holiday", StartDecision::OverwriteDeclined, kOverwriteQuestion},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        TearDown();
        SetUp();
        if (row.breakIt) row.breakIt(*this);
        messages_.answers = {MessageAnswer::kNo};
        EXPECT_EQ(check(row.name), row.decision);
        const std::string expected = row.text.empty() ? notEnoughSpaceText(mountPointOf(target_)) : row.text;
        EXPECT_EQ(messages_.texts, std::vector<std::string>{expected});
    }
}

TEST_F(StartChecksTest, EarlierChecksWinAndAllPassingGoesOn) {
    // No photos and a missing target: the photos are named first.
    project_.resetProject();
    store_->setTargetPath(target_ + "/gone");
    EXPECT_EQ(check(), StartDecision::NoPhotos);
    messages_.texts.clear();

    project_.insertPhoto(photo_, 0, 1, 3.0, 1.0);
    store_->setTargetPath(target_);
    EXPECT_EQ(check(), StartDecision::Go);
    EXPECT_TRUE(messages_.texts.empty());
}

TEST_F(StartChecksTest, YesToTheDefaultFolderIsRememberedAndNotAskedAgain) {
    store_->settings().TargetChanged = 0;
    messages_.answers = {MessageAnswer::kYes};
    EXPECT_EQ(check(), StartDecision::Go);
    EXPECT_EQ(store_->settings().TargetChanged, 1);
    messages_.texts.clear();
    EXPECT_EQ(check(), StartDecision::Go);
    EXPECT_TRUE(messages_.texts.empty());
}

TEST_F(StartChecksTest, FreeSpaceEqualToTheEstimateIsEnoughOneByteLessIsNot) {
    const std::int64_t needed = estimate();
    ASSERT_GT(needed, 0);
    std::string askedFor;
    freeBytes_ = [&](const std::string& folder) {
        askedFor = folder;
        return static_cast<std::uint64_t>(needed);
    };
    EXPECT_EQ(check(), StartDecision::Go);
    EXPECT_EQ(askedFor, target_);
    freeBytes_ = [&](const std::string&) { return static_cast<std::uint64_t>(needed - 1); };
    EXPECT_EQ(check(), StartDecision::NotEnoughSpace);
}

TEST_F(StartChecksTest, OverwriteYesGoesOnAndTheExistingFileIsLeftToTheJob) {
    writeFile(target_ + "/Holiday.avi", "old bytes");
    messages_.answers = {MessageAnswer::kYes};
    EXPECT_EQ(check(), StartDecision::Go);
    EXPECT_EQ(messages_.texts, std::vector<std::string>{kOverwriteQuestion});
    messages_.answers = {MessageAnswer::kNo};
    EXPECT_EQ(check(), StartDecision::OverwriteDeclined);
    EXPECT_EQ(readFile(target_ + "/Holiday.avi"), "old bytes");
}

// With an MP4 profile the question is about the .mp4 file: an .avi of that name is another file.
TEST_F(StartChecksTest, TheOverwriteQuestionLooksAtTheFileOfTheProfilesExtension) {
    class WithX264 : public testing::FakeProvider {
    public:
        WithX264() : FakeProvider(testing::xvidOnly()) {}
        bool hasEncoder(const std::string& name) const override { return name == "libx264"; }
    };
    WithX264 provider;
    store_ = std::make_unique<SettingsStore>(&provider);
    store_->listCodecs();
    store_->load();
    store_->setTargetPath(target_);
    store_->settings().TargetChanged = 1;
    store_->setOutputName("Holiday");
    for (int i = 0; i < store_->profileCount(); ++i)
        if (store_->profileAt(i)->name == "MP4 720p(.mp4)") store_->selectProfile(i);
    ASSERT_EQ(store_->currentProfile()->name, "MP4 720p(.mp4)");
    writeFile(target_ + "/Holiday.avi", "old bytes");
    EXPECT_EQ(check(), StartDecision::Go);
    EXPECT_TRUE(messages_.texts.empty());
    writeFile(target_ + "/Holiday.mp4", "old bytes");
    messages_.answers = {MessageAnswer::kNo};
    EXPECT_EQ(check(), StartDecision::OverwriteDeclined);
    EXPECT_EQ(messages_.texts, std::vector<std::string>{kOverwriteQuestion});
}

TEST(OutputNameTest, ReservedEmptyAndOverlongNames) {
    for (char reserved : std::string("\\/:*?\"<>|")) {
        EXPECT_EQ(checkOutputName(std::string("a") + reserved + "b"), NameCheck::ReservedCharacter)
            << reserved;
    }
    EXPECT_EQ(checkOutputName(""), NameCheck::Empty);
    EXPECT_EQ(checkOutputName(std::string(251, 'x')), NameCheck::Valid);
    EXPECT_EQ(checkOutputName(std::string(252, 'x')), NameCheck::TooLong);
    // Bytes count, not characters: 126 two-byte letters are 252 bytes.
    std::string accents;
    for (int i = 0; i < 126; ++i) accents += "\xC3\xA9";
    EXPECT_EQ(checkOutputName(accents), NameCheck::TooLong);
    // A reserved character is named before the length.
    EXPECT_EQ(checkOutputName(std::string(300, 'x') + "?"), NameCheck::ReservedCharacter);
    EXPECT_EQ(checkOutputName(" .. \t"), NameCheck::Valid);
}

TEST(TargetFolderTest, ChosenFoldersAndOutputPaths) {
    EXPECT_EQ(chosenTargetFolder("/"), "/");
    EXPECT_EQ(chosenTargetFolder("///"), "/");
    EXPECT_EQ(chosenTargetFolder("/home/ann/Videos/"), "/home/ann/Videos");
    EXPECT_EQ(chosenTargetFolder(""), "");
    EXPECT_EQ(outputFilePath("/", "Show"), "/Show.avi");
    EXPECT_EQ(outputFilePath("/home/ann", "Show"), "/home/ann/Show.avi");
    EXPECT_EQ(outputFilePath("/home/ann/", "Show", ".mp4"), "/home/ann/Show.mp4");
}

// A provider with the Xvid compressor and libx264.
class XvidAndX264 : public testing::FakeProvider {
public:
    XvidAndX264() : FakeProvider({testing::FakeSpec{"Xvid MPEG-4 Codec", makeFourCC('X', 'V', 'I', 'D')}}) {}
    bool hasEncoder(const std::string& name) const override { return name == "libx264"; }
};

TEST(OutputExtensionTest, TheCurrentProfilesCodecChoosesTheExtension) {
    XvidAndX264 provider;
    SettingsStore store(&provider);
    store.listCodecs();
    EXPECT_EQ(currentOutputExtension(store), ".avi");  // no profile yet
    OutputProfile avi;
    avi.name = "Old(.avi)";
    avi.CodecName = "Xvid MPEG-4 Codec";
    OutputProfile mp4;
    mp4.name = "New(.mp4)";
    mp4.CodecName = "H.264 (MP4)";
    store.addProfile(avi);
    store.addProfile(mp4);
    store.selectProfile(0);
    EXPECT_EQ(currentOutputExtension(store), ".avi");
    store.selectProfile(1);
    EXPECT_EQ(currentOutputExtension(store), ".mp4");
    // A codec that is no longer listed writes AVI, as the first codec then does.
    store.findProfile("New(.mp4)")->CodecName = "Gone";
    EXPECT_EQ(currentOutputExtension(store), ".avi");
}

TEST(MountPointTest, NamesTheMountHoldingThePath) {
    EXPECT_EQ(mountPointOf("/"), "/");
    EXPECT_EQ(mountPointOf("/proc/self/fd"), "/proc");
    const std::string temp = fs::temp_directory_path().string();
    EXPECT_EQ(mountPointOf(temp + "/no/such/folder"), mountPointOf(temp));
    EXPECT_EQ(mountPointOf(""), "/");
    EXPECT_EQ(notEnoughSpaceText("/media/usb"),
              "There isn't enough space on drive /media/usb. \nPlease delete some unwanted files on drive "
              "/media/usb "
              "\nor select another drive as the target.");
}

}  // namespace
}  // namespace kestrelle
