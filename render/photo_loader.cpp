#include "render/photo_loader.h"

#include "render/heif_decoder.h"
#include "render/jpeg_decoder.h"
#include "render/loading_threads.h"

#include <QColorSpace>
#include <QFile>
#include <QImageIOHandler>
#include <QImageReader>
#include <QString>

extern "C" {
#include <libavutil/buffer.h>
#include <libavutil/frame.h>
#include <libavutil/mem.h>
#include <libavutil/opt.h>
#include <libavutil/pixfmt.h>
#include <libswscale/swscale.h>
}

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <optional>
#include <system_error>
#include <thread>
#include <vector>

namespace kestrelle {

namespace {

constexpr std::string_view kThreeCharacterEndings[] = {
    "bmp", "gif", "jpg", "png", "ico", "tif", "tga", "pcx", "wmf", "emf",
    "j2k", "jp2", "j2c", "jpc", "pgx", "pnm", "pgm", "ppm", "ras",
};
constexpr std::string_view kFourCharacterEndings[] = {"jpeg", "tiff", "wbmp", "heic", "heif", "avif", "webp"};

// Largest photo file read into memory for the decoders that take bytes (JPEG, HEIF).
constexpr std::int64_t kMaxFileBytes = std::int64_t{1} << 30;

char asciiLower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool endsWithIgnoringCase(std::string_view name, std::string_view ending) {
    if (name.size() < ending.size()) {
        return false;
    }
    const std::string_view tail = name.substr(name.size() - ending.size());
    for (std::size_t i = 0; i < ending.size(); ++i) {
        if (asciiLower(tail[i]) != ending[i]) {
            return false;
        }
    }
    return true;
}

struct SwsContextDeleter {
    void operator()(SwsContext* context) const { sws_freeContext(context); }
};
using SwsContextPtr = std::unique_ptr<SwsContext, SwsContextDeleter>;

struct AvFreeDeleter {
    void operator()(std::uint8_t* data) const { av_free(data); }
};
using AvBuffer = std::unique_ptr<std::uint8_t, AvFreeDeleter>;

// libjpeg shrinks by 2, 4 or 8 while decoding. The largest shrink whose whole pixels still number at
// least `drawn` each way; 1 when none does.
int jpegShrink(QSize source, QSize drawn) {
    for (int k : {8, 4, 2}) {
        if (source.width() / k >= drawn.width() && source.height() / k >= drawn.height()) {
            return k;
        }
    }
    return 1;
}

// A picture split into one byte per pixel and channel: blue, green, red and, for a picture with
// transparency, alpha. Rows are aligned for swscale's vector code and one spare row follows each
// plane in case that code writes past a row's end.
class ChannelPlanes {
public:
    // Sizes the planes, reusing the memory already held when it is large enough.
    bool allocate(QSize size, int count) {
        const std::int64_t stride = (static_cast<std::int64_t>(size.width()) + 63) / 64 * 64;
        const std::int64_t planeBytes = stride * (size.height() + 1);
        if (!data_ || capacity_ < planeBytes * count) {
            data_.reset(static_cast<std::uint8_t*>(av_malloc(static_cast<std::size_t>(planeBytes * count))));
            capacity_ = data_ ? planeBytes * count : 0;
        }
        size_ = size;
        count_ = count;
        stride_ = stride;
        planeBytes_ = planeBytes;
        return data_ != nullptr;
    }
    std::uint8_t* row(int plane, int y) const { return data_.get() + plane * planeBytes_ + y * stride_; }
    std::uint8_t* plane(int index) const { return index < count_ ? row(index, 0) : nullptr; }
    int stride() const { return static_cast<int>(stride_); }
    int count() const { return count_; }
    QSize size() const { return size_; }
    std::int64_t capacity() const { return capacity_; }

private:
    AvBuffer data_;
    std::int64_t capacity_ = 0;
    QSize size_;
    int count_ = 0;
    std::int64_t stride_ = 0;
    std::int64_t planeBytes_ = 0;
};

// Below this many pixels a second thread costs more than it saves (thumbnails, previews).
constexpr std::int64_t kMinPixelsForTwoThreads = std::int64_t{1} << 20;

// A resampler kept from one photo to the next on the same thread: photos of one camera share their
// size, and a new one costs its filters and threads each time.
struct Resampler {
    SwsContextPtr context;
    QSize from;
    QSize to;
    int planes = 0;
    int threads = 0;

