#include "app/ui/photo_browser.h"

#include "app/folder_source.h"
#include "render/ui/drag_pictures.h"

#include <QDrag>
#include <QKeyEvent>
#include <QMimeData>
#include <QPainter>
#include <QPainterPath>
#include <QScrollBar>

namespace kestrelle {
namespace {

QImage blankPicture(QSize size, qreal devicePixelRatio) {
    QImage image(size * devicePixelRatio, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(devicePixelRatio);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(QColor(200, 200, 200), 1));
    painter.setBrush(QColor(244, 244, 244));
    painter.drawRect(QRectF(0.5, 0.5, size.width() - 1, size.height() - 1));
    return image;
}

// A small framed photo (a sky and a hill) with its top left corner at `at`.
void drawSmallPhoto(QPainter& painter, QPointF at, QSizeF size) {
    const QRectF frame(at, size);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(120, 170, 230));
    painter.drawRect(frame);
    QPainterPath hill;
    hill.moveTo(frame.left(), frame.bottom());
    hill.lineTo(frame.left(), frame.top() + size.height() * 0.7);
    hill.quadTo(frame.center().x(), frame.top() + size.height() * 0.25, frame.right(),
                frame.top() + size.height() * 0.65);
    hill.lineTo(frame.right(), frame.bottom());
    hill.closeSubpath();
    painter.setBrush(QColor(70, 140, 60));
    painter.drawPath(hill);
    painter.setPen(QPen(QColor(40, 40, 40), 1));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(frame.adjusted(0.5, 0.5, -0.5, -0.5));
}

// A musical note (an eighth note with its flag) filling `box`, which is about 3 wide to 4 high.
void drawNote(QPainter& painter, const QRectF& box, const QColor& colour) {
    const qreal w = box.width();
    const qreal h = box.height();
    const QRectF head(box.left(), box.bottom() - h * 0.34, w * 0.62, h * 0.34);
    const qreal stemX = head.right() - w * 0.09;
    painter.setPen(Qt::NoPen);
    painter.setBrush(colour);
    painter.drawEllipse(head);
    painter.drawRect(QRectF(stemX, box.top(), w * 0.11, head.center().y() - box.top()));
    QPainterPath flag;
    flag.moveTo(stemX, box.top());
    flag.cubicTo(stemX + w * 0.2, box.top() + h * 0.2, box.right(), box.top() + h * 0.25,
                 box.right() - w * 0.08, box.top() + h * 0.55);
    flag.cubicTo(box.right() - w * 0.2, box.top() + h * 0.35, stemX + w * 0.2, box.top() + h * 0.3, stemX,
                 box.top() + h * 0.28);
    flag.closeSubpath();
    painter.drawPath(flag);
}

// Enter (main or keypad) and Insert, without Shift, Ctrl or Alt.
bool isAddKey(const QKeyEvent& event) {
    const Qt::KeyboardModifiers held = event.modifiers() & ~Qt::KeypadModifier;
    if (held != Qt::NoModifier) return false;
    return event.key() == Qt::Key_Return || event.key() == Qt::Key_Enter || event.key() == Qt::Key_Insert;
}

}  // namespace

PhotoBrowser::PhotoBrowser(QWidget* parent) : QListWidget(parent) {
    setObjectName(QStringLiteral("photoBrowser"));
    describeForAccessibility();
    setViewMode(QListView::IconMode);
    setMovement(QListView::Static);
    setResizeMode(QListView::Adjust);
    setFlow(QListView::LeftToRight);
    setWrapping(true);
    setWordWrap(true);
    setTextElideMode(Qt::ElideMiddle);
    setUniformItemSizes(true);
    setLayoutMode(QListView::Batched);
    setBatchSize(500);
    setIconSize(kThumbnailSize);
    const int textHeight = fontMetrics().height() * 2;
    setGridSize(QSize(kThumbnailSize.width() + 16, kThumbnailSize.height() + textHeight + 10));
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setDragEnabled(true);
    setDragDropMode(QAbstractItemView::DragOnly);
    setDefaultDropAction(Qt::CopyAction);
    // After a scroll the thumbnails now in view are made next.
    connect(verticalScrollBar(), &QScrollBar::valueChanged, this, [this] { showFirstVisibleRowNext(); });
}

void PhotoBrowser::showFirstVisibleRowNext() {
    if (!worker_) return;
    const QModelIndex first = indexAt(QPoint(spacing() + 1, spacing() + 1));
    if (first.isValid()) worker_->showRowsFrom(first.row());
}

