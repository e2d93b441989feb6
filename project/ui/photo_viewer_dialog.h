#pragma once
// "Preview": one photo shown enlarged with an "OK" button, opened by a double click on a slide's
// picture. The photo is fitted on white into the window less 10 pixels at the left, top and right and
// 45 at the bottom. It is decoded on a worker thread, so a large photo never freezes the window.
// Opened for a slide, the window also holds the motion editor (project/ui/motion_editor_widget.h) in
// place of the plain picture: the slide's motion and fit, edited over the photo.

#include "base/worker_thread.h"
#include "project/project_content.h"

#include <QDialog>
#include <QImage>

#include <cstdint>
#include <functional>
#include <string>

class QPushButton;

namespace kestrelle {

class MotionEditorWidget;

// What the viewer needs to edit a slide's motion and fit.
struct SlideMotionEditing {
    SlideLook look{};
    QSize output;            // the video's picture size (the current profile's)
    std::uint64_t seed = 0;  // the project's motion seed
    int slideIndex = 0;
    double totalSeconds = 0.0;  // how long the slide's photo is on screen (its motion's length)
    // Stores an edited look in the slide (as an undo step); called after every finished edit.
    std::function<void(const SlideLook& look)> apply;
};

class PhotoViewerDialog final : public QDialog {
    Q_OBJECT
public:
    PhotoViewerDialog(QWidget* parent, const std::string& photoPath);
    // The viewer with the motion editor for a slide.
    PhotoViewerDialog(QWidget* parent, const std::string& photoPath, SlideMotionEditing editing);
    // Waits for a load still running, handling events meanwhile (a decode cannot be cut short).
    ~PhotoViewerDialog() override;

    // The area the photo is drawn into (client coordinates).
    QRect photoArea() const;
    // The picture shown (null until it has been loaded).
    const QImage& picture() const { return picture_; }
    // The motion editor; null in the plain viewer.
    MotionEditorWidget* motionEditor() const { return editor_; }
    // Whether the photo's load has finished.
    bool loaded() const { return loaded_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void startLoading();
    void layoutButton();

    std::string path_;
    QImage picture_;
    QPushButton* ok_ = nullptr;
    MotionEditorWidget* editor_ = nullptr;
    bool loaded_ = false;
    WorkerThread loader_;
};

}  // namespace kestrelle
