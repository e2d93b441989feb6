#include "project/ui/storyboard_control.h"

#include "base/data_folder.h"
#include "base/message_box.h"
#include "project/slide_pictures.h"
#include "project/soundtrack_plan.h"
#include "project/timeline.h"
#include "project/transition_sample.h"
#include "project/ui/photo_viewer_dialog.h"
#include "render/photo_loader.h"
#include "render/ui/transition_chooser.h"
#include "render/ui/transition_icons.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QDragEnterEvent>
#include <QFile>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QTimer>
#include <QToolTip>
#include <QUndoStack>
#include <QWheelEvent>

#include <algorithm>
#include <numeric>
#include <unordered_set>

#include <sys/stat.h>

namespace kestrelle {

using storyboard::CellHit;
using storyboard::DurationField;

namespace {

QRect toQRect(const CellRect& r) {
    return QRect(r.left, r.top, r.right - r.left, r.bottom - r.top);
}

// The outline of a rectangle whose right and bottom are exclusive, drawn with a 1-pixel pen.
QRect outline(int left, int top, int right, int bottom) {
    return QRect(left, top, right - left - 1, bottom - top - 1);
}

// A ring 2 pixels wide just inside `outer` (whose right and bottom are inclusive, as QRect has them).
void drawRing(QPainter& painter, const QRect& outer, const QColor& colour) {
    constexpr int kWidth = 2;
    painter.fillRect(QRect(outer.left(), outer.top(), outer.width(), kWidth), colour);
    painter.fillRect(QRect(outer.left(), outer.bottom() - kWidth + 1, outer.width(), kWidth), colour);
    painter.fillRect(QRect(outer.left(), outer.top(), kWidth, outer.height()), colour);
    painter.fillRect(QRect(outer.right() - kWidth + 1, outer.top(), kWidth, outer.height()), colour);
}

QFont storyboardFont(int pixelSize, int weight) {
    QFont font(QStringLiteral("Arial"));
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(pixelSize);
    font.setWeight(static_cast<QFont::Weight>(weight));
    return font;
}

// A path's bytes as text for a message.
std::string displayPath(const std::string& path) {
    return QFile::decodeName(QByteArray::fromStdString(path)).toStdString();
}

// Colours of a clip: its box and the band behind its name.
constexpr QRgb kClipFill = qRgb(243, 247, 252);
// A missing photo's picture and its words; a thumbnail still being made.
constexpr QRgb kMissingFill = qRgb(205, 205, 205);
constexpr QRgb kMissingText = qRgb(70, 70, 70);
constexpr QRgb kPendingFill = qRgb(238, 238, 238);
constexpr QRgb kClipNameText = qRgb(40, 40, 40);

// What the fit commands say.
constexpr const char* kMusicTooShortText =
    "The music is too short for this slideshow. Every photo is now shown for 0.5 seconds, the shortest "
    "time, and the video lasts longer than the music.";
constexpr const char* kNoMusicLengthText =
    "The soundtrack has no length to fit the slideshow to, so the slides were left as they were.";
constexpr const char* kMusicTooLongText =
    "The music is too long for this slideshow: even with every photo shown as long as it can be (one day), "
    "the video ends before the music does.";
constexpr const char* kNoBeatsText =
    "No beats were found in the music, so the slideshow was fitted to the length of the music only.";

// The mark of a slide whose photo moves or fills the frame: a frame with an arrow leaving it, white on a
// dark tile in the picture's lower right corner. Drawn as shapes, so it stays sharp at any pixel ratio.
constexpr int kMotionMarkSize = 16;

void paintMotionMark(QPainter& painter, const QRect& picture) {
    const QRectF tile(picture.right() + 1 - kMotionMarkSize - 2, picture.bottom() + 1 - kMotionMarkSize - 2,
                      kMotionMarkSize, kMotionMarkSize);
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0, 0, 0, 170));
    painter.drawRoundedRect(tile, 3.0, 3.0);
    QPen pen(Qt::white, 1.4);
    pen.setCapStyle(Qt::RoundCap);
    pen.setJoinStyle(Qt::RoundJoin);
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    const QPointF o = tile.topLeft();
    // The view it starts from, and the way it goes.
    painter.drawRect(QRectF(o + QPointF(3.0, 3.5), QSizeF(6.5, 5.0)));
    painter.drawLine(o + QPointF(7.5, 7.5), o + QPointF(12.5, 12.5));
    painter.drawPolyline(
        QPolygonF({o + QPointF(9.0, 12.5), o + QPointF(12.5, 12.5), o + QPointF(12.5, 9.0)}));
    painter.restore();
}

}  // namespace

// ---- DurationEditor

DurationEditor::DurationEditor(QWidget* parent) : QLineEdit(parent) {
    setAlignment(Qt::AlignCenter);
    // No menu here, and none of the storyboard's either: a popup would take the focus.
    setContextMenuPolicy(Qt::PreventContextMenu);
    setTextMargins(0, 0, 0, 0);
    setStyleSheet(
        QStringLiteral("QLineEdit { border: 1px solid rgb(50, 50, 200); padding: 0px; "
                       "background: white; color: black; }"));
    setAccessibleName(QStringLiteral("Duration in seconds"));
}

void DurationEditor::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
        case Qt::Key_Return:
        case Qt::Key_Enter:
            Q_EMIT storeRequested();
            event->accept();
            return;
        case Qt::Key_Escape:
            Q_EMIT discardRequested();
            event->accept();
            return;
        default:
            QLineEdit::keyPressEvent(event);
    }
}

void DurationEditor::focusOutEvent(QFocusEvent* event) {
    QLineEdit::focusOutEvent(event);
    Q_EMIT storeRequested();
}

// ---- StoryboardControl

StoryboardControl::StoryboardControl(QWidget* parent, std::function<SlideDefaults()> defaults)
    : QAbstractScrollArea(parent), titleFont_(storyboardFont(22, 700)), textFont_(storyboardFont(12, 400)) {
    setObjectName(QStringLiteral("XListCtrl"));
    setAccessibleName(QStringLiteral("Storyboard"));
    setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setFocusPolicy(Qt::StrongFocus);
    setAcceptDrops(true);
    viewport()->setAcceptDrops(true);
    viewport()->setCursor(Qt::ArrowCursor);
    viewport()->setAutoFillBackground(false);
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);

    QScrollBar* bar = horizontalScrollBar();
    bar->setSingleStep(storyboard::kLineScrollStep);
    connect(bar, &QScrollBar::actionTriggered, this, &StoryboardControl::onScrollAction);

    editor_ = new DurationEditor(viewport());
    editor_->setGeometry(0, 0, 1, 1);
    editor_->hide();
    connect(editor_, &DurationEditor::storeRequested, this, [this] { endDurationEdit(true); });
    connect(editor_, &DurationEditor::discardRequested, this, [this] { endDurationEdit(false); });

    chooserOpener_ = [](QWidget* owner, const SlideShowProject& project, int slide) {
        return chooseTransition(owner, sampleSourceFor(&project, slide));
    };
    viewerOpener_ = [this](QWidget* owner, const std::string& path, int slide) {
        SlideMotionEditing editing;
        if (const Slide* cell = project_.slide(slide)) {
            editing.look = cell->look;
            // The motion lasts as long as the photo is on screen: from the transition into it to the end
            // of its own (as the video draws it).
            editing.totalSeconds = slideSpanSeconds(project_, slide);
        }
        const VideoSize size = videoSize();
        // A 4:3 frame when no profile tells the size.
        editing.output = size.width > 0 && size.height > 0 ? QSize(size.width, size.height) : QSize(640, 480);
        editing.seed = project_.motionSeed();
        editing.slideIndex = slide;
        editing.apply = [this, slide](const SlideLook& look) {
            history_.record(QStringLiteral("Change Motion"), [&] { project_.setSlideLook(slide, look); });
            viewport()->update();
        };
        PhotoViewerDialog viewer(owner, path, std::move(editing));
        viewer.exec();
    };
    menuRunner_ = [](QMenu& menu, const QPoint& at) { menu.exec(at); };

    setMinimumHeight(heightForBothLines());

    // Undo and redo put back the selection of their moment: show it, and say it to assistive technology.
    connect(&history_.stack(), &QUndoStack::indexChanged, this, [this] {
        updateAccessibleDescription();
        if (const Slide* cell = project_.slide(project_.selectedSlide()); cell && cell->hasPhoto) {
            layoutRects();
            if (cell->cellRect.left < 0 || cell->cellRect.right > visibleWidth()) {
                scrollIntoView(cell->index);
            }
        }
        viewport()->update();
    });
    // While a slide is dragged near either end of the view, the row scrolls under it.
    dragScrollTimer_ = new QTimer(this);
    dragScrollTimer_->setInterval(50);
    connect(dragScrollTimer_, &QTimer::timeout, this, [this] {
        if (!slideDrag_ || dragScrollStep_ == 0) {
            dragScrollTimer_->stop();
            return;
        }
        scrollTo(scrollPosition() + dragScrollStep_);
        // The pointer stands still while the row moves under it.
        updateSlideDrop(lastDragPoint_);
    });

    project_.setDefaultsProvider(std::move(defaults));
    project_.setRefusesUnreadablePhotos(true);
    project_.setObserver(this);
    project_.setVisibleWidth(viewport()->width());
    project_.setThumbnailPixelRatio(devicePixelRatioF());
    updateScrollRange();
    updateAccessibleDescription();
}

