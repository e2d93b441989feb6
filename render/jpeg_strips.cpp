#include "render/jpeg_strips.h"

#include "render/jpeg_markers.h"

#include <algorithm>
#include <cstring>

namespace kestrelle {

namespace {

constexpr std::uint8_t kSof0 = 0xC0;  // baseline
constexpr std::uint8_t kSof1 = 0xC1;  // extended sequential, Huffman
constexpr std::uint8_t kDri = 0xDD;
constexpr std::uint8_t kSos = 0xDA;
constexpr std::uint8_t kEoi = 0xD9;
constexpr std::uint8_t kRst0 = 0xD0;

std::uint16_t bigEndian16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>((p[0] << 8) | p[1]);
}

bool isOtherFrame(std::uint8_t marker) {
    return marker >= 0xC2 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
}

// What the markers before the scan say about how it is laid out.
struct ScanLayout {
    std::size_t heightAt = 0;  // where the frame's 16-bit height is stored
    int width = 0;
    int height = 0;
    int mcuWidth = 0;
    int mcuHeight = 0;
    int restartInterval = 0;    // MCUs between restart markers
    std::size_t entropyAt = 0;  // the first byte of the scan's data
};

bool readLayout(const std::uint8_t* bytes, std::size_t size, ScanLayout& layout) {
    if (size < 4 || bytes[0] != 0xFF || bytes[1] != 0xD8) return false;
    int components = 0;
    int hMax = 0;
    int vMax = 0;
    JpegMarkerReader reader(bytes, size);
    while (true) {
        if (!reader.next()) return false;
        const std::uint8_t marker = reader.marker();
        const std::uint8_t* payload = reader.payload();
        const std::size_t payloadSize = reader.payloadSize();
        if (marker == kSof0 || marker == kSof1) {
            if (components != 0 || payloadSize < 6) return false;
            layout.heightAt = reader.lengthAt() + 3;
            layout.height = bigEndian16(payload + 1);
            layout.width = bigEndian16(payload + 3);
            components = payload[5];
            if (components < 1 || components > 4 ||
                payloadSize < 6 + 3 * static_cast<std::size_t>(components))
                return false;
            for (int c = 0; c < components; ++c) {
                const int h = payload[7 + 3 * c] >> 4;
                const int v = payload[7 + 3 * c] & 15;
                if (h < 1 || h > 4 || v < 1 || v > 4) return false;
                hMax = std::max(hMax, h);
                vMax = std::max(vMax, v);
            }
        } else if (isOtherFrame(marker)) {
            return false;  // progressive, lossless or arithmetic-coded
        } else if (marker == kDri) {
            if (payloadSize < 2) return false;
            layout.restartInterval = bigEndian16(payload);
        } else if (marker == kSos) {
            // One scan holding every component: its data is the whole picture.
            if (components == 0 || payloadSize < 1 || payload[0] != components) return false;
            layout.entropyAt = reader.end();
            break;
        }
    }
    if (layout.width <= 0 || layout.height <= 0 || layout.restartInterval <= 0) return false;
    // One component is scanned a block at a time; several are interleaved in MCUs of the largest sampling.
    layout.mcuWidth = components == 1 ? 8 : 8 * hMax;
    layout.mcuHeight = components == 1 ? 8 : 8 * vMax;
    return true;
}

// The scan's data between restart markers: [start, end) of each interval in order, or none when the
// markers are out of order or the scan does not end with a marker.
struct Interval {
    std::size_t start;
    std::size_t end;
};

std::vector<Interval> restartIntervals(const std::uint8_t* bytes, std::size_t size, std::size_t from,
                                       std::size_t expected) {
    std::vector<Interval> intervals;
    intervals.reserve(expected);
    std::size_t start = from;
    std::size_t at = from;
    while (at < size) {
        const void* found = std::memchr(bytes + at, 0xFF, size - at);
        if (!found) return {};
        const std::size_t ff = static_cast<std::size_t>(static_cast<const std::uint8_t*>(found) - bytes);
        std::size_t next = ff + 1;
        while (next < size && bytes[next] == 0xFF) ++next;
        if (next >= size) return {};
        const std::uint8_t marker = bytes[next];
        at = next + 1;
        if (marker == 0x00) continue;  // a stuffed 0xFF of the data
        intervals.push_back({start, ff});
        if (marker < kRst0 || marker > kRst0 + 7) break;  // the scan ends
        if (marker != kRst0 + (intervals.size() - 1) % 8 || intervals.size() >= expected) return {};
        start = at;
    }
    if (intervals.size() != expected) return {};
    return intervals;
}

bool startsInterval(int row, std::int64_t mcusPerRow, int interval) {
    return (row * mcusPerRow) % interval == 0;
}

// A row of MCUs near `target` (within `reach`) at which an interval starts, strictly between `after` and
// `rows`; -1 when there is none.
int restartRowNear(int target, int reach, int after, int rows, std::int64_t mcusPerRow, int interval) {
    for (int distance = 0; distance <= reach; ++distance) {
        for (const int row : {target - distance, target + distance}) {
            if (row > after && row < rows && startsInterval(row, mcusPerRow, interval)) return row;
        }
    }
    return -1;
}

// The JPEG of the rows of MCUs [firstRow, endRow): the markers before the scan with the frame's height
// cut to those rows, their intervals with the restart markers between them numbered from 0, the end.
JpegStrip stripOfRows(const std::uint8_t* bytes, const ScanLayout& layout,
                      const std::vector<Interval>& intervals, std::int64_t mcusPerRow, int rows, int firstRow,
                      int endRow) {
    const auto intervalAt = [&](int row) {
        return row >= rows ? intervals.size()
                           : static_cast<std::size_t>(row * mcusPerRow / layout.restartInterval);
    };
    const std::size_t first = intervalAt(firstRow);
    const std::size_t last = intervalAt(endRow);
    JpegStrip strip;
    strip.firstRow = firstRow * layout.mcuHeight;
    strip.height = std::min(layout.height, endRow * layout.mcuHeight) - strip.firstRow;
    std::size_t dataBytes = 0;
    for (std::size_t i = first; i < last; ++i) dataBytes += intervals[i].end - intervals[i].start + 2;
    strip.bytes.reserve(layout.entropyAt + dataBytes + 2);
    strip.bytes.assign(bytes, bytes + layout.entropyAt);
    strip.bytes[layout.heightAt] = static_cast<std::uint8_t>(strip.height >> 8);
    strip.bytes[layout.heightAt + 1] = static_cast<std::uint8_t>(strip.height & 0xFF);
    for (std::size_t i = first; i < last; ++i) {
        strip.bytes.insert(strip.bytes.end(), bytes + intervals[i].start, bytes + intervals[i].end);
        if (i + 1 < last) {
            strip.bytes.push_back(0xFF);
            strip.bytes.push_back(static_cast<std::uint8_t>(kRst0 + (i - first) % 8));
        }
    }
    strip.bytes.push_back(0xFF);
    strip.bytes.push_back(kEoi);
    return strip;
}

}  // namespace