PhotoBrowser::~PhotoBrowser() {
    stopWorker();
}

void PhotoBrowser::openFolderPath(const QByteArray& path) {
    openFolder(path.toStdString());
}

void PhotoBrowser::openFolder(const std::string& path) {
    const std::string folder = folderPathAsTyped(path);
    stopWorker();
    if (folder.empty()) {
        clear();
        thumbnailsShown_ = 0;
        return;
    }
    currentFolder_ = folder;
    files_ = listBrowserFiles(currentFolder_, mode_);
    fillItems();
    startWorker();
}

void PhotoBrowser::stopWorker() {
    if (!worker_ || stopping_) return;
    stopping_ = true;
    // Thumbnails already on their way are still shown while waiting; user input waits for the end.
    worker_->stopAndWait(QEventLoop::ExcludeUserInputEvents);
    worker_.reset();
    ++serial_;  // whatever the old worker left in the event queue is dropped
    stopping_ = false;
}

void PhotoBrowser::setMode(BrowserMode mode) {
    if (mode == mode_) return;
    mode_ = mode;
    describeForAccessibility();
    openFolder(currentFolder_);
}

void PhotoBrowser::describeForAccessibility() {
    if (mode_ == BrowserMode::Audio) {
        setAccessibleName(QStringLiteral("Audio files"));
        setAccessibleDescription(QStringLiteral("Enter or Insert adds the selected files to the soundtrack"));
    } else {
        setAccessibleName(QStringLiteral("Photos"));
        setAccessibleDescription(
            QStringLiteral("Enter or Insert adds the selected photos after the last slide"));
    }
}

std::string PhotoBrowser::pathAt(int row) const {
    if (row < 0 || static_cast<std::size_t>(row) >= files_.size()) return {};
    return joinPath(currentFolder_, files_[static_cast<std::size_t>(row)].name);
}

void PhotoBrowser::fillItems() {
    clear();
    thumbnailsShown_ = 0;
    const QIcon blank = blankIcon();
    // Every item as large as its grid cell: with uniform sizes the first item's size would be taken for
    // all, and a one-line first name would squeeze every longer name ("evening walk.mp3") into one
    // line, elided twice.
    const QSize itemSize = gridSize() - QSize(4, 4);
    setUpdatesEnabled(false);
    for (const ListedFile& file : files_) {
        auto* item = new QListWidgetItem(blank, file.shownName);
        item->setSizeHint(itemSize);
        item->setToolTip(shownFileName(file.name));
        addItem(item);
    }
    setUpdatesEnabled(true);
}

void PhotoBrowser::startWorker() {
    ThumbnailWorker::Job job;
    job.folder = currentFolder_;
    job.names.reserve(files_.size());
    for (const ListedFile& file : files_) job.names.push_back(file.name);
    job.mode = mode_;
    job.devicePixelRatio = devicePixelRatioF();
    job.size = kThumbnailSize * job.devicePixelRatio;
    if (mode_ == BrowserMode::Audio) job.audioPicture = audioPicture(job.devicePixelRatio);
    job.beforeRow = workerRowHook_;

    const quint64 serial = ++serial_;
    auto deliver = [this, serial](int row, const QImage& thumbnail) {
        if (row < 0) return;  // the end arrives as the worker's finished call, after the last thumbnail
        QMetaObject::invokeMethod(
            this, [this, serial, row, thumbnail] { showThumbnail(serial, row, thumbnail); },
            Qt::QueuedConnection);
    };
    // A worker that was stopped and let go never calls back; so only the current one ends the folder.
    worker_ = std::make_unique<ThumbnailWorker>(std::move(job), std::move(deliver), this,
                                                [this] { workerEnded(); });
}

void PhotoBrowser::showThumbnail(quint64 serial, int row, const QImage& thumbnail) {
    if (serial != serial_ || row >= count()) return;
    item(row)->setIcon(QIcon(QPixmap::fromImage(thumbnail)));
    ++thumbnailsShown_;
}

void PhotoBrowser::workerEnded() {
    // While stopWorker waits, the end of the worker being stopped is no end of the folder's thumbnails.
    if (!worker_ || stopping_) return;
    stopWorker();
    Q_EMIT thumbnailsDone();
}

QIcon PhotoBrowser::blankIcon() const {
    return QIcon(QPixmap::fromImage(blankPicture(kThumbnailSize, devicePixelRatioF())));
}

