#include "app/ui/main_window.h"

#include "app/start_checks.h"
#include "app/ui/folder_tree.h"
#include "app/ui/main_window_dialogs.h"
#include "app/ui/photo_browser.h"
#include "app/ui/program_icon.h"
#include "base/data_folder.h"
#include "base/message_box.h"
#include "base/run_log.h"
#include "config/combo_sink.h"
#include "config/settings_store.h"
#include "config/ui/dialog_units.h"
#include "project/missing_photos.h"
#include "project/photo_drag_payload.h"
#include "project/project_copy.h"
#include "project/project_history.h"
#include "project/slide_defaults.h"
#include "project/slideshow_project.h"
#include "project/timeline.h"
#include "project/ui/storyboard_control.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QScreen>
#include <QSplitter>
#include <QUndoStack>
#include <QUrl>
#include <QVBoxLayout>

#include <cstdint>
#include <random>

namespace kestrelle {

namespace {

constexpr const char* kLogSource = "LumoDlg.cpp";

constexpr const char* kStepTexts[3] = {
    "Step 1: Choose the folder where you saved your photos.",
    "Step 2: Drag the photos from top right area to the following line.",
    "Step 3: Choose a proper profile from the 'Profile' dropdown list, then click 'Start' button to generate "
    "avi "
    "slideshow video. ",
};

class ComboBoxSink final : public ComboSink {
public:
    explicit ComboBoxSink(QComboBox* combo) : combo_(combo) {}
    void addItem(const std::string& text) override { combo_->addItem(QString::fromStdString(text)); }

private:
    QComboBox* combo_;
};

QPushButton* makeButton(const QString& text, QWidget* parent) {
    auto* button = new QPushButton(text, parent);
    // Enter never presses a button in this window.
    button->setAutoDefault(false);
    button->setDefault(false);
    return button;
}

QLabel* makeLabel(const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    return label;
}

// How long after a change the slideshow is autosaved: 30 s. KESTRELLE_AUTOSAVE_DELAY_MS in the
// environment shortens it, for tests only (values outside 0..30000 are ignored).
int autosaveDelayMs() {
    constexpr int kAutosaveDelayMs = 30000;
    bool ok = false;
    const int shortened = qEnvironmentVariableIntValue("KESTRELLE_AUTOSAVE_DELAY_MS", &ok);
    if (ok && shortened >= 0 && shortened <= kAutosaveDelayMs) return shortened;
    return kAutosaveDelayMs;
}

// A random, non-zero seed for the gentle random motions of a new slideshow, so that no two slideshows
// move alike.
std::uint64_t freshMotionSeed() {
    std::random_device device;
    std::uint64_t seed = 0;
    while (seed == 0) seed = (std::uint64_t{device()} << 32) ^ device();
    return seed;
}

}  // namespace

LumoDlg::LumoDlg(SettingsStore& store, MainWindowDialogs dialogs, QWidget* parent)
    : QDialog(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint),
      store_(store),
      dialogs_(std::move(dialogs)) {
    setWindowTitle(QStringLiteral("Kestrelle"));
    setObjectName(QStringLiteral("LumoDlg"));
    setWindowIcon(programIcon());
    buildControls();
    // An autosave left by a run that did not end cleanly is noted before this run marks itself running.
    autosave_ = AutosaveFile::inDataFolder();
    if (autosave_) {
        autosaveRestorable_ = autosave_->hasRestorableAutosave();
        autosave_->markRunning();
    }
    buildMenus();
    fillFromSettings();
    restoreWindowState();
    // The empty slideshow the window starts with is a new one.
    if (project().motionSeed() == 0) project().setMotionSeed(freshMotionSeed());

    // The title's mark follows the history's clean state; each change starts the autosave clock (once:
    // the slideshow is saved at most the delay after the first change since the last autosave).
    connect(&history().stack(), &QUndoStack::cleanChanged, this, [this] { updateTitle(); });
    autosaveTimer_.setSingleShot(true);
    autosaveTimer_.setInterval(autosaveDelayMs());
    connect(&autosaveTimer_, &QTimer::timeout, this, &LumoDlg::autosaveNow);
    connect(&history().stack(), &QUndoStack::indexChanged, this, [this] {
        if (!autosaveTimer_.isActive()) autosaveTimer_.start();
    });
    updateTitle();
    // The tree lists its places and selects the stored folder again, which opens it in the browser.
    folderTree_->build();
}

LumoDlg::~LumoDlg() {
    stopWorkers();
    // The stack (the storyboard's) announces its own clearing as it goes; nothing of this window may
    // hear it then.
    QObject::disconnect(&history().stack(), nullptr, this, nullptr);
    // The storyboard outlives this window's members (it goes with the base class): it must not call
    // back into them while it is destroyed.
    storyboard_->project().setDefaultsProvider({});
    storyboard_->project().setCrossfadeProvider({});
    storyboard_->setFrameRateProvider({});
    storyboard_->setVideoSizeProvider({});
}

SlideShowProject& LumoDlg::project() {
    return storyboard_->project();
}

ProjectHistory& LumoDlg::history() {
    return storyboard_->history();
}

QString LumoDlg::projectName() const {
    if (projectPath_.isEmpty()) return QStringLiteral("Untitled");
    return QFileInfo(projectPath_).completeBaseName();
}

bool LumoDlg::hasUnsavedChanges() const {
    return !storyboard_->history().stack().isClean();
}

void LumoDlg::updateTitle() {
    setWindowTitle(projectName() + QStringLiteral("[*] - Kestrelle"));
    setWindowModified(hasUnsavedChanges());
}

void LumoDlg::updateRecentMenu() {
    recentMenu_->clear();
    for (const QString& path : windowState_.recentProjects) {
        QAction* action = recentMenu_->addAction(QFileInfo(path).fileName());
        action->setToolTip(path);
        action->setStatusTip(path);
        action->setData(path);
        // A file that is gone stays listed, greyed, until a later start drops it.
        action->setEnabled(QFileInfo(path).isFile());
        connect(action, &QAction::triggered, this, [this, path] { openProjectFile(path); });
    }
    recentMenu_->setEnabled(!windowState_.recentProjects.isEmpty());
}

void LumoDlg::rememberRecent(const QString& path) {
    windowState_.recentProjects = withRecentProject(windowState_.recentProjects, path);
    windowState_.save();
    updateRecentMenu();
}

bool LumoDlg::maybeSaveChanges() {
    if (!hasUnsavedChanges()) return true;
    storyboard_->endDurationEdit(true);
    const SaveChangesAnswer answer =
        dialogs_.askSaveChanges ? dialogs_.askSaveChanges(this, projectName()) : SaveChangesAnswer::Cancel;
    switch (answer) {
        case SaveChangesAnswer::Save:
            return save();
        case SaveChangesAnswer::Discard:
            return true;
        case SaveChangesAnswer::Cancel:
        default:
            return false;
    }
}

ProjectDocument LumoDlg::documentToSave() const {
    ProjectDocument document;
    document.content = storyboard_->project().content();
    if (const OutputProfile* profile = store_.currentProfile()) document.profileName = profile->name;
    document.outputName = store_.outputName();
    document.targetFolder = store_.targetPath();
    return document;
}

bool LumoDlg::writeProject(const QString& path) {
    storyboard_->endDurationEdit(true);
    std::string message;
    if (!writeProjectFile(QFile::encodeName(path).toStdString(), documentToSave(), &message)) {
        showMessage(message.empty() ? "The slideshow could not be saved." : message,
                    MessageFlags::kWarningOk);
        return false;
    }
    KESTRELLE_LOG_AS(kLogSource, 1, "Saved project %s", qPrintable(path));
    projectPath_ = path;
    history().stack().setClean();
    autosaveTimer_.stop();
    if (autosave_) autosave_->discard();
    rememberRecent(path);
    updateTitle();
    return true;
}

bool LumoDlg::save() {
    if (projectPath_.isEmpty()) return saveAs();
    return writeProject(projectPath_);
}

bool LumoDlg::saveAs() {
    if (!dialogs_.saveProjectFile) return false;
    const QString startFolder = projectPath_.isEmpty() ? QString::fromStdString(store_.targetPath())
                                                       : QFileInfo(projectPath_).absolutePath();
    QString path = dialogs_.saveProjectFile(
        this, QStringLiteral("Save Slideshow As"),
        startFolder + QLatin1Char('/') + projectName() + QString::fromLatin1(kProjectFileExtension));
    if (path.isEmpty()) return false;
    if (!path.endsWith(QString::fromLatin1(kProjectFileExtension)))
        path += QString::fromLatin1(kProjectFileExtension);
    return writeProject(path);
}

void LumoDlg::openProject() {
    if (!maybeSaveChanges() || !dialogs_.openProjectFile) return;
    const QString startFolder =
        projectPath_.isEmpty() ? QDir::homePath() : QFileInfo(projectPath_).absolutePath();
    const QString path = dialogs_.openProjectFile(this, QStringLiteral("Open Slideshow"), startFolder);
    if (!path.isEmpty()) openWithoutAsking(path);
}

bool LumoDlg::openProjectFile(const QString& path) {
    if (!maybeSaveChanges()) return false;
    return openWithoutAsking(path);
}

bool LumoDlg::openWithoutAsking(const QString& path) {
    const QString absolute = QFileInfo(path).absoluteFilePath();
    const ProjectReadResult read = readProjectFile(QFile::encodeName(absolute).toStdString());
    if (read.error != ProjectFileError::Ok) {
        // The open slideshow stays as it was.
        showMessage(read.message.empty() ? "The slideshow could not be opened." : read.message,
                    MessageFlags::kWarningOk);
        return false;
    }
    KESTRELLE_LOG_AS(kLogSource, 1, "Open project %s (%zu slides)", qPrintable(absolute),
                     read.document.content.slides.size());
    storyboard_->endDurationEdit(false);
    storyboard_->loadContent(read.document.content);
    autosaveTimer_.stop();
    if (autosave_) autosave_->discard();
    // The profile, output name and target the project was made with, where they still exist here.
    const ProjectDocument& document = read.document;
    for (int index = 0; index < store_.profileCount(); ++index) {
        const OutputProfile* profile = store_.profileAt(index);
        if (profile && profile->name == document.profileName) {
            store_.selectProfile(index);
            refreshProfiles();
            break;
        }
    }
    if (!document.outputName.empty() && checkOutputName(document.outputName) == NameCheck::Valid)
        fileName_->setText(QString::fromStdString(document.outputName));
    if (!document.targetFolder.empty() && QFileInfo(QString::fromStdString(document.targetFolder)).isDir()) {
        store_.setTargetPath(document.targetFolder);
        store_.settings().TargetChanged = 1;  // chosen, as with Browse
        target_->setText(QString::fromStdString(document.targetFolder));
    }
    projectPath_ = absolute;
    rememberRecent(absolute);
    updateTitle();
    updateFitToMusicActions();
    return true;
}

void LumoDlg::saveCopyWithAllPhotos() {
    if (!dialogs_.saveProjectFile) return;
    storyboard_->endDurationEdit(true);
    const QString startFolder = projectPath_.isEmpty() ? QString::fromStdString(store_.targetPath())
                                                       : QFileInfo(projectPath_).absolutePath();
    QString path = dialogs_.saveProjectFile(this, QStringLiteral("Save a Copy with All Photos"),
                                            startFolder + QLatin1Char('/') + projectName() +
                                                QStringLiteral(" with photos/") + projectName() +
                                                QString::fromLatin1(kProjectFileExtension));
    if (path.isEmpty()) return;
    if (!path.endsWith(QString::fromLatin1(kProjectFileExtension)))
        path += QString::fromLatin1(kProjectFileExtension);
    const ProjectDocument document = documentToSave();
    const std::string target = QFile::encodeName(path).toStdString();
    ProjectCopyResult result;
    runWithProgress(this, QStringLiteral("Copying the slideshow and its photos..."),
                    [&](std::stop_token stop, const ProgressReport& report) {
                        result =
                            saveProjectCopy(document, target, [&](std::uint64_t done, std::uint64_t total) {
                                if (total > 0) report(static_cast<int>(done * 100 / total));
                                return !stop.stop_requested();
                            });
                    });
    if (result.cancelled) return;
    if (!result.ok) {
        showMessage(result.message.empty() ? "The copy could not be made." : result.message,
                    MessageFlags::kWarningOk);
        return;
    }
    KESTRELLE_LOG_AS(kLogSource, 1, "Copied project with its photos to %s", target.c_str());
    std::string text =
        "The slideshow and its photos were copied to " + QFileInfo(path).absolutePath().toStdString() + ".";
    if (!result.missing.empty())
        text += " " + std::to_string(result.missing.size()) +
                (result.missing.size() == 1 ? " file was missing and could not be copied."
                                            : " files were missing and could not be copied.");
    showMessage(text, MessageFlags::kWarningOk);
}

void LumoDlg::findMissingPhotos() {
    storyboard_->endDurationEdit(true);
    const ProjectDocument document = documentToSave();
    std::size_t missing = 0;
    for (std::size_t i = 0; i < document.content.slides.size(); ++i) {
        if (isSlidePhotoMissing(document, i)) ++missing;
    }
    if (missing == 0) {
        showMessage("No photos of the slideshow are missing.", MessageFlags::kWarningOk);
        return;
    }
    if (!dialogs_.chooseFolder) return;
    const QString projectFolder = projectPath_.isEmpty() ? QString() : QFileInfo(projectPath_).absolutePath();
    const QString searchFolder =
        dialogs_.chooseFolder(this, QStringLiteral("Find Missing Photos"),
                              projectFolder.isEmpty() ? QDir::homePath() : projectFolder);
    if (searchFolder.isEmpty()) return;
    std::vector<FoundPhoto> found;
    runWithProgress(this, QStringLiteral("Looking for the missing photos..."),
                    [&](std::stop_token stop, const ProgressReport&) {
                        found = kestrelle::findMissingPhotos(document,
                                                             QFile::encodeName(projectFolder).toStdString(),
                                                             QFile::encodeName(searchFolder).toStdString(),
                                                             {}, [&stop] { return !stop.stop_requested(); });
                    });
    if (!found.empty()) {
        ProjectContent content = document.content;
        for (const FoundPhoto& photo : found) {
            if (photo.slide >= content.slides.size()) continue;
            SlideContent& slide = content.slides[photo.slide];
            slide.photoPath = photo.path;
            slide.photoMissing = false;
            slide.thumbnailIndex = -1;  // made again from the found photo
        }
        history().record(QStringLiteral("Find Missing Photos"), [&] { project().setContent(content); });
    }
    const std::size_t still = missing - std::min(missing, found.size());
    std::string text = "Found " + std::to_string(found.size()) + " of " + std::to_string(missing) +
                       (missing == 1 ? " missing photo." : " missing photos.");
    if (still > 0)
        text += still == 1 ? " 1 photo is still missing."
                           : " " + std::to_string(still) + " photos are still missing.";
    showMessage(text, MessageFlags::kWarningOk);
}

bool LumoDlg::offerAutosaveRestore() {
    if (!autosave_ || !autosaveRestorable_) return false;
    autosaveRestorable_ = false;  // offered once
    KESTRELLE_LOG_AS(kLogSource, 1, "An autosaved slideshow was left at %s: offering to restore it",
                     autosave_->autosavePath().c_str());
    const int answer =
        showMessage("Kestrelle did not close properly. Restore the slideshow you were working on?",
                    MessageFlags::kWarningYesNo);
    if (answer != MessageAnswer::kYes) {
        autosave_->discard();
        return false;
    }
    const ProjectReadResult read = autosave_->read();
    if (read.error != ProjectFileError::Ok) {
        showMessage("The autosaved slideshow could not be restored. " + read.message,
                    MessageFlags::kWarningOk);
        autosave_->discard();
        return false;
    }
    // It belongs to the file it was made for (Save writes there), and it is an unsaved change (an undo
    // step), so that closing asks to save it.
    const std::string source = autosave_->sourcePath();
    storyboard_->endDurationEdit(false);
    storyboard_->newSlideshow();
    projectPath_ = source.empty() ? QString() : QFile::decodeName(QByteArray::fromStdString(source));
    history().record(QStringLiteral("Restore Slideshow"),
                     [&] { project().setContent(read.document.content); });
    updateTitle();
    updateFitToMusicActions();
    return true;
}

void LumoDlg::autosaveNow() {
    autosaveTimer_.stop();
    if (!autosave_) return;
    if (!hasUnsavedChanges()) {
        // Back at the saved state: nothing would be lost.
        autosave_->discard();
        return;
    }
    std::string message;
    if (!autosave_->write(documentToSave(), QFile::encodeName(projectPath_).toStdString(), &message))
        KESTRELLE_LOG_AS(kLogSource, 1, "Autosave failed: %s", message.c_str());
}

void LumoDlg::closeWithoutAsking() {
    if (hasUnsavedChanges()) autosaveNow();
    closingWithoutAsking_ = true;
    exitWindow();
}

bool LumoDlg::acceptMissingPhotos() {
    int missing = 0;
    for (const SlideContent& slide : project().content().slides) {
        if (slide.photoMissing ||
            !QFileInfo(QFile::decodeName(QByteArray::fromStdString(slide.photoPath))).isFile())
            ++missing;
    }
    if (missing == 0) return true;
    const std::string text =
        missing == 1
            ? std::string("1 photo of the slideshow is missing. Go on with a black slide in its place?")
            : std::to_string(missing) +
                  " photos of the slideshow are missing. Go on with black slides in their place?";
    return showMessage(text, MessageFlags::kWarningYesNo) == MessageAnswer::kYes;
}

void LumoDlg::setFreeSpaceQuery(std::function<std::uint64_t(const std::string&)> query) {
    freeSpaceQuery_ = std::move(query);
}

void LumoDlg::buildMenus() {
    menuBar_ = new QMenuBar(this);
    QMenu* file = menuBar_->addMenu(QStringLiteral("&File"));
    const auto command = [this](QMenu* menu, const QString& text, const QKeySequence& key) {
        QAction* action = menu->addAction(text);
        action->setShortcut(key);
        action->setShortcutContext(Qt::WindowShortcut);
        addAction(action);  // the shortcut works with the menu closed
        return action;
    };
    newAction_ = command(file, QStringLiteral("&New"), QKeySequence(Qt::CTRL | Qt::Key_N));
    connect(newAction_, &QAction::triggered, this, &LumoDlg::newSlide);
    openAction_ = command(file, QStringLiteral("&Open..."), QKeySequence(Qt::CTRL | Qt::Key_O));
    connect(openAction_, &QAction::triggered, this, &LumoDlg::openProject);
    recentMenu_ = file->addMenu(QStringLiteral("Open &Recent"));
    saveAction_ = command(file, QStringLiteral("&Save"), QKeySequence(Qt::CTRL | Qt::Key_S));
    connect(saveAction_, &QAction::triggered, this, &LumoDlg::save);
    saveAsAction_ =
        command(file, QStringLiteral("Save &As..."), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S));
    connect(saveAsAction_, &QAction::triggered, this, &LumoDlg::saveAs);
    connect(file->addAction(QStringLiteral("Save a &Copy with All Photos...")), &QAction::triggered, this,
            &LumoDlg::saveCopyWithAllPhotos);
    connect(file->addAction(QStringLiteral("&Find Missing Photos...")), &QAction::triggered, this,
            &LumoDlg::findMissingPhotos);
    file->addSeparator();
    // Commands on the whole slideshow; enabled while there are clips and photos.
    fitToMusicAction_ = file->addAction(QStringLiteral("Fit to Music"));
    connect(fitToMusicAction_, &QAction::triggered, this, [this] { fitToMusic(false); });
    fitToBeatsAction_ = file->addAction(QStringLiteral("Fit to Music on the Beats"));
    connect(fitToBeatsAction_, &QAction::triggered, this, [this] { fitToMusic(true); });
    file->addSeparator();
    outputAction_ = file->addAction(QStringLiteral("Output"));
    connect(outputAction_, &QAction::triggered, this, &LumoDlg::start);
    connect(file->addAction(QStringLiteral("Export Log file")), &QAction::triggered, this,
            &LumoDlg::exportLog);
    file->addSeparator();
    connect(file->addAction(QStringLiteral("Exit")), &QAction::triggered, this, &LumoDlg::exitWindow);

