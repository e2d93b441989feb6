#pragma once
// Frames of slides whose photos move (or fill the frame): a slide's picture as the job holds it, and the
// transition effects run over two moving pictures.
//
// The effects draw a transition by copying rectangles of the next picture onto the current one, step by
// step, each step building on the last. With moving pictures every frame must be drawn afresh, so the
// effect runs over two "label" pictures instead, whose pixels name their own position and picture; each
// frame it writes is then a map, and the frame shown takes every pixel from the picture and position its
// label names, both pictures drawn at that frame's time. Every effect only copies pixels, so the
// transition keeps its exact shape while both photos go on moving.

#include "render/moving_photo.h"
#include "render/transition_style.h"

#include <QImage>

#include <cstdint>
#include <memory>
#include <vector>

namespace kestrelle {

// A slide's picture in the job: the still frame of today, or a photo drawn anew for each frame.
struct SlidePicture {
    QImage still;                               // the frame, when the photo does not move
    std::shared_ptr<const MovingPhoto> moving;  // the photo, when it does

    bool moves() const { return moving != nullptr; }
    // The frame `seconds` into the slide's span: `scratch` drawn for a moving photo, else the still.
    const QImage& frameAt(double seconds, QImage& scratch) const;
};

// Label pictures of a frame size: every pixel names its position and whether it belongs to the next
// picture. Positions need 15 bits of x and 16 of y.
bool labelsFit(int width, int height);
QImage labelPicture(int width, int height, bool next);

// Hands an effect's label frames on to `target` as real frames: frame j of the run shows `current` at
// currentStart + j / fps and `next` at j / fps, each pixel taken from where its label points.
// Two slide pictures drawn at one moment of a transition and mapped through its labels: what the writer
// and the presenter below share. With both photos moving, the current one is drawn on a second thread
// beside the next one.
class MovingPair {
public:
    MovingPair(const SlidePicture& current, const SlidePicture& next, double currentStartSeconds)
        : current_(current), next_(next), currentStart_(currentStartSeconds) {}

    // The frame `labels` maps out with `current` at currentStart + offset and `next` at offset seconds
    // (frameFromLabels); valid until the next call.
    const QImage& frameAt(const QImage& labels, double offsetSeconds);

private:
    const SlidePicture& current_;
    const SlidePicture& next_;
    const double currentStart_;
    QImage currentScratch_;
    QImage nextScratch_;
    QImage frame_;
};

class MovingTransitionWriter final : public FrameWriter {
public:
    MovingTransitionWriter(FrameWriter& target, const SlidePicture& current, const SlidePicture& next,
                           double currentStartSeconds, double framesPerSecond);

    bool writeFrame(const std::uint8_t* labels, int width, int height, const std::uint8_t* audio,
                    int sampleCount) override;

    // Frames handed on so far.
    int framesWritten() const { return framesWritten_; }

private:
    FrameWriter& target_;
    MovingPair pair_;
    const double fps_;
    int framesWritten_ = 0;
};

// Fills `out` (made labels-sized RGB32) with the frame a label picture maps out: every pixel taken from
// `current` or `next` at the position its label names. Black, and false, when either picture is not of
// the labels' size and 32 bits deep, or the labels are not a 32-bit picture.
bool frameFromLabels(const QImage& labels, const QImage& current, const QImage& next, QImage& out);

// The on-screen counterpart of MovingTransitionWriter: hands the label pictures an effect presents on to
// `target` as real pictures. The j-th picture presented (from 0) shows `current` at currentStart + j *
// secondsPerStep and `next` at j * secondsPerStep, so the closing picture of an on-screen run (the whole
// next label picture, after the last step) shows the next slide as its own frames begin.
class MovingTransitionPresenter final : public FramePresenter {
public:
    MovingTransitionPresenter(FramePresenter& target, const SlidePicture& current, const SlidePicture& next,
                              double currentStartSeconds, double secondsPerStep);

    void present(const QImage& labels, int x, int y) override;

    // Pictures handed on so far.
    int framesPresented() const { return frame_; }

private:
    FramePresenter& target_;
    MovingPair pair_;
    const double secondsPerStep_;
    int frame_ = 0;
};

}  // namespace kestrelle