StoryboardControl::~StoryboardControl() {
    // The history's stack announces its own clearing when it goes, after this body: the control must
    // not hear it half destroyed.
    QObject::disconnect(&history_.stack(), nullptr, this, nullptr);
    // The workers first: nothing they report may arrive while the control goes.
    thumbnailMaker_.reset();
    peakCache_.reset();
    setBusyCursor(false);
    // The base classes' destruction moves the focus away from the editor; its handlers must not reach
    // this control by then.
    project_.setObserver(nullptr);
    QObject::disconnect(editor_, nullptr, this, nullptr);
    delete editor_;
    editor_ = nullptr;
}

QSize StoryboardControl::sizeHint() const {
    return QSize(5 * kCellWidth, heightForBothLines());
}

QSize StoryboardControl::minimumSizeHint() const {
    return QSize(kCellWidth, heightForBothLines());
}

int StoryboardControl::heightForBothLines() const {
    return storyboard::kViewHeight + 2 * frameWidth() + horizontalScrollBar()->sizeHint().height();
}

int StoryboardControl::scrollPosition() const {
    return horizontalScrollBar()->value();
}

int StoryboardControl::scrollLimitNow() const {
    return storyboard::scrollLimit(scrollExtent(), visibleWidth());
}

int StoryboardControl::scrollExtent() const {
    int extent = project_.contentWidth();
    if (!project_.clips().empty()) {
        for (const CellRect& r : storyboard::clipRectsAt(project_, 0)) {
            extent = std::max(extent, r.right);
        }
    }
    return std::min(extent, kMaxPixelExtent);
}

int StoryboardControl::visibleWidth() const {
    return viewport()->width();
}

// ---- Project notifications

void StoryboardControl::projectChanged() {
    // An edit whose slide has gone (deleted, moved away) is dropped rather than stored elsewhere.
    if (editingSlide_ >= 0) {
        const Slide* cell = project_.slide(editingSlide_);
        if (!cell || !cell->hasPhoto) {
            endDurationEdit(false);
        }
    }
    if (dropIndicatorCell_ >= project_.cellCount()) {
        dropIndicatorCell_ = -1;
    }
    layoutRects();
    // The clips may now reach beyond the photo line, or no longer.
    updateScrollRange();
    updateAccessibleDescription();
    viewport()->update();
    scheduleClipMeasuring();
    Q_EMIT fitToMusicAvailabilityChanged();
}

void StoryboardControl::contentReplaced() {
    // A drag or an edit refers to slides of the content that has gone.
    if (slideDrag_) {
        endSlideDrag(false);
    }
    pressSlide_ = -1;
    collapseOnRelease_ = false;
    photoFacts_.clear();
    scheduleThumbnails();
}

void StoryboardControl::contentWidthChanged(int) {
    updateScrollRange();
}

void StoryboardControl::scrollCellIntoView(int cell) {
    if (cell >= 0) {
        scrollIntoView(cell);
    }
}

void StoryboardControl::takeFocus() {
    setFocus(Qt::OtherFocusReason);
}

void StoryboardControl::scrollClipIntoView(int clip) {
    const std::vector<CellRect> rects = storyboard::clipRectsAt(project_, 0);
    if (clip < 0 || clip >= static_cast<int>(rects.size())) {
        return;
    }
    const CellRect& r = rects[static_cast<std::size_t>(clip)];
    const int scroll = scrollPosition();
    const int visible = visibleWidth();
    if (r.left >= scroll && r.right <= scroll + visible) {
        return;
    }
    // Its start in view, centred when the whole clip fits.
    const int width = r.right - r.left;
    scrollTo(width < visible ? r.left - (visible - width) / 2 : r.left);
}

// ---- Scrolling

void StoryboardControl::updateScrollRange() {
    QScrollBar* bar = horizontalScrollBar();
    settingRange_ = true;
    bar->setPageStep(std::max(1, visibleWidth()));
    bar->setRange(0, scrollLimitNow());
    settingRange_ = false;
    layoutRects();
    viewport()->update();
}

void StoryboardControl::onScrollAction(int action) {
    QScrollBar* bar = horizontalScrollBar();
    // Line and page steps both move 150 pixels, within 0..limit.
    switch (action) {
        case QAbstractSlider::SliderSingleStepAdd:
        case QAbstractSlider::SliderPageStepAdd:
            bar->setSliderPosition(
                storyboard::scrolledBy(bar->value(), storyboard::kLineScrollStep, scrollLimitNow()));
            break;
        case QAbstractSlider::SliderSingleStepSub:
        case QAbstractSlider::SliderPageStepSub:
            bar->setSliderPosition(
                storyboard::scrolledBy(bar->value(), -storyboard::kLineScrollStep, scrollLimitNow()));
            break;
        default:
            break;
    }
}

void StoryboardControl::scrollTo(int position) {
    const int target = std::clamp(position, 0, scrollLimitNow());
    if (target != horizontalScrollBar()->value()) {
        horizontalScrollBar()->setValue(target);
    }
}

void StoryboardControl::scrollContentsBy(int, int) {
    // Scrolling closes the editor without storing: it would float over the wrong place.
    endDurationEdit(false);
    layoutRects();
    viewport()->update();
    scheduleThumbnails();
}

void StoryboardControl::scrollIntoView(int i) {
    scrollTo(storyboard::scrollPositionCentring(i, project_.contentWidth(), visibleWidth()));
}

void StoryboardControl::wheelEvent(QWheelEvent* event) {
    const QPoint delta = event->angleDelta();
    const int amount = delta.y() != 0 ? delta.y() : delta.x();
    if (amount < 0) {
        scrollTo(storyboard::scrolledBy(scrollPosition(), storyboard::kWheelScrollStep, scrollLimitNow()));
    } else if (amount > 0) {
        scrollTo(storyboard::scrolledBy(scrollPosition(), -storyboard::kWheelScrollStep, scrollLimitNow()));
    }
    event->accept();
}

void StoryboardControl::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    project_.setVisibleWidth(visibleWidth());
    // A row one cell wider than the view, as when the control is first laid out.
    while (project_.cellCount() < visibleWidth() / kCellWidth + 1) {
        project_.appendPlaceholder();
    }
    updateScrollRange();
    scheduleThumbnails();
}

void StoryboardControl::layoutRects() {
    const int scroll = horizontalScrollBar()->value();
    for (int i = 0; i < project_.cellCount(); ++i) {
        project_.setCellRect(i, storyboard::cellRectAt(i, scroll));
    }
    if (project_.clips().empty()) {
        return;
    }
    // Each clip where the mix starts it: a crossfade shows as the next clip starting that much earlier.
    const std::vector<CellRect> clipRects = storyboard::clipRectsAt(project_, scroll);
    for (int i = 0; i < static_cast<int>(clipRects.size()); ++i) {
        project_.setClipRect(i, clipRects[static_cast<std::size_t>(i)]);
    }
}

// ---- Selection and keys

void StoryboardControl::selectSlide(int i) {
    if (i < 0 || i >= project_.photoSlideCount()) {
        return;
    }
    project_.setSelectedSlide(i);
    scrollIntoView(i);
    updateAccessibleDescription();
    viewport()->update();
}

void StoryboardControl::selectClip(int i) {
    if (i < 0 || i >= static_cast<int>(project_.clips().size())) {
        return;
    }
    project_.setSelectedClip(i);
    scrollClipIntoView(i);
    updateAccessibleDescription();
    viewport()->update();
}

bool StoryboardControl::clipKey(QKeyEvent* event) {
    const int selected = project_.selectedClip();
    // The same keys as for slides, on the selected clip.
    switch (event->key()) {
        case Qt::Key_Left:
            selectClip(selected - 1);
            return true;
        case Qt::Key_Right:
            selectClip(selected + 1);
            return true;
        case Qt::Key_Delete:
            deleteSelection();
            return true;
        case Qt::Key_Comma:
        case Qt::Key_Less:
            shiftSelection(true);
            return true;
        case Qt::Key_Period:
        case Qt::Key_Greater:
            shiftSelection(false);
            return true;
        case Qt::Key_Up:
            moveSelectionUp();
            return true;
        case Qt::Key_Down:
        case Qt::Key_F2:
        case Qt::Key_Space:
            return true;  // nothing below the soundtrack, nothing to edit or view in a clip
        default:
            return false;
    }
}

