#pragma once
// "Export successfully": confirms a written log archive and offers to show it in the file manager.

#include <QDialog>

#include <string>

class QLabel;
class QPushButton;

namespace kestrelle {

class FileRevealer;

class ExportSuccessDialog : public QDialog {
    Q_OBJECT

public:
    // `archivePath` is the written file; `revealer` must outlive the dialog.
    ExportSuccessDialog(const std::string& archivePath, FileRevealer& revealer, QWidget* parent = nullptr);

    QString messageText() const;
    QPushButton* openFolderButton() const { return openFolderButton_; }
    QPushButton* okButton() const { return okButton_; }

public Q_SLOTS:
    // "Open Target Folder": logs what is opened, shows the archive in the file manager, closes.
    void openTargetFolder();

private:
    std::string archivePath_;
    FileRevealer& revealer_;
    QLabel* message_ = nullptr;
    QPushButton* openFolderButton_ = nullptr;
    QPushButton* okButton_ = nullptr;
};

}  // namespace kestrelle
