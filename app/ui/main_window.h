#pragma once
// The main window, "Kestrelle": the folder tree and the photo browser (step 1), the storyboard
// (step 2), and the profile, file name, target folder and Start (step 3), with the menus.

#include "app/ui/main_window_parts.h"

#include "app/window_state.h"
#include "project/autosave.h"
#include "project/project_file.h"

#include <QByteArray>
#include <QDialog>
#include <QTimer>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

class QAction;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QMenuBar;
class QPushButton;
class QSplitter;

namespace kestrelle {

class FolderTree;
class PhotoBrowser;
class ProjectHistory;
struct DragPayload;
class SettingsStore;
class SlideShowProject;
class StoryboardControl;

class LumoDlg final : public QDialog {
    Q_OBJECT
public:
    // The window works on `store` (the program passes SettingsStore::instance()) and opens the
    // dialogs in `dialogs`.
    explicit LumoDlg(SettingsStore& store, MainWindowDialogs dialogs = programDialogs(),
                     QWidget* parent = nullptr);
    ~LumoDlg() override;

    SlideShowProject& project();
    // Every change to the slideshow is an undo step here; its clean state is "no unsaved changes".
    ProjectHistory& history();

    // The open project file ("" before the first save) and the name the title and questions use
    // ("Untitled" before the first save).
    const QString& projectPath() const { return projectPath_; }
    QString projectName() const;
    bool hasUnsavedChanges() const;
    // Where the slideshow is autosaved ("" without a data folder), and whether this start found one
    // left by a run that did not end cleanly.
    std::string autosavePath() const { return autosave_ ? autosave_->autosavePath() : std::string(); }
    bool autosaveRestorable() const { return autosaveRestorable_; }

    // Free bytes of a folder's volume, for Start (freeDiskBytes unless replaced).
    void setFreeSpaceQuery(std::function<std::uint64_t(const std::string&)> query);

    // Shows the window in its normal state and brings it to the front (a later start of the program).
    void bringToFront();

    // The controls, for tests and the gallery.
    QComboBox* profileList() const { return profileList_; }
    QLabel* extensionLabel() const { return extensionLabel_; }
    QLineEdit* fileNameEdit() const { return fileName_; }
    QLineEdit* targetEdit() const { return target_; }
    QMenuBar* menuBar() const { return menuBar_; }
    QAction* outputAction() const { return outputAction_; }
    QAction* newAction() const { return newAction_; }
    QAction* openAction() const { return openAction_; }
    QAction* saveAction() const { return saveAction_; }
    QAction* saveAsAction() const { return saveAsAction_; }
    QAction* undoAction() const { return undoAction_; }
    QAction* redoAction() const { return redoAction_; }
    QMenu* recentMenu() const { return recentMenu_; }
    QMenu* editMenu() const { return editMenu_; }
    QAction* selectAllAction() const { return selectAllAction_; }
    QAction* deleteAction() const { return deleteAction_; }
    QAction* fitToMusicAction() const { return fitToMusicAction_; }
    QAction* fitToBeatsAction() const { return fitToBeatsAction_; }
    QPushButton* photoModeButton() const { return photoMode_; }
    QPushButton* audioModeButton() const { return audioMode_; }
    QSplitter* browserSplitter() const { return browserSplitter_; }
    QPushButton* startButton() const { return start_; }
    FolderTree* folderTree() const { return folderTree_; }
    PhotoBrowser* photoBrowser() const { return photoBrowser_; }
    StoryboardControl* storyboard() const { return storyboard_; }

public Q_SLOTS:
    // Message kOpenFolderMessage: log the folder and open it in the photo browser.
    void openFolder(const QString& path);
    // The same with the path's own bytes (names that are not valid UTF-8 included); the folder tree's
    // selections arrive here.
    void openFolderPath(const QByteArray& path);
    // Message kProfilesChangedMessage: refill the profile list and select the current profile.
    void refreshProfiles();
    void updateExtensionLabel();
    // Message kApplyDefaultsMessage: the default durations and effect to every slide.
    void applyDefaults();
    // The photo browser's selection added from the keyboard: photos after the last photo slide, WAV
    // files at the end of the soundtrack, exactly as a drop there.
    void addToStoryboard(const kestrelle::DragPayload& payload);
    // "Fit to Music" and "Fit to Music on the Beats" in the File menu (the storyboard's commands).
    void fitToMusic(bool onBeats);