void StoryboardControl::moveSelectionDown() {
    if (project_.clips().empty()) {
        return;
    }
    layoutRects();
    // The clip playing under the middle of the selected slide, else the first.
    int clip = 0;
    if (const Slide* cell = project_.slide(project_.selectedSlide()); cell && cell->hasPhoto) {
        const int middle = (cell->cellRect.left + cell->cellRect.right) / 2;
        const int under = project_.clipAtPoint(middle, storyboard::kClipTop);
        clip = under >= 0 ? under : clip;
    }
    selectClip(clip);
}

void StoryboardControl::moveSelectionUp() {
    if (project_.photoSlideCount() < 1) {
        return;
    }
    layoutRects();
    // The slide above the start of the clip (or of its part in view), else the last photo.
    int slide = project_.photoSlideCount() - 1;
    if (const SoundtrackClip* clip = project_.clip(project_.selectedClip())) {
        const int x = std::max(clip->cellRect.left, 0);
        const int above = project_.photoSlideAtPoint(x, storyboard::kPhotoLineHeight / 2);
        slide = above >= 0 ? above : slide;
    }
    selectSlide(slide);
}

void StoryboardControl::keyPressEvent(QKeyEvent* event) {
    if (slideDrag_ && event->key() == Qt::Key_Escape) {
        endSlideDrag(false);
        event->accept();
        return;
    }
    if (project_.selectedClip() >= 0 && clipKey(event)) {
        event->accept();
        return;
    }
    const bool selectAll = event->matches(QKeySequence::SelectAll) ||
                           (event->key() == Qt::Key_A && event->modifiers() == Qt::ControlModifier);
    if (selectAll && project_.photoSlideCount() > 0) {
        std::vector<int> all(static_cast<std::size_t>(project_.photoSlideCount()));
        std::iota(all.begin(), all.end(), 0);
        selectSlides(all, std::max(project_.selectedSlide(), 0));
        event->accept();
        return;
    }
    const int selected = project_.selectedSlide();
    const bool shift = event->modifiers() & Qt::ShiftModifier;
    switch (event->key()) {
        case Qt::Key_Left:
        case Qt::Key_Right: {
            const int next = selected + (event->key() == Qt::Key_Left ? -1 : 1);
            if (shift && selected >= 0 && project_.extendSlideSelection(next)) {
                // Shift+arrow grows (or shrinks) the selection from its anchor.
                scrollIntoView(next);
                updateAccessibleDescription();
                viewport()->update();
            } else {
                selectSlide(next);
            }
            break;
        }
        case Qt::Key_Delete:
            deleteSelection();
            break;
        case Qt::Key_Down:
            moveSelectionDown();
            break;
        case Qt::Key_Comma:
        case Qt::Key_Less:
            shiftSelection(true);
            break;
        case Qt::Key_Period:
        case Qt::Key_Greater:
            shiftSelection(false);
            break;
        // What the mouse reaches inside the selected cell, for keyboard users.
        case Qt::Key_F2:
            // Into view first: scrolling would close the editor.
            if (const Slide* cell = project_.slide(selected); cell && cell->hasPhoto && !editing()) {
                scrollIntoView(selected);
            }
            beginDurationEdit(selected, (event->modifiers() & Qt::ShiftModifier) ? DurationField::Transition
                                                                                 : DurationField::Slide);
            break;
        case Qt::Key_Space:
            activateSelectedSlide(event->modifiers() & Qt::ShiftModifier);
            break;
        // Shift+F10 stands for the menu key, as on most desktops.
        case Qt::Key_F10:
            if (!(event->modifiers() & Qt::ShiftModifier)) {
                QAbstractScrollArea::keyPressEvent(event);
                return;
            }
            showSelectedSlideMenu();
            break;
        default:
            QAbstractScrollArea::keyPressEvent(event);
            return;
    }
    event->accept();
}

void StoryboardControl::activateSelectedSlide(bool viewPhoto) {
    const int selected = project_.selectedSlide();
    const Slide* cell = project_.slide(selected);
    if (!cell || !cell->hasPhoto) {
        return;
    }
    scrollIntoView(selected);
    if (!viewPhoto) {
        openChooser(selected);
        viewport()->update();
    } else if (viewerOpener_) {
        const std::string path = cell->photoPath;
        viewerOpener_(this, path, cell->index);
    }
}

void StoryboardControl::showEvent(QShowEvent* event) {
    QAbstractScrollArea::showEvent(event);
    // Thumbnails made from now on match the density of the screen the storyboard is on.
    project_.setThumbnailPixelRatio(devicePixelRatioF());
}

void StoryboardControl::focusInEvent(QFocusEvent* event) {
    QAbstractScrollArea::focusInEvent(event);
    viewport()->update();
}

void StoryboardControl::focusOutEvent(QFocusEvent* event) {
    QAbstractScrollArea::focusOutEvent(event);
    viewport()->update();
}

void StoryboardControl::updateAccessibleDescription() {
    setAccessibleDescription(QString::fromStdString(storyboard::selectionDescription(project_)));
    Q_EMIT selectionChanged();
}

// ---- Mouse

bool StoryboardControl::viewportEvent(QEvent* event) {
    switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonDblClick:
        case QEvent::ContextMenu:
        case QEvent::Wheel:
        case QEvent::DragEnter:
        case QEvent::DragMove:
        case QEvent::DragLeave:
        case QEvent::Drop:
        case QEvent::Paint:
            return QAbstractScrollArea::viewportEvent(event);
        case QEvent::Enter:
        case QEvent::Leave:
            viewport()->update();
            return QAbstractScrollArea::viewportEvent(event);
        case QEvent::ToolTip: {
            // A clip's whole name and length, which its box may show only in part; a slide's file, its
            // size and its durations.
            const auto* help = static_cast<QHelpEvent*>(event);
            const QPoint point = help->pos();
            const QString text = toolTipAt(point);
            if (text.isEmpty()) {
                QToolTip::hideText();
                return true;
            }
            CellRect area;
            if (const SoundtrackClip* clip = project_.clip(project_.clipAtPoint(point.x(), point.y()))) {
                area = clip->cellRect;
            } else if (const Slide* cell = project_.slide(project_.photoSlideAtPoint(point.x(), point.y()))) {
                area = cell->cellRect;
            }
            QToolTip::showText(help->globalPos(), text, viewport(), toQRect(area));
            return true;
        }
        default:
            return QAbstractScrollArea::viewportEvent(event);
    }
}

void StoryboardControl::mousePressEvent(QMouseEvent* event) {
    const QPoint point = event->position().toPoint();
    if (event->button() == Qt::LeftButton) {
        leftClick(point, event->modifiers());
        event->accept();
        return;
    }
    QAbstractScrollArea::mousePressEvent(event);
}

void StoryboardControl::mouseMoveEvent(QMouseEvent* event) {
    const QPoint point = event->position().toPoint();
    if (pressSlide_ < 0 || !(event->buttons() & Qt::LeftButton)) {
        QAbstractScrollArea::mouseMoveEvent(event);
        return;
    }
    if (!slideDrag_) {
        if ((point - pressPoint_).manhattanLength() < QApplication::startDragDistance()) {
            return;
        }
        // Past the drag distance: the pressed slide moves, with the rest of the selection it is in.
        draggedSlides_ = targetsOf(pressSlide_);
        slideDrag_ = true;
        collapseOnRelease_ = false;
        endDurationEdit(true);
        viewport()->setCursor(Qt::DragMoveCursor);
    }
    lastDragPoint_ = point;
    updateSlideDrop(point);
    // Within a few pixels of either end the row scrolls, faster the nearer the edge.
    constexpr int kEdge = 24;
    dragScrollStep_ = point.x() < kEdge                    ? -storyboard::kWheelScrollStep
                      : point.x() > visibleWidth() - kEdge ? storyboard::kWheelScrollStep
                                                           : 0;
    if (dragScrollStep_ != 0 && !dragScrollTimer_->isActive()) {
        dragScrollTimer_->start();
    }
    event->accept();
}

void StoryboardControl::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        QAbstractScrollArea::mouseReleaseEvent(event);
        return;
    }
    if (slideDrag_) {
        updateSlideDrop(event->position().toPoint());
        endSlideDrag(true);
    } else if (collapseOnRelease_ && pressSlide_ >= 0) {
        // A click (no drag) on a slide of a multi-selection selects that slide alone.
        selectSlide(pressSlide_);
    }
    pressSlide_ = -1;
    collapseOnRelease_ = false;
    event->accept();
}