    // Undo and Redo name the step they take back or do again ("Undo Delete Slide").
    editMenu_ = menuBar_->addMenu(QStringLiteral("&Edit"));
    undoAction_ = history().stack().createUndoAction(this, QStringLiteral("&Undo"));
    undoAction_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Z));
    redoAction_ = history().stack().createRedoAction(this, QStringLiteral("&Redo"));
    redoAction_->setShortcuts(
        {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z), QKeySequence(Qt::CTRL | Qt::Key_Y)});
    for (QAction* action : {undoAction_, redoAction_}) {
        action->setShortcutContext(Qt::WindowShortcut);
        addAction(action);
        editMenu_->addAction(action);
    }
    editMenu_->addSeparator();
    // The storyboard's selection. Ctrl+A and Delete stay the keys of whichever control has the focus (the
    // storyboard, the photo browser and the text fields each use them), so these entries carry none.
    selectAllAction_ = editMenu_->addAction(QStringLiteral("Select &All Slides"));
    connect(selectAllAction_, &QAction::triggered, this, [this] {
        std::vector<int> all(static_cast<std::size_t>(project().photoSlideCount()));
        for (std::size_t i = 0; i < all.size(); ++i) all[i] = static_cast<int>(i);
        if (!all.empty()) storyboard_->selectSlides(all, 0);
        storyboard_->setFocus();
    });
    deleteAction_ = editMenu_->addAction(QStringLiteral("&Delete Selected Slides"));
    connect(deleteAction_, &QAction::triggered, this, [this] { storyboard_->deleteSelection(); });
    connect(editMenu_, &QMenu::aboutToShow, this, [this] {
        selectAllAction_->setEnabled(project().photoSlideCount() > 0);
        deleteAction_->setEnabled(!project().selectedSlides().empty());
    });

    connect(menuBar_->addAction(QStringLiteral("&Config")), &QAction::triggered, this, &LumoDlg::configure);

    QMenu* help = menuBar_->addMenu(QStringLiteral("&Help"));
    QAction* helpAction = help->addAction(QStringLiteral("Help"));
    helpAction->setShortcut(QKeySequence::HelpContents);
    helpAction->setShortcutContext(Qt::WindowShortcut);
    addAction(helpAction);
    connect(helpAction, &QAction::triggered, this, &LumoDlg::help);
    help->addSeparator();
    connect(help->addAction(QStringLiteral("Home Page")), &QAction::triggered, this, &LumoDlg::homePage);
    connect(help->addAction(QStringLiteral("Contact us")), &QAction::triggered, this, &LumoDlg::contactUs);
    help->addSeparator();
    connect(help->addAction(QStringLiteral("About...")), &QAction::triggered, this, &LumoDlg::about);

    static_cast<QVBoxLayout*>(layout())->setMenuBar(menuBar_);
}

