#pragma once
// "Preview": one photo shown enlarged with an "OK" button, opened by a double click on a slide's
// picture. The photo is fitted on white into the window less 10 pixels at the left, top and right and
// 45 at the bottom. It is decoded on a worker thread, so a large photo never freezes the window.

#include "base/worker_thread.h"

#include <QDialog>
#include <QImage>

#include <string>

class QPushButton;

namespace kestrelle {

class PhotoViewerDialog final : public QDialog {
    Q_OBJECT
public:
    PhotoViewerDialog(QWidget* parent, const std::string& photoPath);
    // Waits for a load still running, handling events meanwhile (a decode cannot be cut short).
    ~PhotoViewerDialog() override;

    // The area the photo is drawn into (client coordinates).
    QRect photoArea() const;
    // The picture shown (null until it has been loaded).
    const QImage& picture() const { return picture_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void startLoading();

    std::string path_;
    QImage picture_;
    QPushButton* ok_ = nullptr;
    bool loaded_ = false;
    WorkerThread loader_;
};

}  // namespace kestrelle
