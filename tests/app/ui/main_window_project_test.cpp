// The main window as the keeper of a slideshow: the File and Edit menus, the title and its unsaved
// mark, the save question on every way out, opening and saving through (fake) file dialogs, the recent
// list, the autosave, missing photos, and a layout that fits small screens and is remembered.

#include "app/profile_setup.h"
#include "app/ui/folder_tree.h"
#include "app/ui/main_window.h"
#include "app/window_state.h"
#include "base/data_folder.h"
#include "base/message_box.h"
#include "config/settings_store.h"
#include "project/project_file.h"
#include "project/project_history.h"
#include "project/slideshow_project.h"
#include "project/ui/storyboard_control.h"
#include "tests/app/message_recorder.h"
#include "tests/config/config_fixture.h"

#include <QAction>
#include <QImage>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QSplitter>
#include <QTest>
#include <QUndoStack>

#include <gtest/gtest.h>

#include <deque>
#include <filesystem>

namespace kestrelle {
namespace {

namespace fs = std::filesystem;

class MainWindowProjectTest : public testing::ConfigTest {
protected:
    void SetUp() override {
        ConfigTest::SetUp();
        setUpUserProfileFolder(programFolder() + "/Profile");
        store_ = std::make_unique<SettingsStore>(&provider_);
        store_->listCodecs();
        store_->load();
        setMessagePresenter(&messages_);
        dialogs_.generate = [this](QWidget*, SettingsStore&, SlideShowProject&, const std::string&) {
            ++generated_;
        };
        dialogs_.preview = [this](QWidget*, SettingsStore&, SlideShowProject&) { ++previewed_; };
        dialogs_.askSaveChanges = [this](QWidget*, const QString& name) {
            asked_.push_back(name);
            if (answers_.empty()) return SaveChangesAnswer::Cancel;
            const SaveChangesAnswer answer = answers_.front();
            answers_.pop_front();
            return answer;
        };
        dialogs_.openProjectFile = [this](QWidget*, const QString&, const QString&) { return toOpen_; };
        dialogs_.saveProjectFile = [this](QWidget*, const QString&, const QString& suggested) {
            suggestedSave_ = suggested;
            return toSave_;
        };
    }
    void TearDown() override {
        window_.reset();
        qunsetenv("KESTRELLE_AUTOSAVE_DELAY_MS");
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
    void reopenWindow() {
        window_.reset();
        window();
    }
    std::string photo(const std::string& name) {
        const std::string file = path(name);
        if (!fs::exists(file)) {
            QImage picture(32, 24, QImage::Format_RGB32);
            picture.fill(Qt::darkCyan);
            EXPECT_TRUE(picture.save(QString::fromStdString(file)));
        }
        return file;
    }
    // One undo step adding a photo at the end of the photo line.
    void addPhoto(const std::string& name) {
        LumoDlg& w = window();
        w.history().record(QStringLiteral("Add Photo"), [&] {
            w.project().insertPhoto(photo(name), w.project().photoSlideCount(), 1, 3.0, 1.0);
        });
    }
    std::vector<std::string> slidePaths() {
        std::vector<std::string> paths;
        for (const SlideContent& slide : window().project().content().slides)
            paths.push_back(slide.photoPath);
        return paths;
    }
    static std::vector<QString> menuTexts(QMenu* menu) {
        std::vector<QString> texts;
        for (QAction* item : menu->actions())
            texts.push_back(item->isSeparator() ? QStringLiteral("-") : item->text());
        return texts;
    }

    testing::FakeProvider provider_ = testing::xvidOnly();
    std::unique_ptr<SettingsStore> store_;
    testing::MessageRecorder messages_;
    MainWindowDialogs dialogs_ = programDialogs();
    std::unique_ptr<LumoDlg> window_;
    std::vector<QString> asked_;
    std::deque<SaveChangesAnswer> answers_;
    QString toOpen_;
    QString toSave_;
    QString suggestedSave_;
    int generated_ = 0;
    int previewed_ = 0;
};

TEST_F(MainWindowProjectTest, FileAndEditMenusWithTheirShortcuts) {
    LumoDlg& w = window();
    QMenu* file = w.menuBar()->actions().at(0)->menu();
    ASSERT_NE(file, nullptr);
    const std::vector<QString> fileTexts = menuTexts(file);
    const std::vector<QString> expectedStart{QStringLiteral("&New"), QStringLiteral("&Open..."),
                                             QStringLiteral("Open &Recent"), QStringLiteral("&Save"),
                                             QStringLiteral("Save &As...")};
    ASSERT_GE(fileTexts.size(), expectedStart.size());
    EXPECT_EQ(std::vector<QString>(fileTexts.begin(), fileTexts.begin() + 5), expectedStart);
    EXPECT_EQ(fileTexts.back(), QStringLiteral("Exit"));
    for (const char* kept : {"Fit to Music", "Fit to Music on the Beats", "Output", "Export Log file"})
        EXPECT_NE(std::find(fileTexts.begin(), fileTexts.end(), QString::fromLatin1(kept)), fileTexts.end())
            << kept;
    EXPECT_EQ(w.newAction()->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_N));
    EXPECT_EQ(w.openAction()->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_O));
    EXPECT_EQ(w.saveAction()->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_S));
    EXPECT_EQ(w.saveAsAction()->shortcut(), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S));
    EXPECT_EQ(w.undoAction()->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Z));
    EXPECT_EQ(w.redoAction()->shortcut(), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z));
    EXPECT_EQ(w.menuBar()->actions().at(1)->text(), QStringLiteral("&Edit"));

    // Undo and Redo name the step and take it back; the window holds them, so their keys work wherever
    // the focus is.
    EXPECT_FALSE(w.undoAction()->isEnabled());
    addPhoto("a.png");
    EXPECT_TRUE(w.undoAction()->isEnabled());
    EXPECT_EQ(w.undoAction()->text(), QStringLiteral("&Undo Add Photo"));
    EXPECT_TRUE(w.actions().contains(w.undoAction()));
    EXPECT_TRUE(w.actions().contains(w.redoAction()));
    w.undoAction()->trigger();
    EXPECT_EQ(w.project().photoSlideCount(), 0);
    EXPECT_EQ(w.redoAction()->text(), QStringLiteral("&Redo Add Photo"));
    w.redoAction()->trigger();
    EXPECT_EQ(w.project().photoSlideCount(), 1);
}

