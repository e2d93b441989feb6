// Feeds arbitrary bytes to PhotoLoader::load under every supported file-name ending. The first byte of
// an input picks the ending, the second the picture size, the rest is the file. Besides the sanitizers
// it checks that the picture always has the size asked for and that an unreadable photo leaves the
// background alone.

#include <QCoreApplication>
#include <QImage>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "render/photo_loader.h"

using kestrelle::PhotoLoader;

namespace {

constexpr const char* kEndings[] = {"bmp", "gif",  "jpg",  "png",  "ico",  "tif",  "tga",  "pcx", "wmf",
                                    "emf", "j2k",  "jp2",  "j2c",  "jpc",  "pgx",  "pnm",  "pgm", "ppm",
                                    "ras", "jpeg", "tiff", "wbmp", "heic", "heif", "avif", "webp"};
constexpr int kEndingCount = sizeof kEndings / sizeof kEndings[0];

struct Size {
    int width;
    int height;
};
// The callers' shapes, shrunk: a frame, a browser and a storyboard thumbnail, and two odd extremes.
constexpr Size kSizes[] = {{64, 36}, {100, 90}, {109, 60}, {1, 1}, {7, 301}};

void require(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "photo_loader_fuzz: %s\n", what);
        std::abort();
    }
}

std::string& folder() {
    static std::string path;
    return path;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    // Image plugins are found through the application object's library paths.
    static QCoreApplication app(*argc, *argv);
    // The image plugins warn about every damaged file; at thousands of files a second that is noise.
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    char pattern[] = "/tmp/photo_fuzz_XXXXXX";
    require(mkdtemp(pattern) != nullptr, "mkdtemp failed");
    folder() = pattern;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    const char* ending = kEndings[data[0] % kEndingCount];
    const Size target = kSizes[data[1] % (sizeof kSizes / sizeof kSizes[0])];
    const std::string path = folder() + "/photo." + ending;
    {
        std::ofstream file(path, std::ios::binary | std::ios::trunc);
        file.write(reinterpret_cast<const char*>(data + 2), static_cast<std::streamsize>(size - 2));
        require(file.good(), "cannot write the photo file");
    }

    QImage picture;
    bool decoded = true;
    const std::uint32_t background =
        (data[1] & 0x80) ? kestrelle::kWhiteBackground : kestrelle::kBlackBackground;
    require(PhotoLoader::load(picture, target.width, target.height, path, background, &decoded),
            "load refused a supported name");
    require(picture.width() == target.width && picture.height() == target.height &&
                picture.format() == QImage::Format_RGB32,
            "picture of the wrong size or format");
    if (!decoded) {
        const QRgb fill = kestrelle::premultipliedBackground(background);
        for (int y = 0; y < picture.height(); ++y) {
            const auto* row = reinterpret_cast<const QRgb*>(picture.constScanLine(y));
            for (int x = 0; x < picture.width(); ++x) require(row[x] == fill, "undecoded photo drew pixels");
        }
    }
    return 0;
}
