#include "project/ui/storyboard_control.h"

#include "base/data_folder.h"
#include "base/message_box.h"
#include "project/transition_sample.h"
#include "project/ui/photo_viewer_dialog.h"
#include "render/ui/transition_chooser.h"
#include "render/ui/transition_icons.h"

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
#include <QWheelEvent>

#include <algorithm>

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
    viewerOpener_ = [](QWidget* owner, const std::string& path) {
        PhotoViewerDialog viewer(owner, path);
        viewer.exec();
    };
    menuRunner_ = [](QMenu& menu, const QPoint& at) { menu.exec(at); };

    project_.setDefaultsProvider(std::move(defaults));
    project_.setRefusesUnreadablePhotos(true);
    project_.setObserver(this);
    project_.setVisibleWidth(viewport()->width());
    project_.setThumbnailPixelRatio(devicePixelRatioF());
    updateScrollRange();
    updateAccessibleDescription();
}

StoryboardControl::~StoryboardControl() {
    // The base classes' destruction moves the focus away from the editor; its handlers must not reach
    // this control by then.
    project_.setObserver(nullptr);
    QObject::disconnect(editor_, nullptr, this, nullptr);
    delete editor_;
    editor_ = nullptr;
}

QSize StoryboardControl::sizeHint() const {
    return QSize(5 * kCellWidth, 160);
}

QSize StoryboardControl::minimumSizeHint() const {
    return QSize(kCellWidth, storyboard::kPhotoLineHeight + horizontalScrollBar()->sizeHint().height() + 4);
}

int StoryboardControl::scrollPosition() const {
    return horizontalScrollBar()->value();
}

int StoryboardControl::scrollLimitNow() const {
    return storyboard::scrollLimit(project_.contentWidth(), visibleWidth());
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
    dropUnusedClipWaves();
    layoutRects();
    updateAccessibleDescription();
    viewport()->update();
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
}

