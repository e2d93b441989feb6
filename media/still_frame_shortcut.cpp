#include "media/still_frame_shortcut.h"

namespace kestrelle {

StillFrameShortcut::StillFrameShortcut(int keyFrameInterval) : keyFrameInterval_(keyFrameInterval) {
    if (keyFrameInterval_ < 1) disable();
}

StillFrameShortcut::Time StillFrameShortcut::timeAt(int position) const {
    const std::int64_t ticks = *firstTicks_ + static_cast<std::int64_t>(position) * ticksPerFrame_;
    const std::int64_t resolution = vol_->timeIncrementResolution;
    return {ticks / resolution, static_cast<int>(ticks % resolution)};
}

bool StillFrameShortcut::keyFrameDue(int position) const {
    return skippedSinceKey_ && position - lastKeyPosition_ >= keyFrameInterval_;
}

bool StillFrameShortcut::settledPacket(std::size_t size, int quant) const {
    return size <= notCodedSize_ + notCodedSize_ / kSettledSlackDivisor && quant >= lastQuant_;
}

void StillFrameShortcut::learnVol(const std::vector<std::uint8_t>& packet) {
    const auto vol = mpeg4::parseVol(packet.data(), packet.size());
    if (!vol) return;
    if (vol_) {
        // The encoder repeats its VOL at key frames; it must not change under the stream.
        if (vol->timeIncrementResolution != vol_->timeIncrementResolution || vol->width != vol_->width ||
            vol->height != vol_->height || vol->supported() != vol_->supported())
            disable();
        return;
    }
    vol_ = vol;
    if (!vol_->supported()) {
        disable();
        return;
    }
    notCodedSize_ = mpeg4::notCodedPVop(*vol_, 0, 0).size();
}

bool StillFrameShortcut::repeatWithoutEncoder(int position, bool repeat, std::vector<std::uint8_t>& packet) {
    if (disabled_ || !repeat || !vol_ || ticksPerFrame_ == 0 || settledRun_ < kSettledPackets) return false;
    if (position - lastKeyPosition_ >= keyFrameInterval_) return false;
    const Time time = timeAt(position);
    // Without resync markers the encoder's next packet can take any time stamp; with them its
    // VOP data cannot shift, so the encoder must cross each second itself.
    if (!vol_->resyncMarkerDisable && !(encoderInStep_ && time.seconds == encoderSecond_)) return false;
    packet = mpeg4::notCodedPVop(*vol_, static_cast<int>(time.seconds - streamSecond_), time.increment);
    if (packet.empty()) {
        disable();
        return false;
    }
    streamSecond_ = time.seconds;
    skippedSinceKey_ = true;
    ++framesWithoutEncoder_;
    return true;
}

void StillFrameShortcut::encoded(int position, bool repeat, std::vector<std::uint8_t>& packet,
                                 bool keyFrame) {
    if (keyFrame || !vol_) learnVol(packet);
    if (!vol_) {
        disable();
        return;
    }
    const auto timing = mpeg4::parseVopTiming(*vol_, packet.data(), packet.size());
    if (!timing || timing->vopCount != 1 || timing->type == mpeg4::VopType::B ||
        timing->type == mpeg4::VopType::S) {
        disable();
        return;
    }
    const std::int64_t resolution = vol_->timeIncrementResolution;
    const std::int64_t encoderSecond =
        (timing->govSeconds ? *timing->govSeconds : encoderSecond_) + timing->moduloTimeBase;
    const std::int64_t encoderTicks = encoderSecond * resolution + timing->timeIncrement;

    // The encoder's first two packets give the clock: where it starts and how far one frame moves it.
    if (!firstTicks_) {
        if (position != 0) disable();
        firstTicks_ = encoderTicks;
    } else if (ticksPerFrame_ == 0) {
        if (position != 1 || encoderTicks <= *firstTicks_) {
            disable();
            return;
        }
        ticksPerFrame_ = encoderTicks - *firstTicks_;
    }
    Time time{encoderSecond, timing->timeIncrement};
    if (ticksPerFrame_ != 0) time = timeAt(position);

    const bool gov = timing->govSeconds.has_value();
    const std::int64_t modulo = gov ? 0 : time.seconds - streamSecond_;
    const bool rightTime = timing->moduloTimeBase == modulo && timing->timeIncrement == time.increment &&
                           (!gov || *timing->govSeconds == time.seconds);
    if (!rightTime && (modulo < 0 || !mpeg4::restampVop(*vol_, packet, static_cast<int>(modulo),
                                                        time.increment, static_cast<int>(time.seconds)))) {
        disable();
    }
    streamSecond_ = time.seconds;
    encoderSecond_ = encoderSecond;
    encoderInStep_ = encoderTicks == time.seconds * resolution + time.increment;

    if (keyFrame) {
        lastKeyPosition_ = position;
        skippedSinceKey_ = false;
        settledRun_ = 0;
    } else if (repeat && timing->type == mpeg4::VopType::P && settledPacket(packet.size(), timing->quant)) {
        ++settledRun_;
    } else {
        settledRun_ = 0;
    }
    lastQuant_ = timing->quant;
}

}  // namespace kestrelle