JpegSplit splitJpegAtRestarts(const std::uint8_t* bytes, std::size_t size, int parts) {
    ScanLayout layout;
    if (bytes == nullptr || parts < 2 || !readLayout(bytes, size, layout)) return {};
    const std::int64_t mcusPerRow = (layout.width + layout.mcuWidth - 1) / layout.mcuWidth;
    const int rows = (layout.height + layout.mcuHeight - 1) / layout.mcuHeight;
    const std::int64_t intervalCount =
        (mcusPerRow * rows + layout.restartInterval - 1) / layout.restartInterval;
    parts = std::min(parts, rows);
    if (parts < 2) return {};
    const std::vector<Interval> intervals =
        restartIntervals(bytes, size, layout.entropyAt, static_cast<std::size_t>(intervalCount));
    if (intervals.empty()) return {};

    // The rows of MCUs each strip starts at, and the end.
    std::vector<int> starts{0};
    for (int part = 1; part < parts; ++part) {
        const int row = restartRowNear(rows * part / parts, rows / (2 * parts), starts.back(), rows,
                                       mcusPerRow, layout.restartInterval);
        if (row < 0) return {};
        starts.push_back(row);
    }
    starts.push_back(rows);

    JpegSplit split;
    for (std::size_t s = 0; s + 1 < starts.size(); ++s)
        split.strips.push_back(
            stripOfRows(bytes, layout, intervals, mcusPerRow, rows, starts[s], starts[s + 1]));
    // Each seam's strip: from the last row before the seam to the first after it at which intervals start
    // (row 0 always starts one), so it holds at least a row of MCUs on either side.
    for (std::size_t s = 1; s + 1 < starts.size(); ++s) {
        int above = starts[s] - 1;
        while (!startsInterval(above, mcusPerRow, layout.restartInterval)) --above;
        int below = starts[s] + 1;
        while (below < rows && !startsInterval(below, mcusPerRow, layout.restartInterval)) ++below;
        split.seams.push_back(stripOfRows(bytes, layout, intervals, mcusPerRow, rows, above, below));
    }
    return split;
}

}  // namespace kestrelle
