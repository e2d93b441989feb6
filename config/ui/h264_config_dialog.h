#pragma once
// The settings dialog of the MP4 codecs (H.264 and H.265): rate control by the profile's average bit
// rate or by a constant quality, the encoder preset, the longest stretch between key frames and, for
// H.264, whether a still is stored as long samples (variable frame rate) instead of repeated frames.

#include "config/codec_list.h"
#include "media/h264_settings.h"

#include <QDialog>

class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QLabel;
class QRadioButton;
class QSlider;
class QSpinBox;

namespace kestrelle {

class H264ConfigDialog final : public QDialog {
    Q_OBJECT
public:
    // `title` is "H.264 Settings" or "H.265 Settings".
    H264ConfigDialog(const QString& title, const H264Settings& settings, QWidget* parent = nullptr);

    // The settings as the controls show them (fields the dialog does not show keep the given values).
    H264Settings settings() const;
    void setSettings(const H264Settings& settings);

    QRadioButton* averageBitRateButton() const { return averageBitRate_; }
    QRadioButton* constantQualityButton() const { return constantQuality_; }
    QSlider* qualitySlider() const { return qualitySlider_; }
    QSpinBox* qualitySpinBox() const { return qualitySpin_; }
    QComboBox* presetCombo() const { return preset_; }
    QDoubleSpinBox* keyFrameSpinBox() const { return keyFrameSeconds_; }
    QCheckBox* longSamplesCheckBox() const { return longSamples_; }

    // H.265 always writes every frame: its dialog hides the long-samples choice.
    void setLongSamplesOffered(bool offered);

private:
    void updateEnabled();

    H264Settings base_;
    QRadioButton* averageBitRate_ = nullptr;
    QRadioButton* constantQuality_ = nullptr;
    QSlider* qualitySlider_ = nullptr;
    QSpinBox* qualitySpin_ = nullptr;
    QLabel* qualityLabel_ = nullptr;
    QComboBox* preset_ = nullptr;
    QDoubleSpinBox* keyFrameSeconds_ = nullptr;
    QCheckBox* longSamples_ = nullptr;
    QLabel* longSamplesHint_ = nullptr;
};

// The dialog's title for an MP4 codec entry.
QString h264DialogTitle(const CodecEntry& entry);

// Shows H264ConfigDialog modally over the given window on the entry's block; on OK the block holds
// the accepted settings.
class QtH264Configurator final : public H264Configurator {
public:
    bool configure(const CodecEntry& entry, std::vector<std::uint8_t>& block, QObject* parentWindow) override;
};

}  // namespace kestrelle