void StoryboardControl::layoutRects() {
    const int scroll = horizontalScrollBar()->value();
    for (int i = 0; i < project_.cellCount(); ++i) {
        project_.setCellRect(i, storyboard::cellRectAt(i, scroll));
    }
    std::int64_t left = -static_cast<std::int64_t>(scroll);
    for (int i = 0; i < static_cast<int>(project_.clips().size()); ++i) {
        const int width = project_.clips()[static_cast<std::size_t>(i)].cellWidth;
        const auto clampInt = [](std::int64_t v) {
            return static_cast<int>(std::clamp<std::int64_t>(v, INT32_MIN / 2, INT32_MAX / 2));
        };
        project_.setClipRect(
            i, {clampInt(left), storyboard::kClipTop, clampInt(left + width), storyboard::kClipBottom});
        left += width;
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

void StoryboardControl::keyPressEvent(QKeyEvent* event) {
    const int selected = project_.selectedSlide();
    switch (event->key()) {
        case Qt::Key_Left:
            selectSlide(selected - 1);
            break;
        case Qt::Key_Right:
            selectSlide(selected + 1);
            break;
        case Qt::Key_Delete:
            project_.deleteSlide(selected);
            break;
        case Qt::Key_Comma:
        case Qt::Key_Less:
            project_.shiftSlideLeft();
            break;
        case Qt::Key_Period:
        case Qt::Key_Greater:
            project_.shiftSlideRight();
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
        viewerOpener_(this, path);
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
        default:
            return QAbstractScrollArea::viewportEvent(event);
    }
}

void StoryboardControl::mousePressEvent(QMouseEvent* event) {
    const QPoint point = event->position().toPoint();
    if (event->button() == Qt::LeftButton) {
        leftClick(point);
        event->accept();
        return;
    }
    QAbstractScrollArea::mousePressEvent(event);
}

void StoryboardControl::leftClick(const QPoint& point) {
    // A click in the control stores an edit in progress, as the editor's focus loss does.
    endDurationEdit(true);
    setFocus(Qt::MouseFocusReason);
    Q_EMIT clickNotified(2);
    project_.setSelectedSlide(-1);
    project_.setSelectedClip(-1);
    layoutRects();

    bool photoHit = false;
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
    const std::optional<int> effect = chooserOpener_(this, project_, slide);
    // The project may have changed meanwhile; only a slide that is still a photo takes the effect.
    const Slide* cell = project_.slide(slide);
    if (effect && cell && cell->hasPhoto) {
        project_.setTransitionEffect(slide, *effect);
    }
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
        viewerOpener_(this, path);
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
    if (!cell || !cell->hasPhoto) {
        return;
    }
    project_.setSelectedSlide(index);
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
    const storyboard::SlideMenuState state = storyboard::slideMenuState(project_);
    QAction* left =
        menu->addAction(QStringLiteral("Shift Slide Left '<'"), this, [this] { project_.shiftSlideLeft(); });
    left->setEnabled(state.shiftLeft);
    QAction* right = menu->addAction(QStringLiteral("Shift Slide Right '>'"), this,
                                     [this] { project_.shiftSlideRight(); });
    right->setEnabled(state.shiftRight);
    QAction* remove = menu->addAction(QStringLiteral("Delete Slide"), this,
                                      [this] { project_.deleteSlide(project_.selectedSlide()); });
    remove->setEnabled(state.remove);
    return menu;
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
            const double current =
                field == DurationField::Slide ? cell->slideDuration : cell->transitionDuration;
            const std::string text = editor_->text().toStdString();
            // Only a changed text is stored: an unchanged one leaves the value and the clip widths alone.
            if (text != storyboard::durationText(current)) {
                if (field == DurationField::Slide) {
                    project_.setSlideDurationText(slide, text);
                } else {
                    project_.setTransitionDurationText(slide, text);
                }
                project_.relayoutClips();
            }
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
    // Entered: the moves that follow decide, point by point, whether a drop is possible.
    event->setDropAction(Qt::CopyAction);
    event->accept();
    dragMoveEvent(event);
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
    const int taken = project_.insertPhotos(paths, firstCell, defaults.transitionEffect,
                                            defaults.slideDuration, defaults.transitionDuration, &refused);
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
    for (const std::string& path : paths) {
        const AudioOpenResult result = project_.addClip(path);
        if (result == AudioOpenResult::Ok) {
            ++taken;
        } else {
            refused.push_back(path);
            refusal = result;
        }
    }
    // One message for the whole drop: a single file says why, several are named together.
    if (refused.size() == 1) {
        showMessage(refusal == AudioOpenResult::CannotOpen
                        ? "The file cannot be opened:\n" + displayPath(refused.front())
                        : std::string(audioOpenResultText(refusal)) + "\n" + displayPath(refused.front()),
                    MessageFlags::kWarningOk);
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
}

void StoryboardControl::paintCell(QPainter& painter, const Slide& cell) {
    const int l = cell.cellRect.left;
    const int t = cell.cellRect.top;
    const bool selected = cell.hasPhoto && cell.index == project_.selectedSlide();
    const QPen pen(QColor::fromRgb(selected ? kSelectionPen : kNormalPen), 1);
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(outline(l + 4, t + 4, l + 116, t + 92));
    painter.drawLine(l + 4, t + 65, l + 115, t + 65);
    painter.drawLine(l + 59, t + 65, l + 59, t + 91);

    if (cell.hasPhoto) {
        if (const QImage* thumbnail = project_.thumbnail(cell.thumbnailIndex);
            thumbnail && !thumbnail->isNull()) {
            painter.drawImage(QPoint(l + 5, t + 5), *thumbnail);
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
    const int right = std::max(visible, project_.contentWidth()) - scroll - 1;
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
    std::vector<const std::string*> painted;
    for (std::size_t i = 0; i < project_.clips().size(); ++i) {
        const SoundtrackClip& clip = project_.clips()[i];
        const QRect r = toQRect(clip.cellRect);
        if (r.right() < area.left() || r.left() > area.right()) {
            continue;
        }
        paintClip(painter, clip, area, static_cast<int>(i) == project_.selectedClip());
        painted.push_back(&clip.wavePath);
    }
    // Files of clips scrolled out of view stay open for a while (scrolling back reads them again at
    // no cost), but never more than a few: beyond the cap, all but the ones just painted are closed.
    if (clipWaves_.size() > kMaxOpenClipWaves) {
        std::erase_if(clipWaves_, [&painted](const auto& entry) {
            return std::none_of(painted.begin(), painted.end(),
                                [&entry](const std::string* path) { return *path == entry.first; });
        });
    }
}

void StoryboardControl::paintClip(QPainter& painter, const SoundtrackClip& clip, const QRect& area,
                                  bool selected) {
    const CellRect& r = clip.cellRect;
    painter.setPen(QColor::fromRgb(selected ? kSelectionPen : kNormalPen));
    painter.drawRect(outline(r.left, r.top, r.right, r.bottom));
    const WaveFile* wave = clipWave(clip);
    if (!wave) {
        return;
    }
    const std::vector<QPoint> points = storyboard::waveformPoints(
        *wave, clip.cellWidth, r.left, r.top, r.right, r.bottom, area.left(), area.right());
    if (points.size() < 2) {
        return;
    }
    painter.setPen(QPen(QColor::fromRgb(kWaveformPen), 1));
    painter.drawPolyline(points.data(), static_cast<int>(points.size()));
}

const WaveFile* StoryboardControl::clipWave(const SoundtrackClip& clip) {
    auto found = clipWaves_.find(clip.wavePath);
    if (found == clipWaves_.end()) {
        auto wave = std::make_unique<WaveFile>();
        if (wave->open(clip.wavePath) != WaveOpenResult::Ok) {
            wave.reset();  // remembered as unreadable: no retry on every paint
        }
        found = clipWaves_.emplace(clip.wavePath, std::move(wave)).first;
    }
    return found->second.get();
}

void StoryboardControl::dropUnusedClipWaves() {
    if (clipWaves_.empty()) {
        return;
    }
    const std::vector<SoundtrackClip>& clips = project_.clips();
    std::erase_if(clipWaves_, [&clips](const auto& entry) {
        return std::none_of(clips.begin(), clips.end(),
                            [&entry](const SoundtrackClip& clip) { return clip.wavePath == entry.first; });
    });
}

void StoryboardControl::paintDropBar(QPainter& painter) {
    const Slide* cell = project_.slide(dropIndicatorCell_);
    if (!cell || !cell->hasPhoto) {
        return;
    }
    const QRect r = toQRect(cell->cellRect);
    painter.fillRect(QRect(r.left(), r.top(), storyboard::kDropBarWidth, r.height()),
                     QColor::fromRgb(kDropIndicator));
}

}  // namespace kestrelle
