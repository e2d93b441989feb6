#pragma once
// Walking a JPEG's marker segments before its first scan, as libjpeg reads them: stray bytes and 0xFF
// fill bytes before a marker are skipped, and so are markers without a length (TEM, RST0 to RST7, SOI).

#include <cstddef>
#include <cstdint>

namespace kestrelle {

class JpegMarkerReader {
public:
    // `bytes` must start with SOI (checked by the caller); reading starts after it.
    JpegMarkerReader(const std::uint8_t* bytes, std::size_t size) : bytes_(bytes), size_(size) {}

    // Moves to the next segment with a length; false at the data's end, at EOI, or where the segment's
    // length is too short or runs past the end.
    bool next() {
        std::size_t at = next_;
        while (true) {
            while (at < size_ && bytes_[at] != 0xFF) ++at;
            while (at < size_ && bytes_[at] == 0xFF) ++at;
            if (at >= size_) return false;
            marker_ = bytes_[at++];
            if (marker_ == 0x00 || marker_ == 0x01 || (marker_ >= 0xD0 && marker_ <= 0xD8)) continue;
            if (marker_ == 0xD9 || size_ - at < 2) return false;
            const std::size_t length = static_cast<std::size_t>(bytes_[at] << 8 | bytes_[at + 1]);
            if (length < 2 || length > size_ - at) return false;
            lengthAt_ = at;
            next_ = at + length;
            return true;
        }
    }

    std::uint8_t marker() const { return marker_; }
    const std::uint8_t* payload() const { return bytes_ + lengthAt_ + 2; }
    std::size_t payloadSize() const { return next_ - lengthAt_ - 2; }
    // Where the segment's two length bytes are in the data, and where the data after it starts.
    std::size_t lengthAt() const { return lengthAt_; }
    std::size_t end() const { return next_; }

private:
    const std::uint8_t* bytes_;
    std::size_t size_;
    std::size_t next_ = 2;
    std::size_t lengthAt_ = 0;
    std::uint8_t marker_ = 0;
};

}  // namespace kestrelle
