#include "project/ui/photo_viewer_dialog.h"

#include "project/ui/motion_editor_widget.h"
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
// With the motion editor: a wider area for the photo and its bounds, and a row of controls below it.
constexpr int kEditingAreaWidth = 760;
constexpr int kEditingControlsHeight = 40;
constexpr int kEditingClientWidth = kEditingAreaWidth + 2 * kInset;
constexpr int kEditingClientHeight = 480 + kEditingControlsHeight + kInset + kBottomInset;

// What the worker hands over: the picture shown, and for the editor the photo alone and its size.
struct LoadedPhoto {
    QImage shown;
    QImage photoOnly;
    QSize upright;
};

}  // namespace

PhotoViewerDialog::PhotoViewerDialog(QWidget* parent, const std::string& photoPath)
    : QDialog(parent), path_(photoPath) {
    setWindowTitle(QStringLiteral("Preview"));
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    setFixedSize(kClientWidth, kClientHeight);
    ok_ = new QPushButton(QStringLiteral("OK"), this);
    ok_->setDefault(true);
    ok_->setAutoDefault(true);
    layoutButton();
    connect(ok_, &QPushButton::clicked, this, &QDialog::accept);
}

PhotoViewerDialog::PhotoViewerDialog(QWidget* parent, const std::string& photoPath,
                                     SlideMotionEditing editing)
    : QDialog(parent), path_(photoPath) {
    setWindowTitle(QStringLiteral("Preview"));
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    setFixedSize(kEditingClientWidth, kEditingClientHeight);
    editor_ = new MotionEditorWidget(this);
    editor_->setGeometry(kInset, kInset, kEditingAreaWidth, 480 + kEditingControlsHeight);
    editor_->setSlide(editing.look, editing.output, editing.seed, editing.slideIndex, editing.totalSeconds);
    editor_->setLookEdited(std::move(editing.apply));
    ok_ = new QPushButton(QStringLiteral("OK"), this);
    ok_->setDefault(true);
    ok_->setAutoDefault(true);
    layoutButton();
    connect(ok_, &QPushButton::clicked, this, &QDialog::accept);
    setTabOrder(editor_->playButton(), ok_);
    editor_->canvas()->setFocus();
}

void PhotoViewerDialog::layoutButton() {
    const QSize button = ok_->sizeHint().expandedTo(QSize(88, 26));
    ok_->setGeometry((width() - button.width()) / 2, height() - (kBottomInset + button.height()) / 2,
                     button.width(), button.height());
}

PhotoViewerDialog::~PhotoViewerDialog() {
    loader_.waitForEnd();
}

QRect PhotoViewerDialog::photoArea() const {
    if (editor_) {
        return QRect(kInset, kInset, kEditingAreaWidth, 480);
    }
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
    auto result = std::make_shared<LoadedPhoto>();
    const bool editing = editor_ != nullptr;
    loader_.start(
        [result, pixels, ratio, editing, path = path_](std::stop_token) {
            QImage image;
            bool decoded = false;
            if (!PhotoLoader::load(image, pixels.width(), pixels.height(), path, kWhiteBackground,
                                   &decoded)) {
                image = QImage(pixels, QImage::Format_RGB32);
                image.fill(Qt::white);
            }
            if (editing) {
                // The editor draws the photo alone: the part of the picture the loader placed it in.
                result->upright = PhotoLoader::uprightSize(path);
                if (decoded && result->upright.isValid()) {
                    const PhotoPlacement place = fitPhoto(pixels.width(), pixels.height(),
                                                          result->upright.width(), result->upright.height());
                    if (place.width > 0 && place.height > 0) {
                        result->photoOnly = image.copy(place.x, place.y, place.width, place.height);
                    }
                }
            }
            image.setDevicePixelRatio(ratio);
            result->shown = std::move(image);
        },
        this,
        [this, result] {
            loaded_ = true;
            picture_ = result->shown;
            if (editor_) {
                editor_->setPhoto(result->upright, result->photoOnly);
            }
            update();
        });
}

void PhotoViewerDialog::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    if (!picture_.isNull() && !editor_) {
        painter.drawImage(photoArea().topLeft(), picture_);
    }
}

}  // namespace kestrelle
