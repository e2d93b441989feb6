#pragma once
// A photo ready to be drawn with pan and zoom or with a fit other than the still letterbox: decoded once,
// at the size its smallest view needs, then drawn at any time of its motion (render/photo_motion.h) with
// the sub-pixel sampler (render/motion_sampler.h).

#include "render/photo_motion.h"

#include <QImage>
#include <QSize>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace kestrelle {

// Finds faces in a picture: rectangles in that picture's pixels.
using FaceFinder = std::function<std::vector<QRectF>(const QImage& picture)>;

// What a moving photo is made from.
struct MovingPhotoRequest {
    std::string path;
    QSize output;        // the frame's size
    PhotoMotion motion;  // GentleRandom is resolved with seed and slideIndex
    FitOptions fit;
    std::uint64_t seed = 0;
    int slideIndex = 0;
    double totalSeconds = 0.0;  // how long the motion runs (it rests at its ends outside)
    FaceFinder findFaces;       // optional: faces kept in the frame by GentleRandom and Fill
};

class MovingPhoto {
public:
    // The largest picture a moving photo is decoded into, in pixels (a 30000-pixel panorama is decoded
    // smaller and pans a little softer).
    static constexpr std::int64_t kMaxSourcePixels = std::int64_t{1} << 24;

    // An empty photo: every frame black.
    MovingPhoto() = default;

    // Decodes the photo. A photo that cannot be read draws black frames and sets `decoded` false; one
    // whose size only decoding tells moves over its letterboxed frame.
    static MovingPhoto load(const MovingPhotoRequest& request, bool* decoded = nullptr);

    // Draws the frame `seconds` into the motion into `out` (made output-sized RGB32). False when the
    // output has no pixels.
    bool draw(double seconds, QImage& out) const;

    // Whether the frames change over time (a Fill without motion does not).
    bool moves() const { return moves_; }
    // The motion as drawn (GentleRandom resolved).
    const PhotoMotion& motion() const { return motion_; }
    QSize outputSize() const { return output_; }
    // The size the photo was decoded at (empty when it could not be read).
    QSize sourceSize() const { return source_.size() - QSize(2 * sourcePad_, 2 * sourcePad_); }

private:
    QImage source_;  // the upright photo in sRGB, decoded at sourceSize, with sourcePad_ edge pixels around
    int sourcePad_ = 0;
    QImage backdrop_;  // BlurredBackground: the frame behind the photo
    QSizeF photo_;     // the photo's own upright size, the unit of the view rectangles
    QSize output_;
    PhotoMotion motion_;
    FitOptions fit_;
    double totalSeconds_ = 0.0;
    bool moves_ = false;
};

}  // namespace kestrelle
