#pragma once
// The two built-in pictures: all black and all white, 1920 x 1080, 32 bits per pixel (RGB32). The
// black one is the picture after the last slide in the video, the preview and the chooser's sample;
// the white one ends the chooser's sample when no project is given.

#include <QImage>

namespace kestrelle {

constexpr int kBuiltinPictureWidth = 1920;
constexpr int kBuiltinPictureHeight = 1080;

// Shared, never-changing pictures (QImage copies are cheap and copy-on-write); safe from any thread.
const QImage& endingBlack();
const QImage& endingWhite();

}  // namespace kestrelle
