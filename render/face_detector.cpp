#include "render/face_detector.h"

#include <QtGlobal>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/objdetect.hpp>

#include <algorithm>
#include <cmath>
#include <exception>
#include <filesystem>
#include <memory>

namespace kestrelle {
namespace {

constexpr char kCascadeFile[] = "/lbpcascades/lbpcascade_frontalface_improved.xml";

// Detection: a 10 % step between scales, and three overlapping hits before a face counts (fewer let
// textures through, more lose faces in soft photos).
constexpr double kScaleStep = 1.1;
constexpr int kMinNeighbours = 3;

// The cascade's box runs from the brows to the lower lip; the face reaches further, most of all down to
// the chin. Fractions of the box's side added on each edge.
constexpr double kGrowSides = 0.2;
constexpr double kGrowTop = 0.2;
constexpr double kGrowBottom = 0.35;

// A picture in a format the shrinking cannot read directly is sampled at this many points per pixel of
// the grey copy on each axis before that copy is made.
constexpr int kOversample = 2;

// One thread's classifier for one cascade folder; a failed load is remembered too.
struct ThreadCascade {
    std::string folder;
    std::unique_ptr<cv::CascadeClassifier> classifier;
};

// A CascadeClassifier must not detect on two threads at once, so every thread keeps its own, loaded
// the first time the thread asks for that folder.
cv::CascadeClassifier* cascadeFor(const std::string& folder) {
    thread_local std::vector<ThreadCascade> cascades;
    for (ThreadCascade& cascade : cascades) {
        if (cascade.folder == folder) return cascade.classifier.get();
    }
    auto classifier = std::make_unique<cv::CascadeClassifier>();
    const std::string path = folder + kCascadeFile;
    std::error_code error;
    try {
        // Looked for first: OpenCV would log its own error about a missing file.
        if (!std::filesystem::is_regular_file(path, error) || !classifier->load(path) || classifier->empty())
            classifier.reset();
    } catch (const std::exception&) {
        classifier.reset();  // a cascade file OpenCV cannot parse
    }
    cascades.push_back({folder, std::move(classifier)});
    return cascades.back().classifier.get();
}

bool isFourByteBgr(QImage::Format format) {
    // RGB32 and ARGB32 keep each pixel as one 32-bit word: blue, green, red, alpha in memory on a
    // little-endian machine.
    return Q_BYTE_ORDER == Q_LITTLE_ENDIAN &&
           (format == QImage::Format_RGB32 || format == QImage::Format_ARGB32 ||
            format == QImage::Format_ARGB32_Premultiplied);
}

// The grey copy of `picture` at `size`, averaged over each copy pixel's area.
cv::Mat greyCopy(const QImage& picture, cv::Size size) {
    cv::Mat grey;
    const QImage::Format format = picture.format();
    const auto step = static_cast<std::size_t>(picture.bytesPerLine());
    // OpenCV only reads through these headers; const_cast because cv::Mat has no read-only view.
    void* bits = const_cast<uchar*>(picture.constBits());
    if (format == QImage::Format_Grayscale8) {
        const cv::Mat whole(picture.height(), picture.width(), CV_8UC1, bits, step);
        cv::resize(whole, grey, size, 0.0, 0.0, cv::INTER_AREA);
        return grey;
    }
    if (isFourByteBgr(format)) {
        const cv::Mat whole(picture.height(), picture.width(), CV_8UC4, bits, step);
        cv::Mat shrunk;
        cv::resize(whole, shrunk, size, 0.0, 0.0, cv::INTER_AREA);
        cv::cvtColor(shrunk, grey, cv::COLOR_BGRA2GRAY);
        return grey;
    }
    // Any other format: sampled onto a grid a little finer than the copy, a line at a time (never the
    // whole picture converted, which for a large one-bit picture would be many times its size), then
    // shrunk. Qt's conversion maps indices beyond a colour table to its last colour.
    const int columns = std::min(picture.width(), size.width * kOversample);
    const int rows = std::min(picture.height(), size.height * kOversample);
    cv::Mat sampled(rows, columns, CV_8UC1);
    for (int row = 0; row < rows; ++row) {
        const int y = static_cast<int>((row + 0.5) * picture.height() / rows);
        const QImage line = picture.copy(0, y, picture.width(), 1).convertToFormat(QImage::Format_RGB32);
        if (line.isNull()) return {};
        const auto* pixels = reinterpret_cast<const QRgb*>(line.constScanLine(0));
        auto* out = sampled.ptr<uchar>(row);
        for (int column = 0; column < columns; ++column) {
            const int x = static_cast<int>((column + 0.5) * picture.width() / columns);
            out[column] = static_cast<uchar>(qGray(pixels[x]));
        }
    }
    cv::resize(sampled, grey, size, 0.0, 0.0, cv::INTER_AREA);
    return grey;
}

std::vector<QRectF> detect(const QImage& picture, cv::CascadeClassifier& classifier) {
    const double longSide = std::max(picture.width(), picture.height());
    const double scale = std::min(1.0, kFaceDetectionLongSide / longSide);
    const cv::Size size(std::max(1, static_cast<int>(std::lround(picture.width() * scale))),
                        std::max(1, static_cast<int>(std::lround(picture.height() * scale))));
    const cv::Size window = classifier.getOriginalWindowSize();
    if (size.width < window.width || size.height < window.height) return {};

    cv::Mat grey = greyCopy(picture, size);
    if (grey.empty()) return {};
    // Evened out, so faces in dim or washed-out photos look as the cascade was trained on them.
    cv::equalizeHist(grey, grey);
    std::vector<cv::Rect> found;
    classifier.detectMultiScale(grey, found, kScaleStep, kMinNeighbours, 0, window);

    const double sx = static_cast<double>(picture.width()) / size.width;
    const double sy = static_cast<double>(picture.height()) / size.height;
    const QRectF bounds(0.0, 0.0, picture.width(), picture.height());
    // Top to bottom, left to right: the order OpenCV's worker threads leave them in varies.
    std::sort(found.begin(), found.end(),
              [](const cv::Rect& a, const cv::Rect& b) { return a.y != b.y ? a.y < b.y : a.x < b.x; });
    std::vector<QRectF> faces;
    faces.reserve(found.size());
    for (const cv::Rect& box : found) {
        const double width = box.width * sx;
        const double height = box.height * sy;
        const QRectF face(box.x * sx - kGrowSides * width, box.y * sy - kGrowTop * height,
                          width * (1.0 + 2.0 * kGrowSides), height * (1.0 + kGrowTop + kGrowBottom));
        const QRectF inside = face.intersected(bounds);
        if (!inside.isEmpty()) faces.push_back(inside);
    }
    return faces;
}

}  // namespace

std::vector<QRectF> findFaces(const QImage& picture) {
    return findFacesWithCascades(picture, kFaceCascadeFolder);
}

std::vector<QRectF> findFacesWithCascades(const QImage& picture, const std::string& cascadeFolder) {
    if (picture.isNull() || picture.width() <= 0 || picture.height() <= 0) return {};
    try {
        cv::CascadeClassifier* classifier = cascadeFor(cascadeFolder);
        if (!classifier) return {};
        return detect(picture, *classifier);
    } catch (const std::exception&) {
        // cv::Exception or an allocation that failed: a photo without faces, not a failed slide.
        return {};
    }
}

}  // namespace kestrelle
