#pragma once
// The compressors' configuration dialog: rate control by target bit rate or by constant quantizer, the
// bit rate, the quantizer and the key-frame interval.

#include "config/codec_list.h"
#include "media/video_compressor.h"

#include <QDialog>

class QRadioButton;
class QSpinBox;

namespace kestrelle {

class CodecConfigDialog final : public QDialog {
    Q_OBJECT
public:
    CodecConfigDialog(const QString& codecName, const CompressorSettings& settings,
                      QWidget* parent = nullptr);

    // The settings as the controls show them.
    CompressorSettings settings() const;
    void setSettings(const CompressorSettings& settings);

private:
    void updateEnabled();

    QRadioButton* bitRateMode_ = nullptr;
    QRadioButton* quantizerMode_ = nullptr;
    QSpinBox* bitRate_ = nullptr;
    QSpinBox* quantizer_ = nullptr;
    QSpinBox* keyFrameInterval_ = nullptr;
};

// Shows CodecConfigDialog modally over the given window and hands the accepted settings to the
// compressor.
class QtCodecConfigurator final : public CodecConfigurator {
public:
    bool configure(VideoCompressor& compressor, QObject* parentWindow) override;
};

// Installs one QtCodecConfigurator and one QtH264Configurator (for the MP4 codecs) for configureCodec
// (call once the application object exists).
void installCodecConfigDialog();

}  // namespace kestrelle
