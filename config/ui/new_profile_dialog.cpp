#include "config/ui/new_profile_dialog.h"

#include "config/config_dialog_model.h"
#include "config/ui/dialog_units.h"

#include <QLabel>
#include <QLineEdit>
#include <QPalette>
#include <QPushButton>

namespace kestrelle {

namespace {

const char* const kPrompt = "Please input a new profile name:";

}  // namespace

NewProfileDialog::NewProfileDialog(const SettingsStore& store, QWidget* parent)
    : QDialog(parent), store_(store) {
    setModal(true);
    setAccessibleName(tr("New profile"));
    const DialogUnitScale units(font());

    prompt_ = new QLabel(QString::fromUtf8(kPrompt), this);
    units.place(prompt_, 7, 4, 185, 8);
    nameEdit_ = new QLineEdit(this);
    units.place(nameEdit_, 7, 18, 185, 12);
    prompt_->setBuddy(nameEdit_);
    okButton_ = new QPushButton(tr("OK"), this);
    units.place(okButton_, 7, 34, 50, 14);
    okButton_->setDefault(true);
    cancelButton_ = new QPushButton(tr("Cancel"), this);
    units.place(cancelButton_, 142, 34, 50, 14);
    setFixedSize(units.x(199), units.y(51));

    connect(okButton_, &QPushButton::clicked, this, &NewProfileDialog::submit);
    connect(cancelButton_, &QPushButton::clicked, this, &QDialog::reject);
    connect(nameEdit_, &QLineEdit::textChanged, this, [this] {
        if (showsError_) clearError();
    });
    nameEdit_->setFocus();
}

std::optional<std::string> NewProfileDialog::run(const SettingsStore& store, QWidget* owner) {
    NewProfileDialog dialog(store, owner);
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    return dialog.name();
}

std::string NewProfileDialog::name() const {
    return nameEdit_->text().toStdString();
}

QString NewProfileDialog::promptText() const {
    return prompt_->text();
}

void NewProfileDialog::submit() {
    const std::optional<std::string> refusal = newProfileNameRefusal(store_, name());
    if (refusal) {
        showError(*refusal);
        return;
    }
    accept();
}

void NewProfileDialog::showError(const std::string& text) {
    showsError_ = true;
    prompt_->setText(QString::fromStdString(text));
    QPalette palette = prompt_->palette();
    palette.setColor(QPalette::WindowText, QColor(255, 0, 0));
    prompt_->setPalette(palette);
    nameEdit_->setFocus();
    update();
}

void NewProfileDialog::clearError() {
    showsError_ = false;
    prompt_->setText(QString::fromUtf8(kPrompt));
    prompt_->setPalette(palette());
    nameEdit_->setFocus();
    update();
}

}  // namespace kestrelle