    // Ready for `planes` planes from `source` to `size`, made anew only where they changed.
    SwsContext* ready(QSize source, QSize size, int count, AVPixelFormat format) {
        const std::int64_t pixels = std::int64_t{source.width()} * source.height();
        const int wanted = pixels >= kMinPixelsForTwoThreads && photoLoadingMayUseTwoThreads() ? 2 : 1;
        if (context && from == source && to == size && planes == count && threads == wanted)
            return context.get();
        context.reset(sws_alloc_context());
        from = source;
        to = size;
        planes = count;
        threads = wanted;
        SwsContext* options = context.get();
        if (!options || av_opt_set_int(options, "srcw", source.width(), 0) < 0 ||
            av_opt_set_int(options, "srch", source.height(), 0) < 0 ||
            av_opt_set_int(options, "src_format", format, 0) < 0 ||
            av_opt_set_int(options, "dstw", size.width(), 0) < 0 ||
            av_opt_set_int(options, "dsth", size.height(), 0) < 0 ||
            av_opt_set_int(options, "dst_format", format, 0) < 0 ||
            av_opt_set_int(options, "sws_flags", SWS_BICUBIC | SWS_ACCURATE_RND, 0) < 0 ||
            av_opt_set_int(options, "threads", threads, 0) < 0 ||
            sws_init_context(options, nullptr, nullptr) < 0) {
            context.reset();
            return nullptr;
        }
        return options;
    }
};

// Working buffers kept from one load to the next on the same thread. Fresh buffers would be fresh
// pages every time, and the kernel's first touch of them costs about as much as the decoding.
// Whatever grew beyond kKeptBytes is let go after the load.
struct Scratch {
    static constexpr std::int64_t kKeptBytes = std::int64_t{64} << 20;

    QImage decoded;
    ChannelPlanes source;
    ChannelPlanes scaled;
    std::vector<std::uint8_t> fileBytes;  // the file, for the decoders that read from memory
    Resampler resampler;

