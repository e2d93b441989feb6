#pragma once
// Repeated still frames without the encoder. Once the encoder has settled on a picture that keeps
// being repeated (its packets for it have shrunk to about the size of a P-VOP that codes nothing),
// the writer stores such an all-not-coded P-VOP instead of encoding the frame: a decoder repeats the
// previous picture exactly, and the encoder is spared the frame.
//
// The stream stays what the encoder alone would make of it: key frames stay at the encoder's
// interval (forced when frames it did not see would otherwise move them), and every packet carries
// the time of its true position (the encoder's packets are restamped where its clock lags).
//
// Used by the AVI writer, one frame at a time, in stream order.

#include "media/mpeg4_vop.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace kestrelle {

class StillFrameShortcut {
public:
    // `keyFrameInterval`: the encoder's distance between key frames, in frames.
    explicit StillFrameShortcut(int keyFrameInterval);

    // Frame `position` repeats the frame before it: true, with `packet` filled, when it is to be
    // stored without the encoder.
    bool repeatWithoutEncoder(int position, bool repeat, std::vector<std::uint8_t>& packet);

    // Whether the encoder must make frame `position` a key frame to keep the key frames in place.
    bool keyFrameDue(int position) const;

    // The encoder's packet for frame `position` (`repeat`: its input repeated the frame before);
    // restamped in place where its time differs from the frame's true position.
    void encoded(int position, bool repeat, std::vector<std::uint8_t>& packet, bool keyFrame);

    // False once the stream turned out not to be one this shortcut understands; it then leaves every
    // frame to the encoder.
    bool usable() const { return !disabled_; }
    int framesWithoutEncoder() const { return framesWithoutEncoder_; }

    // The settling rule: a repeated picture counts as settled once this many consecutive packets of
    // it, since the last key frame, were at most the not-coded size plus 1/kSettledSlackDivisor of it,
    // with a quantiser no finer than the packet before (the rate control is not still refining).
    static constexpr int kSettledPackets = 1;
    static constexpr int kSettledSlackDivisor = 4;

private:
    struct Time {
        std::int64_t seconds = 0;
        int increment = 0;
    };
    Time timeAt(int position) const;
    void disable() { disabled_ = true; }
    void learnVol(const std::vector<std::uint8_t>& packet);
    bool settledPacket(std::size_t size, int quant) const;

    const int keyFrameInterval_;
    bool disabled_ = false;
    std::optional<mpeg4::VolInfo> vol_;
    std::size_t notCodedSize_ = 0;

    // Time stamps: ticks of the first frame and per frame, read from the encoder's first packets.
    std::optional<std::int64_t> firstTicks_;
    std::int64_t ticksPerFrame_ = 0;
    std::int64_t streamSecond_ = 0;   // the second a decoder counts from after the last packet
    std::int64_t encoderSecond_ = 0;  // the same as the encoder counts, after its last packet
    bool encoderInStep_ = true;       // the encoder's last packet carried its true time

    int lastKeyPosition_ = 0;
    bool skippedSinceKey_ = false;
    int settledRun_ = 0;
    int lastQuant_ = 0;
    int framesWithoutEncoder_ = 0;
};

}  // namespace kestrelle
