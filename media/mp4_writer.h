#pragma once
// The MP4 writer: the container writer for MP4 files with an H.264 (libx264) or H.265 (libx265) video
// stream and an AAC-LC audio stream (FFmpeg's native encoder, 44,100 Hz stereo), through libavformat's
// mp4 muxer with the index moved before the media data, so playback can start while the file loads.
//
// Video: 4:2:0 at constant frame rate, High profile for H.264, rate control and preset from the
// H.264 settings in the codec state (media/h264_settings.h). Width and height must be even (4:2:0
// chroma halves both); odd sizes are refused with WriterError::VideoSetupFailed. Sizes beyond the
// levels' tables are left to the encoder, which picks the level itself. Colour is tagged BT.709 from a
// height of 720 up and BT.601 (SMPTE 170M) below, limited range, and converted with the matching
// coefficients. A key frame starts every announced still and at least every keyFrameSeconds.
//
// Repeats: within an announced still, after the encoder has had the picture twice (to sharpen it),
// each repeat is written as an H.264 skip frame (media/h264_skip_frames.h) that copies the
// picture exactly at no encoding cost; libx264 then runs without B frames and with one reference.
// A key frame the key-frame distance asks for inside a still is the still's first two encoded frames
// written again, byte for byte: the same pictures, no encoding. With the H.264 settings' long samples the
// repeats are not written at all: the picture's sample lasts until the next one (variable frame rate).
// KESTRELLE_ENCODE_EVERY_FRAME hands every frame to the encoder instead. H.265 always encodes every frame.
//
// Audio: after n accepted frames the stream holds round(n x 44100 / fps) stereo sample frames (the
// samples each frame brings, then silence for whatever they fall short of). The encoder's priming is
// declared as an edit list, so audio and video both start at 0 and audioDelayFrames() is 0.
//
// A write failure closes the writer and removes the unfinished file; close() at any point (a cancel)
// finishes a valid, playable file of the frames taken so far.

#include "media/container_writer.h"

#include <memory>

namespace kestrelle {

class Mp4Writer final : public ContainerWriter {
public:
    Mp4Writer();
    ~Mp4Writer() override;
    Mp4Writer(const Mp4Writer&) = delete;
    Mp4Writer& operator=(const Mp4Writer&) = delete;

    // The file is options.path as given (numbered: "_01" before its extension).
    WriterError open(const ContainerWriterOptions& options) override;
    bool writeFrame(const std::uint8_t* pixels, const std::int16_t* samples, int sampleCount) override;
    void announceStill(int frames) override;
    bool close() override;
    std::string fileName() const override;
    int framesWritten() const override;
    std::int64_t audioDelayFrames() const override;

    struct State;

private:
    std::unique_ptr<State> state_;
};

}  // namespace kestrelle
