#include "app/ui/main_window.h"
#include "app/profile_setup.h"
#include "app/start_checks.h"
#include "app/ui/folder_tree.h"
#include "app/ui/photo_browser.h"
#include "base/data_folder.h"
#include "base/message_box.h"
#include "config/settings_store.h"
#include "project/slideshow_project.h"
#include "project/storyboard_layout.h"
#include "project/ui/storyboard_control.h"
#include "tests/app/message_recorder.h"
#include "tests/config/config_fixture.h"

#include <QAction>
#include <QComboBox>
#include <QDesktopServices>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QUrl>

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <thread>

namespace kestrelle {

// Records every address the window asks the desktop to open.
class UrlRecorder : public QObject {
    Q_OBJECT
public:
    std::vector<QString> opened;
public Q_SLOTS:
    void open(const QUrl& url) { opened.push_back(url.toString()); }
};

namespace {

namespace fs = std::filesystem;
using testing::readFile;
using testing::writeFile;

class MainWindowTest : public testing::ConfigTest {
protected:
    void SetUp() override {
        ConfigTest::SetUp();
        setUpUserProfileFolder(programFolder() + "/Profile");
        store_ = std::make_unique<SettingsStore>(&provider_);
        store_->listCodecs();
        store_->load();
        target_ = path("out");
        fs::create_directories(target_);
        setMessagePresenter(&messages_);
        for (const char* scheme : {"http", "https", "mailto"})
            QDesktopServices::setUrlHandler(QString::fromLatin1(scheme), &urls_, "open");

        dialogs_.generate = [this](QWidget*, SettingsStore& store, SlideShowProject&,
                                   const std::string& aviPath) {
            EXPECT_EQ(&store, store_.get());
            generatedPath_ = aviPath;
            ++generated_;
        };
        dialogs_.preview = [this](QWidget*, SettingsStore&, SlideShowProject&) { ++previewed_; };
        dialogs_.chooseFolder = [this](QWidget*, const QString& title, const QString& start) {
            chooserTitle_ = title;
            chooserStart_ = start;
            return pickedFolder_;
        };
    }
    void TearDown() override {
        window_.reset();
        for (const char* scheme : {"http", "https", "mailto"})
            QDesktopServices::unsetUrlHandler(QString::fromLatin1(scheme));
        setMessagePresenter(nullptr);
        ConfigTest::TearDown();
    }

    LumoDlg& window() {
        if (!window_) {
            window_ = std::make_unique<LumoDlg>(*store_, dialogs_);
            window_->setFreeSpaceQuery([](const std::string&) { return std::uint64_t{1} << 40; });
            window_->show();
        }
        return *window_;
    }
    // A photo slide on the storyboard and a chosen target folder: Start would go on.
    void makeReadyToStart() {
        const std::string photo = path("photo.png");
        QImage picture(32, 24, QImage::Format_RGB32);
        picture.fill(Qt::darkGreen);
        ASSERT_TRUE(picture.save(QString::fromStdString(photo)));
        ASSERT_GE(window().project().insertPhoto(photo, 0, 1, 3.0, 1.0), 0);
        store_->setTargetPath(target_);
        store_->settings().TargetChanged = 1;
    }

