#pragma once
// The AVI writer: the container writer for AVI files, with a video stream compressed by one of the
// installable compressors (media/video_compressor.h) and an MP3 audio stream. Each AviWriter holds one
// file at a time and all of its own state, so several may write at once; one thread uses a writer
// (setStopFlag may come from another). Destroying an open writer finishes its file. Every step goes to
// the run log under "avi_lib.cpp".
//
// Audio: after n accepted frames the MP3 stream holds round(n x 44100 / fps) stereo sample frames of
// input (less the decoding delay, never below 0, when the delay is compensated): the samples each
// frame brings, all of them, and silence for whatever they fall short of. The encoder's tail is
// flushed into the stream when the file is closed.

#include "media/container_writer.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace kestrelle {

// The output file name for a path: the path without its extension, then ".avi" or, numbered,
// "_01.avi". "/out/My.Show.avi" gives "/out/My.Show.avi" and "/out/My.Show_01.avi".
std::string baseName(const std::string& path);
std::string fileNameFor(const std::string& path, bool numberedName);

using AviWriterOptions = ContainerWriterOptions;

class AviWriter final : public ContainerWriter {
public:
    AviWriter();
    ~AviWriter() override;
    AviWriter(const AviWriter&) = delete;
    AviWriter& operator=(const AviWriter&) = delete;

    // Any frame layout; `codecState` is the compressor's state block. An open resets the stop flag.
    WriterError open(const AviWriterOptions& options) override;
    // Also refused while the stop flag is set.
    bool writeFrame(const std::uint8_t* pixels, const std::int16_t* samples, int sampleCount) override;
    void announceStill(int frames) override;
    // Flushes the audio encoder, writes the indexes and the final headers.
    bool close() override;
    std::string fileName() const override;
    int framesWritten() const override;
    std::int64_t audioDelayFrames() const override;

    // When set, every later frame is refused (and the refusal closes the file).
    void setStopFlag(bool stop) { stop_ = stop; }

    // Everything one open file needs (avi_writer.cpp).
    struct State;

private:
    std::unique_ptr<State> state_;
    std::atomic<bool> stop_{false};
};

}  // namespace kestrelle