void StoryboardControl::updateSlideDrop(const QPoint& point) {
    layoutRects();
    int target = -1;
    // Only over the photo line inside the view: elsewhere a release drops nothing.
    if (viewport()->rect().contains(point) && storyboard::lineAtY(point.y()) == storyboard::Line::Photos) {
        const int index = project_.cellAtPoint(point.x(), point.y());
        if (const Slide* cell = project_.slide(index)) {
            if (!cell->hasPhoto) {
                target = project_.photoSlideCount();
            } else {
                // The left half of a slide puts the dragged ones before it, the right half after it.
                const int middle = (cell->cellRect.left + cell->cellRect.right) / 2;
                target = point.x() < middle ? index : index + 1;
            }
        }
    }
    slideDropTarget_ = target;
    // The drop bar stands at the left edge of the cell the slides go before (the first placeholder at
    // the end).
    if (target != dropIndicatorCell_) {
        dropIndicatorCell_ = target;
        viewport()->update();
    }
}

void StoryboardControl::endSlideDrag(bool drop) {
    const int target = slideDropTarget_;
    const std::vector<int> slides = draggedSlides_;
    slideDrag_ = false;
    dragScrollStep_ = 0;
    dragScrollTimer_->stop();
    draggedSlides_.clear();
    slideDropTarget_ = -1;
    pressSlide_ = -1;
    collapseOnRelease_ = false;
    viewport()->setCursor(Qt::ArrowCursor);
    clearDropIndicator();
    if (drop && target >= 0 && !slides.empty()) {
        history_.record(slides.size() > 1 ? QStringLiteral("Move Slides") : QStringLiteral("Move Slide"),
                        [&] { project_.moveSlides(slides, target); });
        updateAccessibleDescription();
        viewport()->update();
    }
}

void StoryboardControl::leftClick(const QPoint& point, Qt::KeyboardModifiers modifiers) {
    // A click in the control stores an edit in progress, as the editor's focus loss does.
    endDurationEdit(true);
    setFocus(Qt::MouseFocusReason);
    Q_EMIT clickNotified(2);
    pressSlide_ = -1;
    collapseOnRelease_ = false;
    layoutRects();
    {
        const int index = project_.cellAtPoint(point.x(), point.y());
        const Slide* cell = project_.slide(index);
        const bool onPhoto = cell && cell->hasPhoto;
        // Ctrl+click adds a slide to the selection or takes it out; Shift+click selects a range.
        if (onPhoto && (modifiers & (Qt::ControlModifier | Qt::ShiftModifier))) {
            if (modifiers & Qt::ShiftModifier) {
                project_.extendSlideSelection(index);
            } else {
                project_.toggleSlideSelection(index);
            }
            updateAccessibleDescription();
            viewport()->update();
            return;
        }
        // A plain press inside a multi-selection keeps it, so the whole selection can be dragged; a
        // release without a drag selects the slide alone. Its editor and chooser act on all of them.
        const CellHit hit = onPhoto ? storyboard::hitTest(*cell, point.x(), point.y()) : CellHit::None;
        const bool actionArea = hit == CellHit::SlideDuration || hit == CellHit::TransitionDuration ||
                                hit == CellHit::TransitionChooser;
        if (onPhoto && project_.isSlideSelected(index) && project_.selectedSlides().size() > 1) {
            // The clicked slide becomes current; the editor and the chooser then act on the selection.
            project_.setSlideSelection(project_.selectedSlides(), index);
            updateAccessibleDescription();
            viewport()->update();
            if (hit == CellHit::SlideDuration || hit == CellHit::TransitionDuration) {
                beginDurationEdit(
                    index, hit == CellHit::SlideDuration ? DurationField::Slide : DurationField::Transition);
            } else if (actionArea) {
                openChooser(index);
            } else {
                pressSlide_ = index;
                pressPoint_ = point;
                collapseOnRelease_ = true;
            }
            return;
        }
    }
    project_.setSelectedSlide(-1);
    project_.setSelectedClip(-1);
    layoutRects();

    bool photoHit = false;
    // A clip on the soundtrack line is selected by a click on it (the topmost where two overlap).
    if (const int clip = project_.clipAtPoint(point.x(), point.y()); clip >= 0) {
        project_.setSelectedClip(clip);
    }
    const int index = project_.cellAtPoint(point.x(), point.y());
    if (const Slide* cell = project_.slide(index); cell && cell->hasPhoto) {
        photoHit = true;
        project_.setSelectedSlide(index);
        updateAccessibleDescription();
        viewport()->update();
        switch (storyboard::hitTest(*cell, point.x(), point.y())) {
            case CellHit::SlideDuration:
                beginDurationEdit(index, DurationField::Slide);
                return;
            case CellHit::TransitionDuration:
                beginDurationEdit(index, DurationField::Transition);
                return;
            case CellHit::TransitionChooser:
                openChooser(index);
                break;
            default:
                // Anywhere else on the slide a press may become a drag.
                pressSlide_ = index;
                pressPoint_ = point;
                break;
        }
    }
    endDurationEdit(false);
    updateAccessibleDescription();
    viewport()->update();
    if (!photoHit) {
        Q_EMIT clickNotified(1);
    }
}

void StoryboardControl::openChooser(int slide) {
    if (!chooserOpener_) {
        return;
    }
    const std::vector<int> targets = targetsOf(slide);
    const std::optional<int> effect = chooserOpener_(this, project_, slide);
    // The project may have changed meanwhile; only a slide that is still a photo takes the effect.
    const Slide* cell = project_.slide(slide);
    if (effect && cell && cell->hasPhoto) {
        history_.record(QStringLiteral("Change Transition"), [&] {
            for (const int target : targets) {
                if (const Slide* other = project_.slide(target); other && other->hasPhoto) {
                    project_.setTransitionEffect(target, *effect);
                }
            }
        });
    }
}

std::vector<int> StoryboardControl::targetsOf(int slide) const {
    if (project_.isSlideSelected(slide)) {
        return project_.selectedSlides();
    }
    return {slide};
}

void StoryboardControl::deleteSelection() {
    if (project_.selectedClip() >= 0) {
        const int clip = project_.selectedClip();
        history_.record(QStringLiteral("Delete Clip"), [&] { project_.deleteClip(clip); });
        return;
    }
    const std::vector<int> slides = project_.selectedSlides();
    if (slides.empty()) {
        return;
    }
    history_.record(slides.size() > 1 ? QStringLiteral("Delete Slides") : QStringLiteral("Delete Slide"),
                    [&] { project_.deleteSlides(slides); });
    updateAccessibleDescription();
}

void StoryboardControl::shiftSelection(bool left) {
    if (project_.selectedClip() >= 0) {
        history_.record(QStringLiteral("Move Clip"),
                        [&] { left ? project_.shiftClipLeft() : project_.shiftClipRight(); });
        return;
    }
    const bool several = project_.selectedSlides().size() > 1;
    history_.record(several ? QStringLiteral("Move Slides") : QStringLiteral("Move Slide"),
                    [&] { left ? project_.shiftSelectionLeft() : project_.shiftSelectionRight(); });
    updateAccessibleDescription();
    viewport()->update();
}

void StoryboardControl::selectSlides(const std::vector<int>& slides, int current) {
    project_.setSlideSelection(slides, current);
    if (project_.selectedSlide() >= 0) {
        scrollIntoView(project_.selectedSlide());
    }
    updateAccessibleDescription();
    viewport()->update();
}

void StoryboardControl::applyDefaultsToAll() {
    endDurationEdit(true);
    history_.record(QStringLiteral("Apply Defaults to All"), [this] {
        project_.applyDefaultsToAll();
        project_.relayoutClips();
    });
}

void StoryboardControl::loadContent(const ProjectContent& content) {
    endDurationEdit(false);
    project_.setContent(content);
    history_.stack().clear();
    history_.stack().setClean();
    scrollTo(0);
}

void StoryboardControl::newSlideshow() {
    endDurationEdit(false);
    project_.resetProject();
    history_.stack().clear();
    history_.stack().setClean();
    scrollTo(0);
}

