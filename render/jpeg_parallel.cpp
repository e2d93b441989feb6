#include "render/jpeg_parallel.h"

#include "render/jpeg_entropy.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <csetjmp>
#include <cstdio>  // jpeglib.h needs FILE
#include <mutex>
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

// A band of rows of MCUs [firstRow, endRow) decoded by one libjpeg decoder, which starts a row of MCUs
// above it (where there is one) and reads the row below it: the rows next to a band's edges are smoothed
// with their neighbours (chroma upsampling) as in a whole decode.
struct Band {
    int firstRow = 0;
    int endRow = 0;
    std::vector<std::uint8_t> header;  // the markers, the frame's height cut by the rows above its start
    std::atomic<bool> claimed{false};
    bool decoded = false;

    int startRow() const { return std::max(0, firstRow - 1); }
};

// Everything the two threads share while turning the coefficients into rows.
class BandWork {
public:
    BandWork(const std::uint8_t* bytes, JpegCoefficients& coefficients, int scaleNumerator,
             int scaleDenominator, bool bgrx, const PixelRows& picture, const RowSink* sink)
        : bytes_(bytes),
          coefficients_(coefficients),
          scaleNumerator_(scaleNumerator),
          scaleDenominator_(scaleDenominator),
          bgrx_(bgrx),
          picture_(picture),
          sink_(sink),
          lineBytes_(static_cast<std::size_t>(picture.width) * 4u) {}

    // Output lines per row of MCUs, a whole number at every scale M/8 libjpeg offers; 0 where not.
    int linesPerMcuRow() const {
        const int lines = coefficients_.mcuHeight * scaleNumerator_;
        return lines % scaleDenominator_ == 0 ? lines / scaleDenominator_ : 0;
    }

    // The bands, once the first half is decoded: a top one within its rows (so that it can be made
    // before the halves meet), then bands of a few rows each, which the two threads take from either
    // end until they meet, so that neither waits long for the other.
    void planBands(std::int64_t firstHalfMcus) {
        constexpr int kSmallBands = 6;
        const int rows = coefficients_.mcuRows;
        const int known = static_cast<int>(firstHalfMcus / coefficients_.mcusPerRow) - 1;  // with a row below
        const int top = known - std::max(1, rows / 8);
        std::vector<int> edges{0};
        const int from = top >= 1 ? top : 0;
        if (from > 0) edges.push_back(from);
        const int bands = std::min(kSmallBands, rows - from);
        for (int b = 1; b <= bands; ++b) {
            const int edge = from + (rows - from) * b / bands;
            if (edge > edges.back()) edges.push_back(edge);
        }
        bands_ = std::vector<Band>(edges.size() - 1);
        for (std::size_t b = 0; b + 1 < edges.size(); ++b) {
            Band& band = bands_[b];
            band.firstRow = edges[b];
            band.endRow = edges[b + 1];
            band.header.assign(bytes_, bytes_ + coefficients_.headerBytes);
            const int height = coefficients_.height - band.startRow() * coefficients_.mcuHeight;
            band.header[coefficients_.heightAt] = static_cast<std::uint8_t>(height >> 8);
            band.header[coefficients_.heightAt + 1] = static_cast<std::uint8_t>(height & 0xFF);
        }
        firstHalfRows_ = known + 1;
    }

    // Whether a band reads only rows the first half decoded.
    bool withinFirstHalf(const Band& band) const {
        return std::min(band.endRow, coefficients_.mcuRows - 1) < firstHalfRows_;
    }

    std::vector<Band>& bands() { return bands_; }

    // Makes the band if no other thread has claimed it. `strip` holds kLinesAtOnce lines of the
    // picture's width (for a sink), `discarded` one.
    void make(Band& band, std::uint8_t* strip, std::uint8_t* discarded) {
        if (band.claimed.exchange(true)) return;
        const int lines = linesPerMcuRow();
        const int start = band.startRow();
        const int endLine = std::min(band.endRow * lines, picture_.height);
        const Share share{band.header.data(), band.header.size(), (band.firstRow - start) * lines,
                          endLine - band.firstRow * lines, band.firstRow * lines};
        JpegCoefficients::Cursor cursor(coefficients_, std::int64_t{start} * coefficients_.mcusPerRow);
        const Output output{picture_, sink_, strip};
        band.decoded = decodeShare(share, coefficients_, cursor, scaleNumerator_, scaleDenominator_, bgrx_,
                                   output, discarded);
    }

    std::size_t lineBytes() const { return lineBytes_; }

private:
    const std::uint8_t* bytes_;
    JpegCoefficients& coefficients_;
    int scaleNumerator_;
    int scaleDenominator_;
    bool bgrx_;
    PixelRows picture_;
    const RowSink* sink_;
    std::size_t lineBytes_;
    std::vector<Band> bands_;
    int firstHalfRows_ = 0;
};

// One thread's working lines: a discarded line, then a strip of kLinesAtOnce lines for a sink.
class Lines {
public:
    explicit Lines(std::size_t lineBytes) : bytes_(lineBytes * (kLinesAtOnce + 1)), lineBytes_(lineBytes) {}
    std::uint8_t* discarded() { return bytes_.data(); }
    std::uint8_t* strip() { return bytes_.data() + lineBytes_; }

private:
    std::vector<std::uint8_t> bytes_;
    std::size_t lineBytes_;
};

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
    JpegEntropyDecoder decoder;
    if (!decoder.prepare(bytes, size, kept)) return false;
    BandWork work(bytes, kept, scaleNumerator, scaleDenominator, bgrx, picture, sink);
    if (work.linesPerMcuRow() == 0) return false;

    // The first thread decodes the first half, makes the band(s) within it at once, then helps with the
    // rest; the second decodes the second half, finds where the halves meet, and makes the bands from
    // the bottom up. The middle band goes to whichever is free first.
    std::mutex mutex;
    std::condition_variable changed;
    bool firstDone = false;  // the first half decoded and the bands planned
    bool firstDecoded = false;
    bool metDone = false;
    bool met = false;
    std::thread second;
    try {
        second = std::thread([&] {
            const bool secondDecoded = decoder.decodeSecondHalf();
            std::unique_lock lock(mutex);
            changed.wait(lock, [&] { return firstDone; });
            lock.unlock();
            const bool meetFound = firstDecoded && decoder.meet(secondDecoded);
            lock.lock();
            met = meetFound;
            metDone = true;
            lock.unlock();
            changed.notify_all();
            if (!meetFound) return;
            Lines lines(work.lineBytes());
            for (auto band = work.bands().rbegin(); band != work.bands().rend(); ++band)
                work.make(*band, lines.strip(), lines.discarded());
        });
    } catch (const std::system_error&) {
        return false;
    }
    const bool decoded = decoder.decodeFirstHalf();
    if (decoded) work.planBands(kept.parts[0].count);
    {
        const std::lock_guard lock(mutex);
        firstDecoded = decoded;
        firstDone = true;
    }
    changed.notify_all();
    if (decoded) {
        Lines lines(work.lineBytes());
        for (Band& band : work.bands()) {
            if (!work.withinFirstHalf(band)) {
                std::unique_lock lock(mutex);
                changed.wait(lock, [&] { return metDone; });
                if (!met) break;
            }
            work.make(band, lines.strip(), lines.discarded());
        }
    }
    second.join();
    if (!decoded || !met) return false;
    return std::all_of(work.bands().begin(), work.bands().end(),
                       [](const Band& band) { return band.decoded; });
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
