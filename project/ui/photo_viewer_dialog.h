#pragma once
// "Preview": one photo shown enlarged with an "OK" button, opened by a double click on a slide's
// picture. The photo is fitted on white into the window less 10 pixels at the left, top and right and
// 45 at the bottom. It is decoded on a worker thread, so a large photo never freezes the window.

#include <QDialog>
#include <QImage>

#include <atomic>
#include <string>
#include <thread>

class QPushButton;

namespace kestrelle {

class PhotoViewerDialog final : public QDialog {
    Q_OBJECT
public:
    PhotoViewerDialog(QWidget* parent, const std::string& photoPath);
    ~PhotoViewerDialog() override;

    // The area the photo is drawn into (client coordinates).
    QRect photoArea() const;
    // The picture shown (null until it has been loaded).
    const QImage& picture() const { return picture_; }
    // Waits, handling events, until the picture has arrived (tests and the gallery).
    void waitForPicture();

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void startLoading();
    void joinLoader();

    std::string path_;
    QImage picture_;
    QPushButton* ok_ = nullptr;
    std::thread loader_;
    std::atomic<bool> loaded_{false};
};

}  // namespace kestrelle