QString StoryboardControl::toolTipAt(const QPoint& point) {
    layoutRects();
    if (const SoundtrackClip* clip = project_.clip(project_.clipAtPoint(point.x(), point.y()))) {
        return QString::fromStdString(storyboard::clipToolTip(*clip));
    }
    const Slide* cell = project_.slide(project_.photoSlideAtPoint(point.x(), point.y()));
    if (!cell) {
        return {};
    }
    storyboard::PhotoFileFacts facts;
    if (!cell->photoMissing) {
        const auto known = photoFacts_.find(cell->photoPath);
        if (known != photoFacts_.end()) {
            facts = known->second;
        } else {
            // The size on disk from stat, the pixel size from the file's header alone; a FIFO, a
            // folder or a device is never opened.
            struct stat info {};
            if (::stat(cell->photoPath.c_str(), &info) == 0 && S_ISREG(info.st_mode)) {
                facts.fileBytes = static_cast<std::int64_t>(info.st_size);
                // As shown: the orientation turns portrait photos a quarter.
                const QSize size = PhotoLoader::uprightSize(cell->photoPath);
                if (size.isValid()) {
                    facts.pixelWidth = size.width();
                    facts.pixelHeight = size.height();
                }
            }
            photoFacts_.emplace(cell->photoPath, facts);
        }
    }
    return storyboard::slideToolTip(*cell, facts);
}

// ---- Thumbnails of slides that arrived without one

bool StoryboardControl::thumbnailsPending() const {
    for (int i = 0; i < project_.photoSlideCount(); ++i) {
        if (project_.slideNeedsThumbnail(i)) {
            return true;
        }
    }
    return false;
}

void StoryboardControl::scheduleThumbnails() {
    if (thumbnailsScheduled_) {
        return;
    }
    thumbnailsScheduled_ = true;
    // After the change's notifications, when the view's size and position are settled.
    QMetaObject::invokeMethod(
        this,
        [this] {
            thumbnailsScheduled_ = false;
            requestThumbnails();
        },
        Qt::QueuedConnection);
}

void StoryboardControl::requestThumbnails() {
    const int photos = project_.photoSlideCount();
    const int first = std::clamp(scrollPosition() / kCellWidth, 0, std::max(0, photos - 1));
    const int last = std::min(photos - 1, (scrollPosition() + visibleWidth()) / kCellWidth);
    std::vector<std::string> paths;
    std::unordered_set<std::string> seen;
    const auto want = [&](int i) {
        if (project_.slideNeedsThumbnail(i)) {
            const std::string& path = project_.cells()[static_cast<std::size_t>(i)].photoPath;
            if (seen.insert(path).second) {
                paths.push_back(path);
            }
        }
    };
    // In view first, then onward from the view, then back towards the start.
    for (int i = first; i <= last; ++i) {
        want(i);
    }
    for (int i = last + 1; i < photos; ++i) {
        want(i);
    }
    for (int i = first - 1; i >= 0; --i) {
        want(i);
    }
    if (paths.empty() && !thumbnailMaker_) {
        return;
    }
    if (!thumbnailMaker_) {
        thumbnailMaker_ = std::make_unique<SlideThumbnailMaker>(
            this, [this](const std::string& path, const QImage& thumbnail) {
                project_.provideThumbnail(path, thumbnail);
                Q_EMIT thumbnailsArrived();
            });
    }
    thumbnailMaker_->request(std::move(paths), project_.thumbnailPixelRatio());
}

void StoryboardControl::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        return;
    }
    const QPoint point = event->position().toPoint();
    const int index = project_.cellAtPoint(point.x(), point.y());
    const Slide* cell = project_.slide(index);
    if (cell && cell->hasPhoto && storyboard::hitTest(*cell, point.x(), point.y()) == CellHit::Thumbnail &&
        viewerOpener_) {
        const std::string path = cell->photoPath;
        viewerOpener_(this, path, cell->index);
    }
    event->accept();
}

void StoryboardControl::contextMenuEvent(QContextMenuEvent* event) {
    if (event->reason() == QContextMenuEvent::Keyboard) {
        showSelectedSlideMenu();
        event->accept();
        return;
    }
    rightClick(viewport()->mapFromGlobal(event->globalPos()), event->globalPos());
    event->accept();
}

void StoryboardControl::showSelectedSlideMenu() {
    // The menu of the selected clip, at the part of it in view.
    if (const SoundtrackClip* clip = project_.clip(project_.selectedClip())) {
        scrollClipIntoView(project_.selectedClip());
        layoutRects();
        const QRect r = toQRect(clip->cellRect).intersected(viewport()->rect());
        if (!r.isEmpty()) {
            rightClick(r.center(), viewport()->mapToGlobal(r.center()), true);
        }
        return;
    }
    // The menu of the selected slide, at its cell.
    const Slide* cell = project_.slide(project_.selectedSlide());
    if (cell && cell->hasPhoto) {
        const QRect r = toQRect(cell->cellRect);
        rightClick(r.center(), viewport()->mapToGlobal(r.center()), true);
    }
}

void StoryboardControl::rightClick(const QPoint& point, const QPoint& globalPoint, bool fromKeyboard) {
    const int index = project_.cellAtPoint(point.x(), point.y());
    const Slide* cell = project_.slide(index);
    if (const int clip = project_.clipAtPoint(point.x(), point.y()); clip >= 0) {
        project_.setSelectedClip(clip);
    } else if (!cell || !cell->hasPhoto) {
        return;
    } else if (project_.isSlideSelected(index)) {
        // On a selected slide the menu acts on the whole selection, which stays; that slide is current.
        project_.setSlideSelection(project_.selectedSlides(), index);
    } else {
        project_.setSelectedSlide(index);
    }
    updateAccessibleDescription();
    viewport()->update();
    std::unique_ptr<QMenu> menu = makeContextMenu();
    if (fromKeyboard) {
        // Opened from the keyboard, the menu starts on its first item that can be chosen, so the arrow
        // keys and Enter work at once and a screen reader names an item.
        const QList<QAction*> actions = menu->actions();
        const auto first = std::find_if(actions.begin(), actions.end(),
                                        [](const QAction* action) { return action->isEnabled(); });
        if (first != actions.end()) {
            menu->setActiveAction(*first);
        }
    }
    if (menuRunner_) {
        menuRunner_(*menu, globalPoint);
    }
}

std::unique_ptr<QMenu> StoryboardControl::makeContextMenu() {
    auto menu = std::make_unique<QMenu>(this);
    if (project_.selectedClip() >= 0) {
        const storyboard::SlideMenuState state = storyboard::clipMenuState(project_);
        QAction* left =
            menu->addAction(QStringLiteral("Shift Clip Left '<'"), this, [this] { shiftSelection(true); });
        left->setEnabled(state.shiftLeft);
        QAction* right =
            menu->addAction(QStringLiteral("Shift Clip Right '>'"), this, [this] { shiftSelection(false); });
        right->setEnabled(state.shiftRight);
        QAction* remove = menu->addAction(QStringLiteral("Delete Clip"), this, [this] { deleteSelection(); });
        remove->setEnabled(state.remove);
    } else {
        storyboard::SlideMenuState state = storyboard::slideMenuState(project_);
        const std::vector<int>& selection = project_.selectedSlides();
        if (selection.size() > 1) {
            // Several slides move as one block: left while it can go left or is not together yet.
            const bool together =
                selection.back() - selection.front() + 1 == static_cast<int>(selection.size());
            state.shiftLeft = selection.front() > 0 || !together;
            state.shiftRight = selection.back() + 1 < project_.photoSlideCount() || !together;
            state.remove = true;
        }
        QAction* left =
            menu->addAction(QStringLiteral("Shift Slide Left '<'"), this, [this] { shiftSelection(true); });
        left->setEnabled(state.shiftLeft);
        QAction* right =
            menu->addAction(QStringLiteral("Shift Slide Right '>'"), this, [this] { shiftSelection(false); });
        right->setEnabled(state.shiftRight);
        QAction* remove =
            menu->addAction(QStringLiteral("Delete Slide"), this, [this] { deleteSelection(); });
        remove->setEnabled(state.remove);
    }
    menu->addSeparator();
    const bool canFit = canFitToMusic();
    menu->addAction(QStringLiteral("Fit to Music"), this, [this] { runFitToMusic(false); })
        ->setEnabled(canFit);
    menu->addAction(QStringLiteral("Fit to Music on the Beats"), this, [this] { runFitToMusic(true); })
        ->setEnabled(canFit);
    return menu;
}

// ---- Fit to music

double StoryboardControl::frameRate() const {
    const double fps = frameRateProvider_ ? frameRateProvider_() : frameRateForIndex(0);
    return fps > 0.0 && std::isfinite(fps) ? fps : frameRateForIndex(0);
}

VideoSize StoryboardControl::videoSize() const {
    return videoSizeProvider_ ? videoSizeProvider_() : VideoSize{};
}

bool StoryboardControl::canFitToMusic() const {
    return storyboard::canFitToMusic(project_) && !beats_.running();
}

void StoryboardControl::setBeatDetector(ClipBeatCache::Detector detector) {
    beats_.setDetector(std::move(detector));
}

