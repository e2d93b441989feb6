// The cost of one frame of a moving photo at 1920 x 1080 on one thread, and how smoothly a small marker on
// the photo follows its ideal eased path.
//
//   motion_bench [frames]             time a slow zoom (Fill, 1.0 to 1.15) over `frames` frames at 30 fps
//                                     from a 4000 x 3000 photo decoded at the size the zoom needs, and from
//                                     the photo at full size; print the median per frame and the marker's
//                                     deviation from its path
//   motion_bench --photo PATH         write the 4000 x 3000 test photo (PNG) for other tools
//   motion_bench --follow-gray FRAMES read FRAMES 1920 x 1080 8-bit grey frames of the same zoom from
//                                     standard input and print the same marker measure for them
//
// The photo is mid grey with a 12 x 12 dark square at (1500, 1000)-(1512, 1012).

#include "render/motion_sampler.h"
#include "render/photo_motion.h"

#include <QImage>
#include <QPainter>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

using namespace kestrelle;

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;
constexpr double kFps = 30.0;
const QSizeF kPhoto(4000, 3000);
const QRect kMarker(1500, 1000, 12, 12);
const FitOptions kFill{PhotoFit::Fill, false};
const PhotoMotion kZoom{MotionKind::ZoomIn, {}, {}};

QImage testPhoto() {
    QImage photo(kPhoto.toSize(), QImage::Format_RGB32);
    photo.fill(qRgb(128, 128, 128));
    QPainter painter(&photo);
    painter.fillRect(kMarker, QColor(16, 16, 16));
    return photo;
}

// Where the marker's centre should be in frame n of `frames`.
QPointF idealMarker(int n, int frames) {
    const QRectF view = motionRectAt(kZoom, kPhoto, QSizeF(kWidth, kHeight), kFill, n / kFps, frames / kFps);
    const QPointF centre = QRectF(kMarker).center();
    return {(centre.x() - view.x()) * kWidth / view.width(),
            (centre.y() - view.y()) * kHeight / view.height()};
}

// Follows the marker frame by frame: deviation from the ideal path and backward steps.
class MarkerFollower {
public:
    // `darkness(x, y)`: how much darker than the grey the pixel is.
    template <typename Darkness>
    void addFrame(const QPointF& ideal, Darkness darkness) {
        double sum = 0.0;
        double sumX = 0.0;
        double sumY = 0.0;
        constexpr int kRadius = 16;
        for (int y = std::max(0, static_cast<int>(ideal.y()) - kRadius);
             y <= std::min(kHeight - 1, static_cast<int>(ideal.y()) + kRadius); ++y) {
            for (int x = std::max(0, static_cast<int>(ideal.x()) - kRadius);
                 x <= std::min(kWidth - 1, static_cast<int>(ideal.x()) + kRadius); ++x) {
                const double weight = std::max(0, darkness(x, y));
                sum += weight;
                sumX += weight * (x + 0.5);
                sumY += weight * (y + 0.5);
            }
        }
        const QPointF found = sum > 0 ? QPointF(sumX / sum, sumY / sum) : QPointF(-1e9, -1e9);
        const double deviation = std::hypot(found.x() - ideal.x(), found.y() - ideal.y());
        squares_ += deviation * deviation;
        offsetX_ += found.x() - ideal.x();
        offsetY_ += found.y() - ideal.y();
        offsetSquares_ += (found.x() - ideal.x()) * (found.x() - ideal.x()) +
                          (found.y() - ideal.y()) * (found.y() - ideal.y());
        worst_ = std::max(worst_, deviation);
        if (count_ > 0) {
            const double wantX = ideal.x() - previousIdeal_.x();
            const double wantY = ideal.y() - previousIdeal_.y();
            const double gotX = found.x() - previousFound_.x();
            const double gotY = found.y() - previousFound_.y();
            if (std::abs(wantX) > 1e-9) backStep_ = std::max(backStep_, wantX > 0 ? -gotX : gotX);
            if (std::abs(wantY) > 1e-9) backStep_ = std::max(backStep_, wantY > 0 ? -gotY : gotY);
            if (std::abs(gotX) < 1e-9 && std::abs(gotY) < 1e-9) ++stills_;
        }
        previousIdeal_ = ideal;
        previousFound_ = found;
        ++count_;
    }
    void print(const char* what) const {
        // The deviation left once a constant offset (another pixel-centre convention) is taken out.
        const double meanX = count_ ? offsetX_ / count_ : 0.0;
        const double meanY = count_ ? offsetY_ / count_ : 0.0;
        const double spread = count_ ? offsetSquares_ / count_ - meanX * meanX - meanY * meanY : 0.0;
        std::printf(
            "%s: marker deviation RMS %.3f px (%.3f px around its mean offset %.3f, %.3f), max %.3f px, "
            "largest backward step %.3f px, frames that did not move %d of %d\n",
            what, count_ ? std::sqrt(squares_ / count_) : 0.0, std::sqrt(std::max(0.0, spread)), meanX, meanY,
            worst_, backStep_, stills_, count_ - 1);
    }

private:
    double squares_ = 0.0;
    double offsetX_ = 0.0;
    double offsetY_ = 0.0;
    double offsetSquares_ = 0.0;
    double worst_ = 0.0;
    double backStep_ = 0.0;
    int stills_ = 0;
    int count_ = 0;
    QPointF previousIdeal_;
    QPointF previousFound_;
};

