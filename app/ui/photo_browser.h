#pragma once
// The thumbnail list of the main window: the photos (or audio files) of one folder as 100 x 90
// thumbnails with their names, made by a ThumbnailWorker, and the source of drags onto the storyboard.

#include "app/photo_folder.h"
#include "app/thumbnail_worker.h"

#include <QByteArray>
#include <QListWidget>
#include <QPixmap>

#include <functional>
#include <memory>
#include <string>
#include <vector>

class QMimeData;

namespace kestrelle {

class PhotoBrowser : public QListWidget {
    Q_OBJECT

public:
    static constexpr QSize kThumbnailSize{100, 90};

    explicit PhotoBrowser(QWidget* parent = nullptr);
    // Stops and joins the worker first.
    ~PhotoBrowser() override;

    // Lists the folder's files and starts making their thumbnails; a running worker is stopped first.
    // An empty (or all white space) path empties the list and keeps the current folder.
    void openFolder(const std::string& path);
    // Stops the worker at its next thumbnail and waits for it, handling events meanwhile.
    void stopWorker();

    BrowserMode mode() const { return mode_; }
    // Switches between photos and audio files and lists the current folder again; the current mode does
    // nothing.
    void setMode(BrowserMode mode);

    const std::string& currentFolder() const { return currentFolder_; }
    // The listed files, row by row.
    const std::vector<ListedFile>& files() const { return files_; }
    // The full path of a row's file ("" outside the list).
    std::string pathAt(int row) const;
    bool isWorkerRunning() const { return worker_ != nullptr; }
    // The running worker (nullptr when none), for tests and benchmarks that follow it.
    ThumbnailWorker* currentWorker() const { return worker_.get(); }
    // Called on each worker's thread before each row (tests hold a worker mid-run with it).
    void setWorkerRowHook(std::function<void(int row)> hook) { workerRowHook_ = std::move(hook); }
    // Rows whose thumbnail has arrived.
    int thumbnailsShown() const { return thumbnailsShown_; }

    // What a drag of the selected items carries, in ascending row order.
    DragPayload selectedPayload() const;
    std::unique_ptr<QMimeData> selectionMimeData() const;

    // The drag pictures: one photo, or several; in audio mode a note, or two.
    static QPixmap dragPicture(bool several, qreal devicePixelRatio);
    static QPixmap audioDragPicture(bool several, qreal devicePixelRatio);
    // Every audio file's picture in audio mode (render/ui/drag_pictures.h), drawn at the screen's density.
    static QImage audioPicture(qreal devicePixelRatio);

public Q_SLOTS:
    // openFolder with the path's bytes.
    void openFolderPath(const QByteArray& path);

Q_SIGNALS:
    // Every thumbnail of the folder shown has arrived (not sent for a worker stopped by openFolder).
    void thumbnailsDone();
    // Enter or Insert with items selected: the selection, as a drag would carry it, is to be added to the
    // end of its storyboard line.
    void addRequested(const kestrelle::DragPayload& payload);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    // The items as the list draws them, then a clear focus ring (2 pixels, the highlight colour) around
    // the current item while the list has the focus.
    void paintEvent(QPaintEvent* event) override;
    void startDrag(Qt::DropActions supportedActions) override;
    QStringList mimeTypes() const override;
    QMimeData* mimeData(const QList<QListWidgetItem*>& items) const override;

private:
    // The accessible name and description of the current mode (the description names the add keys).
    void describeForAccessibility();
    void fillItems();
    void startWorker();
    void showFirstVisibleRowNext();
    void showThumbnail(quint64 serial, int row, const QImage& thumbnail);
    void workerEnded();
    QIcon blankIcon() const;

    std::string currentFolder_;
    std::vector<ListedFile> files_;
    BrowserMode mode_ = BrowserMode::Photo;
    std::unique_ptr<ThumbnailWorker> worker_;
    // Thumbnails arriving from an earlier worker carry an older serial and are dropped.
    quint64 serial_ = 0;
    int thumbnailsShown_ = 0;
    bool stopping_ = false;
    std::function<void(int row)> workerRowHook_;
};

}  // namespace kestrelle