void StoryboardControl::runFitToMusic(bool onBeats) {
    if (!canFitToMusic()) {
        return;
    }
    // A value being typed counts, as before any other command.
    endDurationEdit(true);
    if (!onBeats) {
        const double crossfade = project_.crossfadeSeconds();
        FitResult result;
        history_.record(QStringLiteral("Fit to Music"), [&] {
            result =
                fitToMusic(project_, soundtrackSecondsFor(project_, crossfade), frameRate(), videoSize());
            project_.relayoutClips();
        });
        finishFit(result);
        return;
    }
    std::vector<std::string> paths;
    for (const SoundtrackClip& clip : project_.clips()) {
        paths.push_back(clip.wavePath);
    }
    const std::vector<std::string> missing = beats_.missing(paths);
    if (missing.empty()) {
        fitWithBeats();
        return;
    }
    // The window stays usable meanwhile; the fit takes the project as it is when the beats are in.
    if (beats_.detect(missing, this, [this] {
            setBusyCursor(false);
            Q_EMIT fitToMusicAvailabilityChanged();
            fitWithBeats();
        })) {
        setBusyCursor(true);
        Q_EMIT fitToMusicAvailabilityChanged();
    }
}

void StoryboardControl::fitWithBeats() {
    // The clips or the photos may have gone while the beats were found.
    if (!storyboard::canFitToMusic(project_)) {
        return;
    }
    const double crossfade = project_.crossfadeSeconds();
    std::vector<std::vector<double>> clipBeats;
    bool anyBeat = false;
    for (const SoundtrackClip& clip : project_.clips()) {
        const std::vector<double>* beats = beats_.beatsFor(clip.wavePath);
        clipBeats.push_back(beats ? *beats : std::vector<double>{});
        anyBeat = anyBeat || !clipBeats.back().empty();
    }
    const double musicSeconds = soundtrackSecondsFor(project_, crossfade);
    FitResult result;
    if (!anyBeat) {
        history_.record(QStringLiteral("Fit to Music"), [&] {
            result = fitToMusic(project_, musicSeconds, frameRate(), videoSize());
            project_.relayoutClips();
        });
        if (result.outcome == FitOutcome::Fitted) {
            showMessage(kNoBeatsText, MessageFlags::kWarningOk);
        }
        finishFit(result);
        return;
    }
    const std::vector<double> beats = soundtrackBeats(clipBeats, clipDurations(project_), crossfade);
    history_.record(QStringLiteral("Fit to Music on the Beats"), [&] {
        result = fitToBeats(project_, beats, musicSeconds, frameRate(), videoSize());
        project_.relayoutClips();
    });
    finishFit(result);
}

void StoryboardControl::finishFit(const FitResult& result) {
    // The stills changed: the soundtrack line's scale follows the new total.
    project_.relayoutClips();
    viewport()->update();
    switch (result.outcome) {
        case FitOutcome::StillsAtMinimum:
            showMessage(kMusicTooShortText, MessageFlags::kWarningOk);
            break;
        case FitOutcome::StillsAtMaximum:
            showMessage(kMusicTooLongText, MessageFlags::kWarningOk);
            break;
        case FitOutcome::NoMusic:
            showMessage(kNoMusicLengthText, MessageFlags::kWarningOk);
            break;
        default:
            break;
    }
}

void StoryboardControl::stopFindingBeats() {
    beats_.stop();
    setBusyCursor(false);
    Q_EMIT fitToMusicAvailabilityChanged();
}

void StoryboardControl::setBusyCursor(bool on) {
    if (on == busyCursor_) {
        return;
    }
    busyCursor_ = on;
    if (on) {
        QApplication::setOverrideCursor(Qt::BusyCursor);
    } else {
        QApplication::restoreOverrideCursor();
    }
}

// ---- Waveforms

void StoryboardControl::setPeakLookup(PeakLookup lookup) {
    peakLookup_ = std::move(lookup);
    viewport()->update();
}

const AudioPeaks* StoryboardControl::peaksFor(const std::string& path) {
    if (peakLookup_) {
        return peakLookup_(path);
    }
    if (!peakCache_) {
        peakCache_ = std::make_unique<AudioPeakCache>(
            this, [this](const std::string& ready) { clipPeaksReady(ready); });
    }
    return peakCache_->peaksFor(path);
}

void StoryboardControl::clipPeaksReady(const std::string& path) {
    const AudioPeaks* peaks = peaksFor(path);
    // Only a file read to its end tells its length; one that failed midway keeps the measured length
    // (the mix makes the rest silence).
    if (peaks && peaks->complete) {
        project_.setClipDurationForPath(path, peaks->durationSeconds());
    }
    viewport()->update();
    Q_EMIT waveformsArrived();
}

void StoryboardControl::scheduleClipMeasuring() {
    if (measuringScheduled_ || project_.clips().empty()) {
        if (project_.clips().empty() && peakCache_) {
            peakCache_->retainOnly({});
        }
        return;
    }
    measuringScheduled_ = true;
    QMetaObject::invokeMethod(
        this, [this] { measureClips(); }, Qt::QueuedConnection);
}

void StoryboardControl::measureClips() {
    measuringScheduled_ = false;
    std::vector<std::string> paths;
    std::unordered_set<std::string> seen;
    for (const SoundtrackClip& clip : project_.clips()) {
        if (seen.insert(clip.wavePath).second) {
            paths.push_back(clip.wavePath);
        }
    }
    if (peakCache_) {
        peakCache_->retainOnly(paths);
    }
    // Files whose peaks are in already give their lengths now; the others are queued and report later.
    for (const std::string& path : paths) {
        const AudioPeaks* peaks = peaksFor(path);
        if (peaks && peaks->complete) {
            project_.setClipDurationForPath(path, peaks->durationSeconds());
        }
    }
}

// ---- The duration editor

void StoryboardControl::beginDurationEdit(int slide, DurationField field) {
    const Slide* cell = project_.slide(slide);
    if (!cell || !cell->hasPhoto) {
        return;
    }
    if (editingSlide_ == slide && editingField_ == field) {
        return;
    }
    endDurationEdit(false);
    editingSlide_ = slide;
    editingField_ = field;
    const CellRect area =
        storyboard::offsetRect(field == DurationField::Slide ? storyboard::kSlideDurationEditor
                                                             : storyboard::kTransitionDurationEditor,
                               cell->cellRect.left, cell->cellRect.top);
    const double value = field == DurationField::Slide ? cell->slideDuration : cell->transitionDuration;
    editor_->setFont(textFont_);
    // Screen readers say which value is being edited, not just "duration".
    editor_->setAccessibleName(QStringLiteral("Slide %1 %2 in seconds")
                                   .arg(cell->index + 1)
                                   .arg(field == DurationField::Slide
                                            ? QStringLiteral("duration")
                                            : QStringLiteral("transition duration")));
    editor_->setGeometry(toQRect(area));
    editor_->setText(QString::fromStdString(storyboard::durationText(value)));
    editor_->show();
    editor_->selectAll();
    editor_->setFocus(Qt::OtherFocusReason);
}

void StoryboardControl::endDurationEdit(bool store) {
    if (!editor_ || editingSlide_ < 0) {
        return;
    }
    const int slide = editingSlide_;
    const DurationField field = editingField_;
    // Reset first: hiding the editor moves the focus, which asks for another store.
    editingSlide_ = -1;
    editingField_ = DurationField::Slide;
    if (store) {
        const Slide* cell = project_.slide(slide);
        if (cell && cell->hasPhoto) {
            const std::string text = editor_->text().toStdString();
            const std::vector<int> targets = targetsOf(slide);
            // Each slide of the selection whose shown value differs takes the text; an unchanged text
            // leaves a value (and the clip widths) alone, so 3.25 shown as "3.2" stays 3.25.
            history_.record(QStringLiteral("Change Duration"), [&] {
                bool changed = false;
                for (const int target : targets) {
                    const Slide* other = project_.slide(target);
                    if (!other || !other->hasPhoto) {
                        continue;
                    }
                    const double current =
                        field == DurationField::Slide ? other->slideDuration : other->transitionDuration;
                    if (text == storyboard::durationText(current)) {
                        continue;
                    }
                    if (field == DurationField::Slide) {
                        project_.setSlideDurationText(target, text);
                    } else {
                        project_.setTransitionDurationText(target, text);
                    }
                    changed = true;
                }
                if (changed) {
                    project_.relayoutClips();
                }
            });
        }
    }
    if (editor_->hasFocus()) {
        setFocus(Qt::OtherFocusReason);
    }
    editor_->hide();
    viewport()->update();
}

// ---- Drag and drop

const storyboard::DropFiles& StoryboardControl::dragFiles(const QMimeData& mime) {
    if (!dragFiles_ || dragMime_ != &mime) {
        ++payloadChecks_;
        dragFiles_ = storyboard::dropFilesFrom(mime);
        dragMime_ = &mime;
    }
    return *dragFiles_;
}