    void start();
    void preview();
    void browse();
    void configure();
    // "New": an empty slideshow, after asking to save changes.
    void newSlide();
    // "Open...": asks to save changes, then picks a project file and opens it.
    void openProject();
    // Opens `path` after asking to save changes (Open Recent, the command line, a later start). False
    // when the user cancelled or the file could not be read (the open slideshow then stays as it was).
    bool openProjectFile(const QString& path);
    // "Save" (Save As when the slideshow has no file yet) and "Save As..."; false when cancelled or
    // failed.
    bool save();
    bool saveAs();
    // "Save a Copy with All Photos...": the project and every photo and clip it uses, copied into the
    // folder of a file the user names; the open slideshow stays as it is.
    void saveCopyWithAllPhotos();
    // "Find Missing Photos...": searches the project's folder and a folder the user picks for photos
    // that are no longer where they were, and puts the found ones back on their slides (one undo step).
    void findMissingPhotos();
    // Asks "Save changes to NAME?" when something changed; false when the user cancelled (or saving
    // failed), true when the caller may go on.
    bool maybeSaveChanges();
    // A slideshow left by a crash or a kill: offers to restore it (true when restored). The program
    // calls it once the window shows.
    bool offerAutosaveRestore();
    // Writes the autosave now (the timer's work; a session end or a termination signal calls it too).
    void autosaveNow();
    // Closes the window without asking, keeping the autosave when something is unsaved (a termination
    // signal: there is nobody to ask).
    void closeWithoutAsking();
    void exportLog();
    void help();
    void homePage();
    void contactUs();
    void about();

    // Ends the window through the normal close (workers stopped; the program then saves the settings).
    void exitWindow();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void done(int result) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void buildControls();
    void buildMenus();
    void fillFromSettings();
    void fileNameChanged(const QString& text);
    void profileSelected(int index);
    void stopWorkers();
    // The size, maximised state and splitter kept in window.ini (app/window_state.h).
    void restoreWindowState();
    void saveWindowState();
    void updateFitToMusicActions();
    void updateTitle();
    void updateRecentMenu();
    void rememberRecent(const QString& path);
    ProjectDocument documentToSave() const;
    bool writeProject(const QString& path);
    bool openWithoutAsking(const QString& path);
    // Start and Preview: whether to go on when photos are missing (they render black).
    bool acceptMissingPhotos();

    SettingsStore& store_;
    MainWindowDialogs dialogs_;
    WindowState windowState_;
    std::optional<AutosaveFile> autosave_;
    bool autosaveRestorable_ = false;
    QTimer autosaveTimer_;
    QString projectPath_;
    bool closingWithoutAsking_ = false;
    std::function<std::uint64_t(const std::string&)> freeSpaceQuery_;

    QMenuBar* menuBar_ = nullptr;
    QAction* outputAction_ = nullptr;
    QAction* fitToMusicAction_ = nullptr;
    QAction* fitToBeatsAction_ = nullptr;
    QAction* newAction_ = nullptr;
    QAction* openAction_ = nullptr;
    QAction* saveAction_ = nullptr;
    QAction* saveAsAction_ = nullptr;
    QAction* undoAction_ = nullptr;
    QAction* redoAction_ = nullptr;
    QAction* selectAllAction_ = nullptr;
    QAction* deleteAction_ = nullptr;
    QMenu* recentMenu_ = nullptr;
    QMenu* editMenu_ = nullptr;
    QSplitter* browserSplitter_ = nullptr;
    QWidget* client_ = nullptr;
    QLabel* stepTexts_[3] = {};
    FolderTree* folderTree_ = nullptr;
    PhotoBrowser* photoBrowser_ = nullptr;
    StoryboardControl* storyboard_ = nullptr;
    QGroupBox* frame_ = nullptr;
    QComboBox* profileList_ = nullptr;
    // ".avi" or ".mp4" beside the file name: the current profile's codec decides.
    QLabel* extensionLabel_ = nullptr;
    QLineEdit* fileName_ = nullptr;
    QLineEdit* target_ = nullptr;
    QPushButton* browse_ = nullptr;
    QPushButton* config_ = nullptr;
    QPushButton* preview_ = nullptr;
    QPushButton* start_ = nullptr;
    QPushButton* photoMode_ = nullptr;
    QPushButton* audioMode_ = nullptr;
};

}  // namespace kestrelle
