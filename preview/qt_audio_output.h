#pragma once
// The preview's sound device: Qt Multimedia's QAudioSink on the system's default output, pulling from an
// AudioSampleSource through a QIODevice. Lives on the thread that creates it (the preview window's), which
// needs a running event loop; the device's pulls come on that thread.

#include "preview/audio_output.h"

#include <memory>

class QAudioSink;

namespace kestrelle {

class QtAudioOutput final : public AudioOutput {
public:
    QtAudioOutput();
    ~QtAudioOutput() override;
    QtAudioOutput(const QtAudioOutput&) = delete;
    QtAudioOutput& operator=(const QtAudioOutput&) = delete;

    bool start(AudioSampleSource& source, double linearGain) override;
    void stop() override;

private:
    class PullDevice;

    std::unique_ptr<PullDevice> device_;
    std::unique_ptr<QAudioSink> sink_;
};

}  // namespace kestrelle
