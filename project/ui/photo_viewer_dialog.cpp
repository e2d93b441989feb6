#include "project/ui/photo_viewer_dialog.h"

#include "render/photo_loader.h"

#include <QPainter>
#include <QPushButton>

#include <memory>

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
    loader_.waitForEnd();
}

QRect PhotoViewerDialog::photoArea() const {
    return rect().adjusted(kInset, kInset, -kInset, -kBottomInset);
}

void PhotoViewerDialog::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    startLoading();
}

void PhotoViewerDialog::startLoading() {
    if (loader_.active() || loaded_) {
        return;
    }
    // Decoded at device pixels so the photo is sharp on high-DPI screens.
    const qreal ratio = devicePixelRatioF();
    const QSize pixels = photoArea().size() * ratio;
    // The body touches only its own copies; the picture reaches the window with the finished call.
    auto decoded = std::make_shared<QImage>();
    loader_.start(
        [decoded, pixels, ratio, path = path_](std::stop_token) {
            QImage image;
            if (!PhotoLoader::load(image, pixels.width(), pixels.height(), path, kWhiteBackground)) {
                image = QImage(pixels, QImage::Format_RGB32);
                image.fill(Qt::white);
            }
            image.setDevicePixelRatio(ratio);
            *decoded = std::move(image);
        },
        this,
        [this, decoded] {
            loaded_ = true;
            picture_ = *decoded;
            update();
        });
}

void PhotoViewerDialog::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    if (!picture_.isNull()) {
        painter.drawImage(photoArea().topLeft(), picture_);
    }
}

}  // namespace kestrelle
