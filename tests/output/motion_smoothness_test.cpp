// How smoothly a moving photo moves in the video as a player decodes it: a small dark marker on a grey
// 4000 x 3000 photo is followed frame by frame in a 1920 x 1080 MP4, its sub-pixel centroid against the
// ideal eased path of the view.

#include "output/generation_job.h"

#include "media/h264_settings.h"
#include "project/slideshow_project.h"
#include "render/photo_motion.h"
#include "tests/output/job_test_support.h"

#include <QImage>
#include <QPainter>

#include <cmath>

namespace kestrelle {
namespace {

constexpr int kFrameWidth = 1920;
constexpr int kFrameHeight = 1080;
constexpr double kFps = 30.0;
constexpr double kSeconds = 2.0;
const QSizeF kPhotoSize(4000, 3000);
const QRectF kMarker(1900, 1400, 12, 12);

struct PathDeviation {
    double rms = 0.0;
    double worst = 0.0;
    int backwardSteps = 0;
    int frames = 0;
};

class MotionSmoothnessTest : public testing::JobTest {
protected:
    std::string markerPhoto() {
        QImage photo(kPhotoSize.toSize(), QImage::Format_RGB32);
        photo.fill(qRgb(128, 128, 128));
        QPainter painter(&photo);
        painter.fillRect(kMarker, QColor(16, 16, 16));
        painter.end();
        const std::string file = path("marker.png");
        EXPECT_TRUE(photo.save(QString::fromStdString(file)));
        return file;
    }

    // Renders the photo with `motion` over two seconds and follows the marker in the decoded frames.
    PathDeviation follow(const PhotoMotion& motion) {
        SlideShowProject project;
        addPhoto(project, markerPhoto(), kSeconds, 0.0, 1);
        const SlideLook look{motion, {PhotoFit::Fill, false}};
        EXPECT_TRUE(project.setSlideLook(0, look));
        GenerationSetup mp4 = setup(kFps);
        mp4.width = kFrameWidth;
        mp4.height = kFrameHeight;
        mp4.container = ContainerFormat::Mp4;
        mp4.compressorHandler = kH264Handler;
        mp4.videoBitRateKbps = 12000;
        mp4.outputPath = path("motion.mp4");
        GenerationJob job(project, mp4);
        job.run();
        EXPECT_TRUE(job.completed());

        const std::string grey = testing::runTool(
            QStringLiteral("ffmpeg"),
            {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-i"),
             QString::fromStdString(mp4.outputPath), QStringLiteral("-f"), QStringLiteral("rawvideo"),
             QStringLiteral("-pix_fmt"), QStringLiteral("gray"), QStringLiteral("-")});
        const std::size_t frameBytes = static_cast<std::size_t>(kFrameWidth) * kFrameHeight;
        const int frames = static_cast<int>(std::lround(kSeconds * kFps)) - 1;  // the budget drops the last
        PathDeviation result;
        if (grey.size() < frameBytes * static_cast<std::size_t>(frames)) return result;
        const auto* bytes = reinterpret_cast<const unsigned char*>(grey.data());
        const int background = bytes[0];
        double squares = 0.0;
        QPointF previous;
        for (int n = 0; n < frames; ++n) {
            const QRectF view = motionRectAt(motion, kPhotoSize, QSizeF(kFrameWidth, kFrameHeight), look.fit,
                                             n / kFps, kSeconds);
            const QPointF ideal((kMarker.center().x() - view.x()) * kFrameWidth / view.width(),
                                (kMarker.center().y() - view.y()) * kFrameHeight / view.height());
            const unsigned char* frame = bytes + frameBytes * static_cast<std::size_t>(n);
            double sum = 0.0, sumX = 0.0, sumY = 0.0;
            for (int y = std::max(0, static_cast<int>(ideal.y()) - 16);
                 y <= std::min(kFrameHeight - 1, static_cast<int>(ideal.y()) + 16); ++y) {
                for (int x = std::max(0, static_cast<int>(ideal.x()) - 16);
                     x <= std::min(kFrameWidth - 1, static_cast<int>(ideal.x()) + 16); ++x) {
                    const double weight = std::max(0, background - frame[y * kFrameWidth + x] - 2);
                    sum += weight;
                    sumX += weight * (x + 0.5);
                    sumY += weight * (y + 0.5);
                }
            }
            if (sum <= 0.0) return result;
            const QPointF found(sumX / sum, sumY / sum);
            const double deviation = std::hypot(found.x() - ideal.x(), found.y() - ideal.y());
            squares += deviation * deviation;
            result.worst = std::max(result.worst, deviation);
            // The marker moves away from the frame's centre (zoom) or one way (pan), never back.
            if (n > 0) {
                const QPointF step = found - previous;
                const QPointF expected = ideal - QPointF(kFrameWidth / 2.0, kFrameHeight / 2.0);
                const bool zoom = motion.kind == MotionKind::ZoomIn;
                const double along = zoom ? step.x() * expected.x() + step.y() * expected.y() : step.x();
                const double sign = zoom ? 1.0 : (motion.kind == MotionKind::PanRight ? -1.0 : 1.0);
                if (along * sign < -1e-3) ++result.backwardSteps;
            }
            previous = found;
            ++result.frames;
        }
        result.rms = std::sqrt(squares / frames);
        return result;
    }
};

// A slow zoom and a slow pan follow their eased paths to a small fraction of a pixel in the decoded video.
TEST_F(MotionSmoothnessTest, AMarkerFollowsItsPathInTheDecodedVideo) {
    for (const MotionKind kind : {MotionKind::ZoomIn, MotionKind::PanRight}) {
        SCOPED_TRACE(static_cast<int>(kind));
        const PathDeviation deviation = follow({kind, {}, {}});
        ASSERT_EQ(deviation.frames, static_cast<int>(std::lround(kSeconds * kFps)) - 1);
        EXPECT_LE(deviation.rms, 0.1);
        EXPECT_LE(deviation.worst, 0.25);
        EXPECT_EQ(deviation.backwardSteps, 0);
        std::printf("motion %d: RMS %.3f px, worst %.3f px over %d frames\n", static_cast<int>(kind),
                    deviation.rms, deviation.worst, deviation.frames);
    }
}

}  // namespace
}  // namespace kestrelle
