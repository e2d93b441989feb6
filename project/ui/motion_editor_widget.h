#pragma once
// The photo viewer's motion editor: the photo with the motion's start and end rectangles drawn over it,
// moved and resized with the mouse and the keyboard, the "Motion" and "Fit" choices, "Enlarge small
// photos" and "Play", which shows the motion in place. The editing itself is MotionEditorModel's; this
// file draws it and turns events into its calls. Every finished edit is handed to a callback, which
// stores it in the slide (one undo step each).

#include "project/motion_editor_model.h"

#include <QImage>
#include <QWidget>

#include <functional>

class QCheckBox;
class QComboBox;
class QPushButton;
class QTimer;

namespace kestrelle {

// Where the rectangles are drawn. Keyboard: arrows move the active rectangle (Shift: ten times as far),
// + and - resize it, Tab goes from the start to the end rectangle and then on to the next control.
class MotionCanvas final : public QWidget {
    Q_OBJECT
public:
    MotionCanvas(QWidget* parent, MotionEditorModel& model, std::function<void()> edited);

    void setPicture(const QImage& picture);
    // The area the photo and its bounds are fitted into (client coordinates).
    QRectF contentArea() const;
    // Lays the photo out again (the model's display rectangle) for the current size and look.
    void relayout();

    static constexpr QRgb kStartColour = qRgb(40, 200, 90);
    static constexpr QRgb kEndColour = qRgb(255, 150, 30);

    QSize sizeHint() const override { return {640, 480}; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    bool focusNextPrevChild(bool next) override;

private:
    void paintEditing(QPainter& painter);
    void paintPlaying(QPainter& painter);
    void paintRectangle(QPainter& painter, MotionEnd end);
    void updateDescription();
    void updateCursor(QPointF point);

    MotionEditorModel& model_;
    std::function<void()> edited_;
    QImage picture_;
    QImage blurred_;  // a tiny copy, drawn enlarged behind a Blurred background
};

class MotionEditorWidget final : public QWidget {
    Q_OBJECT
public:
    // Called with the slide's look after every finished edit (a choice, a drag, a key).
    using LookEdited = std::function<void(const SlideLook& look)>;

    explicit MotionEditorWidget(QWidget* parent = nullptr);

    // The slide edited: its look, the output's size (the current profile's), and what GentleRandom is
    // resolved with and how long the motion lasts.
    void setSlide(const SlideLook& look, QSize output, std::uint64_t seed, int slideIndex,
                  double totalSeconds);
    // The photo: its upright size and a picture of the whole photo (any size, drawn scaled).
    void setPhoto(QSize uprightSize, const QImage& picture);
    void setLookEdited(LookEdited callback) { lookEdited_ = std::move(callback); }

    MotionEditorModel& model() { return model_; }
    const MotionEditorModel& model() const { return model_; }
    MotionCanvas* canvas() const { return canvas_; }
    QComboBox* motionBox() const { return motion_; }
    QComboBox* fitBox() const { return fit_; }
    QCheckBox* enlargeBox() const { return enlarge_; }
    QPushButton* playButton() const { return play_; }
    QTimer* playTimer() const { return playTimer_; }

    // Starts play from the start, or stops it.
    void togglePlay();
    // One step of play (the timer's slot): the motion moves on by the timer's interval.
    void advancePlay();

    // The milliseconds between two pictures of play.
    static constexpr int kPlayIntervalMs = 40;

private:
    void syncControls();
    void stopPlay();
    void edited();

    MotionEditorModel model_;
    MotionCanvas* canvas_ = nullptr;
    QComboBox* motion_ = nullptr;
    QComboBox* fit_ = nullptr;
    QCheckBox* enlarge_ = nullptr;
    QPushButton* play_ = nullptr;
    QTimer* playTimer_ = nullptr;
    LookEdited lookEdited_;
};

}  // namespace kestrelle
