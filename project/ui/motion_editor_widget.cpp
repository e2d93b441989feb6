#include "project/ui/motion_editor_widget.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFocusEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <utility>

namespace kestrelle {
namespace {

// Room around the photo, so that a rectangle's corner grips at the edge stay whole.
constexpr int kCanvasMargin = 10;
constexpr QRgb kCanvasBackground = qRgb(60, 60, 60);
constexpr QRgb kLabelText = qRgb(20, 20, 20);

struct MotionChoice {
    MotionKind kind;
    const char* text;
};
// In the order the drop-down lists them.
constexpr MotionChoice kMotionChoices[] = {
    {MotionKind::None, "None"},
    {MotionKind::ZoomIn, "Zoom in"},
    {MotionKind::ZoomOut, "Zoom out"},
    {MotionKind::PanLeft, "Pan left"},
    {MotionKind::PanRight, "Pan right"},
    {MotionKind::PanUp, "Pan up"},
    {MotionKind::PanDown, "Pan down"},
    {MotionKind::Custom, "Custom"},
    {MotionKind::GentleRandom, "Gentle random"},
};

struct FitChoice {
    PhotoFit fit;
    const char* text;
};
constexpr FitChoice kFitChoices[] = {
    {PhotoFit::Letterbox, "Letterbox"},
    {PhotoFit::Fill, "Fill the frame"},
    {PhotoFit::BlurredBackground, "Blurred background"},
};

QString endName(MotionEnd end) {
    return end == MotionEnd::Start ? QStringLiteral("Start") : QStringLiteral("End");
}

}  // namespace

// ---- MotionCanvas

MotionCanvas::MotionCanvas(QWidget* parent, MotionEditorModel& model, std::function<void()> edited)
    : QWidget(parent), model_(model), edited_(std::move(edited)) {
    setFocusPolicy(Qt::StrongFocus);
    setMouseTracking(true);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAccessibleName(QStringLiteral("Motion rectangles"));
    updateDescription();
}

void MotionCanvas::setPicture(const QImage& picture) {
    picture_ = picture;
    // A copy a few dozen pixels wide, smoothed when drawn large: the blurred background of play.
    blurred_ = picture.isNull()
                   ? QImage()
                   : picture.scaled(QSize(24, 24), Qt::KeepAspectRatio, Qt::SmoothTransformation);
    relayout();
}

QRectF MotionCanvas::contentArea() const {
    return QRectF(rect().adjusted(kCanvasMargin, kCanvasMargin, -kCanvasMargin, -kCanvasMargin));
}

void MotionCanvas::relayout() {
    model_.setDisplayRect(model_.displayRectFor(contentArea()));
    update();
}

void MotionCanvas::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    relayout();
}

void MotionCanvas::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), QColor::fromRgb(kCanvasBackground));
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.setRenderHint(QPainter::Antialiasing);
    if (!model_.editable()) {
        if (!picture_.isNull()) {
            // A photo the editor cannot measure is still shown, fitted.
            const QSizeF fitted = QSizeF(picture_.size()).scaled(contentArea().size(), Qt::KeepAspectRatio);
            QRectF target(QPointF(), fitted);
            target.moveCenter(contentArea().center());
            painter.drawImage(target, picture_);
        }
        return;
    }
    if (model_.playing()) {
        paintPlaying(painter);
    } else {
        paintEditing(painter);
    }
}

void MotionCanvas::paintEditing(QPainter& painter) {
    // The bounds in black (the frame's background where the photo does not reach), then the photo.
    painter.fillRect(model_.toWidget(model_.bounds()), Qt::black);
    if (!picture_.isNull()) {
        painter.drawImage(model_.displayRect(), picture_);
    }
    const MotionEnd other = model_.activeEnd() == MotionEnd::Start ? MotionEnd::End : MotionEnd::Start;
    paintRectangle(painter, other);
    paintRectangle(painter, model_.activeEnd());
}

void MotionCanvas::paintRectangle(QPainter& painter, MotionEnd end) {
    const bool active = end == model_.activeEnd();
    const QColor colour = QColor::fromRgb(end == MotionEnd::Start ? kStartColour : kEndColour);
    const QRectF shown = model_.toWidget(model_.rect(end));
    // The end rectangle is dashed, so the two still read apart where they lie on each other.
    QPen pen(colour, active ? 3.0 : 2.0, end == MotionEnd::Start ? Qt::SolidLine : Qt::DashLine);
    pen.setJoinStyle(Qt::MiterJoin);
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(shown);

    // The label inside a corner of its own: Start at the top left, End at the bottom right.
    const QFontMetricsF metrics(font());
    const QString text = endName(end);
    const QSizeF tag(metrics.horizontalAdvance(text) + 8.0, metrics.height() + 2.0);
    // Clear of the corner grips.
    const double gap = MotionEditorModel::kGripRadius * 0.5 + 2.0;
    const QRectF label =
        end == MotionEnd::Start
            ? QRectF(shown.topLeft() + QPointF(gap, gap), tag)
            : QRectF(shown.bottomRight() - QPointF(tag.width() + gap, tag.height() + gap), tag);
    painter.setPen(Qt::NoPen);
    painter.setBrush(colour);
    painter.drawRect(label);
    painter.setPen(QColor::fromRgb(kLabelText));
    painter.drawText(label, Qt::AlignCenter, text);

    if (!active) return;
    // The active rectangle's corner grips; with the keyboard focus, a ring in the highlight colour too.
    painter.setPen(QPen(Qt::black, 1.0));
    painter.setBrush(colour);
    const double grip = MotionEditorModel::kGripRadius;
    for (const QPointF corner :
         {shown.topLeft(), shown.topRight(), shown.bottomLeft(), shown.bottomRight()}) {
        painter.drawRect(QRectF(corner - QPointF(grip * 0.5, grip * 0.5), QSizeF(grip, grip)));
    }
    if (hasFocus()) {
        QPen ring(palette().color(QPalette::Highlight), 2.0, Qt::DotLine);
        painter.setPen(ring);
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(shown.adjusted(-5.0, -5.0, 5.0, 5.0));
    }
}

