#include "diag/ui/export_success_dialog.h"

#include "base/run_log.h"
#include "config/desktop_services.h"
#include "config/ui/dialog_units.h"

#include <QLabel>
#include <QPushButton>

#include <algorithm>

namespace kestrelle {

namespace {

constexpr const char* kLogSource = "DlgExportSuccess.cpp";

// Lets a long path wrap after its separators (the label wraps only where a break is allowed).
QString wrappablePath(const QString& path) {
    QString text = path;
    text.replace(QLatin1Char('/'), QStringLiteral("/\u200B"));
    return text;
}

}  // namespace

ExportSuccessDialog::ExportSuccessDialog(const std::string& archivePath, FileRevealer& revealer,
                                         QWidget* parent)
    : QDialog(parent), archivePath_(archivePath), revealer_(revealer) {
    setWindowTitle(QStringLiteral("Export successfully"));
    setModal(true);
    const DialogUnitScale units(font());
    const QString path = QString::fromStdString(archivePath);

    message_ = new QLabel(QStringLiteral("Export to %1 successfully!").arg(wrappablePath(path)), this);
    message_->setGeometry(units.rect(7, 7, 222, 40));
    message_->setWordWrap(true);
    message_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    message_->setAccessibleName(QStringLiteral("Export to %1 successfully!").arg(path));
    message_->setToolTip(path);

    openFolderButton_ = new QPushButton(QStringLiteral("Open Target Folder"), this);
    const QRect openRect = units.rect(7, 50, 80, 14);
    // Room for the caption where the font is wider than the layout's.
    openFolderButton_->setGeometry(
        openRect.adjusted(0, 0, std::max(0, openFolderButton_->sizeHint().width() - openRect.width()), 0));
    okButton_ = new QPushButton(QStringLiteral("OK"), this);
    okButton_->setGeometry(units.rect(179, 50, 50, 14));
    okButton_->setDefault(true);
    connect(openFolderButton_, &QPushButton::clicked, this, &ExportSuccessDialog::openTargetFolder);
    connect(okButton_, &QPushButton::clicked, this, &QDialog::accept);
    setTabOrder(openFolderButton_, okButton_);
    setFixedSize(units.x(236), units.y(71));
}

QString ExportSuccessDialog::messageText() const {
    return message_->accessibleName();
}

void ExportSuccessDialog::openTargetFolder() {
    const std::string request = "ShowItems \"" + archivePath_ + "\"";
    KESTRELLE_LOG_AS(kLogSource, 0, "%s", request.c_str());
    revealer_.revealFile(archivePath_);
    accept();
}

}  // namespace kestrelle
