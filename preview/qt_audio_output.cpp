#include "preview/qt_audio_output.h"

#include "base/run_log.h"
#include "media/audio_decoder.h"

#include <QAudioDevice>
#include <QAudioFormat>
#include <QAudioSink>
#include <QIODevice>
#include <QMediaDevices>

#include <cstdint>

namespace kestrelle {

namespace {

constexpr const char* kLogSource = "DlgPreview.cpp";
constexpr qint64 kBytesPerFrame = kMixChannels * static_cast<qint64>(sizeof(std::int16_t));

}  // namespace

// What the sink reads: whole frames from the source, never fewer than asked for (the source pads with
// silence), so the sink never sees the end of its data while the preview plays.
class QtAudioOutput::PullDevice final : public QIODevice {
public:
    PullDevice(AudioSampleSource& source, const QAudioSink& sink) : source_(source), sink_(sink) {}

    bool isSequential() const override { return true; }
    qint64 bytesAvailable() const override {
        return kMixSampleRate * kBytesPerFrame + QIODevice::bytesAvailable();
    }

protected:
    qint64 readData(char* data, qint64 maxSize) override {
        const qint64 frames = maxSize / kBytesPerFrame;
        if (frames <= 0) return 0;
        source_.readFrames(reinterpret_cast<std::int16_t*>(data), static_cast<std::size_t>(frames));
        source_.devicePlayed(sink_.processedUSecs() * kMixSampleRate / 1000000);
        return frames * kBytesPerFrame;
    }
    qint64 writeData(const char*, qint64) override { return -1; }

private:
    AudioSampleSource& source_;
    const QAudioSink& sink_;
};

QtAudioOutput::QtAudioOutput() = default;

QtAudioOutput::~QtAudioOutput() {
    stop();
}

bool QtAudioOutput::start(AudioSampleSource& source, double linearGain) {
    stop();
    const QAudioDevice device = QMediaDevices::defaultAudioOutput();
    if (device.isNull()) {
        KESTRELLE_LOG_AS(kLogSource, 0, "Preview without sound: no audio output device");
        return false;
    }
    QAudioFormat format;
    format.setSampleRate(kMixSampleRate);
    format.setChannelCount(kMixChannels);
    format.setSampleFormat(QAudioFormat::Int16);
    if (!device.isFormatSupported(format)) {
        KESTRELLE_LOG_AS(kLogSource, 0, "Preview without sound: the device takes no 44100 Hz stereo 16-bit");
        return false;
    }
    sink_ = std::make_unique<QAudioSink>(device, format);
    // QAudioSink's volume is a linear factor (0 to 1), the gain the Preview Volume setting stands for.
    sink_->setVolume(linearGain);
    device_ = std::make_unique<PullDevice>(source, *sink_);
    device_->open(QIODevice::ReadOnly);
    sink_->start(device_.get());
    if (sink_->error() != QAudio::NoError || sink_->state() == QAudio::StoppedState) {
        KESTRELLE_LOG_AS(kLogSource, 0, "Preview without sound: the audio output did not start (%d)",
                         static_cast<int>(sink_->error()));
        stop();
        return false;
    }
    return true;
}

void QtAudioOutput::stop() {
    if (sink_) {
        // reset() drops what the device still holds, so nothing of the music is heard after this.
        sink_->reset();
        sink_->stop();
        sink_.reset();
    }
    device_.reset();
}

}  // namespace kestrelle