void StoryboardControl::forgetDragFiles() {
    dragFiles_.reset();
    dragMime_ = nullptr;
}

bool StoryboardControl::acceptsDrag(const QMimeData* mime, const QPoint& point) {
    if (!mime) {
        return false;
    }
    const storyboard::DropFiles& files = dragFiles(*mime);
    return !files.paths.empty() && files.line == storyboard::lineAtY(point.y());
}

void StoryboardControl::dragEnterEvent(QDragEnterEvent* event) {
    // A new drag: whatever an earlier one left behind is read afresh.
    forgetDragFiles();
    if (!event->mimeData() || dragFiles(*event->mimeData()).paths.empty()) {
        forgetDragFiles();
        event->ignore();
        return;
    }
    // Entered: the moves that follow decide, point by point, whether a drop is possible. The entry itself
    // is always taken, wherever it is: a refused entry gets no moves at all, and audio from the browser
    // above enters over the photo line on its way down to the soundtrack line.
    event->setDropAction(Qt::CopyAction);
    event->accept();
    const int x = qRound(event->position().x());
    const int y = qRound(event->position().y());
    layoutRects();
    if (acceptsDrag(event->mimeData(), QPoint(x, y)) && storyboard::lineAtY(y) == storyboard::Line::Photos) {
        showDropIndicator(x, y);
    }
}

void StoryboardControl::dragMoveEvent(QDragMoveEvent* event) {
    const int x = qRound(event->position().x());
    const int y = qRound(event->position().y());
    layoutRects();
    if (!acceptsDrag(event->mimeData(), QPoint(x, y))) {
        clearDropIndicator();
        event->ignore();
        return;
    }
    if (storyboard::lineAtY(y) == storyboard::Line::Photos) {
        showDropIndicator(x, y);
    }
    event->setDropAction(Qt::CopyAction);
    event->accept();
}

void StoryboardControl::dragLeaveEvent(QDragLeaveEvent* event) {
    forgetDragFiles();
    clearDropIndicator();
    event->accept();
}

void StoryboardControl::dropEvent(QDropEvent* event) {
    clearDropIndicator();
    const QPoint point = event->position().toPoint();
    layoutRects();
    if (!acceptsDrag(event->mimeData(), point)) {
        forgetDragFiles();
        event->ignore();
        return;
    }
    // The drag ends here; the files are taken out before anything below can start another.
    const storyboard::DropFiles files = std::move(*dragFiles_);
    forgetDragFiles();
    // A value being typed is kept, as when the user clicks elsewhere in the storyboard.
    endDurationEdit(true);
    // Always a copy: a file manager must never take a "move" as leave to delete the originals.
    event->setDropAction(Qt::CopyAction);
    event->accept();
    if (files.line == storyboard::Line::Photos) {
        dropPhotos(files.paths, project_.cellAtPoint(point.x(), point.y()));
    } else {
        dropClips(files.paths);
    }
}

void StoryboardControl::showDropIndicator(int x, int y) {
    const int cell = project_.photoSlideAtPoint(x, y);
    if (cell != dropIndicatorCell_) {
        dropIndicatorCell_ = cell;
        viewport()->update();
    }
}

void StoryboardControl::clearDropIndicator() {
    if (dropIndicatorCell_ != -1) {
        dropIndicatorCell_ = -1;
        viewport()->update();
    }
}

int StoryboardControl::dropPhotos(const std::vector<std::string>& paths, int firstCell) {
    // A point on no cell inserts nothing at all (not even the later photos at the front of the row).
    if (firstCell < 0) {
        return 0;
    }
    const SlideDefaults defaults = project_.currentDefaults();
    // One insertion for the whole drop: a refused file leaves no gap, the next photo takes its place.
    std::vector<std::string> refused;
    int taken = 0;
    history_.record(paths.size() > 1 ? QStringLiteral("Add Photos") : QStringLiteral("Add Photo"), [&] {
        taken = project_.insertPhotos(paths, firstCell, defaults.transitionEffect, defaults.slideDuration,
                                      defaults.transitionDuration, &refused);
    });
    if (!refused.empty()) {
        showMessage(storyboard::leftOutFilesText(
                        "These files are not photos that can be shown and were left out:", refused),
                    MessageFlags::kWarningOk);
    }
    return taken;
}

int StoryboardControl::dropClips(const std::vector<std::string>& paths) {
    int taken = 0;
    std::vector<std::string> refused;
    AudioOpenResult refusal = AudioOpenResult::Ok;
    history_.record(QStringLiteral("Add Music"), [&] {
        for (const std::string& path : paths) {
            const AudioOpenResult result = project_.addClip(path);
            if (result == AudioOpenResult::Ok) {
                ++taken;
            } else {
                refused.push_back(path);
                refusal = result;
            }
        }
    });
    // One message for the whole drop: a single file says why, several are named together.
    if (refused.size() == 1) {
        std::string text;
        if (refusal == AudioOpenResult::CannotOpen) {
            text = "The file cannot be opened:\n";
        } else if (refusal == AudioOpenResult::NotAudio) {
            text = std::string("Unexpected file format. ") + audioOpenResultText(refusal) + "\n";
        } else {
            text = std::string(audioOpenResultText(refusal)) + "\n";
        }
        showMessage(text + displayPath(refused.front()), MessageFlags::kWarningOk);
    } else if (!refused.empty()) {
        showMessage(storyboard::leftOutFilesText(
                        "These files are not audio files that can be opened and were left out:", refused),
                    MessageFlags::kWarningOk);
    }
    if (taken > 0) {
        layoutRects();
        viewport()->update();
    }
    return taken;
}

// ---- Painting

void StoryboardControl::paintEvent(QPaintEvent* event) {
    QPainter painter(viewport());
    const QRect area = event->rect();
    painter.fillRect(area, Qt::white);
    painter.setFont(textFont_);
    layoutRects();

    // Only the cells that reach into the area being painted.
    const int scroll = scrollPosition();
    const int first = std::max(0, (scroll + area.left()) / kCellWidth);
    const int last = std::min(project_.cellCount() - 1, (scroll + area.right()) / kCellWidth);
    for (int i = first; i <= last; ++i) {
        paintCell(painter, project_.cells()[static_cast<std::size_t>(i)]);
    }
    paintSoundtrack(painter, area);
    paintDropBar(painter);
    paintFocusRing(painter);
}

void StoryboardControl::paintFocusRing(QPainter& painter) {
    // While the storyboard has the focus, keyboard users see it twice in the highlight colour: a 2-pixel
    // ring along the view's edge, and one around the frame of the selected slide (the cell the keys act
    // on), drawn in the gap around the frame so that nothing of the cell is covered.
    if (!hasFocus()) {
        return;
    }
    const QColor highlight = palette().color(QPalette::Highlight);
    drawRing(painter, viewport()->rect(), highlight);
    if (const Slide* cell = project_.slide(project_.selectedSlide()); cell && cell->hasPhoto) {
        const int l = cell->cellRect.left;
        const int t = cell->cellRect.top;
        // The frame spans (l + 4, t + 4) to (l + 115, t + 91); the ring hugs it from outside.
        drawRing(painter, QRect(QPoint(l + 2, t + 2), QPoint(l + 117, t + 93)), highlight);
    }
    // A selected clip: the ring over its own edge (the soundtrack line leaves no gap around a clip).
    if (const SoundtrackClip* clip = project_.clip(project_.selectedClip());
        clip && !clip->cellRect.isEmpty()) {
        drawRing(painter, toQRect(clip->cellRect), highlight);
    }
}

