#include "app/ui/main_window.h"

#include "app/start_checks.h"
#include "app/ui/folder_tree.h"
#include "app/ui/photo_browser.h"
#include "app/ui/program_icon.h"
#include "base/data_folder.h"
#include "base/message_box.h"
#include "base/run_log.h"
#include "config/combo_sink.h"
#include "config/settings_store.h"
#include "config/ui/dialog_units.h"
#include "project/photo_drag_payload.h"
#include "project/slideshow_project.h"
#include "project/timeline.h"
#include "project/ui/storyboard_control.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDesktopServices>
#include <QFile>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>

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

// The storyboard's distance from the sides of the window, and from the texts above and below it.
constexpr int kStoryboardMargin = 10;
constexpr int kStoryboardGapAbove = 4;
constexpr int kStoryboardGapBelow = 2;

}  // namespace

LumoDlg::LumoDlg(SettingsStore& store, MainWindowDialogs dialogs, QWidget* parent)
    : QDialog(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint),
      store_(store),
      dialogs_(std::move(dialogs)) {
    setWindowTitle(QStringLiteral("Kestrelle"));
    setObjectName(QStringLiteral("LumoDlg"));
    setWindowIcon(programIcon());
    buildMenus();
    buildControls();
    fillFromSettings();
    // The tree lists its places and selects the stored folder again, which opens it in the browser.
    folderTree_->build();
}

LumoDlg::~LumoDlg() {
    stopWorkers();
}

SlideShowProject& LumoDlg::project() {
    return storyboard_->project();
}

void LumoDlg::setFreeSpaceQuery(std::function<std::uint64_t(const std::string&)> query) {
    freeSpaceQuery_ = std::move(query);
}

void LumoDlg::buildMenus() {
    menuBar_ = new QMenuBar(this);
    QMenu* file = menuBar_->addMenu(QStringLiteral("&File"));
    connect(file->addAction(QStringLiteral("New Slide")), &QAction::triggered, this, &LumoDlg::newSlide);
    // Commands on the whole slideshow, beside "New Slide"; enabled while there are clips and photos.
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
}