TEST_F(MainWindowProjectTest, TheTitleNamesTheProjectAndMarksUnsavedChanges) {
    LumoDlg& w = window();
    EXPECT_EQ(w.windowTitle(), QStringLiteral("Untitled[*] - Kestrelle"));
    EXPECT_FALSE(w.isWindowModified());
    addPhoto("a.png");
    EXPECT_TRUE(w.isWindowModified());
    w.history().stack().undo();
    EXPECT_FALSE(w.isWindowModified()) << "back at the saved state";
    w.history().stack().redo();

    toSave_ = QString::fromStdString(path("Summer Trip"));  // the ending is added
    ASSERT_TRUE(w.save());
    EXPECT_EQ(suggestedSave_.section(QLatin1Char('/'), -1), QStringLiteral("Untitled.kestrelle"));
    EXPECT_TRUE(fs::exists(path("Summer Trip.kestrelle")));
    EXPECT_EQ(w.windowTitle(), QStringLiteral("Summer Trip[*] - Kestrelle"));
    EXPECT_FALSE(w.isWindowModified());
    addPhoto("b.png");
    EXPECT_TRUE(w.isWindowModified());
    // Save on a named project writes it without asking for a name.
    toSave_.clear();
    ASSERT_TRUE(w.save());
    EXPECT_FALSE(w.isWindowModified());
    EXPECT_EQ(readProjectFile(path("Summer Trip.kestrelle")).document.content.slides.size(), 2u);
}

// Escape, Exit and the close box ask when something changed; Cancel keeps the window, Save writes
// first (Save As on an untitled slideshow; cancelling the name keeps the window), Discard closes.
TEST_F(MainWindowProjectTest, EveryWayOutAsksToSaveChanges) {
    {
        LumoDlg& w = window();
        QTest::keyClick(&w, Qt::Key_Escape);
        EXPECT_FALSE(w.isVisible()) << "nothing changed: closes at once";
        EXPECT_TRUE(asked_.empty());
    }
    reopenWindow();
    LumoDlg& w = window();
    addPhoto("a.png");
    answers_ = {SaveChangesAnswer::Cancel};
    QTest::keyClick(&w, Qt::Key_Escape);
    ASSERT_EQ(asked_.size(), 1u);
    EXPECT_EQ(asked_[0], QStringLiteral("Untitled"));
    EXPECT_TRUE(w.isVisible());

    answers_ = {SaveChangesAnswer::Save};  // the name dialog is cancelled
    w.close();
    EXPECT_TRUE(w.isVisible());

    answers_ = {SaveChangesAnswer::Save};
    toSave_ = QString::fromStdString(path("kept.kestrelle"));
    w.exitWindow();
    EXPECT_FALSE(w.isVisible());
    EXPECT_EQ(readProjectFile(path("kept.kestrelle")).document.content.slides.size(), 1u);

    reopenWindow();
    addPhoto("b.png");
    answers_ = {SaveChangesAnswer::Discard};
    window().close();
    EXPECT_FALSE(window().isVisible());
    EXPECT_EQ(asked_.size(), 4u);
}