void StoryboardControl::paintCell(QPainter& painter, const Slide& cell) {
    const int l = cell.cellRect.left;
    const int t = cell.cellRect.top;
    const bool selected = cell.hasPhoto && project_.isSlideSelected(cell.index);
    const QPen pen(QColor::fromRgb(selected ? kSelectionPen : kNormalPen), 1);
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(outline(l + 4, t + 4, l + 116, t + 92));
    painter.drawLine(l + 4, t + 65, l + 115, t + 65);
    painter.drawLine(l + 59, t + 65, l + 59, t + 91);

    if (cell.hasPhoto) {
        const QRect picture = toQRect(storyboard::offsetRect(storyboard::kThumbnailArea, l, t));
        if (cell.photoMissing) {
            // A photo not found: a grey picture saying so (its path is in the tooltip).
            painter.fillRect(picture, QColor::fromRgb(kMissingFill));
            painter.setPen(QColor::fromRgb(kMissingText));
            const QFontMetrics metrics(textFont_);
            const QString words =
                metrics.horizontalAdvance(QStringLiteral("Photo missing")) < picture.width() - 4
                    ? QStringLiteral("Photo missing")
                    : QStringLiteral("Missing");
            painter.drawText(picture, Qt::AlignCenter, words);
            painter.setPen(pen);
        } else if (const QImage* thumbnail = project_.thumbnail(cell.thumbnailIndex);
                   thumbnail && !thumbnail->isNull()) {
            painter.drawImage(QPoint(l + 5, t + 5), *thumbnail);
        } else if (cell.thumbnailIndex < 0) {
            // Its thumbnail is still being made.
            painter.fillRect(picture, QColor::fromRgb(kPendingFill));
        }
        if (!cell.look.isStill()) {
            paintMotionMark(painter, picture);
        }
        if (selected) {
            // Every selected slide is framed twice, so a selection of several reads at a glance.
            painter.drawRect(outline(l + 5, t + 5, l + 115, t + 91));
        }
    }

    painter.setPen(Qt::black);
    painter.setFont(titleFont_);
    painter.drawText(toQRect(storyboard::offsetRect(storyboard::kNumberText, l, t)),
                     Qt::AlignRight | Qt::AlignVCenter, QString::number(cell.index + 1));
    painter.setFont(textFont_);

    if (!cell.hasPhoto) {
        painter.setPen(QColor::fromRgb(kNormalPen));
        painter.drawText(toQRect(storyboard::offsetRect(storyboard::kPlaceholderDropHint, l, t)),
                         Qt::AlignHCenter | Qt::AlignTop, QStringLiteral("Drop photo here"));
        painter.drawText(toQRect(storyboard::offsetRect(storyboard::kPlaceholderViewHint, l, t)),
                         Qt::AlignHCenter | Qt::AlignTop, QStringLiteral("Double click to view"));
        return;
    }

    painter.drawText(toQRect(storyboard::offsetRect(storyboard::kSlideDurationText, l, t)),
                     Qt::AlignRight | Qt::AlignVCenter,
                     QString::fromStdString(storyboard::durationText(cell.slideDuration)));

    // The transition box with the effect's icon and the transition's duration.
    painter.setPen(pen);
    painter.setBrush(Qt::white);
    painter.drawRect(outline(l + 119, t + 24, l + 154, t + 71));
    painter.drawLine(l + 119, t + 51, l + 153, t + 51);
    painter.setBrush(Qt::NoBrush);
    // Numbers outside 0..12 draw nothing.
    paintTransitionIcon(painter,
                        QRectF(l + storyboard::kIconLeft, t + storyboard::kIconTop, storyboard::kIconWidth,
                               storyboard::kIconHeight),
                        cell.transitionEffect);
    painter.setPen(Qt::black);
    painter.drawText(toQRect(storyboard::offsetRect(storyboard::kTransitionDurationText, l, t)),
                     Qt::AlignRight | Qt::AlignVCenter,
                     QString::fromStdString(storyboard::durationText(cell.transitionDuration)));
}

void StoryboardControl::paintSoundtrack(QPainter& painter, const QRect& area) {
    const int scroll = scrollPosition();
    const int visible = visibleWidth();
    const int right = std::max(visible, scrollExtent()) - scroll - 1;
    painter.setPen(Qt::black);
    painter.setBrush(Qt::white);
    painter.drawRect(outline(1 - scroll, storyboard::kSoundtrackTop, right, storyboard::kSoundtrackBottom));
    painter.setBrush(Qt::NoBrush);

    if (project_.clips().empty()) {
        const QRect title(5, 104, visible, 33);
        painter.setPen(QColor::fromRgb(kNormalPen));
        painter.setFont(titleFont_);
        painter.drawText(title, Qt::AlignLeft | Qt::AlignTop, QStringLiteral("Soundtrack"));
        painter.setFont(textFont_);
        painter.drawText(title.translated(125, 10), Qt::AlignLeft | Qt::AlignTop,
                         QStringLiteral("Drop background audios here."));
        return;
    }
    for (std::size_t i = 0; i < project_.clips().size(); ++i) {
        const SoundtrackClip& clip = project_.clips()[i];
        const QRect r = toQRect(clip.cellRect);
        if (r.right() < area.left() || r.left() > area.right()) {
            continue;
        }
        // The name goes where this clip plays alone, between the crossfades at either end.
        const std::vector<SoundtrackClip>& clips = project_.clips();
        const int nameFrom = i > 0 ? std::max(r.left(), clips[i - 1].cellRect.right) : r.left();
        const int nameTo = i + 1 < clips.size() ? std::min(clip.cellRect.right, clips[i + 1].cellRect.left)
                                                : clip.cellRect.right;
        paintClip(painter, clip, area, nameFrom, nameTo, static_cast<int>(i) == project_.selectedClip());
    }
    paintCrossfades(painter);
    // The selected clip's frame whole, over the clip after it where they overlap.
    if (const SoundtrackClip* selected = project_.clip(project_.selectedClip());
        selected && !selected->cellRect.isEmpty()) {
        const CellRect& r = selected->cellRect;
        painter.setPen(QColor::fromRgb(kSelectionPen));
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(outline(r.left, r.top, r.right, r.bottom));
    }
}

void StoryboardControl::paintClip(QPainter& painter, const SoundtrackClip& clip, const QRect& area,
                                  int nameFrom, int nameTo, bool selected) {
    const CellRect& r = clip.cellRect;
    if (r.isEmpty()) {
        return;
    }
    // Drawn over the end of the clip before it where a crossfade overlaps them.
    painter.fillRect(toQRect(r), QColor::fromRgb(kClipFill));
    if (const AudioPeaks* peaks = peaksFor(clip.wavePath)) {
        // Time 0 at the clip's left edge, at the scale its width was given; the frame is drawn over.
        const CellRect inside{r.left, r.top + 1, r.right - 1, r.bottom - 1};
        const std::vector<QLine> lines = storyboard::peakLines(
            *peaks, inside, storyboard::clipPixelsPerSecondOf(clip), area.left(), area.right());
        if (!lines.empty()) {
            painter.setPen(QPen(QColor::fromRgb(kWaveformPen), 1));
            painter.drawLines(lines.data(), static_cast<int>(lines.size()));
        }
    }
    painter.setPen(QColor::fromRgb(selected ? kSelectionPen : kNormalPen));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(outline(r.left, r.top, r.right, r.bottom));

    // The file's name at the start of the part in view, on a band of the clip's colour so the waveform
    // never hides it.
    const int left = std::max(nameFrom, 0) + storyboard::kClipNameLeft;
    const int room = std::min(nameTo, visibleWidth()) - storyboard::kClipNameLeft - left;
    const QFontMetrics metrics(textFont_);
    if (room < metrics.averageCharWidth() * 3) {
        return;
    }
    const QString name = metrics.elidedText(storyboard::clipName(clip), Qt::ElideMiddle, room);
    const QRect band(left - 2, r.top + storyboard::kClipNameTop, metrics.horizontalAdvance(name) + 4,
                     storyboard::kClipNameHeight);
    painter.fillRect(band, QColor::fromRgb(kClipFill));
    painter.setPen(QColor::fromRgb(kClipNameText));
    painter.setFont(textFont_);
    painter.drawText(band, Qt::AlignCenter, name);
}

void StoryboardControl::paintCrossfades(QPainter& painter) {
    // Where clip k + 1 starts before clip k ends, the two lines of a crossfade cross over the overlap.
    const std::vector<SoundtrackClip>& clips = project_.clips();
    painter.setPen(QPen(QColor::fromRgb(kNormalPen), 1));
    for (std::size_t i = 1; i < clips.size(); ++i) {
        const CellRect& before = clips[i - 1].cellRect;
        const CellRect& after = clips[i].cellRect;
        const int from = std::max(after.left, before.left);
        const int to = std::min(before.right, after.right) - 1;
        if (to - from < 2 || to < 0 || from > visibleWidth()) {
            continue;
        }
        painter.drawLine(from, after.top + 1, to, after.bottom - 2);
        painter.drawLine(from, after.bottom - 2, to, after.top + 1);
    }
}

void StoryboardControl::paintDropBar(QPainter& painter) {
    const Slide* cell = project_.slide(dropIndicatorCell_);
    // A slide drag may also end after the last photo: the bar then stands on the first placeholder.
    const bool endOfDrag = slideDrag_ && cell && cell->index == project_.photoSlideCount();
    if (!cell || (!cell->hasPhoto && !endOfDrag)) {
        return;
    }
    const QRect r = toQRect(cell->cellRect);
    painter.fillRect(QRect(r.left(), r.top(), storyboard::kDropBarWidth, r.height()),
                     QColor::fromRgb(kDropIndicator));
}

}  // namespace kestrelle