    void trim() {
        if (decoded.sizeInBytes() + source.capacity() + scaled.capacity() +
                static_cast<std::int64_t>(fileBytes.capacity()) >
            kKeptBytes) {
            *this = Scratch{};
        }
    }
};

// Runs `work(first, end)` over the rows [0, rows): in two halves on two threads for a picture of at
// least kMinPixelsForTwoThreads pixels (rows of `width`), else at once.
template <typename Work>
void overRows(int rows, int width, Work work) {
    if (std::int64_t{rows} * width >= kMinPixelsForTwoThreads && photoLoadingMayUseTwoThreads()) {
        const int middle = rows / 2;
        std::thread second;
        try {
            second = std::thread([&] { work(middle, rows); });
        } catch (const std::system_error&) {
            work(0, rows);  // no thread to be had
            return;
        }
        work(0, middle);
        second.join();
        return;
    }
    work(0, rows);
}

// Splits `count` rows of opaque RGB32 pixels into the planes' rows from `firstRow` on.
void splitRows(const std::uint8_t* const* rows, int firstRow, int count, const ChannelPlanes& planes) {
    const int width = planes.size().width();
    for (int i = 0; i < count; ++i) {
        const auto* in = reinterpret_cast<const std::uint32_t*>(rows[i]);
        std::uint8_t* blue = planes.row(0, firstRow + i);
        std::uint8_t* green = planes.row(1, firstRow + i);
        std::uint8_t* red = planes.row(2, firstRow + i);
        for (int x = 0; x < width; ++x) {
            blue[x] = static_cast<std::uint8_t>(in[x]);
            green[x] = static_cast<std::uint8_t>(in[x] >> 8);
            red[x] = static_cast<std::uint8_t>(in[x] >> 16);
        }
    }
}

// Splits an RGB32 or ARGB32_Premultiplied picture into its channel planes.
bool split(const QImage& photo, ChannelPlanes& planes) {
    const bool alpha = photo.format() != QImage::Format_RGB32;
    if (!planes.allocate(photo.size(), alpha ? 4 : 3)) {
        return false;
    }
    const int width = photo.width();
    overRows(photo.height(), width, [&](int first, int end) {
        for (int y = first; y < end; ++y) {
            const std::uint8_t* row = photo.constScanLine(y);
            splitRows(&row, y, 1, planes);
            if (alpha) {
                const auto* in = reinterpret_cast<const std::uint32_t*>(row);
                std::uint8_t* opacity = planes.row(3, y);
                for (int x = 0; x < width; ++x) {
                    opacity[x] = static_cast<std::uint8_t>(in[x] >> 24);
                }
            }
        }
    });
    return true;
}

struct FrameDeleter {
    void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};
using FramePtr = std::unique_ptr<AVFrame, FrameDeleter>;

void keepMemory(void*, std::uint8_t*) {}

// The planes as a frame of `format` that refers to their memory (swscale copies a frame that owns no
// buffer).
FramePtr planesFrame(const ChannelPlanes& planes, AVPixelFormat format) {
    FramePtr frame(av_frame_alloc());
    if (!frame) return nullptr;
    frame->format = format;
    frame->width = planes.size().width();
    frame->height = planes.size().height();
    for (int i = 0; i < planes.count(); ++i) {
        frame->data[i] = planes.plane(i);
        frame->linesize[i] = planes.stride();
    }
    frame->buf[0] = av_buffer_create(planes.plane(0), static_cast<std::size_t>(planes.capacity()), keepMemory,
                                     nullptr, 0);
    return frame->buf[0] ? std::move(frame) : nullptr;
}

// Bicubic resampling of every plane to `size`. The planes pass through swscale as a planar 4:4:4
// picture whose format stays the same, so each channel is filtered on its own with no colour
// conversion on the way (packed RGB would go through YUV and back). A large picture is resampled by two
// threads, each making half the rows; every row comes out as it would on one.
bool resample(const ChannelPlanes& source, QSize size, ChannelPlanes& result, Resampler& resampler) {
    const AVPixelFormat format = source.count() == 4 ? AV_PIX_FMT_YUVA444P : AV_PIX_FMT_YUV444P;
    SwsContext* context = resampler.ready(source.size(), size, source.count(), format);
    if (!context || !result.allocate(size, source.count())) {
        return false;
    }
    const FramePtr in = planesFrame(source, format);
    const FramePtr out = planesFrame(result, format);
    return in && out && sws_scale_frame(context, out.get(), in.get()) >= 0;
}

// Writes rows [first, end) of the planes' `columns` pixels onto the picture's memory at (x, y): opaque
// pixels as they are, premultiplied ones blended over the background already there.
void composeRows(std::uint8_t* bits, qsizetype bytesPerLine, int x, int y, const ChannelPlanes& planes,
                 int columns, int first, int end) {
    for (int row = first; row < end; ++row) {
        const std::uint8_t* blue = planes.row(0, row);
        const std::uint8_t* green = planes.row(1, row);
        const std::uint8_t* red = planes.row(2, row);
        auto* out = reinterpret_cast<std::uint32_t*>(bits + (y + row) * bytesPerLine) + x;
        if (planes.count() < 4) {
            for (int column = 0; column < columns; ++column) {
                out[column] = 0xFF000000u | blue[column] | (std::uint32_t{green[column]} << 8) |
                              (std::uint32_t{red[column]} << 16);
            }
            continue;
        }
        const std::uint8_t* opacity = planes.row(3, row);
        for (int column = 0; column < columns; ++column) {
            const std::uint32_t keep = 255u - opacity[column];
            const std::uint32_t under = out[column];
            std::uint32_t result = 0xFF000000u;
            const std::uint8_t top[3] = {blue[column], green[column], red[column]};
            for (int channel = 0; channel < 3; ++channel) {
                const std::uint32_t bottom = (under >> (8 * channel)) & 0xFFu;
                const std::uint32_t mixed = top[channel] + (bottom * keep + 127u) / 255u;
                result |= std::min(mixed, 255u) << (8 * channel);
            }
            out[column] = result;
        }
    }
}

// Writes `rows` x `columns` pixels of the planes onto the picture at (x, y).
void compose(QImage& picture, int x, int y, const ChannelPlanes& planes, int columns, int rows) {
    std::uint8_t* bits = picture.bits();  // detached here, before any thread writes to it
    const qsizetype bytesPerLine = picture.bytesPerLine();
    overRows(rows, columns,
             [&](int first, int end) { composeRows(bits, bytesPerLine, x, y, planes, columns, first, end); });
}

// Qt refuses to decode any picture needing more than its allocation limit (128 MB by default), which
// would turn a 6000 x 6000 PNG black although it is well within kMaxDecodedPixels. The limit is raised
// once, before the first reader is made, to that bound at four bytes a pixel plus room for a reader's
// own working copies.
void raiseReaderAllocationLimit() {
    static const bool raised = [] {
        constexpr std::int64_t kBytesPerPixel = 4;
        constexpr std::int64_t kMarginMegabytes = 64;
        constexpr std::int64_t limit =
            (PhotoLoader::kMaxDecodedPixels * kBytesPerPixel >> 20) + kMarginMegabytes;
        QImageReader::setAllocationLimit(static_cast<int>(limit));
        return true;
    }();
    (void)raised;
}

// The lower-case extension of `path` as an image reader's format name ("" without one).
QByteArray photoFormatHint(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    const std::size_t dot = path.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
    QByteArray extension = QByteArray::fromStdString(path.substr(dot + 1)).toLower();
    if (extension == "jpg" || extension == "jpe" || extension == "jfif") extension = "jpeg";
    if (extension == "tif") extension = "tiff";
    return extension;
}

// Converts a photo that carries a colour profile other than sRGB (an embedded ICC profile, or Adobe
// RGB by its EXIF interoperability index) to sRGB, the colours the video and the screen show. A
// profile Qt cannot use leaves the photo as it is, taken as sRGB.
void convertToSrgb(QImage& photo) {
    const QColorSpace space = photo.colorSpace();
    if (!space.isValid() || space == QColorSpace(QColorSpace::SRgb)) return;
    photo.convertToColorSpace(QColorSpace::SRgb);
    photo.setColorSpace(QColorSpace());
}

// Draws the photo's planes in `scratch.source` fitted into `place` of `picture`, resampled to its size.
bool drawPlanes(QImage& picture, const PhotoPlacement& place, Scratch& scratch) {
    // Never draw outside the picture, whatever the arithmetic gave.
    const int x = std::clamp(place.x, 0, picture.width());
    const int y = std::clamp(place.y, 0, picture.height());
    const int columns = std::min(place.width, picture.width() - x);
    const int rows = std::min(place.height, picture.height() - y);
    if (columns <= 0 || rows <= 0) {
        return true;
    }
    const ChannelPlanes* planes = &scratch.source;
    const QSize drawn(place.width, place.height);
    if (planes->size() != drawn) {
        if (!resample(scratch.source, drawn, scratch.scaled, scratch.resampler)) {
            return false;
        }
        planes = &scratch.scaled;
    }
    compose(picture, x, y, *planes, columns, rows);
    return true;
}

// Draws a decoded photo (upright, any RGB format) fitted into `place` of `picture`.
bool drawDecoded(QImage& picture, QImage& photo, const PhotoPlacement& place, Scratch& scratch) {
    convertToSrgb(photo);
    const bool premultiplied = photo.hasAlphaChannel();
    photo.convertTo(premultiplied ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32);
    if (photo.isNull()) {
        return false;
    }
    if (place.width <= 0 || place.height <= 0) {
        return true;
    }
    return split(photo, scratch.source) && drawPlanes(picture, place, scratch);
}

// Opens a regular file for reading without blocking; -1 for anything else (a FIFO or a device named
// like a photo could block or never end).
int openRegularFile(const std::string& path, struct stat& info) {
    const int descriptor = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (descriptor < 0) return -1;
    if (::fstat(descriptor, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(descriptor);
        return -1;
    }
    return descriptor;
}

// The kinds of photo file told apart by their first bytes.
enum class PhotoKind { Jpeg, Heif, Other };

PhotoKind photoKind(int descriptor) {
    std::uint8_t head[32] = {};
    const ssize_t got = ::pread(descriptor, head, sizeof head, 0);
    if (got >= 3 && head[0] == 0xFF && head[1] == 0xD8 && head[2] == 0xFF) return PhotoKind::Jpeg;
    if (got > 0 && looksLikeHeif(head, static_cast<std::size_t>(got))) return PhotoKind::Heif;
    return PhotoKind::Other;
}

// Reads the file's first `count` bytes into `bytes`, or as many as it has.
void readStart(int descriptor, std::size_t count, std::vector<std::uint8_t>& bytes) {
    bytes.resize(count);
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t got =
            ::pread(descriptor, bytes.data() + done, bytes.size() - done, static_cast<off_t>(done));
        if (got <= 0) break;
        done += static_cast<std::size_t>(got);
    }
    bytes.resize(done);
}

// Reads the whole file into `bytes`; empty when it cannot be read or is beyond kMaxFileBytes.
void readAll(int descriptor, std::int64_t size, std::vector<std::uint8_t>& bytes) {
    bytes.clear();
    if (size <= 0 || size > kMaxFileBytes) return;
    readStart(descriptor, static_cast<std::size_t>(size), bytes);
}

// The JPEG's size as shown: orientations 5 to 8 turn it a quarter.
QSize uprightJpegSize(const JpegFacts& facts) {
    const int orientation = facts.exif ? facts.exif->orientation : 1;
    return orientation >= 5 ? QSize(facts.height, facts.width) : QSize(facts.width, facts.height);
}

// The upright size from a JPEG's header: the markers before its scan are read, not the whole file, unless
// they reach beyond the first kJpegHeaderBytes (a large colour profile or preview).
QSize uprightJpegSizeOfFile(int descriptor, std::int64_t size) {
    constexpr std::int64_t kJpegHeaderBytes = std::int64_t{256} << 10;
    std::vector<std::uint8_t> bytes;
    readStart(descriptor, static_cast<std::size_t>(std::clamp<std::int64_t>(size, 0, kJpegHeaderBytes)),
              bytes);
    std::optional<JpegFacts> facts = readJpegFacts(bytes.data(), bytes.size());
    if (!facts && size > kJpegHeaderBytes) {
        readAll(descriptor, size, bytes);
        facts = readJpegFacts(bytes.data(), bytes.size());
    }
    return facts ? uprightJpegSize(*facts) : QSize();
}

// A large JPEG that needs no turn or colour conversion, decoded on two threads straight into the
// planes (render/jpeg_decoder.h: decodeJpegRows) and drawn; false where it does not suit.
bool drawJpegByRows(QImage& picture, const std::vector<std::uint8_t>& bytes, const PhotoPlacement& place,
                    Scratch& scratch) {
    ChannelPlanes& planes = scratch.source;
    const auto start = [&planes](QSize decoded) { return planes.allocate(decoded, 3); };
    const auto sink = [&planes](int firstRow, const std::uint8_t* const* rows, int count) {
        splitRows(rows, firstRow, count, planes);
    };
    return decodeJpegRows(bytes.data(), bytes.size(), QSize(place.width, place.height),
                          PhotoLoader::kMaxDecodedPixels, start, sink) &&
           drawPlanes(picture, place, scratch);
}

// JPEG through TurboJPEG, decoded at the smallest scale that still covers the drawn size (or from the
// EXIF thumbnail when that already covers it). `place` is set from the upright size in the header.
// Null when the file cannot be read this way.
QImage decodeJpegToFit(const std::vector<std::uint8_t>& bytes, QImage& picture, PhotoPlacement& place,
                       bool& nothingToDraw, bool& drawnByRows, Scratch& scratch) {
    const QSize pictureSize = picture.size();
    const std::optional<JpegFacts> facts = readJpegFacts(bytes.data(), bytes.size());
    if (!facts) return {};
    const QSize upright = uprightJpegSize(*facts);
    if (upright.isEmpty()) return {};
    place = fitPhoto(pictureSize.width(), pictureSize.height(), upright.width(), upright.height());
    if (place.width <= 0 || place.height <= 0) {
        nothingToDraw = true;
        return {};
    }
    const QSize cover(place.width, place.height);
    QImage photo = decodeExifThumbnail(bytes.data(), bytes.size(), cover);
    if (!photo.isNull()) return photo;
    if (drawJpegByRows(picture, bytes, place, scratch)) {
        drawnByRows = true;
        return {};
    }
    // Decoded into the kept picture where it fits: fresh pages cost the kernel a third of a decode.
    if (decodeJpegInto(scratch.decoded, bytes.data(), bytes.size(), cover, PhotoLoader::kMaxDecodedPixels))
        return scratch.decoded;
    return {};
}

// HEIF and AVIF through libheif, at full size (libheif does not shrink while decoding); `place` is set
// from the decoded photo, which comes upright. The file is parsed once: its size is known only then.
QImage decodeHeifToFit(const std::vector<std::uint8_t>& bytes, QSize pictureSize, PhotoPlacement& place,
                       bool& nothingToDraw) {
    QImage photo = decodeHeif(bytes.data(), bytes.size(), PhotoLoader::kMaxDecodedPixels);
    if (photo.isNull()) return {};
    place = fitPhoto(pictureSize.width(), pictureSize.height(), photo.width(), photo.height());
    if (place.width <= 0 || place.height <= 0) {
        nothingToDraw = true;
        return {};
    }
    return photo;
}

// Decodes through Qt's image readers (every format but JPEG and HEIF, and JPEGs TurboJPEG refused)
// and draws the photo fitted into `picture`. False, with the picture left as it is, when the file
// cannot be read as a picture.
bool drawWithQt(QImage& picture, QFile& file, const std::string& path, Scratch& scratch) {
    raiseReaderAllocationLimit();
    // The content decides the format; the extension only where the content has no signature (TGA).
    auto readerFor = [&file](const QByteArray& format) {
        file.seek(0);
        return std::make_unique<QImageReader>(&file, format);
    };
    std::unique_ptr<QImageReader> chosen = readerFor(QByteArray());
    if (!chosen->canRead()) chosen = readerFor(photoFormatHint(path));
    QImageReader& reader = *chosen;
    reader.setAutoTransform(true);

    // The size as stored, and whether the EXIF orientation turns it by a quarter.
    const QSize stored = reader.size();
    const bool quarterTurn = (reader.transformation() & QImageIOHandler::TransformationRotate90) != 0;
    const auto upright = [quarterTurn](QSize size) { return quarterTurn ? size.transposed() : size; };

    PhotoPlacement place;
    if (stored.isValid()) {
        // A size claimed by the header is checked before anything is allocated for it.
        if (stored.isEmpty() ||
            static_cast<std::int64_t>(stored.width()) * stored.height() > PhotoLoader::kMaxPhotoPixels) {
            return false;
        }
        const QSize photo = upright(stored);
        place = fitPhoto(picture.width(), picture.height(), photo.width(), photo.height());
        if (place.width <= 0 || place.height <= 0) {
            return true;
        }
        QSize decoded = stored;
        if (reader.format() == "jpeg") {
            const int k = jpegShrink(stored, upright(QSize(place.width, place.height)));
            if (k > 1) {
                // Qt's JPEG reader only keeps libjpeg's own 1/k shrink when the requested size is
                // exactly the clip divided by k; otherwise it decodes larger and resamples again.
                // Clipping to whole multiples of k drops under one decoded pixel at the right and
                // bottom edges.
                decoded = QSize(stored.width() / k, stored.height() / k);
                reader.setClipRect(QRect(0, 0, decoded.width() * k, decoded.height() * k));
                reader.setScaledSize(decoded);
            }
        }
        if (static_cast<std::int64_t>(decoded.width()) * decoded.height() > PhotoLoader::kMaxDecodedPixels) {
            return false;
        }
    }

    // Decoded into the kept picture: the reader reuses it when size and format match.
    QImage& photo = scratch.decoded;
    if (!reader.read(&photo) || photo.isNull()) {
        return false;
    }
    if (!stored.isValid()) {
        // A format that tells its size only by decoding.
        place = fitPhoto(picture.width(), picture.height(), photo.width(), photo.height());
    }
    return drawDecoded(picture, photo, place, scratch);
}

// Decodes the photo at `path` and draws it fitted into `picture`. False, with the picture left as it
// is, when the file cannot be read as a picture; true when it was read, even if it fits into less
// than a pixel.
bool drawPhoto(QImage& picture, const std::string& path) {
    // Opened by its bytes, so names that are not valid UTF-8 open too; without blocking, and then only
    // a regular file: a FIFO or a device named like a photo could block or never end.
    struct stat info {};
    const int descriptor = openRegularFile(path, info);
    if (descriptor < 0) {
        return false;
    }
    QFile file;
    if (!file.open(descriptor, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(descriptor);
        return false;
    }

    thread_local Scratch scratch;
    struct TrimOnExit {
        Scratch& scratch;
        ~TrimOnExit() { scratch.trim(); }
    } trimOnExit{scratch};

    // JPEG and HEIF are told by their bytes, whatever the name says, and decoded from memory.
    const PhotoKind kind = photoKind(descriptor);
    if (kind != PhotoKind::Other) {
        std::vector<std::uint8_t>& bytes = scratch.fileBytes;
        readAll(descriptor, static_cast<std::int64_t>(info.st_size), bytes);
        PhotoPlacement place;
        bool nothingToDraw = false;
        bool drawnByRows = false;
        QImage photo = kind == PhotoKind::Jpeg
                           ? decodeJpegToFit(bytes, picture, place, nothingToDraw, drawnByRows, scratch)
                           : decodeHeifToFit(bytes, picture.size(), place, nothingToDraw);
        if (nothingToDraw || drawnByRows) return true;
        if (!photo.isNull()) return drawDecoded(picture, photo, place, scratch);
        if (kind == PhotoKind::Heif) return false;
    }
    return drawWithQt(picture, file, path, scratch);
}

}  // namespace

bool isSupportedPhotoName(std::string_view name) {
    for (std::string_view ending : kThreeCharacterEndings) {
        if (endsWithIgnoringCase(name, ending)) {
            return true;
        }
    }
    for (std::string_view ending : kFourCharacterEndings) {
        if (endsWithIgnoringCase(name, ending)) {
            return true;
        }
    }
    return false;
}

PhotoPlacement fitPhoto(int width, int height, int photoWidth, int photoHeight) {
    if (photoWidth <= 0 || photoHeight <= 0 || width <= 0 || height <= 0) {
        return {};
    }
    // The factors are single precision; everything computed from them is double, truncated last.
    const float sx = static_cast<float>(width) / static_cast<float>(photoWidth);
    const float sy = static_cast<float>(height) / static_cast<float>(photoHeight);
    if (sx > 1.0f && sy > 1.0f) {
        // Smaller than the picture both ways: drawn at its own size, never enlarged.
        return {(width - photoWidth) / 2, (height - photoHeight) / 2, photoWidth, photoHeight};
    }
    PhotoPlacement place;
    double s = 0.0;
    if (sy < sx) {
        s = sy;
        place.x = static_cast<int>(std::trunc((width - photoWidth * s) * 0.5));
    } else {
        s = sx;
        place.y = static_cast<int>(std::trunc((height - photoHeight * s) * 0.5));
    }
    place.width = static_cast<int>(std::trunc(photoWidth * s));
    place.height = static_cast<int>(std::trunc(photoHeight * s));
    return place;
}

std::uint32_t premultipliedBackground(std::uint32_t argb) {
    const std::uint32_t alpha = argb >> 24;
    std::uint32_t pixel = 0xFF000000u;
    for (int shift = 0; shift < 24; shift += 8) {
        const std::uint32_t channel = (argb >> shift) & 0xFFu;
        pixel |= ((channel * alpha + 127u) / 255u) << shift;
    }
    return pixel;
}

bool PhotoLoader::load(QImage& target, int width, int height, const std::string& path,
                       std::uint32_t background, bool* decoded) {
    if (decoded) {
        *decoded = false;
    }
    if (!isSupportedPhotoName(path) || width <= 0 || height <= 0) {
        return false;
    }
    // A caller that hands back a picture of the right shape gets it refilled in place.
    QImage picture;
    if (target.size() == QSize(width, height) && target.format() == QImage::Format_RGB32 &&
        target.isDetached()) {
        picture = std::move(target);
    } else {
        picture = QImage(width, height, QImage::Format_RGB32);
        if (picture.isNull()) {
            return false;
        }
    }
    picture.fill(premultipliedBackground(background));
    const bool drawn = drawPhoto(picture, path);
    if (decoded) {
        *decoded = drawn;
    }
    target = std::move(picture);
    return true;
}

QSize PhotoLoader::uprightSize(const std::string& path) {
    struct stat info {};
    const int descriptor = openRegularFile(path, info);
    if (descriptor < 0) return {};
    QFile file;
    if (!file.open(descriptor, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(descriptor);
        return {};
    }
    const PhotoKind kind = photoKind(descriptor);
    const auto size = static_cast<std::int64_t>(info.st_size);
    if (kind == PhotoKind::Jpeg) {
        const QSize upright = uprightJpegSizeOfFile(descriptor, size);
        if (upright.isValid()) return upright;
    } else if (kind == PhotoKind::Heif) {
        std::vector<std::uint8_t> bytes;
        readAll(descriptor, size, bytes);
        return heifUprightSize(bytes.data(), bytes.size()).value_or(QSize());
    }
    raiseReaderAllocationLimit();
    QImageReader reader(&file);
    reader.setAutoTransform(true);
    const QSize stored = reader.size();
    if (!stored.isValid()) return {};
    return (reader.transformation() & QImageIOHandler::TransformationRotate90) ? stored.transposed() : stored;
}

}  // namespace kestrelle