void MotionCanvas::paintPlaying(QPainter& painter) {
    // The frame as the video shows it: the output's shape, as large as the canvas allows.
    const QSizeF output = model_.outputSize();
    QRectF frame(QPointF(), output.scaled(contentArea().size(), Qt::KeepAspectRatio));
    frame.moveCenter(contentArea().center());
    painter.fillRect(frame, Qt::black);
    const QRectF view = model_.playView();
    if (view.isEmpty() || picture_.isNull()) return;
    const QSizeF photo = model_.photoSize();
    const auto placeIn = [&](const QRectF& shownPart) {
        const double sx = frame.width() / shownPart.width();
        const double sy = frame.height() / shownPart.height();
        return QRectF(frame.left() - shownPart.left() * sx, frame.top() - shownPart.top() * sy,
                      photo.width() * sx, photo.height() * sy);
    };
    painter.save();
    painter.setClipRect(frame);
    if (model_.look().fit.fit == PhotoFit::BlurredBackground && !blurred_.isNull()) {
        painter.drawImage(placeIn(fillViewRect(photo, output)), blurred_);
    }
    painter.drawImage(placeIn(view), picture_);
    painter.restore();
}

void MotionCanvas::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return;
    model_.stopPlay();
    model_.pressAt(event->position());
    updateDescription();
    update();
}

void MotionCanvas::mouseMoveEvent(QMouseEvent* event) {
    if (model_.dragging()) {
        if (model_.dragTo(event->position())) update();
        return;
    }
    updateCursor(event->position());
}

void MotionCanvas::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || !model_.dragging()) return;
    model_.dragTo(event->position());
    if (model_.release() && edited_) edited_();
    update();
}

void MotionCanvas::updateCursor(QPointF point) {
    switch (model_.gripAt(point)) {
        case MotionGrip::Move:
            setCursor(Qt::SizeAllCursor);
            break;
        case MotionGrip::TopLeft:
        case MotionGrip::BottomRight:
            setCursor(Qt::SizeFDiagCursor);
            break;
        case MotionGrip::TopRight:
        case MotionGrip::BottomLeft:
            setCursor(Qt::SizeBDiagCursor);
            break;
        case MotionGrip::None:
            unsetCursor();
            break;
    }
}

void MotionCanvas::keyPressEvent(QKeyEvent* event) {
    bool changed = false;
    if (!model_.handleKey(event->key(), event->modifiers(), &changed)) {
        QWidget::keyPressEvent(event);
        return;
    }
    event->accept();
    if (changed) {
        model_.stopPlay();
        if (edited_) edited_();
        update();
    }
}

void MotionCanvas::focusInEvent(QFocusEvent* event) {
    QWidget::focusInEvent(event);
    // Tabbing in reaches the start rectangle first; tabbing back in, the end one.
    if (event->reason() == Qt::TabFocusReason) {
        model_.setActiveEnd(MotionEnd::Start);
    } else if (event->reason() == Qt::BacktabFocusReason) {
        model_.setActiveEnd(MotionEnd::End);
    }
    updateDescription();
    update();
}

void MotionCanvas::focusOutEvent(QFocusEvent* event) {
    QWidget::focusOutEvent(event);
    update();
}

bool MotionCanvas::focusNextPrevChild(bool next) {
    // Tab moves from the start rectangle to the end one before it leaves the canvas.
    if (hasFocus() && model_.editable()) {
        if (next && model_.activeEnd() == MotionEnd::Start) {
            model_.setActiveEnd(MotionEnd::End);
            updateDescription();
            update();
            return true;
        }
        if (!next && model_.activeEnd() == MotionEnd::End) {
            model_.setActiveEnd(MotionEnd::Start);
            updateDescription();
            update();
            return true;
        }
    }
    return QWidget::focusNextPrevChild(next);
}

void MotionCanvas::updateDescription() {
    setAccessibleDescription(
        QStringLiteral("%1 rectangle selected. Arrow keys move it, plus and minus resize it.")
            .arg(endName(model_.activeEnd())));
}

// ---- MotionEditorWidget

