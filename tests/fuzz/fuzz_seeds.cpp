// Writes seed inputs for the fuzz targets: FOLDER/photo holds one small picture in every format Qt can
// write, each prefixed by the two bytes photo_loader_fuzz reads (the ending's index and the picture
// size); FOLDER/wave holds a few WAV files (8- and 16-bit PCM, a LIST chunk of odd size, non-PCM);
// FOLDER/jpeg holds JPEGs of every chroma sampling, with and without restart markers, each prefixed by
// the byte jpeg_two_threads_fuzz reads (the DCT scale and the pixel order).

#include "base/byte_order.h"

#include <QBuffer>
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QImageWriter>
#include <QPainter>

#include <libheif/heif.h>

// jpeglib.h needs the standard types declared before it.
#include <jpeglib.h>
#include <cstdio>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <tuple>

namespace {

struct Seed {
    const char* format;
    int endingIndex;  // index into the fuzz target's endings
    bool alpha;
    bool rotated;
};

constexpr Seed kSeeds[] = {
    {"bmp", 0, false, false},   {"png", 3, true, false},   {"jpeg", 2, false, false},
    {"jpeg", 19, false, true},  {"ico", 4, true, false},   {"tiff", 5, false, false},
    {"tiff", 20, true, false},  {"ppm", 17, false, false}, {"pgm", 16, false, false},
    {"wbmp", 21, false, false}, {"webp", 1, true, false},
};

QImage picture(bool alpha) {
    QImage image(23, 17, alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    image.fill(alpha ? QColor(0, 0, 0, 0) : QColor(Qt::white));
    QPainter painter(&image);
    painter.fillRect(2, 3, 9, 7, QColor(200, 40, 10, alpha ? 128 : 255));
    painter.fillRect(12, 8, 8, 6, Qt::blue);
    return image;
}

void put16(std::string& out, unsigned value) {
    kestrelle::appendLe16(out, static_cast<std::uint16_t>(value));
}
void put32(std::string& out, unsigned value) {
    kestrelle::appendLe32(out, value);
}

std::string chunk(const char* tag, const std::string& body) {
    std::string out(tag, 4);
    put32(out, static_cast<unsigned>(body.size()));
    return out + body;
}

std::string wave(unsigned formatTag, unsigned bits, const std::string& before, unsigned frames) {
    std::string format;
    put16(format, formatTag);
    put16(format, 2);
    put32(format, 8000);
    put32(format, 8000 * 2 * bits / 8);
    put16(format, 2 * bits / 8);
    put16(format, bits);
    std::string samples;
    for (unsigned i = 0; i < frames * 2 * bits / 8; ++i) samples += static_cast<char>(i * 37);
    const std::string body = "WAVE" + before + chunk("fmt ", format) + chunk("data", samples);
    return chunk("RIFF", body);
}

// `image` as HEIF of `format` (HEVC or AV1) through libheif's encoders; empty without the encoder.
std::string heif(const QImage& image, heif_compression_format format) {
    std::string bytes;
    heif_context* context = heif_context_alloc();
    heif_encoder* encoder = nullptr;
    heif_image* picture = nullptr;
    if (heif_context_get_encoder_for_format(context, format, &encoder).code == heif_error_Ok &&
        heif_image_create(image.width() + 1, image.height() + 1, heif_colorspace_RGB,
                          heif_chroma_interleaved_RGB, &picture)
                .code == heif_error_Ok) {
        heif_encoder_set_lossy_quality(encoder, 50);
        heif_image_add_plane(picture, heif_channel_interleaved, image.width() + 1, image.height() + 1, 8);
        int stride = 0;
        std::uint8_t* plane = heif_image_get_plane(picture, heif_channel_interleaved, &stride);
        const QImage rgb = image.convertToFormat(QImage::Format_RGB888);
        for (int y = 0; y < rgb.height(); ++y)
            std::memcpy(plane + static_cast<std::ptrdiff_t>(y) * stride, rgb.constScanLine(y),
                        static_cast<std::size_t>(rgb.width()) * 3);
        heif_writer writer{};
        writer.writer_api_version = 1;
        writer.write = [](heif_context*, const void* data, std::size_t size, void* out) {
            static_cast<std::string*>(out)->append(static_cast<const char*>(data), size);
            return heif_error{heif_error_Ok, heif_suberror_Unspecified, "ok"};
        };
        if (heif_context_encode_image(context, picture, encoder, nullptr, nullptr).code == heif_error_Ok)
            heif_context_write(context, &writer, &bytes);
    }
    if (picture) heif_image_release(picture);
    if (encoder) heif_encoder_release(encoder);
    heif_context_free(context);
    return bytes;
}

// A `width` x `height` picture with edges and texture, as libjpeg compresses it: grey, or YCbCr with
// chroma sampled `h` x `v`, with a restart marker every `restartRows` rows of MCUs or every
// `restartMcus` MCUs (neither when both are 0).
std::string jpeg(int width, int height, int h, int v, bool grey, int restartRows, int restartMcus) {
    jpeg_compress_struct info{};
    jpeg_error_mgr errors{};
    info.err = jpeg_std_error(&errors);
    jpeg_create_compress(&info);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&info, &buffer, &size);
    info.image_width = static_cast<JDIMENSION>(width);
    info.image_height = static_cast<JDIMENSION>(height);
    info.input_components = grey ? 1 : 3;
    info.in_color_space = grey ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, 85, TRUE);
    if (!grey) {
        info.comp_info[0].h_samp_factor = h;
        info.comp_info[0].v_samp_factor = v;
    }
    info.restart_in_rows = restartRows;
    info.restart_interval = static_cast<unsigned>(restartMcus);
    jpeg_start_compress(&info, TRUE);
    std::string row(static_cast<std::size_t>(width) * 3, '\0');
    while (info.next_scanline < info.image_height) {
        const int y = static_cast<int>(info.next_scanline);
        for (int x = 0; x < width; ++x) {
            const bool inside =
                (x - width / 2) * (x - width / 2) + (y - height / 2) * (y - height / 2) < width * height / 8;
            const auto i = static_cast<std::size_t>(x) * (grey ? 1 : 3);
            row[i] = static_cast<char>(inside ? 220 - y : (x * 7 + y * 3) & 0xFF);
            if (!grey) {
                row[i + 1] = static_cast<char>(inside ? 40 : (x ^ y) & 0xFF);
                row[i + 2] = static_cast<char>((x * y / 5) & 0xFF);
            }
        }
        auto* line = reinterpret_cast<JSAMPLE*>(row.data());
        jpeg_write_scanlines(&info, &line, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    std::string bytes(reinterpret_cast<const char*>(buffer), size);
    std::free(buffer);
    return bytes;
}

void writeFile(const std::string& path, const std::string& bytes) {
    std::ofstream file(path, std::ios::binary);
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

}  // namespace

int main(int argc, char** argv) {
    // Pictures only: no display needed.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: fuzz_seeds FOLDER\n");
        return 2;
    }
    QDir().mkpath(QString::fromLocal8Bit(argv[1]) + QStringLiteral("/photo"));
    QDir().mkpath(QString::fromLocal8Bit(argv[1]) + QStringLiteral("/wave"));
    QDir().mkpath(QString::fromLocal8Bit(argv[1]) + QStringLiteral("/jpeg"));
    const std::string waves = std::string(argv[1]) + "/wave/";
    writeFile(waves + "pcm16", wave(1, 16, "", 40));
    writeFile(waves + "pcm8_list", wave(1, 8, chunk("LIST", std::string(25, 'x')), 33));
    writeFile(waves + "adpcm", wave(2, 4, "", 10));

    int written = 0;
    for (const Seed& seed : kSeeds) {
        QBuffer buffer;
        buffer.open(QIODevice::WriteOnly);
        QImageWriter writer(&buffer, seed.format);
        if (seed.rotated) writer.setTransformation(QImageIOHandler::TransformationRotate90);
        if (!writer.write(picture(seed.alpha))) continue;
        const std::string name =
            std::string(argv[1]) + "/photo/" + seed.format + std::to_string(seed.endingIndex);
        std::ofstream file(name, std::ios::binary);
        const char prefix[2] = {static_cast<char>(seed.endingIndex), static_cast<char>(written % 5)};
        file.write(prefix, 2);
        file.write(buffer.data().constData(), buffer.data().size());
        ++written;
    }
    // HEIC and AVIF (even sizes for the encoders), under the endings "heic" and "avif".
    for (const auto& [format, ending, name] :
         {std::tuple{heif_compression_HEVC, 22, "heic"}, std::tuple{heif_compression_AV1, 24, "avif"}}) {
        const std::string bytes = heif(picture(false), format);
        if (bytes.empty()) continue;
        const char prefix[2] = {static_cast<char>(ending), static_cast<char>(written % 5)};
        writeFile(std::string(argv[1]) + "/photo/" + name, std::string(prefix, 2) + bytes);
        ++written;
    }
    struct JpegSeed {
        const char* name;
        int width, height, h, v;
        bool grey;
        int restartRows, restartMcus;
    };
    // Large enough for the decoder to split (four rows of MCUs, a kilobyte of data), small enough to be
    // quick.
    constexpr JpegSeed kJpegSeeds[] = {
        {"420", 121, 90, 2, 2, false, 0, 0},           {"422_restart_rows", 128, 72, 2, 1, false, 1, 0},
        {"444_restart_3", 67, 64, 1, 1, false, 0, 3},  {"440", 80, 128, 1, 2, false, 0, 0},
        {"grey_restart_2", 115, 63, 1, 1, true, 2, 0}, {"420_wide", 300, 70, 2, 2, false, 0, 5},
    };
    int jpegs = 0;
    for (const JpegSeed& seed : kJpegSeeds) {
        const char prefix = static_cast<char>(jpegs % 6 | (jpegs % 2) << 7);
        writeFile(std::string(argv[1]) + "/jpeg/" + seed.name,
                  prefix + jpeg(seed.width, seed.height, seed.h, seed.v, seed.grey, seed.restartRows,
                                seed.restartMcus));
        ++jpegs;
    }
    std::printf("%d photo seeds, 3 wave seeds, %d JPEG seeds\n", written, jpegs);
    return written > 0 ? 0 : 1;
}
