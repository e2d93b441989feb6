#pragma once
// The "Configuration" dialog: the output profiles (page "Profile": create, delete, frame rate, frame
// size, bit rates, codec and its own settings) and the general defaults (page "General": finish sound,
// shutdown, default slide and transition durations, the music's crossfade and fade-out, default
// transition effect, and the motion, fit and enlarging of new slides). The work is done by
// ConfigDialogModel on the given store; this window shows it and forwards the user's actions.
//
// Use from the main window:
//
//   ConfigDialog dialog(SettingsStore::instance(), chooseEffect, effectIcon, this);
//   connect(&dialog, &ConfigDialog::refreshProfileListRequested, this, &MainWindow::refreshProfiles);
//   connect(&dialog, &ConfigDialog::applyDefaultsToAllSlidesRequested, this, &MainWindow::applyDefaults);
//   dialog.exec();  // Accepted after OK; Rejected after Cancel, Escape or the close box
//
// How it closes:
// - OK takes the general values and any profile edits into the store, saves it, emits
//   refreshProfileListRequested and, when "Apply to the current slideshow" is ticked,
//   applyDefaultsToAllSlidesRequested.
// - Cancel saves the store as it stands (profiles added or deleted, edits confirmed in a question)
//   without the General page's values, then emits refreshProfileListRequested.
// - Escape and the close box save nothing, and emit refreshProfileListRequested as well: New and Del
//   change the profile list at once, so the opener must refresh its list however the dialog ends.

#include "config/config_dialog_model.h"

#include <QDialog>
#include <QIcon>

#include <functional>
#include <optional>
#include <string>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTabWidget;
class QToolButton;

namespace kestrelle {

class ConfigDialog final : public QDialog {
    Q_OBJECT
public:
    // Opens the transition chooser without a project over `parent`: the effect number picked (0 to
    // 12), or nullopt when the chooser was closed without a choice.
    using ChooseEffect = std::function<std::optional<int>(QWidget* parent)>;
    // The icon of a transition effect number, for the default-effect button.
    using EffectIcon = std::function<QIcon(int effect)>;
    // Asks for a new profile's name; nullopt for Cancel. The default runs NewProfileDialog.
    using AskProfileName = std::function<std::optional<std::string>(QWidget* parent)>;

    // The close that ended the dialog.
    enum class ClosedBy { None, Ok, Cancel, CloseBox };

    // The main window's private messages these signals stand in for.
    static constexpr int kRefreshProfilesMessage = 2026;
    static constexpr int kApplyDefaultsMessage = 2027;

    // The dialog works on `store`, which must outlive it. Empty functions leave the default-effect
    // button without icon and without chooser.
    ConfigDialog(SettingsStore& store, ChooseEffect chooseEffect, EffectIcon effectIcon,
                 QWidget* parent = nullptr);

    // Replaces the name dialog of New (tests).
    void setProfileNameAsker(AskProfileName asker) { askProfileName_ = std::move(asker); }

    ClosedBy closedBy() const { return closedBy_; }
    const ConfigDialogModel& model() const { return model_; }

    // The controls, for tests and the gallery.
    QTabWidget* tabs() const { return tabs_; }
    QComboBox* profileCombo() const { return profileCombo_; }
    QPushButton* newButton() const { return newButton_; }
    QPushButton* deleteButton() const { return deleteButton_; }
    QComboBox* frameRateCombo() const { return frameRateCombo_; }
    QLineEdit* widthEdit() const { return widthEdit_; }
    QLineEdit* heightEdit() const { return heightEdit_; }
    QLineEdit* videoBitRateEdit() const { return videoBitRateEdit_; }
    QComboBox* audioBitRateCombo() const { return audioBitRateCombo_; }
    QComboBox* codecCombo() const { return codecCombo_; }
    QPushButton* configureButton() const { return configureButton_; }
    QCheckBox* playSoundCheck() const { return playSoundCheck_; }
    QCheckBox* shutDownCheck() const { return shutDownCheck_; }
    QLineEdit* slideDurationEdit() const { return slideDurationEdit_; }
    QLineEdit* transitionDurationEdit() const { return transitionDurationEdit_; }
    QLineEdit* audioFadeEdit() const { return audioFadeEdit_; }
    QToolButton* effectButton() const { return effectButton_; }
    QComboBox* motionCombo() const { return motionCombo_; }
    QComboBox* fitCombo() const { return fitCombo_; }
    QCheckBox* enlargeCheck() const { return enlargeCheck_; }
    QCheckBox* applyCheck() const { return applyCheck_; }
    QPushButton* okButton() const { return okButton_; }
    QPushButton* cancelButton() const { return cancelButton_; }

Q_SIGNALS:
    // Refill the profile list and select the current profile (message 2026). Sent however the dialog
    // closes.
    void refreshProfileListRequested();
    // Give every slide the default durations and effect (message 2027). Sent on OK when "Apply to the
    // current slideshow" is ticked.
    void applyDefaultsToAllSlidesRequested();

public Q_SLOTS:
    void pressOk();
    void pressCancel();
    // Escape and the close box: closes without saving.
    void reject() override;

private:
    void buildControls();
    void connectControls();
    void showPage(int page);
    void refreshFromModel();
    void refreshEffectIcon();
    void pressNew();
    void pressDelete();
    void pressConfigure();
    void pressEffect();
    void tellIfNotSaved(ConfigDialogModel::SaveResult result);

    ConfigDialogModel model_;
    SettingsStore& store_;
    ChooseEffect chooseEffect_;
    EffectIcon effectIcon_;
    AskProfileName askProfileName_;
    ClosedBy closedBy_ = ClosedBy::None;

    QTabWidget* tabs_ = nullptr;
    QList<QWidget*> profilePage_;
    QList<QWidget*> generalPage_;
    QComboBox* profileCombo_ = nullptr;
    QPushButton* newButton_ = nullptr;
    QPushButton* deleteButton_ = nullptr;
    QComboBox* frameRateCombo_ = nullptr;
    QLineEdit* widthEdit_ = nullptr;
    QLineEdit* heightEdit_ = nullptr;
    QLineEdit* videoBitRateEdit_ = nullptr;
    QComboBox* audioBitRateCombo_ = nullptr;
    QComboBox* codecCombo_ = nullptr;
    QPushButton* configureButton_ = nullptr;
    QCheckBox* playSoundCheck_ = nullptr;
    QCheckBox* shutDownCheck_ = nullptr;
    QLineEdit* slideDurationEdit_ = nullptr;
    QLineEdit* transitionDurationEdit_ = nullptr;
    QLineEdit* audioFadeEdit_ = nullptr;
    QToolButton* effectButton_ = nullptr;
    QComboBox* motionCombo_ = nullptr;
    QComboBox* fitCombo_ = nullptr;
    QCheckBox* enlargeCheck_ = nullptr;
    QCheckBox* applyCheck_ = nullptr;
    QPushButton* okButton_ = nullptr;
    QPushButton* cancelButton_ = nullptr;
};

}  // namespace kestrelle
