// The main window gives new photo slides the look the settings hold (motion, fit, enlarging), changed
// through the configuration dialog's model as OK changes it, and gives every new slideshow a seed of its
// own for the gentle random motions while an opened slideshow keeps the one it was saved with.

#include "app/profile_setup.h"
#include "app/ui/main_window.h"
#include "base/data_folder.h"
#include "base/message_box.h"
#include "config/config_dialog_model.h"
#include "config/settings_store.h"
#include "project/project_file.h"
#include "project/slideshow_project.h"
#include "tests/app/message_recorder.h"
#include "tests/config/config_fixture.h"

#include <QImage>

#include <gtest/gtest.h>

#include <filesystem>

namespace kestrelle {
namespace {

namespace fs = std::filesystem;

class NewSlideLookTest : public testing::ConfigTest {
protected:
    void SetUp() override {
        ConfigTest::SetUp();
        setUpUserProfileFolder(programFolder() + "/Profile");
        store_ = std::make_unique<SettingsStore>(&provider_);
        store_->listCodecs();
        store_->load();
        setMessagePresenter(&messages_);
        // The dialog's OK, without the window: the model takes the choices into the store and saves it.
        dialogs_.configure = [this](QWidget*, SettingsStore& store, const ConfigurationRequests& requests) {
            ConfigDialogModel model(store);
            model.chooseNewSlideMotion(motionChoice_);
            model.chooseNewSlideFit(fitChoice_);
            model.setEnlargeSmallPhotos(enlargeChoice_);
            EXPECT_EQ(model.accept(), ConfigDialogModel::SaveResult::Saved);
            if (requests.profilesChanged) requests.profilesChanged();
        };
        dialogs_.askSaveChanges = [](QWidget*, const QString&) { return SaveChangesAnswer::Discard; };
        dialogs_.openProjectFile = [this](QWidget*, const QString&, const QString&) { return toOpen_; };
        dialogs_.saveProjectFile = [this](QWidget*, const QString&, const QString&) { return toSave_; };
    }
    void TearDown() override {
        window_.reset();
        setMessagePresenter(nullptr);
        ConfigTest::TearDown();
    }

    LumoDlg& window() {
        if (!window_) {
            window_ = std::make_unique<LumoDlg>(*store_, dialogs_);
            window_->show();
        }
        return *window_;
    }
    std::string photo() {
        const std::string file = path("photo.png");
        if (!fs::exists(file)) {
            QImage picture(32, 24, QImage::Format_RGB32);
            picture.fill(Qt::darkCyan);
            EXPECT_TRUE(picture.save(QString::fromStdString(file)));
        }
        return file;
    }
    // Inserts a photo at the end of the photo line; its slide.
    const Slide& addPhoto() {
        SlideShowProject& project = window().project();
        const int before = project.photoSlideCount();
        EXPECT_GE(project.insertPhoto(photo(), before, 1, 3.0, 1.0), 0);
        EXPECT_EQ(project.photoSlideCount(), before + 1);
        return *project.slide(before);
    }

    testing::FakeProvider provider_ = testing::xvidOnly();
    std::unique_ptr<SettingsStore> store_;
    testing::MessageRecorder messages_;
    MainWindowDialogs dialogs_ = programDialogs();
    std::unique_ptr<LumoDlg> window_;
    int motionChoice_ = 0;
    int fitChoice_ = 0;
    bool enlargeChoice_ = false;
    QString toOpen_;
    QString toSave_;
};

TEST_F(NewSlideLookTest, SlidesInsertedAfterTheDefaultsChangeGetTheLookAndEarlierOnesKeepTheirs) {
    // Untouched settings: the still, letterboxed photo of old.
    const SlideLook still = addPhoto().look;
    EXPECT_EQ(still, SlideLook{});
    EXPECT_TRUE(still.isStill());

    const struct {
        int motion;
        int fit;
        bool enlarge;
        MotionKind kind;
        PhotoFit photoFit;
    } cases[] = {
        {1, 2, true, MotionKind::GentleRandom, PhotoFit::BlurredBackground},
        {0, 1, false, MotionKind::None, PhotoFit::Fill},
        {1, 0, true, MotionKind::GentleRandom, PhotoFit::Letterbox},
        {0, 0, false, MotionKind::None, PhotoFit::Letterbox},
    };
    std::vector<SlideLook> expected{still};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.motion) + "/" + std::to_string(c.fit));
        motionChoice_ = c.motion;
        fitChoice_ = c.fit;
        enlargeChoice_ = c.enlarge;
        window().configure();
        const SlideLook look = addPhoto().look;
        EXPECT_EQ(look.motion.kind, c.kind);
        EXPECT_TRUE(look.motion.start.isNull() && look.motion.end.isNull());
        EXPECT_EQ(look.fit.fit, c.photoFit);
        EXPECT_EQ(look.fit.enlargeSmall, c.enlarge);
        expected.push_back(look);
    }
    // Slides made earlier keep the look they were made with.
    ASSERT_EQ(window().project().photoSlideCount(), static_cast<int>(expected.size()));
    for (std::size_t i = 0; i < expected.size(); ++i)
        EXPECT_EQ(window().project().slide(static_cast<int>(i))->look, expected[i]) << i;
    EXPECT_EQ(expected.back(), SlideLook{});  // back at the defaults: still again
}

TEST_F(NewSlideLookTest, EveryNewSlideshowHasASeedOfItsOwnAndAnOpenedOneKeepsItsSeed) {
    const std::uint64_t first = window().project().motionSeed();
    EXPECT_NE(first, 0u);
    window().newSlide();
    const std::uint64_t second = window().project().motionSeed();
    EXPECT_NE(second, 0u);
    EXPECT_NE(second, first);
    // Another window starts another slideshow.
    {
        LumoDlg other(*store_, dialogs_);
        EXPECT_NE(other.project().motionSeed(), 0u);
        EXPECT_NE(other.project().motionSeed(), second);
    }

    // The seed goes into the file and comes back with it, whatever the window held before.
    addPhoto();
    toSave_ = QString::fromStdString(path("show.kestrelle"));
    ASSERT_TRUE(window().save());
    EXPECT_EQ(readProjectFile(path("show.kestrelle")).document.content.motionSeed, second);
    window().newSlide();
    EXPECT_NE(window().project().motionSeed(), second);
    ASSERT_TRUE(window().openProjectFile(toSave_));
    EXPECT_EQ(window().project().motionSeed(), second);

    // A slideshow saved without a seed opens without one: its motions stay as they were made.
    ProjectDocument unseeded;
    unseeded.content.slides.push_back(SlideContent{photo()});
    std::string message;
    ASSERT_TRUE(writeProjectFile(path("unseeded.kestrelle"), unseeded, &message)) << message;
    ASSERT_TRUE(window().openProjectFile(QString::fromStdString(path("unseeded.kestrelle"))));
    EXPECT_EQ(window().project().motionSeed(), 0u);
    EXPECT_EQ(window().project().photoSlideCount(), 1);
}

}  // namespace
}  // namespace kestrelle
