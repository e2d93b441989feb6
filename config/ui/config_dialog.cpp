#include "config/ui/config_dialog.h"

#include "base/data_folder.h"
#include "base/message_box.h"
#include "config/ui/dialog_units.h"
#include "config/ui/new_profile_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QShortcut>
#include <QSignalBlocker>
#include <QTabWidget>
#include <QToolButton>

namespace kestrelle {

namespace {

constexpr int kProfilePage = 0;
constexpr int kGeneralPage = 1;
constexpr QSize kEffectIconSize(31, 23);

QString toQString(const std::string& utf8) {
    return QString::fromStdString(utf8);
}

void setItems(QComboBox* combo, const std::vector<std::string>& items) {
    QStringList texts;
    for (const std::string& item : items) texts << toQString(item);
    combo->clear();
    combo->addItems(texts);
}

bool hasItems(const QComboBox* combo, const std::vector<std::string>& items) {
    if (combo->count() != static_cast<int>(items.size())) return false;
    for (int i = 0; i < combo->count(); ++i)
        if (combo->itemText(i) != toQString(items[static_cast<std::size_t>(i)])) return false;
    return true;
}

// Sets the text only when it differs, so the cursor stays where the user left it.
void setEditText(QLineEdit* edit, const std::string& utf8) {
    const QString value = toQString(utf8);
    if (edit->text() != value) edit->setText(value);
}

}  // namespace

ConfigDialog::ConfigDialog(SettingsStore& store, ChooseEffect chooseEffect, EffectIcon effectIcon,
                           QWidget* parent)
    : QDialog(parent),
      model_(store),
      store_(store),
      chooseEffect_(std::move(chooseEffect)),
      effectIcon_(std::move(effectIcon)),
      askProfileName_([this](QWidget* owner) { return NewProfileDialog::run(store_, owner); }) {
    setWindowTitle(QStringLiteral("Configuration"));
    setModal(true);
    buildControls();
    connectControls();
    refreshFromModel();
    refreshEffectIcon();
    showPage(kProfilePage);
}

void ConfigDialog::buildControls() {
    const DialogUnitScale units(font());
    auto label = [&](const char* caption, int x, int y, int w, int h, QList<QWidget*>& page) {
        auto* l = new QLabel(QString::fromUtf8(caption), this);
        units.place(l, x, y, w, h);
        page << l;
        return l;
    };
    // Combo boxes keep their natural height; the table's height is that of the open list.
    auto combo = [&](int x, int y, int w, QList<QWidget*>& page) {
        auto* c = new QComboBox(this);
        c->setGeometry(units.x(x), units.y(y), units.x(w), c->sizeHint().height());
        page << c;
        return c;
    };
    auto edit = [&](int x, int y, int w, int h, QList<QWidget*>& page) {
        auto* e = new QLineEdit(this);
        units.place(e, x, y, w, h);
        page << e;
        return e;
    };
    auto button = [&](const QString& caption, int x, int y, int w, int h, QList<QWidget*>* page) {
        auto* b = new QPushButton(caption, this);
        units.place(b, x, y, w, h);
        if (page != nullptr) *page << b;
        return b;
    };
    auto check = [&](const char* caption, int x, int y, int w, int h) {
        auto* c = new QCheckBox(QString::fromUtf8(caption), this);
        units.place(c, x, y, w, h);
        generalPage_ << c;
        return c;
    };
    auto* digitsOnly = new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), this);

    // The controls of both pages lie on the dialog above the tab control and are shown by page.
    tabs_ = new QTabWidget(this);
    units.place(tabs_, 7, 3, 238, 186);
    tabs_->addTab(new QWidget, QStringLiteral("Profile"));
    tabs_->addTab(new QWidget, QStringLiteral("General"));

    label("Profile", 13, 23, 47, 8, profilePage_)->setBuddy(profileCombo_ = combo(78, 20, 121, profilePage_));
    newButton_ = button(QStringLiteral("New"), 202, 20, 18, 13, &profilePage_);
    newButton_->setToolTip(QStringLiteral("Create a new profile"));
    deleteButton_ = button(QStringLiteral("Del"), 222, 20, 18, 13, &profilePage_);
    deleteButton_->setToolTip(QStringLiteral("Delete the current profile"));

    label("Frame Rate:", 13, 40, 48, 8, profilePage_)
        ->setBuddy(frameRateCombo_ = combo(78, 38, 160, profilePage_));
    setItems(frameRateCombo_, frameRateChoices());

    label("Resolution:", 13, 59, 47, 8, profilePage_)
        ->setBuddy(widthEdit_ = edit(78, 56, 32, 12, profilePage_));
    widthEdit_->setAccessibleName(tr("Frame width"));
    label("X", 118, 58, 8, 8, profilePage_);
    heightEdit_ = edit(130, 56, 32, 12, profilePage_);
    heightEdit_->setAccessibleName(tr("Frame height"));

    label("Video Bitrate:", 13, 77, 59, 8, profilePage_)
        ->setBuddy(videoBitRateEdit_ = edit(78, 74, 52, 12, profilePage_));
    label("kbps", 136, 75, 16, 8, profilePage_);
    for (QLineEdit* e : {widthEdit_, heightEdit_, videoBitRateEdit_}) e->setValidator(digitsOnly);

    label("Audio Bitrate:", 13, 96, 59, 8, profilePage_)
        ->setBuddy(audioBitRateCombo_ = combo(78, 92, 52, profilePage_));
    setItems(audioBitRateCombo_, audioBitRateChoices());
    label("kbps", 136, 94, 16, 8, profilePage_);

    label("Video Codec:", 13, 114, 59, 8, profilePage_)
        ->setBuddy(codecCombo_ = combo(78, 110, 109, profilePage_));
    setItems(codecCombo_, model_.codecNames());
    configureButton_ = button(QStringLiteral("Configure"), 189, 111, 50, 12, &profilePage_);

    playSoundCheck_ = check("Play sound when ripping finished", 13, 20, 153, 10);
    shutDownCheck_ = check("Shut down computer when job is done", 13, 37, 153, 10);
    label("Default Slide Duration", 13, 54, 118, 8, generalPage_)
        ->setBuddy(slideDurationEdit_ = edit(138, 49, 40, 14, generalPage_));
    label("S", 181, 52, 8, 8, generalPage_);
    label("Default Transition Duration", 13, 69, 118, 8, generalPage_)
        ->setBuddy(transitionDurationEdit_ = edit(138, 66, 40, 14, generalPage_));
    label("S", 181, 69, 8, 8, generalPage_);
    // The music fade's row sits below the durations; the effect and the apply box moved down 15 units
    // and the dialog grew by as much.
    label("Music Crossfade and Fade-out", 13, 86, 118, 8, generalPage_)
        ->setBuddy(audioFadeEdit_ = edit(138, 83, 40, 14, generalPage_));
    audioFadeEdit_->setAccessibleName(tr("Music crossfade and fade-out, in seconds"));
    audioFadeEdit_->setToolTip(
        tr("Seconds of the crossfade between music clips and of the fade-out at the end of the show (0 to "
           "10)"));
    label("S", 181, 86, 8, 8, generalPage_);
    QLabel* effectLabel = label("Default Transition Effect", 13, 106, 118, 8, generalPage_);
    effectButton_ = new QToolButton(this);
    units.place(effectButton_, 137, 101, 22, 18);
    effectButton_->setIconSize(kEffectIconSize);
    effectButton_->setToolButtonStyle(Qt::ToolButtonIconOnly);
    effectButton_->setFocusPolicy(Qt::StrongFocus);
    effectButton_->setAccessibleName(tr("Default Transition Effect"));
    effectButton_->setToolTip(tr("Choose the default transition effect"));
    effectLabel->setBuddy(effectButton_);
    generalPage_ << effectButton_;
    // The look of new slides sits below the effect, in rows like the durations'; the apply box, the
    // tab control, the buttons and the dialog moved down 47 units to make room.
    label("Motion for new slides:", 13, 126, 118, 8, generalPage_)
        ->setBuddy(motionCombo_ = combo(138, 123, 100, generalPage_));
    setItems(motionCombo_, newSlideMotionChoices());
    motionCombo_->setAccessibleName(tr("Motion for new slides"));
    motionCombo_->setToolTip(tr("Gentle random moves each new slide with a slow, small zoom or pan"));
    label("Fit for new slides:", 13, 143, 118, 8, generalPage_)
        ->setBuddy(fitCombo_ = combo(138, 140, 100, generalPage_));
    setItems(fitCombo_, newSlideFitChoices());
    fitCombo_->setAccessibleName(tr("Fit for new slides"));
    fitCombo_->setToolTip(tr("How a photo of another shape than the video fills the frame"));
    enlargeCheck_ = check("Enlarge small photos", 13, 158, 179, 10);
    enlargeCheck_->setToolTip(
        tr("Scale photos smaller than the video up instead of showing them at their own "
           "size"));
    applyCheck_ = check("Apply to the current slideshow", 13, 175, 179, 10);

    okButton_ = button(QStringLiteral("OK"), 7, 193, 50, 14, nullptr);
    okButton_->setDefault(true);
    cancelButton_ = button(QStringLiteral("Cancel"), 195, 193, 50, 14, nullptr);

    setFixedSize(units.x(252), units.y(211));
}