double medianMs(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0.0 : values[values.size() / 2];
}

void timeZoom(const QImage& picture, int frames, const char* what) {
    QImage frame(kWidth, kHeight, QImage::Format_RGB32);
    std::vector<double> times;
    MarkerFollower follower;
    for (int n = 0; n < frames; ++n) {
        const QRectF view = scaleViewRect(
            motionRectAt(kZoom, kPhoto, QSizeF(kWidth, kHeight), kFill, n / kFps, frames / kFps), kPhoto,
            QSizeF(picture.size()));
        const auto begin = std::chrono::steady_clock::now();
        renderView(picture, view, frame, 0xFF000000u);
        times.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - begin).count());
        follower.addFrame(idealMarker(n, frames), [&frame](int x, int y) {
            return 128 -
                   static_cast<int>((reinterpret_cast<const std::uint32_t*>(frame.constScanLine(y))[x] >> 8) &
                                    0xFFu);
        });
    }
    std::printf("%s: %d frames, median %.2f ms a frame (fastest %.2f)\n", what, frames, medianMs(times),
                *std::min_element(times.begin(), times.end()));
    follower.print(what);
}

int followGray(int frames) {
    std::vector<std::uint8_t> frame(static_cast<std::size_t>(kWidth) * kHeight);
    MarkerFollower follower;
    int read = 0;
    for (; read < frames; ++read) {
        if (std::fread(frame.data(), 1, frame.size(), stdin) != frame.size()) break;
        follower.addFrame(idealMarker(read, frames), [&frame](int x, int y) {
            return 128 - frame[static_cast<std::size_t>(y) * kWidth + x];
        });
    }
    if (read < frames) {
        std::fprintf(stderr, "motion_bench: only %d of %d frames on standard input\n", read, frames);
        return 1;
    }
    follower.print("frames read");
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--photo") == 0) {
        return testPhoto().save(QString::fromLocal8Bit(argv[2]), "PNG") ? 0 : 1;
    }
    if (argc == 3 && std::strcmp(argv[1], "--follow-gray") == 0) {
        return followGray(std::clamp(std::atoi(argv[2]), 1, 100000));
    }
    const int frames = argc > 1 ? std::clamp(std::atoi(argv[1]), 2, 10000) : 90;
    const QImage photo = testPhoto();
    const QSize decoded = motionDecodeSize(kZoom, kPhoto, QSizeF(kWidth, kHeight), kFill);
    const QImage picture = photo.scaled(decoded, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    std::printf("slow zoom 1.0 to %.2f over %.1f s, Fill, 4000 x 3000 photo into %d x %d\n",
                kMotionZoomFactor, frames / kFps, kWidth, kHeight);
    char what[128];
    std::snprintf(what, sizeof what,
                  "decoded at %d x %d (frame pixel spans 1.0 to 1.15 photo pixels: bilinear)",
                  decoded.width(), decoded.height());
    timeZoom(picture, frames, what);
    timeZoom(photo, frames, "full 4000 x 3000 (frame pixel spans 2.1 to 1.8 photo pixels: box filter)");
    return 0;
}
