#pragma once
// The small dialog that asks for a new profile's name. OK checks the name (empty, reserved
// characters or not usable as a file name, already taken) and shows the refusal in red in place of
// the prompt; the next change of the name restores the prompt.

#include "config/settings_store.h"

#include <QDialog>

#include <optional>
#include <string>

class QLabel;
class QLineEdit;
class QPushButton;

namespace kestrelle {

class NewProfileDialog final : public QDialog {
    Q_OBJECT
public:
    // `store` is asked whether a name is taken; it must outlive the dialog.
    explicit NewProfileDialog(const SettingsStore& store, QWidget* parent = nullptr);

    // Runs the dialog modally over `owner`: the accepted name, or nullopt for Cancel.
    static std::optional<std::string> run(const SettingsStore& store, QWidget* owner);

    // The name as typed (UTF-8).
    std::string name() const;
    // Whether a refusal is shown (the prompt is red).
    bool showsError() const { return showsError_; }
    QString promptText() const;
    QLineEdit* nameEdit() const { return nameEdit_; }
    QPushButton* okButton() const { return okButton_; }

public Q_SLOTS:
    // OK: closes with the name when it is usable, otherwise shows why not.
    void submit();

private:
    void showError(const std::string& text);
    void clearError();

    const SettingsStore& store_;
    QLabel* prompt_ = nullptr;
    QLineEdit* nameEdit_ = nullptr;
    QPushButton* okButton_ = nullptr;
    QPushButton* cancelButton_ = nullptr;
    bool showsError_ = false;
};

}  // namespace kestrelle