void LumoDlg::buildControls() {
    client_ = new QWidget(this);
    const DialogUnitScale units(font());

    QFont stepFont(QStringLiteral("Arial"));
    stepFont.setPixelSize(14);
    stepFont.setWeight(QFont::Normal);

    // Created in reading order, which is also the tab order.
    stepTexts_[0] = makeLabel(QString::fromLatin1(kStepTexts[0]), client_);

    // The browser's photo and audio modes, at the right of the step 1 row above the browser they switch.
    photoMode_ = makeButton(QStringLiteral("Photo"), client_);
    audioMode_ = makeButton(QStringLiteral("Audio"), client_);
    photoMode_->setToolTip(QStringLiteral("List the folder's photos"));
    audioMode_->setToolTip(QStringLiteral("List the folder's audio files, to drag onto the soundtrack"));
    for (QPushButton* mode : {photoMode_, audioMode_}) {
        mode->setCheckable(true);
        mode->setAutoExclusive(true);
        mode->setAccessibleDescription(mode->toolTip());
        mode->setMinimumWidth(std::max(units.x(42), mode->sizeHint().width()));
    }

    // The tree and the browser share the upper part, divided by a splitter the user can move.
    browserSplitter_ = new QSplitter(Qt::Horizontal, client_);
    browserSplitter_->setObjectName(QStringLiteral("browserSplitter"));
    browserSplitter_->setChildrenCollapsible(false);
    folderTree_ = new FolderTree(std::make_unique<LocalFolderSource>(), store_, browserSplitter_);
    photoBrowser_ = new PhotoBrowser(browserSplitter_);
    folderTree_->setMinimumSize(units.x(90), units.y(40));
    photoBrowser_->setMinimumSize(units.x(150), units.y(40));
    browserSplitter_->addWidget(folderTree_);
    browserSplitter_->addWidget(photoBrowser_);
    browserSplitter_->setStretchFactor(0, 0);
    browserSplitter_->setStretchFactor(1, 1);
    // The proportions the dialog-unit layout gave them: 194 and 388 units.
    browserSplitter_->setSizes({units.x(194), units.x(388)});

    stepTexts_[1] = makeLabel(QString::fromLatin1(kStepTexts[1]), client_);

    // New slides take the defaults of the store this window works on.
    storyboard_ = new StoryboardControl(client_, [this] { return slideDefaultsFrom(store_.settings()); });
    // Clips are drawn where the mix places them, with the crossfade the settings give the video; the
    // stills are fitted to the music for the current profile's frame rate.
    storyboard_->project().setCrossfadeProvider([this] { return store_.settings().AudioFadeSeconds; });
    storyboard_->setFrameRateProvider([this] {
        const OutputProfile* profile = store_.currentProfile();
        return frameRateForIndex(profile ? profile->FrameRate : 0);
    });
    storyboard_->setVideoSizeProvider([this] {
        const OutputProfile* profile = store_.currentProfile();
        return profile ? VideoSize{profile->ResWidth, profile->ResHeight} : VideoSize{};
    });
    // Always tall enough for both its lines; the extra width of the window is the storyboard's.
    storyboard_->setFixedHeight(storyboard_->heightForBothLines());
    storyboard_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);

    stepTexts_[2] = makeLabel(QString::fromLatin1(kStepTexts[2]), client_);
    for (QLabel* text : stepTexts_) {
        text->setFont(stepFont);
        // Long step texts may be cut at the right in a narrow window rather than widen it.
        text->setMinimumWidth(1);
        text->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    }

    frame_ = new QGroupBox(client_);

    auto* profileLabel = makeLabel(QStringLiteral("Profile"), frame_);
    profileList_ = new QComboBox(frame_);
    profileLabel->setBuddy(profileList_);
    config_ = makeButton(QStringLiteral("Config"), frame_);

    auto* nameLabel = makeLabel(QStringLiteral("File Name:"), frame_);
    fileName_ = new QLineEdit(frame_);
    nameLabel->setBuddy(fileName_);
    extensionLabel_ = makeLabel(QStringLiteral(".avi"), frame_);
    // Room for either extension, so switching profiles never moves the fields.
    extensionLabel_->setMinimumWidth(
        std::max(extensionLabel_->fontMetrics().horizontalAdvance(QStringLiteral(".mp4")),
                 extensionLabel_->fontMetrics().horizontalAdvance(QStringLiteral(".avi"))));

    auto* targetLabel = makeLabel(QStringLiteral("Target:"), frame_);
    target_ = new QLineEdit(frame_);
    target_->setReadOnly(true);
    targetLabel->setBuddy(target_);
    browse_ = makeButton(QStringLiteral("Browse"), frame_);

    preview_ = makeButton(QStringLiteral("Preview"), client_);
    start_ = makeButton(QStringLiteral("Start"), client_);

    // The fields keep the width the dialog units gave them; the buttons at least theirs.
    for (QWidget* field : std::initializer_list<QWidget*>{profileList_, fileName_, target_})
        field->setMinimumWidth(units.x(195));
    for (QPushButton* button : {config_, browse_})
        button->setMinimumWidth(std::max(units.x(36), button->sizeHint().width()));
    for (QPushButton* button : {preview_, start_})
        button->setMinimumWidth(std::max(units.x(44), button->sizeHint().width()));
    preview_->setMinimumHeight(std::max(units.y(14), preview_->sizeHint().height()));
    start_->setMinimumHeight(std::max(units.y(42), start_->sizeHint().height()));
    start_->setSizePolicy(QSizePolicy::Minimum, QSizePolicy::Expanding);

    auto* fields = new QGridLayout(frame_);
    fields->setHorizontalSpacing(units.x(5));
    fields->setVerticalSpacing(units.y(3));
    fields->addWidget(profileLabel, 0, 0);
    fields->addWidget(profileList_, 0, 1);
    fields->addWidget(config_, 0, 2, Qt::AlignLeft);
    fields->addWidget(nameLabel, 1, 0);
    fields->addWidget(fileName_, 1, 1);
    fields->addWidget(extensionLabel_, 1, 2, Qt::AlignLeft);
    fields->addWidget(targetLabel, 2, 0);
    fields->addWidget(target_, 2, 1);
    fields->addWidget(browse_, 2, 2, Qt::AlignLeft);
    fields->setColumnStretch(3, 1);

    auto* buttons = new QVBoxLayout;
    buttons->setSpacing(units.y(4));
    buttons->addWidget(preview_);
    buttons->addWidget(start_, 1);

    auto* bottom = new QHBoxLayout;
    bottom->setSpacing(units.x(5));
    bottom->addWidget(frame_, 1);
    bottom->addLayout(buttons);

    auto* stepOneRow = new QHBoxLayout;
    stepOneRow->setSpacing(units.x(4));
    stepOneRow->addWidget(stepTexts_[0], 1);
    stepOneRow->addWidget(photoMode_);
    stepOneRow->addWidget(audioMode_);

    // The tree and the browser take the extra height, the storyboard and the fields the extra width.
    auto* column = new QVBoxLayout(client_);
    column->setContentsMargins(units.x(7), units.y(1), units.x(7), units.y(4));
    column->setSpacing(units.y(2));
    column->addLayout(stepOneRow);
    column->addWidget(browserSplitter_, 1);
    column->addWidget(stepTexts_[1]);
    column->addWidget(storyboard_);
    column->addWidget(stepTexts_[2]);
    column->addLayout(bottom);

    connect(profileList_, &QComboBox::currentIndexChanged, this, &LumoDlg::profileSelected);
    connect(fileName_, &QLineEdit::textChanged, this, &LumoDlg::fileNameChanged);
    connect(browse_, &QPushButton::clicked, this, &LumoDlg::browse);
    connect(config_, &QPushButton::clicked, this, &LumoDlg::configure);
    connect(preview_, &QPushButton::clicked, this, &LumoDlg::preview);
    connect(start_, &QPushButton::clicked, this, &LumoDlg::start);
    connect(folderTree_, &FolderTree::openFolderRequested, this, &LumoDlg::openFolderPath);
    connect(photoBrowser_, &PhotoBrowser::addRequested, this, &LumoDlg::addToStoryboard);
    connect(photoMode_, &QPushButton::clicked, this, [this] { photoBrowser_->setMode(BrowserMode::Photo); });
    connect(audioMode_, &QPushButton::clicked, this, [this] { photoBrowser_->setMode(BrowserMode::Audio); });
    connect(storyboard_, &StoryboardControl::fitToMusicAvailabilityChanged, this,
            &LumoDlg::updateFitToMusicActions);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(client_);
    // The size the dialog units gave the window, unless a remembered size replaces it.
    resize(
        std::max(units.x(603), minimumSizeHint().width()),
        std::max(units.y(383) + storyboard_->heightForBothLines() - units.y(90), minimumSizeHint().height()));
}

