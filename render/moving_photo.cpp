#include "render/moving_photo.h"

#include "render/motion_sampler.h"
#include "render/photo_loader.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace kestrelle {

namespace {

constexpr std::uint32_t kBlack = 0xFF000000u;

// The decoded size, kept within MovingPhoto::kMaxSourcePixels with the photo's shape.
QSize boundedSourceSize(QSize wanted) {
    const double pixels = static_cast<double>(wanted.width()) * wanted.height();
    const double limit = static_cast<double>(MovingPhoto::kMaxSourcePixels);
    if (pixels <= limit) return wanted;
    const double scale = std::sqrt(limit / pixels);
    return {std::max(1, static_cast<int>(wanted.width() * scale)),
            std::max(1, static_cast<int>(wanted.height() * scale))};
}

// The photo decoded upright at `size` (its own shape), or null when it cannot be read. The loader fits the
// photo into a picture of that size; truncation may leave it a pixel short, so the picture is cut to
// where the photo landed.
QImage decodeAt(const std::string& path, QSize size, QSize photo, bool& decoded) {
    QImage picture;
    PhotoLoader::load(picture, size.width(), size.height(), path, kBlackBackground, &decoded);
    if (!decoded || picture.isNull()) return {};
    const PhotoPlacement place = fitPhoto(size.width(), size.height(), photo.width(), photo.height());
    if (place.width <= 0 || place.height <= 0) return {};
    if (place.x == 0 && place.y == 0 && place.width == picture.width() && place.height == picture.height())
        return picture;
    return picture.copy(place.x, place.y, place.width, place.height);
}

// Faces found in the decoded picture, in the photo's own coordinates.
std::vector<QRectF> facesInPhoto(const FaceFinder& findFaces, const QImage& source, QSizeF photo) {
    std::vector<QRectF> faces;
    if (!findFaces || source.isNull()) return faces;
    for (const QRectF& face : findFaces(source))
        faces.push_back(scaleViewRect(face, QSizeF(source.size()), photo));
    return faces;
}

// The picture with `pad` copies of its edge pixels around it: a view that stays inside the photo then
// samples the photo's own colours at its edges instead of blending them with the background.
QImage withEdgesRepeated(const QImage& picture, int pad) {
    QImage padded(picture.width() + 2 * pad, picture.height() + 2 * pad, QImage::Format_RGB32);
    if (padded.isNull()) return {};
    const QImage source = picture.convertToFormat(QImage::Format_RGB32);
    for (int y = 0; y < padded.height(); ++y) {
        const int from = std::clamp(y - pad, 0, source.height() - 1);
        const auto* in = reinterpret_cast<const std::uint32_t*>(source.constScanLine(from));
        auto* out = reinterpret_cast<std::uint32_t*>(padded.scanLine(y));
        std::fill(out, out + pad, in[0]);
        std::memcpy(out + pad, in, static_cast<std::size_t>(source.width()) * 4u);
        std::fill(out + pad + source.width(), out + padded.width(), in[source.width() - 1]);
    }
    return padded;
}

bool contains(const QRectF& outer, const QRectF& inner) {
    constexpr double kSlack = 1e-6;
    return inner.left() >= outer.left() - kSlack && inner.top() >= outer.top() - kSlack &&
           inner.right() <= outer.right() + kSlack && inner.bottom() <= outer.bottom() + kSlack;
}

}  // namespace

MovingPhoto MovingPhoto::load(const MovingPhotoRequest& request, bool* decoded) {
    if (decoded) *decoded = false;
    MovingPhoto result;
    result.output_ = request.output;
    result.fit_ = request.fit;
    result.totalSeconds_ = std::isfinite(request.totalSeconds) ? std::max(0.0, request.totalSeconds) : 0.0;
    if (request.output.isEmpty()) return result;

    QSize photo = PhotoLoader::uprightSize(request.path);
    bool read = false;
    if (photo.isEmpty()) {
        // A format that tells its size only by decoding: the letterboxed frame stands in for the photo.
        result.source_ = QImage();
        PhotoLoader::load(result.source_, request.output.width(), request.output.height(), request.path,
                          kBlackBackground, &read);
        photo = request.output;
        result.fit_ = {PhotoFit::Letterbox, false};
    } else {
        // GentleRandom zooms no further than ZoomIn, so that size serves before the motion is chosen.
        PhotoMotion sizing = request.motion;
        if (sizing.kind == MotionKind::GentleRandom) sizing.kind = MotionKind::ZoomIn;
        const QSize wanted = motionDecodeSize(sizing, QSizeF(photo), QSizeF(request.output), request.fit);
        result.source_ = decodeAt(request.path, boundedSourceSize(wanted), photo, read);
    }
    if (decoded) *decoded = read;
    if (!read || result.source_.isNull()) {
        result.source_ = QImage();
        return result;
    }
    result.photo_ = QSizeF(photo);

    const bool needsFaces =
        request.motion.kind == MotionKind::GentleRandom || request.fit.fit == PhotoFit::Fill;
    const std::vector<QRectF> faces =
        needsFaces ? facesInPhoto(request.findFaces, result.source_, result.photo_) : std::vector<QRectF>{};
    result.motion_ = resolveMotion(request.motion, result.photo_, QSizeF(request.output), result.fit_,
                                   request.seed, request.slideIndex, result.totalSeconds_, faces);
    QRectF start;
    QRectF end;
    motionEnds(result.motion_, result.photo_, QSizeF(request.output), result.fit_, start, end);
    result.moves_ = start != end && result.totalSeconds_ > 0.0;

    if (result.fit_.fit == PhotoFit::BlurredBackground) {
        result.backdrop_ = QImage(request.output, QImage::Format_RGB32);
        const QRectF fill = scaleViewRect(fillViewRect(result.photo_, QSizeF(request.output)), result.photo_,
                                          QSizeF(result.source_.size()));
        renderBlurredBackdrop(result.source_, fill, result.backdrop_);
    }
    const QRectF whole(QPointF(0.0, 0.0), result.photo_);
    if (contains(whole, start) && contains(whole, end)) {
        // Every view lies inside the photo (the edges move linearly between the two ends).
        constexpr int kPad = 2;
        QImage padded = withEdgesRepeated(result.source_, kPad);
        if (!padded.isNull()) {
            result.source_ = std::move(padded);
            result.sourcePad_ = kPad;
        }
    }
    return result;
}

bool MovingPhoto::draw(double seconds, QImage& out) const {
    if (output_.isEmpty()) return false;
    if (out.size() != output_ || out.format() != QImage::Format_RGB32)
        out = QImage(output_, QImage::Format_RGB32);
    if (out.isNull()) return false;
    if (source_.isNull()) {
        out.fill(kBlack);
        return true;
    }
    const QRectF view = motionRectAt(motion_, photo_, QSizeF(output_), fit_, seconds, totalSeconds_);
    const QSizeF decoded(source_.width() - 2 * sourcePad_, source_.height() - 2 * sourcePad_);
    const QRectF onSource = scaleViewRect(view, photo_, decoded).translated(sourcePad_, sourcePad_);
    if (!backdrop_.isNull()) {
        std::memcpy(out.bits(), backdrop_.constBits(), static_cast<std::size_t>(out.sizeInBytes()));
        renderViewOver(source_, onSource, out);
    } else {
        renderView(source_, onSource, out, kBlack);
    }
    return true;
}

}  // namespace kestrelle