MotionEditorWidget::MotionEditorWidget(QWidget* parent) : QWidget(parent) {
    canvas_ = new MotionCanvas(this, model_, [this] { edited(); });

    motion_ = new QComboBox(this);
    for (const MotionChoice& choice : kMotionChoices) {
        motion_->addItem(QString::fromLatin1(choice.text), static_cast<int>(choice.kind));
    }
    motion_->setAccessibleName(QStringLiteral("Motion"));
    auto* motionLabel = new QLabel(QStringLiteral("&Motion:"), this);
    motionLabel->setBuddy(motion_);

    fit_ = new QComboBox(this);
    for (const FitChoice& choice : kFitChoices) {
        fit_->addItem(QString::fromLatin1(choice.text), static_cast<int>(choice.fit));
    }
    fit_->setAccessibleName(QStringLiteral("Fit"));
    auto* fitLabel = new QLabel(QStringLiteral("F&it:"), this);
    fitLabel->setBuddy(fit_);

    enlarge_ = new QCheckBox(QStringLiteral("&Enlarge small photos"), this);
    enlarge_->setAccessibleName(QStringLiteral("Enlarge small photos"));

    play_ = new QPushButton(QStringLiteral("&Play"), this);
    play_->setAccessibleName(QStringLiteral("Play"));
    play_->setToolTip(QStringLiteral("Show the motion in place"));
    play_->setAutoDefault(false);

    playTimer_ = new QTimer(this);
    playTimer_->setInterval(kPlayIntervalMs);
    connect(playTimer_, &QTimer::timeout, this, &MotionEditorWidget::advancePlay);

    auto* row = new QHBoxLayout;
    row->setContentsMargins(0, 0, 0, 0);
    row->addWidget(motionLabel);
    row->addWidget(motion_);
    row->addSpacing(8);
    row->addWidget(fitLabel);
    row->addWidget(fit_);
    row->addSpacing(8);
    row->addWidget(enlarge_);
    row->addStretch(1);
    row->addWidget(play_);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->addWidget(canvas_, 1);
    column->addLayout(row);

    setTabOrder(canvas_, motion_);
    setTabOrder(motion_, fit_);
    setTabOrder(fit_, enlarge_);
    setTabOrder(enlarge_, play_);

    // Only the user's own choices count as edits (activated and clicked, not the changes syncControls
    // makes).
    connect(motion_, &QComboBox::activated, this, [this](int index) {
        stopPlay();
        if (model_.setMotionKind(static_cast<MotionKind>(motion_->itemData(index).toInt()))) edited();
    });
    connect(fit_, &QComboBox::activated, this, [this](int index) {
        stopPlay();
        if (model_.setFit(static_cast<PhotoFit>(fit_->itemData(index).toInt()))) edited();
    });
    connect(enlarge_, &QCheckBox::clicked, this, [this](bool checked) {
        stopPlay();
        if (model_.setEnlargeSmall(checked)) edited();
    });
    connect(play_, &QPushButton::clicked, this, &MotionEditorWidget::togglePlay);
    syncControls();
}

void MotionEditorWidget::setSlide(const SlideLook& look, QSize output, std::uint64_t seed, int slideIndex,
                                  double totalSeconds) {
    stopPlay();
    model_.setLook(look);
    model_.setOutputSize(QSizeF(output));
    model_.setMotionSource(seed, slideIndex, totalSeconds);
    canvas_->relayout();
    syncControls();
}

void MotionEditorWidget::setPhoto(QSize uprightSize, const QImage& picture) {
    stopPlay();
    model_.setPhotoSize(QSizeF(uprightSize.isValid() ? uprightSize : QSize()));
    canvas_->setPicture(picture);
    syncControls();
}

void MotionEditorWidget::syncControls() {
    const SlideLook& look = model_.look();
    motion_->setCurrentIndex(std::max(0, motion_->findData(static_cast<int>(look.motion.kind))));
    fit_->setCurrentIndex(std::max(0, fit_->findData(static_cast<int>(look.fit.fit))));
    enlarge_->setChecked(look.fit.enlargeSmall);
    play_->setEnabled(model_.editable());
    const bool playing = model_.playing();
    play_->setText(playing ? QStringLiteral("&Stop") : QStringLiteral("&Play"));
    play_->setAccessibleName(playing ? QStringLiteral("Stop") : QStringLiteral("Play"));
}

void MotionEditorWidget::edited() {
    canvas_->relayout();
    syncControls();
    if (lookEdited_) lookEdited_(model_.look());
}

void MotionEditorWidget::togglePlay() {
    if (model_.playing()) {
        stopPlay();
        return;
    }
    model_.startPlay();
    if (model_.playing()) playTimer_->start();
    syncControls();
    canvas_->update();
}

void MotionEditorWidget::stopPlay() {
    playTimer_->stop();
    model_.stopPlay();
    syncControls();
    canvas_->update();
}

void MotionEditorWidget::advancePlay() {
    if (!model_.advancePlay(kPlayIntervalMs / 1000.0)) {
        // Play ended on the end view; the rectangles come back.
        playTimer_->stop();
        syncControls();
    }
    canvas_->update();
}

}  // namespace kestrelle