void LumoDlg::fillFromSettings() {
    refreshProfiles();
    fileName_->setText(QStringLiteral("Untitled"));
    store_.setOutputName("Untitled");
    target_->setText(QString::fromStdString(store_.targetPath()));
    photoMode_->setChecked(true);
    updateFitToMusicActions();
}

void LumoDlg::bringToFront() {
    setWindowState((windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    showNormal();
    raise();
    activateWindow();
}

void LumoDlg::openFolder(const QString& path) {
    openFolderPath(QFile::encodeName(path));
}

void LumoDlg::openFolderPath(const QByteArray& path) {
    // The whole path is kept, however long: cutting it would open another folder.
    KESTRELLE_LOG_AS(kLogSource, 1, "Open Directory %s", path.constData());
    photoBrowser_->openFolder(path.toStdString());
}

void LumoDlg::refreshProfiles() {
    // Filling fires no selection change: only the user's choice selects a profile.
    const QSignalBlocker blocker(profileList_);
    profileList_->clear();
    ComboBoxSink sink(profileList_);
    store_.fillProfileCombo(sink);
    if (profileList_->count() > 0) profileList_->setCurrentIndex(store_.currentProfileIndex());
    updateExtensionLabel();
}

void LumoDlg::updateExtensionLabel() {
    if (extensionLabel_ != nullptr)
        extensionLabel_->setText(QString::fromStdString(currentOutputExtension(store_)));
}

void LumoDlg::applyDefaults() {
    history().record(QStringLiteral("Apply Defaults to All Slides"),
                     [this] { project().applyDefaultsToAll(); });
}

void LumoDlg::fitToMusic(bool onBeats) {
    storyboard_->runFitToMusic(onBeats);
    updateFitToMusicActions();
}

void LumoDlg::updateFitToMusicActions() {
    const bool enabled = storyboard_ && storyboard_->canFitToMusic();
    if (fitToMusicAction_) fitToMusicAction_->setEnabled(enabled);
    if (fitToBeatsAction_) fitToBeatsAction_->setEnabled(enabled);
}

void LumoDlg::addToStoryboard(const DragPayload& payload) {
    // A value being typed in the storyboard is kept, as before a drop.
    storyboard_->endDurationEdit(true);
    if (payload.line == DragLine::Photos) {
        storyboard_->dropPhotos(payload.paths, project().firstPlaceholderIndex());
    } else {
        storyboard_->dropClips(payload.paths);
    }
}

void LumoDlg::profileSelected(int index) {
    if (index >= 0) store_.selectProfile(index);
    updateExtensionLabel();
}

void LumoDlg::fileNameChanged(const QString& text) {
    const std::string name = text.toStdString();
    const NameCheck check = checkOutputName(name);
    if (check == NameCheck::Valid) {
        store_.setOutputName(name);
        return;
    }
    // The last valid name stays the output name.
    showMessage(nameRefusalText(check), MessageFlags::kWarningOk);
    fileName_->setFocus();
}

void LumoDlg::start() {
    if (project().photoSlideCount() > 0 && !acceptMissingPhotos()) return;
    StartRequest request{store_, project(), fileName_->text().toStdString(), freeSpaceQuery_};
    switch (checkStart(request)) {
        case StartDecision::Go:
            if (dialogs_.generate)
                dialogs_.generate(
                    this, store_, project(),
                    outputFilePath(store_.targetPath(), store_.outputName(), currentOutputExtension(store_)));
            return;
        case StartDecision::NoCodec:
            QDesktopServices::openUrl(QUrl(QString::fromLatin1(kDownloadPageUrl)));
            exitWindow();
            return;
        case StartDecision::ReservedCharacter:
        case StartDecision::EmptyName:
        case StartDecision::NameTooLong:
            fileName_->setFocus();
            return;
        default:
            return;
    }
}

void LumoDlg::preview() {
    if (project().photoSlideCount() < 1) {
        showMessage(kAddPhotosText, MessageFlags::kWarningOk);
        return;
    }
    if (!acceptMissingPhotos()) return;
    if (dialogs_.preview) dialogs_.preview(this, store_, project());
}

void LumoDlg::browse() {
    if (!dialogs_.chooseFolder) return;
    const QString picked = dialogs_.chooseFolder(this, QStringLiteral("Please select target directory!"),
                                                 QString::fromStdString(store_.targetPath()));
    const std::string folder = chosenTargetFolder(picked.toStdString());
    if (folder.empty()) return;
    target_->setText(QString::fromStdString(folder));
    store_.setTargetPath(folder);
    store_.settings().TargetChanged = 1;
}

void LumoDlg::configure() {
    if (dialogs_.configure) {
        ConfigurationRequests requests;
        requests.profilesChanged = [this] { refreshProfiles(); };
        requests.applyDefaults = [this] { applyDefaults(); };
        dialogs_.configure(this, store_, requests);
    }
    // Profiles added or deleted stay even when the dialog was cancelled: the list follows the store.
    refreshProfiles();
    // The crossfade may have changed: the clips move to where the mix now places them.
    if (!project().clips().empty()) project().relayoutClips();
}

void LumoDlg::newSlide() {
    if (!maybeSaveChanges()) return;
    storyboard_->endDurationEdit(false);
    storyboard_->newSlideshow();
    // Emptying the slideshow keeps the seed of the one before; the new slideshow moves its own way.
    project().setMotionSeed(freshMotionSeed());
    autosaveTimer_.stop();
    if (autosave_) autosave_->discard();
    projectPath_.clear();
    updateTitle();
    updateFitToMusicActions();
}

void LumoDlg::exportLog() {
    if (dialogs_.exportLog) dialogs_.exportLog(this);
}

void LumoDlg::help() {
    QDesktopServices::openUrl(
        QUrl::fromLocalFile(QString::fromStdString(programFolder()) + QStringLiteral("/help/index.html")));
}

void LumoDlg::homePage() {
    QDesktopServices::openUrl(QUrl(QString::fromLatin1(kHomePageUrl)));
}

void LumoDlg::contactUs() {
    QDesktopServices::openUrl(QUrl(QString::fromLatin1(kContactUrl)));
}

void LumoDlg::about() {
    if (dialogs_.about) dialogs_.about(this);
}

void LumoDlg::exitWindow() {
    close();
}

void LumoDlg::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
        case Qt::Key_Return:
        case Qt::Key_Enter:
            event->accept();  // swallowed: Enter starts nothing here
            return;
        case Qt::Key_Escape:
            event->accept();
            exitWindow();
            return;
        default:
            QDialog::keyPressEvent(event);
    }
}