TEST_F(MainWindowProjectTest, NewAsksFirstAndOpenSaveRoundTrip) {
    LumoDlg& w = window();
    addPhoto("a.png");
    addPhoto("b.png");
    w.history().record(QStringLiteral("Slide Duration"), [&] { w.project().setSlideDuration(1, 7.5); });
    answers_ = {SaveChangesAnswer::Cancel};
    w.newAction()->trigger();
    EXPECT_EQ(w.project().photoSlideCount(), 2) << "Cancel keeps the slideshow";

    toSave_ = QString::fromStdString(path("show.kestrelle"));
    ASSERT_TRUE(w.saveAs());
    const ProjectContent saved = w.project().content();
    w.newAction()->trigger();  // saved: no question
    EXPECT_EQ(asked_.size(), 1u);
    EXPECT_EQ(w.project().photoSlideCount(), 0);
    EXPECT_EQ(w.windowTitle(), QStringLiteral("Untitled[*] - Kestrelle"));

    toOpen_ = toSave_;
    w.openAction()->trigger();
    EXPECT_EQ(w.project().content().slides.size(), saved.slides.size());
    for (std::size_t i = 0; i < saved.slides.size(); ++i) {
        EXPECT_EQ(w.project().content().slides[i].photoPath, saved.slides[i].photoPath);
        EXPECT_EQ(w.project().content().slides[i].slideDuration, saved.slides[i].slideDuration);
    }
    EXPECT_EQ(w.windowTitle(), QStringLiteral("show[*] - Kestrelle"));
    EXPECT_FALSE(w.isWindowModified());
    EXPECT_FALSE(w.undoAction()->isEnabled()) << "a project opens without history";

    // A damaged file is refused with a message and the open slideshow stays.
    ASSERT_TRUE(testing::writeFile(path("broken.kestrelle"), "<?xml version=\"1.0\"?><kestrelle-proj"));
    messages_.texts.clear();
    EXPECT_FALSE(w.openProjectFile(QString::fromStdString(path("broken.kestrelle"))));
    EXPECT_EQ(messages_.texts.size(), 1u);
    EXPECT_EQ(w.project().photoSlideCount(), 2);
    EXPECT_EQ(w.projectPath().toStdString(), path("show.kestrelle"));
}

TEST_F(MainWindowProjectTest, OpenRecentKeepsTenAndGreysMissingFiles) {
    LumoDlg& w = window();
    addPhoto("a.png");
    for (int i = 0; i < 12; ++i) {
        toSave_ = QString::fromStdString(path("show" + std::to_string(i) + ".kestrelle"));
        ASSERT_TRUE(w.saveAs());
    }
    QList<QAction*> recent = w.recentMenu()->actions();
    ASSERT_EQ(recent.size(), kRecentProjectCount);
    EXPECT_EQ(recent.first()->text(), QStringLiteral("show11.kestrelle"));
    EXPECT_EQ(recent.last()->text(), QStringLiteral("show2.kestrelle"));

    // Remembered for the next start, a deleted file greyed there.
    fs::remove(path("show10.kestrelle"));
    reopenWindow();
    recent = window().recentMenu()->actions();
    ASSERT_EQ(recent.size(), kRecentProjectCount);
    EXPECT_TRUE(recent.at(0)->isEnabled());
    EXPECT_FALSE(recent.at(1)->isEnabled());
    recent.at(3)->trigger();
    EXPECT_EQ(window().projectPath().toStdString(), path("show8.kestrelle"));
    EXPECT_EQ(window().recentMenu()->actions().first()->text(), QStringLiteral("show8.kestrelle"));
}