void ConfigDialog::connectControls() {
    connect(tabs_, &QTabWidget::currentChanged, this, &ConfigDialog::showPage);
    // The page controls lie outside the tab control, so the usual page keys are added to the dialog.
    auto switchPageOn = [this](const QKeySequence& keys) {
        connect(new QShortcut(keys, this), &QShortcut::activated, this,
                [this] { tabs_->setCurrentIndex(1 - tabs_->currentIndex()); });
    };
    switchPageOn(QKeySequence(Qt::CTRL | Qt::Key_Tab));
    switchPageOn(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Tab));
    switchPageOn(QKeySequence(Qt::CTRL | Qt::Key_PageDown));
    switchPageOn(QKeySequence(Qt::CTRL | Qt::Key_PageUp));

    connect(profileCombo_, &QComboBox::activated, this, [this](int index) {
        model_.chooseProfile(index);
        refreshFromModel();
    });
    connect(newButton_, &QPushButton::clicked, this, &ConfigDialog::pressNew);
    connect(deleteButton_, &QPushButton::clicked, this, &ConfigDialog::pressDelete);
    connect(frameRateCombo_, &QComboBox::activated, this,
            [this](int index) { model_.chooseFrameRate(index); });
    connect(audioBitRateCombo_, &QComboBox::activated, this,
            [this](int index) { model_.chooseAudioBitRate(index); });
    connect(codecCombo_, &QComboBox::activated, this, [this](int index) {
        model_.chooseCodec(index);
        refreshFromModel();
    });
    connect(configureButton_, &QPushButton::clicked, this, &ConfigDialog::pressConfigure);

    const std::pair<QLineEdit*, ProfileEdit> profileEdits[] = {
        {widthEdit_, ProfileEdit::Width},
        {heightEdit_, ProfileEdit::Height},
        {videoBitRateEdit_, ProfileEdit::VideoBitRate}};
    for (const auto& [editWidget, which] : profileEdits) {
        connect(editWidget, &QLineEdit::textEdited, this, [this, which = which](const QString& value) {
            model_.changeEditText(which, value.toStdString());
        });
    }
    connect(videoBitRateEdit_, &QLineEdit::editingFinished, this, [this] {
        model_.leaveVideoBitRate();
        refreshFromModel();
    });

    connect(playSoundCheck_, &QCheckBox::toggled, this, [this](bool on) { model_.setPlaySound(on); });
    connect(shutDownCheck_, &QCheckBox::toggled, this, [this](bool on) { model_.setShutDown(on); });
    connect(applyCheck_, &QCheckBox::toggled, this,
            [this](bool on) { model_.setApplyToCurrentSlideshow(on); });
    connect(slideDurationEdit_, &QLineEdit::textEdited, this,
            [this](const QString& value) { model_.changeSlideDurationText(value.toStdString()); });
    connect(transitionDurationEdit_, &QLineEdit::textEdited, this,
            [this](const QString& value) { model_.changeTransitionDurationText(value.toStdString()); });
    connect(audioFadeEdit_, &QLineEdit::textEdited, this,
            [this](const QString& value) { model_.changeAudioFadeText(value.toStdString()); });
    connect(audioFadeEdit_, &QLineEdit::editingFinished, this, [this] {
        model_.leaveAudioFade();
        refreshFromModel();
    });
    connect(slideDurationEdit_, &QLineEdit::editingFinished, this, [this] {
        model_.leaveSlideDuration();
        refreshFromModel();
    });
    connect(transitionDurationEdit_, &QLineEdit::editingFinished, this, [this] {
        model_.leaveTransitionDuration();
        refreshFromModel();
    });
    connect(effectButton_, &QToolButton::clicked, this, &ConfigDialog::pressEffect);
    connect(motionCombo_, &QComboBox::activated, this,
            [this](int index) { model_.chooseNewSlideMotion(index); });
    connect(fitCombo_, &QComboBox::activated, this, [this](int index) { model_.chooseNewSlideFit(index); });
    connect(enlargeCheck_, &QCheckBox::toggled, this, [this](bool on) { model_.setEnlargeSmallPhotos(on); });

    connect(okButton_, &QPushButton::clicked, this, &ConfigDialog::pressOk);
    connect(cancelButton_, &QPushButton::clicked, this, &ConfigDialog::pressCancel);
}

