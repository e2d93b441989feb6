#pragma once
// The main window, "Kestrelle": the folder tree and the photo browser (step 1), the storyboard
// (step 2), and the profile, file name, target folder and Start (step 3), with the menus.

#include "app/ui/main_window_parts.h"

#include <QByteArray>
#include <QDialog>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class QAction;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenuBar;
class QPushButton;

namespace kestrelle {

class FolderTree;
class PhotoBrowser;
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

    // Free bytes of a folder's volume, for Start (freeDiskBytes unless replaced).
    void setFreeSpaceQuery(std::function<std::uint64_t(const std::string&)> query);

    // Shows the window in its normal state and brings it to the front (a later start of the program).
    void bringToFront();

    // The controls, for tests and the gallery.
    QComboBox* profileList() const { return profileList_; }
    QLineEdit* fileNameEdit() const { return fileName_; }
    QLineEdit* targetEdit() const { return target_; }
    QMenuBar* menuBar() const { return menuBar_; }
    QAction* outputAction() const { return outputAction_; }
    QAction* fitToMusicAction() const { return fitToMusicAction_; }
    QAction* fitToBeatsAction() const { return fitToBeatsAction_; }
    QPushButton* photoModeButton() const { return photoMode_; }
    QPushButton* audioModeButton() const { return audioMode_; }
    // How far everything below the storyboard moved down (and the window grew) so that the storyboard
    // shows both its lines, in pixels.
    int storyboardRoom() const { return storyboardRoom_; }
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
    void newSlide();
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

private:
    void buildControls();
    void buildMenus();
    void fillFromSettings();
    void fileNameChanged(const QString& text);
    void profileSelected(int index);
    void stopWorkers();
    void updateFitToMusicActions();

    SettingsStore& store_;
    MainWindowDialogs dialogs_;
    std::function<std::uint64_t(const std::string&)> freeSpaceQuery_;

    QMenuBar* menuBar_ = nullptr;
    QAction* outputAction_ = nullptr;
    QAction* fitToMusicAction_ = nullptr;
    QAction* fitToBeatsAction_ = nullptr;
    int storyboardRoom_ = 0;
    QWidget* client_ = nullptr;
    QLabel* stepTexts_[3] = {};
    FolderTree* folderTree_ = nullptr;
    PhotoBrowser* photoBrowser_ = nullptr;
    StoryboardControl* storyboard_ = nullptr;
    QGroupBox* frame_ = nullptr;
    QComboBox* profileList_ = nullptr;
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
