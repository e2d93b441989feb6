#include "render/jpeg_parallel.h"

#include "render/jpeg_entropy.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio>  // jpeglib.h needs FILE
#include <system_error>
#include <thread>
#include <vector>

#include <jpeglib.h>

// libjpeg's interface to its entropy decoder, which jpeglib.h names but does not spell out. It has had
// this shape since IJG's version 6 and in every libjpeg-turbo; the decoders here replace its
// decode_mcu, which hands libjpeg one MCU's coefficients, with one that copies them from memory.
struct jpeg_entropy_decoder {
    void (*start_pass)(j_decompress_ptr info);
    boolean (*decode_mcu)(j_decompress_ptr info, JBLOCKROW* blocks);
    boolean insufficient_data;
};

namespace kestrelle {

namespace {

#if !defined(LIBJPEG_TURBO_VERSION) || JPEG_LIB_VERSION != 62
#error "the coefficient replay is written for libjpeg-turbo's libjpeg 6.2 interface"
#endif

struct ErrorManager {
    jpeg_error_mgr manager;
    std::jmp_buf jump;
};

[[noreturn]] void leave(j_common_ptr info) {
    std::longjmp(reinterpret_cast<ErrorManager*>(info->err)->jump, 1);
}
void ignoreMessage(j_common_ptr, int) {}
void ignoreOutput(j_common_ptr) {}

boolean copyMcu(j_decompress_ptr info, JBLOCKROW* blocks) {
    auto* cursor = static_cast<JpegCoefficients::Cursor*>(info->client_data);
    std::int16_t* targets[D_MAX_BLOCKS_IN_MCU];
    for (int b = 0; b < info->blocks_in_MCU; ++b) targets[b] = blocks[b][0];
    cursor->next(targets);  // past the last MCU (never asked for) the blocks stay zero
    return TRUE;
}

// Where a share's output lines go: straight into the picture's rows, or through a strip of rows of
// its own to a sink.
struct Output {
    PixelRows picture;              // the rows, when there is no sink
    const RowSink* sink = nullptr;  // else this takes the lines from `strip`
    std::uint8_t* strip = nullptr;  // kLinesAtOnce lines of the picture's width
};

constexpr int kLinesAtOnce = 16;

// One libjpeg decoder's share: it reads the markers in `header` (the frame's height perhaps cut), takes
// its coefficients through `cursor`, drops its first `skipLines` output lines and writes the next
// `lineCount` as the picture's rows from `firstRow` on.
struct Share {
    const std::uint8_t* header;
    std::size_t headerSize;
    int skipLines;
    int lineCount;
    int firstRow;
};

// Hands the lines just decoded to the sink, those the share keeps.
void handOver(const Share& share, const Output& output, JSAMPROW* lines, int firstLine, int count) {
    if (output.sink == nullptr) return;
    const int dropped = std::clamp(share.skipLines - firstLine, 0, count);
    if (count > dropped)
        (*output.sink)(share.firstRow + firstLine + dropped - share.skipLines, lines + dropped,
                       count - dropped);
}

// Plain data only between setjmp and any longjmp: libjpeg's error exit jumps back here.
bool decodeShare(const Share& share, const JpegCoefficients& coefficients, JpegCoefficients::Cursor& cursor,
                 int scaleNumerator, int scaleDenominator, bool bgrx, const Output& output,
                 std::uint8_t* discarded) {
    jpeg_decompress_struct info;
    ErrorManager errors;
    info.err = jpeg_std_error(&errors.manager);
    errors.manager.error_exit = leave;
    errors.manager.emit_message = ignoreMessage;
    errors.manager.output_message = ignoreOutput;
    jpeg_create_decompress(&info);
    if (setjmp(errors.jump) != 0) {
        jpeg_destroy_decompress(&info);
        return false;
    }
    jpeg_mem_src(&info, share.header, static_cast<unsigned long>(share.headerSize));
    if (jpeg_read_header(&info, TRUE) != JPEG_HEADER_OK) {
        jpeg_destroy_decompress(&info);
        return false;
    }
    info.scale_num = static_cast<unsigned int>(scaleNumerator);
    info.scale_denom = static_cast<unsigned int>(scaleDenominator);
    info.out_color_space = bgrx ? JCS_EXT_BGRX : JCS_EXT_XRGB;
    jpeg_start_decompress(&info);
    if (info.progressive_mode || info.entropy == nullptr || info.entropy->decode_mcu == nullptr ||
        info.blocks_in_MCU != coefficients.blocksPerMcu ||
        info.MCUs_per_row != static_cast<JDIMENSION>(coefficients.mcusPerRow) ||
        info.output_width != static_cast<JDIMENSION>(output.picture.width) ||
        info.output_height < static_cast<JDIMENSION>(share.skipLines + share.lineCount)) {
        jpeg_destroy_decompress(&info);
        return false;
    }
    info.client_data = &cursor;
    info.entropy->decode_mcu = copyMcu;
    const JDIMENSION end = static_cast<JDIMENSION>(share.skipLines + share.lineCount);
    const std::size_t lineBytes = static_cast<std::size_t>(output.picture.width) * 4u;
    while (info.output_scanline < end) {
        JSAMPROW lines[kLinesAtOnce];
        const int first = static_cast<int>(info.output_scanline);
        const int wanted = static_cast<int>(std::min<JDIMENSION>(kLinesAtOnce, end - info.output_scanline));
        for (int i = 0; i < wanted; ++i) {
            const int line = first + i;
            if (output.sink != nullptr)
                lines[i] = output.strip + static_cast<std::size_t>(i) * lineBytes;
            else if (line < share.skipLines)
                lines[i] = discarded;
            else
                lines[i] = output.picture.bits +
                           static_cast<std::ptrdiff_t>(share.firstRow + line - share.skipLines) *
                               output.picture.bytesPerLine;
        }
        const auto got = static_cast<int>(jpeg_read_scanlines(&info, lines, static_cast<JDIMENSION>(wanted)));
        if (got == 0) {
            jpeg_destroy_decompress(&info);
            return false;
        }
        handOver(share, output, lines, first, got);
    }
    jpeg_destroy_decompress(&info);  // the rest of the picture is not wanted
    return true;
}

bool decodeToOutput(const std::uint8_t* bytes, std::size_t size, int scaleNumerator, int scaleDenominator,
                    bool bgrx, const PixelRows& picture, const RowSink* sink) {
    if (scaleNumerator <= 0 || scaleDenominator <= 0 || picture.width <= 0 || picture.height <= 0)
        return false;
    // The coefficient buffers are kept from one photo to the next on the same thread: fresh pages cost the
    // kernel a good part of the decoding time. Beyond kKeptEntryBytes they are let go after the photo.
    constexpr std::size_t kKeptEntryBytes = std::size_t{64} << 20;
    thread_local JpegCoefficients kept;
    struct Trim {
        JpegCoefficients& coefficients;
        ~Trim() {
            std::size_t bytes = 0;
            for (const JpegCoefficients::Part& part : coefficients.parts) bytes += part.entries.size() * 4;
            if (bytes > kKeptEntryBytes) coefficients = JpegCoefficients{};
        }
    } trim{kept};
    if (!decodeJpegEntropy(bytes, size, kept)) return false;
    const JpegCoefficients& coefficients = kept;
    // Output lines per row of MCUs, a whole number at every scale M/8 libjpeg offers.
    const int mcuLines = coefficients.mcuHeight * scaleNumerator;
    if (mcuLines % scaleDenominator != 0) return false;
    const int linesPerMcuRow = mcuLines / scaleDenominator;

    // The top share decodes rows of MCUs [0, split) from the file's own markers, reading the row below
    // its last one for the chroma smoothing as a whole decode would. The bottom share starts a row of
    // MCUs above its own rows for the same reason, in a frame whose height is cut by the rows above that.
    const int split = coefficients.mcuRows / 2;
    const int topLines = split * linesPerMcuRow;
    if (topLines >= picture.height) return false;
    std::vector<std::uint8_t> bottomHeader(bytes, bytes + coefficients.headerBytes);
    const int bottomHeight = coefficients.height - (split - 1) * coefficients.mcuHeight;
    bottomHeader[coefficients.heightAt] = static_cast<std::uint8_t>(bottomHeight >> 8);
    bottomHeader[coefficients.heightAt + 1] = static_cast<std::uint8_t>(bottomHeight & 0xFF);

    const Share top{bytes, coefficients.headerBytes, 0, topLines, 0};
    const Share bottom{bottomHeader.data(), bottomHeader.size(), linesPerMcuRow, picture.height - topLines,
                       topLines};
    const std::size_t lineBytes = static_cast<std::size_t>(picture.width) * 4u;
    // A discarded line, and with a sink each share's strip of lines.
    std::vector<std::uint8_t> scratch(lineBytes * (sink != nullptr ? 2 * kLinesAtOnce + 1 : 1));
    const Output topOutput{picture, sink, sink != nullptr ? scratch.data() + lineBytes : nullptr};
    const Output bottomOutput{picture, sink,
                              sink != nullptr ? scratch.data() + lineBytes * (1 + kLinesAtOnce) : nullptr};
    JpegCoefficients::Cursor topCursor(coefficients, 0);
    JpegCoefficients::Cursor bottomCursor(coefficients, std::int64_t{split - 1} * coefficients.mcusPerRow);
    bool bottomDecoded = false;
    std::thread second;
    try {
        second = std::thread([&] {
            bottomDecoded = decodeShare(bottom, coefficients, bottomCursor, scaleNumerator, scaleDenominator,
                                        bgrx, bottomOutput, scratch.data());
        });
    } catch (const std::system_error&) {
        return false;
    }
    const bool topDecoded =
        decodeShare(top, coefficients, topCursor, scaleNumerator, scaleDenominator, bgrx, topOutput, nullptr);
    second.join();
    return topDecoded && bottomDecoded;
}

}  // namespace

bool decodeJpegOnTwoThreads(const std::uint8_t* bytes, std::size_t size, int scaleNumerator,
                            int scaleDenominator, bool bgrx, const PixelRows& rows) {
    if (rows.bits == nullptr) return false;
    return decodeToOutput(bytes, size, scaleNumerator, scaleDenominator, bgrx, rows, nullptr);
}

bool decodeJpegOnTwoThreads(const std::uint8_t* bytes, std::size_t size, int scaleNumerator,
                            int scaleDenominator, bool bgrx, int width, int height, const RowSink& sink) {
    return decodeToOutput(bytes, size, scaleNumerator, scaleDenominator, bgrx,
                          PixelRows{nullptr, width, height, 0}, &sink);
}

}  // namespace kestrelle