TEST_F(MainWindowProjectTest, ChangesAreAutosavedAndRestoredAfterACrash) {
    qputenv("KESTRELLE_AUTOSAVE_DELAY_MS", "0");
    LumoDlg& w = window();
    const std::string autosaved = w.autosavePath();
    ASSERT_FALSE(autosaved.empty());
    EXPECT_EQ(autosaved.rfind(dataFolder(), 0), 0u) << "in the data folder";
    addPhoto("a.png");
    addPhoto("b.png");
    ASSERT_TRUE(QTest::qWaitFor([&] { return fs::exists(autosaved); }, 5000));
    const ProjectContent content = w.project().content();
    // The window goes away as after a kill: the autosave stays, and the running marker names a process
    // that is gone.
    fs::copy_file(autosaved, path("left.kestrelle"));
    window_.reset();
    fs::copy_file(path("left.kestrelle"), autosaved, fs::copy_options::overwrite_existing);
    ASSERT_TRUE(testing::writeFile(dataFolder() + "/running", "999999999"));

    LumoDlg& next = window();
    EXPECT_TRUE(next.autosaveRestorable());
    messages_.answers = {MessageAnswer::kYes};
    ASSERT_TRUE(next.offerAutosaveRestore());
    EXPECT_NE(messages_.texts.back().find("did not close properly"), std::string::npos);
    EXPECT_EQ(next.project().content().slides.size(), content.slides.size());
    EXPECT_TRUE(next.isWindowModified()) << "restored work is unsaved";
    // A clean end (the changes discarded on purpose) leaves nothing to restore.
    answers_ = {SaveChangesAnswer::Discard};
    next.close();
    EXPECT_FALSE(fs::exists(autosaved));

    // Declining the offer removes it too.
    fs::copy_file(path("left.kestrelle"), autosaved);
    ASSERT_TRUE(testing::writeFile(dataFolder() + "/running", "999999999"));
    reopenWindow();
    messages_.answers = {MessageAnswer::kNo};
    EXPECT_FALSE(window().offerAutosaveRestore());
    EXPECT_FALSE(fs::exists(autosaved));
    EXPECT_EQ(window().project().photoSlideCount(), 0);
}

// A termination signal closes the window with nobody to ask: unsaved changes go to the autosave at once
// (whatever the delay) and stay there for the next start; with nothing unsaved nothing is left.
TEST_F(MainWindowProjectTest, ClosingWithoutAskingKeepsUnsavedChangesInTheAutosave) {
    LumoDlg& w = window();
    addPhoto("a.png");
    w.closeWithoutAsking();
    EXPECT_FALSE(w.isVisible());
    EXPECT_TRUE(asked_.empty());
    const ProjectReadResult kept = readProjectFile(w.autosavePath());
    ASSERT_EQ(kept.error, ProjectFileError::Ok) << kept.message;
    EXPECT_EQ(kept.document.content.slides.size(), 1u);
    EXPECT_TRUE(fs::exists(dataFolder() + "/running")) << "the run did not end cleanly";

    reopenWindow();
    window().closeWithoutAsking();
    EXPECT_FALSE(fs::exists(window().autosavePath()));
    EXPECT_FALSE(fs::exists(dataFolder() + "/running"));
}

TEST_F(MainWindowProjectTest, StartAndPreviewSayHowManyPhotosAreMissing) {
    LumoDlg& w = window();
    ProjectContent content;
    for (const char* name : {"gone1.png", "gone2.png"}) {
        SlideContent slide;
        slide.photoPath = path(name);
        slide.photoMissing = true;
        content.slides.push_back(slide);
    }
    SlideContent present;
    present.photoPath = photo("here.png");
    content.slides.push_back(present);
    w.project().setContent(content);
    ASSERT_EQ(w.project().photoSlideCount(), 3) << "missing photos keep their slides";

    messages_.answers = {MessageAnswer::kNo};
    w.preview();
    EXPECT_EQ(previewed_, 0);
    ASSERT_FALSE(messages_.texts.empty());
    EXPECT_NE(messages_.texts.back().find("2 photos"), std::string::npos) << messages_.texts.back();
    messages_.answers = {MessageAnswer::kYes};
    w.preview();
    EXPECT_EQ(previewed_, 1);
    messages_.answers = {MessageAnswer::kNo};
    w.startButton()->click();
    EXPECT_EQ(generated_, 0);
}