void ConfigDialog::showPage(int page) {
    const bool general = page == kGeneralPage;
    for (QWidget* w : profilePage_) w->setVisible(!general);
    for (QWidget* w : generalPage_) w->setVisible(general);
    if (tabs_->currentIndex() != page && page >= 0 && page < tabs_->count()) {
        const QSignalBlocker blocker(tabs_);
        tabs_->setCurrentIndex(page);
    }
}

void ConfigDialog::refreshFromModel() {
    const QSignalBlocker blockProfiles(profileCombo_);
    if (!hasItems(profileCombo_, model_.profileNames())) setItems(profileCombo_, model_.profileNames());
    profileCombo_->setCurrentIndex(model_.profileSelection());

    const QSignalBlocker blockCodecs(codecCombo_);
    codecCombo_->setCurrentIndex(model_.codecSelection());
    configureButton_->setEnabled(model_.configureEnabled());
    const QSignalBlocker blockFrameRate(frameRateCombo_);
    // 60 fps comes and goes with the codec's container.
    const std::vector<std::string> frameRates = model_.offeredFrameRates();
    if (!hasItems(frameRateCombo_, frameRates)) setItems(frameRateCombo_, frameRates);
    frameRateCombo_->setCurrentIndex(model_.frameRateSelection());
    const QSignalBlocker blockAudio(audioBitRateCombo_);
    audioBitRateCombo_->setCurrentIndex(model_.audioBitRateSelection());

    setEditText(widthEdit_, model_.editText(ProfileEdit::Width));
    setEditText(heightEdit_, model_.editText(ProfileEdit::Height));
    setEditText(videoBitRateEdit_, model_.editText(ProfileEdit::VideoBitRate));

    const QSignalBlocker blockPlay(playSoundCheck_);
    playSoundCheck_->setChecked(model_.playSound());
    const QSignalBlocker blockShutDown(shutDownCheck_);
    shutDownCheck_->setChecked(model_.shutDown());
    const QSignalBlocker blockMotion(motionCombo_);
    motionCombo_->setCurrentIndex(static_cast<int>(model_.newSlideMotion()));
    const QSignalBlocker blockFit(fitCombo_);
    fitCombo_->setCurrentIndex(static_cast<int>(model_.newSlideFit()));
    const QSignalBlocker blockEnlarge(enlargeCheck_);
    enlargeCheck_->setChecked(model_.enlargeSmallPhotos());
    const QSignalBlocker blockApply(applyCheck_);
    applyCheck_->setChecked(model_.applyToCurrentSlideshow());
    setEditText(slideDurationEdit_, model_.slideDurationText());
    setEditText(transitionDurationEdit_, model_.transitionDurationText());
    setEditText(audioFadeEdit_, model_.audioFadeText());
}

