#include "project/ui/photo_viewer_dialog.h"

#include "render/photo_loader.h"

#include <QCoreApplication>
#include <QPainter>
#include <QPushButton>
#include <QThread>

namespace kestrelle {
namespace {

constexpr int kInset = 10;
constexpr int kBottomInset = 45;
// The window's client size: a 4:3 area for the photo plus the insets.
constexpr int kClientWidth = 640 + 2 * kInset;
constexpr int kClientHeight = 480 + kInset + kBottomInset;

}  // namespace

PhotoViewerDialog::PhotoViewerDialog(QWidget* parent, const std::string& photoPath)
    : QDialog(parent), path_(photoPath) {
    setWindowTitle(QStringLiteral("Preview"));
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    setFixedSize(kClientWidth, kClientHeight);
    ok_ = new QPushButton(QStringLiteral("OK"), this);
    ok_->setDefault(true);
    ok_->setAutoDefault(true);
    const QSize button = ok_->sizeHint().expandedTo(QSize(88, 26));
    ok_->setGeometry((kClientWidth - button.width()) / 2,
                     kClientHeight - (kBottomInset + button.height()) / 2, button.width(), button.height());
    connect(ok_, &QPushButton::clicked, this, &QDialog::accept);
}

PhotoViewerDialog::~PhotoViewerDialog() {
    joinLoader();
}

QRect PhotoViewerDialog::photoArea() const {
    return rect().adjusted(kInset, kInset, -kInset, -kBottomInset);
}

void PhotoViewerDialog::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    startLoading();
}

void PhotoViewerDialog::startLoading() {
    if (loader_.joinable() || loaded_.load()) {
        return;
    }
    // Decoded at device pixels so the photo is sharp on high-DPI screens.
    const qreal ratio = devicePixelRatioF();
    const QSize pixels = photoArea().size() * ratio;
    loader_ = std::thread([this, pixels, ratio, path = path_] {
        QImage image;
        if (!PhotoLoader::load(image, pixels.width(), pixels.height(), path, kWhiteBackground)) {
            image = QImage(pixels, QImage::Format_RGB32);
            image.fill(Qt::white);
        }
        image.setDevicePixelRatio(ratio);
        // The dialog joins this thread before it goes, so it is still there to receive the picture.
        QMetaObject::invokeMethod(
            this,
            [this, image] {
                picture_ = image;
                update();
            },
            Qt::QueuedConnection);
        loaded_.store(true);
    });
}

void PhotoViewerDialog::waitForPicture() {
    startLoading();
    while (!loaded_.load()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(1);
    }
    joinLoader();
    QCoreApplication::processEvents();
}

void PhotoViewerDialog::joinLoader() {
    if (!loader_.joinable()) {
        return;
    }
    // Loading ends by itself; the window keeps answering meanwhile.
    while (!loaded_.load()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(1);
    }
    loader_.join();
}

void PhotoViewerDialog::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    if (!picture_.isNull()) {
        painter.drawImage(photoArea().topLeft(), picture_);
    }
}

}  // namespace kestrelle