// "Find Missing Photos..." puts photos found in the chosen folder back on their slides as one undo step
// and says how many it found; "Save a Copy with All Photos..." copies them beside a new project file
// and leaves the open slideshow as it is. The Edit menu selects every slide and deletes the selection.
TEST_F(MainWindowProjectTest, FindMissingPhotosSaveACopyAndTheSelection) {
    LumoDlg& w = window();
    QString picked;
    dialogs_.chooseFolder = [&picked](QWidget*, const QString&, const QString&) { return picked; };
    reopenWindow();
    LumoDlg& v = window();
    (void)w;
    fs::create_directories(path("moved"));
    ProjectContent content;
    for (const char* name : {"p1.png", "p2.png", "p3.png"}) {
        SlideContent slide;
        slide.photoPath = path(std::string("gone/") + name);
        slide.photoMissing = true;
        content.slides.push_back(slide);
    }
    v.project().setContent(content);
    photo("moved/p1.png");
    photo("moved/p3.png");
    picked = QString::fromStdString(path("moved"));
    v.findMissingPhotos();
    ASSERT_FALSE(messages_.texts.empty());
    EXPECT_EQ(messages_.texts.back(), "Found 2 of 3 missing photos. 1 photo is still missing.");
    std::vector<std::string> paths = slidePaths();
    ASSERT_EQ(paths.size(), 3u);
    EXPECT_EQ(paths[0], path("moved/p1.png"));
    EXPECT_EQ(paths[1], path("gone/p2.png"));
    EXPECT_EQ(paths[2], path("moved/p3.png"));
    EXPECT_EQ(v.undoAction()->text(), QStringLiteral("&Undo Find Missing Photos"));

    toSave_ = QString::fromStdString(path("packed/show.kestrelle"));
    v.saveCopyWithAllPhotos();
    const ProjectReadResult copy = readProjectFile(path("packed/show.kestrelle"));
    ASSERT_EQ(copy.error, ProjectFileError::Ok) << copy.message << " / " << messages_.texts.back();
    ASSERT_EQ(copy.document.content.slides.size(), 3u);
    EXPECT_EQ(copy.document.content.slides[0].photoPath.rfind(path("packed/"), 0), 0u);
    EXPECT_TRUE(fs::exists(copy.document.content.slides[0].photoPath));
    EXPECT_EQ(slidePaths(), paths) << "the open slideshow stays as it was";
    EXPECT_TRUE(v.projectPath().isEmpty());

    v.selectAllAction()->trigger();
    EXPECT_EQ(v.project().selectedSlides().size(), 3u);
    v.deleteAction()->trigger();
    EXPECT_EQ(v.project().photoSlideCount(), 0);
    v.undoAction()->trigger();
    EXPECT_EQ(v.project().photoSlideCount(), 3);
}

// The window fits a 1366 x 768 screen at 100 % and 125 % (1093 x 614 logical pixels) with room for a
// panel and the title bar, Start inside it; extra height goes to the tree and browser, extra width to
// the storyboard; size, maximised state and splitter come back at the next start.
TEST_F(MainWindowProjectTest, TheLayoutFitsSmallScreensAndIsRemembered) {
    LumoDlg& w = window();
    for (const double scale : {1.0, 1.25}) {
        const QSize room(static_cast<int>(1366 / scale), static_cast<int>(768 / scale) - 40 - 32);
        const QSize least = w.minimumSizeHint().expandedTo(w.minimumSize());
        EXPECT_LE(least.width(), room.width()) << scale;
        EXPECT_LE(least.height(), room.height()) << scale;
        w.resize(room);
        QCoreApplication::processEvents();
        const QRect start(w.startButton()->mapTo(&w, QPoint(0, 0)), w.startButton()->size());
        EXPECT_TRUE(w.rect().contains(start)) << scale;
        EXPECT_GE(w.startButton()->height(), w.startButton()->minimumHeight());
    }
    // (The offscreen screen is 800 x 600: the sizes stay within it, as a remembered size is fitted to
    // the screen.)
    w.resize(700, 520);
    QCoreApplication::processEvents();
    const int treeHeight = w.folderTree()->height();
    const int boardWidth = w.storyboard()->width();
    const int boardHeight = w.storyboard()->height();
    w.resize(780, 580);
    QCoreApplication::processEvents();
    EXPECT_EQ(w.folderTree()->height(), treeHeight + 60);
    EXPECT_EQ(w.storyboard()->width(), boardWidth + 80);
    EXPECT_EQ(w.storyboard()->height(), boardHeight);

    w.browserSplitter()->setSizes({300, 400});
    QCoreApplication::processEvents();
    const QList<int> sizes = w.browserSplitter()->sizes();
    w.close();
    reopenWindow();
    EXPECT_EQ(window().size(), QSize(780, 580));
    EXPECT_EQ(window().browserSplitter()->sizes(), sizes);
    window().showMaximized();
    window().close();
    reopenWindow();
    EXPECT_TRUE(window().windowState() & Qt::WindowMaximized);
}

}  // namespace
}  // namespace kestrelle