void ConfigDialog::refreshEffectIcon() {
    effectButton_->setIcon(effectIcon_ ? effectIcon_(model_.defaultEffect()) : QIcon());
    effectButton_->update();
}

void ConfigDialog::pressNew() {
    const ConfigDialogModel::NewProfileResult result =
        model_.newProfile([this]() { return askProfileName_ ? askProfileName_(this) : std::nullopt; });
    refreshFromModel();
    if (result == ConfigDialogModel::NewProfileResult::AddedButFileNotWritten)
        showMessage(model_.profileFileFailureText(), MessageFlags::kWarningOk);
}

void ConfigDialog::pressDelete() {
    model_.deleteShownProfile();
    refreshFromModel();
}

void ConfigDialog::pressConfigure() {
    model_.configureSelectedCodec(this);
}

void ConfigDialog::pressEffect() {
    if (!chooseEffect_) return;
    const std::optional<int> effect = chooseEffect_(this);
    if (!effect) return;
    model_.setDefaultEffect(*effect);
    refreshEffectIcon();
}

void ConfigDialog::tellIfNotSaved(ConfigDialogModel::SaveResult result) {
    if (result == ConfigDialogModel::SaveResult::Failed)
        showMessage(model_.saveFailureText(), MessageFlags::kWarningOk);
}

void ConfigDialog::pressOk() {
    tellIfNotSaved(model_.accept());
    closedBy_ = ClosedBy::Ok;
    Q_EMIT refreshProfileListRequested();
    if (model_.applyToCurrentSlideshow()) Q_EMIT applyDefaultsToAllSlidesRequested();
    done(QDialog::Accepted);
}

void ConfigDialog::pressCancel() {
    tellIfNotSaved(model_.cancel());
    closedBy_ = ClosedBy::Cancel;
    Q_EMIT refreshProfileListRequested();
    done(QDialog::Rejected);
}

void ConfigDialog::reject() {
    closedBy_ = ClosedBy::CloseBox;
    Q_EMIT refreshProfileListRequested();
    QDialog::reject();
}

}  // namespace kestrelle