void LumoDlg::restoreWindowState() {
    windowState_.load();
    if (!windowState_.geometry.isEmpty()) restoreGeometry(windowState_.geometry);
    if (!windowState_.browserSplitter.isEmpty()) browserSplitter_->restoreState(windowState_.browserSplitter);
    // A first start, or a remembered size from a larger screen: the window fits the screen it is on,
    // so that Start is always in reach.
    if (const QScreen* shown = screen()) {
        const QRect available = shown->availableGeometry();
        const QSize frameExtra = frameGeometry().size() - geometry().size();
        const QSize room = available.size() - frameExtra;
        if (width() > room.width() || height() > room.height())
            resize(std::min(width(), room.width()), std::min(height(), room.height()));
    }
    if (windowState_.maximised) setWindowState(windowState() | Qt::WindowMaximized);
    updateRecentMenu();
}

void LumoDlg::saveWindowState() {
    windowState_.maximised = isMaximized();
    windowState_.geometry = saveGeometry();
    windowState_.browserSplitter = browserSplitter_->saveState();
    windowState_.save();
}

void LumoDlg::closeEvent(QCloseEvent* event) {
    if (!closingWithoutAsking_ && !maybeSaveChanges()) {
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

void LumoDlg::done(int result) {
    // Every closing path (close box, Exit, Escape, the no-codec exit) ends here.
    stopWorkers();
    saveWindowState();
    // A clean end: nothing is left to restore, unless a termination signal closed the window over
    // unsaved changes nobody could be asked about.
    autosaveTimer_.stop();
    if (autosave_ && (!closingWithoutAsking_ || !hasUnsavedChanges())) autosave_->markCleanExit();
    QDialog::done(result);
}

void LumoDlg::stopWorkers() {
    // The other workers belong to modal dialogs that stop them before they close.
    if (photoBrowser_) photoBrowser_->stopWorker();
    if (storyboard_) storyboard_->stopFindingBeats();
}

}  // namespace kestrelle