DragPayload PhotoBrowser::selectedPayload() const {
    std::vector<int> rows;
    for (const QModelIndex& index : selectionModel()->selectedIndexes()) rows.push_back(index.row());
    return dragPayloadFor(currentFolder_, files_, std::move(rows), mode_);
}

void PhotoBrowser::keyPressEvent(QKeyEvent* event) {
    if (isAddKey(*event)) {
        const DragPayload payload = selectedPayload();
        // Without a selection the key goes on to the main window, which swallows Enter.
        if (!payload.paths.empty()) {
            event->accept();
            // A held key adds the selection once, not once per repeat.
            if (!event->isAutoRepeat()) Q_EMIT addRequested(payload);
            return;
        }
    }
    QListWidget::keyPressEvent(event);
}

void PhotoBrowser::paintEvent(QPaintEvent* event) {
    QListWidget::paintEvent(event);
    const QModelIndex current = currentIndex();
    if (!hasFocus() || !current.isValid()) return;
    const QRect cell = visualRect(current);
    if (cell.isEmpty()) return;
    QPainter painter(viewport());
    painter.setPen(QPen(palette().color(QPalette::Highlight), 2));
    painter.setBrush(Qt::NoBrush);
    // A 2-pixel pen on a rectangle one pixel in covers the item's two outermost pixels on every side.
    painter.drawRect(QRectF(cell).adjusted(1, 1, -1, -1));
}

std::unique_ptr<QMimeData> PhotoBrowser::selectionMimeData() const {
    const DragPayload payload = selectedPayload();
    if (payload.paths.empty()) return nullptr;
    auto mime = std::make_unique<QMimeData>();
    putDragPayload(*mime, payload);
    return mime;
}

QStringList PhotoBrowser::mimeTypes() const {
    return {QString::fromLatin1(kPhotoListMimeType), QString::fromLatin1(kAudioListMimeType)};
}

QMimeData* PhotoBrowser::mimeData(const QList<QListWidgetItem*>& items) const {
    std::vector<int> rows;
    for (const QListWidgetItem* listed : items) rows.push_back(row(listed));
    const DragPayload payload = dragPayloadFor(currentFolder_, files_, std::move(rows), mode_);
    if (payload.paths.empty()) return nullptr;
    auto* mime = new QMimeData;
    putDragPayload(*mime, payload);
    return mime;
}

void PhotoBrowser::startDrag(Qt::DropActions /*supportedActions*/) {
    std::unique_ptr<QMimeData> mime = selectionMimeData();
    if (!mime) return;
    const bool several = selectionModel()->selectedIndexes().size() > 1;
    auto* drag = new QDrag(this);
    drag->setMimeData(mime.release());
    drag->setPixmap(mode_ == BrowserMode::Audio ? audioDragPicture(several, devicePixelRatioF())
                                                : dragPicture(several, devicePixelRatioF()));
    // The picture sits below and to the right of the pointer.
    drag->setHotSpot(QPoint(-10, -10));
    drag->exec(Qt::CopyAction, Qt::CopyAction);
}

QPixmap PhotoBrowser::dragPicture(bool several, qreal devicePixelRatio) {
    const QSize size = several ? QSize(17, 13) : QSize(16, 12);
    QPixmap picture(size * devicePixelRatio);
    picture.setDevicePixelRatio(devicePixelRatio);
    picture.fill(Qt::transparent);
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::Antialiasing);
    if (several) {
        drawSmallPhoto(painter, QPointF(3, 0), QSizeF(14, 10));
        drawSmallPhoto(painter, QPointF(0, 3), QSizeF(14, 10));
    } else {
        drawSmallPhoto(painter, QPointF(0, 0), QSizeF(16, 12));
    }
    return picture;
}

QPixmap PhotoBrowser::audioDragPicture(bool several, qreal devicePixelRatio) {
    const QSize size = several ? QSize(19, 16) : QSize(12, 16);
    QPixmap picture(size * devicePixelRatio);
    picture.setDevicePixelRatio(devicePixelRatio);
    picture.fill(Qt::transparent);
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::Antialiasing);
    drawNote(painter, QRectF(0, 0, 12, 16), QColor(58, 110, 165));
    if (several) drawNote(painter, QRectF(7, 0, 12, 16), QColor(58, 110, 165));
    return picture;
}

QImage PhotoBrowser::audioPicture(qreal devicePixelRatio) {
    // The program's one audio picture (a speaker sending out a sound wave), the size of a thumbnail.
    return audioPictureImage(devicePixelRatio);
}

}  // namespace kestrelle