void LumoDlg::buildControls() {
    client_ = new QWidget(this);
    const DialogUnitScale units(font());
    client_->setFixedSize(units.x(603), units.y(383));

    QFont stepFont(QStringLiteral("Arial"));
    stepFont.setPixelSize(14);
    stepFont.setWeight(QFont::Normal);

    // Created in reading order, which is also the tab order.
    stepTexts_[0] = makeLabel(QString::fromLatin1(kStepTexts[0]), client_);
    // The step 1 row ends where the browser's mode buttons begin.
    stepTexts_[0]->setGeometry(units.rect(7, 1, 498, 13));

    // The browser's photo and audio modes, at the right of the step 1 row above the browser they switch.
    photoMode_ = makeButton(QStringLiteral("Photo"), client_);
    audioMode_ = makeButton(QStringLiteral("Audio"), client_);
    photoMode_->setGeometry(units.rect(509, 1, 42, 13));
    audioMode_->setGeometry(units.rect(555, 1, 42, 13));
    photoMode_->setToolTip(QStringLiteral("List the folder's photos"));
    audioMode_->setToolTip(QStringLiteral("List the folder's audio files, to drag onto the soundtrack"));
    for (QPushButton* mode : {photoMode_, audioMode_}) {
        mode->setCheckable(true);
        mode->setAutoExclusive(true);
        mode->setAccessibleDescription(mode->toolTip());
    }

    folderTree_ = new FolderTree(std::make_unique<LocalFolderSource>(), store_, client_);
    folderTree_->setGeometry(units.rect(7, 15, 194, 177));

    photoBrowser_ = new PhotoBrowser(client_);
    photoBrowser_->setGeometry(units.rect(209, 15, 388, 177));

    stepTexts_[1] = makeLabel(QString::fromLatin1(kStepTexts[1]), client_);
    stepTexts_[1]->setGeometry(units.rect(7, 197, 590, 13));

    // New slides take the defaults of the store this window works on.
    storyboard_ = new StoryboardControl(client_, [this] {
        const AppSettings& settings = store_.settings();
        return SlideDefaults{settings.DefaultSlideDuration, settings.DefaultTransitionDuration,
                             settings.DefaultSlideIndex};
    });
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

    // The storyboard sits right under the step 2 text (the fixed pixel row it had under a smaller
    // system font would cover the text and the photo browser here), 10 pixels in from either side, and
    // tall enough to show both its lines. Everything from the step 3 text down moves down by what the
    // storyboard needs beyond the room the layout in dialog units leaves it, and the window grows by
    // as much.
    const int storyboardTop = stepTexts_[1]->geometry().bottom() + kStoryboardGapAbove;
    const int storyboardBottom = storyboardTop + storyboard_->heightForBothLines();
    const int step3Top = units.rect(7, 293, 590, 15).top();
    storyboardRoom_ = std::max(0, storyboardBottom + kStoryboardGapBelow - step3Top);
    storyboard_->setGeometry(QRect(QPoint(kStoryboardMargin, storyboardTop),
                                   QPoint(client_->width() - kStoryboardMargin - 1, storyboardBottom - 1)));
    client_->setFixedSize(units.x(603), units.y(383) + storyboardRoom_);
    // A rectangle in dialog units of the part below the storyboard, moved down with it.
    const auto below = [&units, this](int left, int top, int width, int height) {
        return units.rect(left, top, width, height).translated(0, storyboardRoom_);
    };

    stepTexts_[2] = makeLabel(QString::fromLatin1(kStepTexts[2]), client_);
    stepTexts_[2]->setGeometry(below(7, 293, 590, 15));
    for (QLabel* text : stepTexts_) text->setFont(stepFont);

    frame_ = new QGroupBox(client_);
    frame_->setGeometry(below(7, 306, 541, 68));

    auto* profileLabel = makeLabel(QStringLiteral("Profile"), client_);
    profileLabel->setGeometry(below(13, 318, 37, 10));
    profileList_ = new QComboBox(client_);
    const QRect profileRect = below(56, 315, 195, 13);
    profileList_->setGeometry(
        profileRect.adjusted(0, 0, 0, std::max(0, profileList_->sizeHint().height() - profileRect.height())));
    profileLabel->setBuddy(profileList_);
    config_ = makeButton(QStringLiteral("Config"), client_);
    config_->setGeometry(below(256, 315, 36, 15));

    auto* nameLabel = makeLabel(QStringLiteral("File Name:"), client_);
    nameLabel->setGeometry(below(13, 335, 42, 10));
    fileName_ = new QLineEdit(client_);
    fileName_->setGeometry(below(56, 333, 195, 15));
    nameLabel->setBuddy(fileName_);
    auto* aviLabel = makeLabel(QStringLiteral(".avi"), client_);
    aviLabel->setGeometry(below(256, 336, 17, 10));

    auto* targetLabel = makeLabel(QStringLiteral("Target:"), client_);
    targetLabel->setGeometry(below(13, 354, 42, 10));
    target_ = new QLineEdit(client_);
    target_->setReadOnly(true);
    target_->setGeometry(below(56, 354, 195, 15));
    targetLabel->setBuddy(target_);
    browse_ = makeButton(QStringLiteral("Browse"), client_);
    browse_->setGeometry(below(256, 354, 36, 15));

    preview_ = makeButton(QStringLiteral("Preview"), client_);
    preview_->setGeometry(below(553, 309, 44, 14));
    start_ = makeButton(QStringLiteral("Start"), client_);
    start_->setGeometry(below(553, 333, 44, 42));

    // Each label's text sits level with the text of its field.
    for (QLabel* label : {profileLabel, nameLabel, targetLabel, aviLabel}) {
        const QWidget* field = label == aviLabel ? fileName_ : label->buddy();
        const QRect place = label->geometry();
        label->setGeometry(place.left(), field->y(), place.width(), field->height());
    }

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
    layout->setMenuBar(menuBar_);
    layout->addWidget(client_);
    layout->setSizeConstraint(QLayout::SetFixedSize);
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
}

void LumoDlg::applyDefaults() {
    project().applyDefaultsToAll();
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
    StartRequest request{store_, project(), fileName_->text().toStdString(), freeSpaceQuery_};
    switch (checkStart(request)) {
        case StartDecision::Go:
            if (dialogs_.generate)
                dialogs_.generate(this, store_, project(),
                                  outputFilePath(store_.targetPath(), store_.outputName()));
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
    project().resetProject();
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

void LumoDlg::done(int result) {
    // Every closing path (close box, Exit, Escape, the no-codec exit) ends here.
    stopWorkers();
    QDialog::done(result);
}

void LumoDlg::stopWorkers() {
    // The other workers belong to modal dialogs that stop them before they close.
    if (photoBrowser_) photoBrowser_->stopWorker();
    if (storyboard_) storyboard_->stopFindingBeats();
}

}  // namespace kestrelle