    testing::FakeProvider provider_ = testing::xvidOnly();
    std::unique_ptr<SettingsStore> store_;
    std::string target_;
    testing::MessageRecorder messages_;
    UrlRecorder urls_;
    MainWindowDialogs dialogs_;
    std::unique_ptr<LumoDlg> window_;
    int generated_ = 0;
    std::string generatedPath_;
    int previewed_ = 0;
    QString pickedFolder_;
    QString chooserTitle_;
    QString chooserStart_;
};

// The storyboard shows both its lines, everything below it lies below it inside the window, and
// nothing overlaps. The browser's mode buttons show above the browser, clear of the tree and the step 1
// text.
TEST_F(MainWindowTest, TheStoryboardShowsBothLinesAndTheModeButtonsShow) {
    LumoDlg& w = window();
    QCoreApplication::processEvents();
    StoryboardControl* board = w.storyboard();
    EXPECT_GE(board->viewport()->height(), storyboard::kViewHeight);
    EXPECT_EQ(board->height(), board->heightForBothLines());
    const QWidget* client = board->parentWidget();
    const auto inClient = [client](const QWidget* widget) {
        return QRect(widget->mapTo(client, QPoint(0, 0)), widget->size());
    };
    const QRect boardRect = inClient(board);
    EXPECT_LE(boardRect.bottom(), client->height());
    for (const QWidget* below : std::initializer_list<const QWidget*>{w.profileList(), w.fileNameEdit(),
                                                                      w.targetEdit(), w.startButton()}) {
        EXPECT_GT(inClient(below).top(), boardRect.bottom()) << below->metaObject()->className();
        EXPECT_LE(inClient(below).bottom(), client->height());
    }
    for (const QWidget* button :
         {static_cast<QWidget*>(w.photoModeButton()), static_cast<QWidget*>(w.audioModeButton())}) {
        EXPECT_TRUE(button->isVisible());
        EXPECT_FALSE(inClient(button).intersects(inClient(w.folderTree())));
        EXPECT_FALSE(inClient(button).intersects(inClient(w.photoBrowser())));
        EXPECT_GE(button->width(), button->sizeHint().width() - 8) << "the button's text fits";
    }
    EXPECT_FALSE(w.photoModeButton()->geometry().intersects(w.audioModeButton()->geometry()));
}

// "Fit to Music" in the File menu: off without clips or photos; with music too short for the photos it
// sets every still to the shortest and says so.
TEST_F(MainWindowTest, FitToMusicInTheFileMenuSaysWhenTheMusicIsTooShort) {
    LumoDlg& w = window();
    EXPECT_FALSE(w.fitToMusicAction()->isEnabled());
    EXPECT_FALSE(w.fitToBeatsAction()->isEnabled());
    makeReadyToStart();
    EXPECT_FALSE(w.fitToMusicAction()->isEnabled());  // photos, but no music
    w.project().addTimedClip(path("short.mp3"), 1.0);
    ASSERT_TRUE(w.fitToMusicAction()->isEnabled());
    EXPECT_TRUE(w.fitToBeatsAction()->isEnabled());
    EXPECT_EQ(w.fitToMusicAction()->parent(), w.menuBar()->actions()[0]->menu());

    w.fitToMusicAction()->trigger();
    ASSERT_EQ(messages_.texts.size(), 1u);
    EXPECT_NE(messages_.texts[0].find("The music is too short"), std::string::npos);
    EXPECT_NE(messages_.texts[0].find("0.5 seconds"), std::string::npos);
    EXPECT_LT(w.project().slide(0)->slideDuration, 0.6);

    // Music long enough: the show now lasts as long as it (1 s and 40 s less the settings' 0.5 s
    // crossfade, cut to half the shorter clip), without a word.
    w.project().addTimedClip(path("long.mp3"), 40.0);
    w.fitToMusicAction()->trigger();
    EXPECT_EQ(messages_.texts.size(), 1u);
    EXPECT_NEAR(w.project().totalDuration(), 40.5, 0.1);
}

// "Fit to Music on the Beats" finds the beats while the window stays usable (the commands are off
// meanwhile); closing the window then stops the search, and nothing is fitted.
TEST_F(MainWindowTest, ClosingWhileTheBeatsAreFoundStopsTheSearch) {
    LumoDlg& w = window();
    makeReadyToStart();
    std::atomic<bool> searching = false;
    w.storyboard()->setBeatDetector([&searching](const std::string&, std::stop_token stop) {
        searching = true;
        while (!stop.stop_requested()) std::this_thread::yield();
        return BeatTrack{};
    });
    w.project().addTimedClip(path("song.mp3"), 30.0);
    const double still = w.project().slide(0)->slideDuration;
    w.fitToBeatsAction()->trigger();
    ASSERT_TRUE(QTest::qWaitFor([&] { return searching.load(); }, 60000));
    EXPECT_FALSE(w.fitToMusicAction()->isEnabled());
    EXPECT_FALSE(w.fitToBeatsAction()->isEnabled());
    w.fileNameEdit()->setText(QStringLiteral("Still typing"));  // the window still answers
    EXPECT_EQ(store_->outputName(), "Still typing");
    w.exitWindow();
    EXPECT_FALSE(w.storyboard()->findingBeats());
    EXPECT_EQ(w.project().slide(0)->slideDuration, still);
    EXPECT_TRUE(messages_.texts.empty());
}

TEST_F(MainWindowTest, StartsWithTheSettingsShown) {
    LumoDlg& w = window();
    EXPECT_EQ(w.windowTitle(), QStringLiteral("Untitled[*] - Kestrelle"));
    ASSERT_EQ(w.profileList()->count(), store_->profileCount());
    EXPECT_EQ(w.profileList()->currentIndex(), store_->currentProfileIndex());
    EXPECT_EQ(w.fileNameEdit()->text(), QStringLiteral("Untitled"));
    EXPECT_EQ(store_->outputName(), "Untitled");
    EXPECT_EQ(w.targetEdit()->text().toStdString(), store_->targetPath());
    EXPECT_TRUE(w.targetEdit()->isReadOnly());
    // The menus hold every command, in order.
    std::vector<QString> commands;
    for (QAction* top : w.menuBar()->actions()) {
        commands.push_back(top->text());
        if (top->menu())
            for (QAction* item : top->menu()->actions())
                commands.push_back(item->isSeparator() ? QStringLiteral("-") : item->text());
    }
    std::vector<QString> expected;
    for (const char* text : {"&File",
                             "&New",
                             "&Open...",
                             "Open &Recent",
                             "&Save",
                             "Save &As...",
                             "Save a &Copy with All Photos...",
                             "&Find Missing Photos...",
                             "-",
                             "Fit to Music",
                             "Fit to Music on the Beats",
                             "-",
                             "Output",
                             "Export Log file",
                             "-",
                             "Exit",
                             "&Edit",
                             "&Undo",
                             "&Redo",
                             "-",
                             "Select &All Slides",
                             "&Delete Selected Slides",
                             "&Config",
                             "&Help",
                             "Help",
                             "-",
                             "Home Page",
                             "Contact us",
                             "-",
                             "About..."}) {
        expected.push_back(QString::fromUtf8(text));
    }
    EXPECT_EQ(commands, expected);
    EXPECT_TRUE(messages_.texts.empty());
}

TEST_F(MainWindowTest, ALaterStartRestoresAMinimisedWindow) {
    LumoDlg& w = window();
    w.showMinimized();
    ASSERT_TRUE(w.isMinimized());
    w.bringToFront();
    EXPECT_FALSE(w.isMinimized());
    EXPECT_TRUE(w.isVisible());
}

TEST_F(MainWindowTest, WithoutACodecStartOpensTheDownloadPageAndClosesTheWindow) {
    provider_.specs.clear();
    store_->listCodecs();
    LumoDlg& w = window();
    QSignalSpy finished(&w, &QDialog::finished);
    QTest::mouseClick(w.startButton(), Qt::LeftButton);
    EXPECT_EQ(messages_.texts, std::vector<std::string>{kNoCodecText});
    EXPECT_EQ(urls_.opened, std::vector<QString>{QString::fromLatin1(kDownloadPageUrl)});
    EXPECT_EQ(finished.count(), 1);
    EXPECT_FALSE(w.isVisible());
    EXPECT_EQ(generated_, 0);
}

TEST_F(MainWindowTest, OutputInTheFileMenuBehavesAsStart) {
    LumoDlg& w = window();
    w.outputAction()->trigger();
    EXPECT_EQ(messages_.texts, std::vector<std::string>{kAddPhotosText});
    makeReadyToStart();
    messages_.texts.clear();
    w.outputAction()->trigger();
    EXPECT_TRUE(messages_.texts.empty());
    EXPECT_EQ(generated_, 1);
    EXPECT_EQ(generatedPath_, target_ + "/Untitled.avi");
    QTest::mouseClick(w.startButton(), Qt::LeftButton);
    EXPECT_EQ(generated_, 2);
}

TEST_F(MainWindowTest, NoToOverwritingWritesNothing) {
    makeReadyToStart();
    const std::string existing = target_ + "/Untitled.avi";
    ASSERT_TRUE(writeFile(existing, "the user's earlier video"));
    messages_.answers = {MessageAnswer::kNo};
    window().start();
    EXPECT_EQ(messages_.texts, std::vector<std::string>{kOverwriteQuestion});
    EXPECT_EQ(generated_, 0);
    EXPECT_EQ(readFile(existing), "the user's earlier video");
    EXPECT_EQ(std::distance(fs::directory_iterator(target_), fs::directory_iterator()), 1);
}

TEST_F(MainWindowTest, TheFileNameIsCheckedOnEveryChangeAndKeepsTheLastValidName) {
    LumoDlg& w = window();
    QLineEdit* edit = w.fileNameEdit();
    edit->clear();
    EXPECT_EQ(messages_.texts, std::vector<std::string>{kEmptyNameText});
    EXPECT_EQ(store_->outputName(), "Untitled");
    messages_.texts.clear();

    QTest::keyClicks(edit, QStringLiteral("Tr?p"));
    EXPECT_EQ(messages_.texts, (std::vector<std::string>{kReservedCharactersText, kReservedCharactersText}));
    EXPECT_EQ(store_->outputName(), "Tr");
    messages_.texts.clear();

    edit->setText(QString(300, QLatin1Char('n')));
    EXPECT_EQ(messages_.texts, std::vector<std::string>{kNameTooLongText});
    EXPECT_EQ(store_->outputName(), "Tr");

    edit->setText(QStringLiteral("Summer 2026"));
    EXPECT_EQ(store_->outputName(), "Summer 2026");

    // Start reads the field itself: a refused name there stops it with the same text.
    makeReadyToStart();
    messages_.texts.clear();
    edit->setText(QStringLiteral("a|b"));
    messages_.texts.clear();
    w.start();
    EXPECT_EQ(messages_.texts, std::vector<std::string>{kReservedCharactersText});
    EXPECT_EQ(generated_, 0);
}

TEST_F(MainWindowTest, EnterDoesNothingAndEscapeCloses) {
    makeReadyToStart();
    LumoDlg& w = window();
    w.activateWindow();
    w.fileNameEdit()->setFocus();
    QTest::keyClick(w.fileNameEdit(), Qt::Key_Return);
    QTest::keyClick(w.startButton(), Qt::Key_Enter);
    EXPECT_EQ(generated_, 0);
    EXPECT_TRUE(messages_.texts.empty());
    EXPECT_TRUE(w.isVisible());
    // Enter and Escape in the storyboard's duration editor store and discard there; neither starts or
    // closes anything.
    w.storyboard()->beginDurationEdit(0, storyboard::DurationField::Slide);
    ASSERT_TRUE(w.storyboard()->editing());
    QTest::keyClick(w.storyboard()->editor(), Qt::Key_Return);
    w.storyboard()->beginDurationEdit(0, storyboard::DurationField::Slide);
    QTest::keyClick(w.storyboard()->editor(), Qt::Key_Escape);
    EXPECT_FALSE(w.storyboard()->editing());
    EXPECT_TRUE(w.isVisible());
    EXPECT_EQ(generated_, 0);

    QTest::keyClick(w.fileNameEdit(), Qt::Key_Escape);
    EXPECT_FALSE(w.isVisible());
}

TEST_F(MainWindowTest, BrowseStoresTheChosenFolder) {
    LumoDlg& w = window();
    const std::string before = store_->targetPath();
    pickedFolder_.clear();  // Cancel
    w.browse();
    EXPECT_EQ(chooserTitle_, QStringLiteral("Please select target directory!"));
    EXPECT_EQ(chooserStart_.toStdString(), before);
    EXPECT_EQ(store_->targetPath(), before);
    EXPECT_EQ(store_->settings().TargetChanged, 0);

    pickedFolder_ = QString::fromStdString(target_ + "/");
    w.browse();
    EXPECT_EQ(store_->targetPath(), target_);
    EXPECT_EQ(w.targetEdit()->text().toStdString(), target_);
    EXPECT_EQ(store_->settings().TargetChanged, 1);

    pickedFolder_ = QStringLiteral("/");
    w.browse();
    EXPECT_EQ(store_->targetPath(), "/");
    EXPECT_EQ(w.targetEdit()->text(), QStringLiteral("/"));

    // A folder chosen with Browse is never questioned as the default folder.
    store_->setTargetPath(target_);
    makeReadyToStart();
    store_->settings().TargetChanged = 0;
    pickedFolder_ = QString::fromStdString(target_);
    w.browse();
    w.start();
    EXPECT_TRUE(messages_.texts.empty());
    EXPECT_EQ(generated_, 1);
}

TEST_F(MainWindowTest, TheThreeMessageSlots) {
    LumoDlg& w = window();
    // Open folder: logged at level 1 under the window's source name.
    // Not valid UTF-8 and longer than 511 bytes: logged as it is, whole.
    const std::string folder = path("Pictures/Sommer \xE4 ") + std::string(600, 'd');
    w.openFolderPath(QByteArray::fromStdString(folder));
    const std::string log = readFile(dataFolder() + "/run.log");
    EXPECT_NE(log.find("LumoDlg.cpp,"), std::string::npos) << log;
    EXPECT_NE(log.find("|Open Directory " + folder + "\r\n"), std::string::npos) << log;

    // Profiles changed: the list follows the store and shows the current profile; refilling does not
    // change the current profile.
    OutputProfile added;
    added.name = "Zz Added";
    store_->addProfile(added);
    store_->settings().CurrentProfile = "zz added";
    w.refreshProfiles();
    ASSERT_EQ(w.profileList()->count(), store_->profileCount());
    EXPECT_EQ(w.profileList()->currentText(), QStringLiteral("Zz Added"));
    EXPECT_EQ(store_->settings().CurrentProfile, "zz added");
    // Choosing in the list selects the profile.
    w.profileList()->setCurrentIndex(0);
    EXPECT_EQ(store_->settings().CurrentProfile, store_->profileAt(0)->name);

    // Apply defaults: every slide takes the settings' defaults.
    makeReadyToStart();
    store_->settings().DefaultSlideDuration = 7.5;
    store_->settings().DefaultTransitionDuration = 2.0;
    store_->settings().DefaultSlideIndex = 4;
    w.applyDefaults();
    const Slide* slide = w.project().slide(0);
    ASSERT_NE(slide, nullptr);
    EXPECT_DOUBLE_EQ(slide->slideDuration, 7.5);
    EXPECT_DOUBLE_EQ(slide->transitionDuration, 2.0);
    EXPECT_EQ(slide->transitionEffect, 4);
}

TEST_F(MainWindowTest, TheProfileListIsRefreshedWhenTheConfigurationDialogIsCancelled) {
    dialogs_.configure = [this](QWidget*, SettingsStore&, const ConfigurationRequests&) {
        // The dialog wrote a new profile at once, then the user pressed Cancel: no request was made.
        OutputProfile added;
        added.name = "Made Then Cancelled";
        store_->addProfile(added);
    };
    LumoDlg& w = window();
    const int before = w.profileList()->count();
    w.configure();
    EXPECT_EQ(w.profileList()->count(), before + 1);
    EXPECT_GE(w.profileList()->findText(QStringLiteral("Made Then Cancelled")), 0);
}

TEST_F(MainWindowTest, PreviewNeedsAPhotoAndTheHelpMenuOpensItsAddresses) {
    LumoDlg& w = window();
    w.preview();
    EXPECT_EQ(messages_.texts, std::vector<std::string>{kAddPhotosText});
    EXPECT_EQ(previewed_, 0);
    makeReadyToStart();
    w.preview();
    EXPECT_EQ(previewed_, 1);

    w.homePage();
    w.contactUs();
    ASSERT_EQ(urls_.opened.size(), 2u);
    EXPECT_EQ(QUrl(urls_.opened[0]).host(), QStringLiteral("www.example.org"));
    EXPECT_TRUE(urls_.opened[1].startsWith(QStringLiteral("mailto:support@example.org")));
}

// Start through the program's own generation dialog, with the installed compressors: the video is
// written under the name and folder the window shows, and the completion question follows.
TEST_F(MainWindowTest, StartWritesTheVideoThroughTheProgramsDialogs) {
    SettingsStore installed;  // the installed compressors
    installed.listCodecs();
    installed.load();
    if (installed.codecs().empty()) GTEST_SKIP() << "no installed MPEG-4 compressor";
    installed.settings().PlaySound = 0;
    installed.settings().ShutDown = 0;
    installed.setTargetPath(target_);
    installed.settings().TargetChanged = 1;

    LumoDlg w(installed);
    w.setFreeSpaceQuery([](const std::string&) { return std::uint64_t{1} << 40; });
    w.show();
    const std::string photo = path("photo.png");
    QImage picture(64, 48, QImage::Format_RGB32);
    picture.fill(Qt::darkBlue);
    ASSERT_TRUE(picture.save(QString::fromStdString(photo)));
    ASSERT_GE(w.project().insertPhoto(photo, 0, 1, 0.3, 0.2), 0);
    w.fileNameEdit()->setText(QStringLiteral("Short Show"));

    w.start();
    const std::string video = target_ + "/Short Show.avi";
    ASSERT_TRUE(fs::exists(video));
    EXPECT_EQ(readFile(video).substr(0, 4), "RIFF");
    EXPECT_EQ(messages_.texts,
              std::vector<std::string>{"Output file completed. Do you want to open the destination folder?"});
}

// The shipped profiles with libx264 present: the MP4 profiles are usable.
class Mp4Provider : public testing::FakeProvider {
public:
    Mp4Provider() : FakeProvider(testing::xvidOnly()) {}
    bool hasEncoder(const std::string& name) const override { return name == "libx264"; }
};

class MainWindowMp4Test : public MainWindowTest {
protected:
    void SetUp() override {
        MainWindowTest::SetUp();
        store_ = std::make_unique<SettingsStore>(&mp4Provider_);
        store_->listCodecs();
        store_->load();
    }
    int profileIndex(const std::string& name) const {
        const OutputProfile* wanted = store_->findProfile(name);
        for (int i = 0; i < store_->profileCount(); ++i)
            if (store_->profileAt(i) == wanted) return i;
        return -1;
    }
    Mp4Provider mp4Provider_;
};

TEST_F(MainWindowMp4Test, TheExtensionBesideTheFileNameFollowsTheProfileAndReachesTheOutputPath) {
    LumoDlg& w = window();
    const int mp4 = profileIndex("MP4 1080p(.mp4)");
    const int avi = profileIndex("Normal Quality(.avi)");
    ASSERT_GE(mp4, 0);
    ASSERT_GE(avi, 0);
    w.profileList()->setCurrentIndex(avi);
    EXPECT_EQ(w.extensionLabel()->text(), QStringLiteral(".avi"));
    w.profileList()->setCurrentIndex(mp4);
    EXPECT_EQ(w.extensionLabel()->text(), QStringLiteral(".mp4"));
    // Both extensions fit without moving the file name field.
    EXPECT_GE(w.extensionLabel()->width(),
              w.extensionLabel()->fontMetrics().horizontalAdvance(QStringLiteral(".mp4")));

    makeReadyToStart();
    QTest::mouseClick(w.startButton(), Qt::LeftButton);
    EXPECT_EQ(generated_, 1);
    EXPECT_EQ(generatedPath_, target_ + "/Untitled.mp4");

    w.profileList()->setCurrentIndex(avi);
    EXPECT_EQ(w.extensionLabel()->text(), QStringLiteral(".avi"));
    QTest::mouseClick(w.startButton(), Qt::LeftButton);
    EXPECT_EQ(generatedPath_, target_ + "/Untitled.avi");
}

}  // namespace
}  // namespace kestrelle

#include "main_window_test.moc"
