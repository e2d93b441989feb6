#include "config/ui/h264_config_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QRadioButton>
#include <QSlider>
#include <QSpinBox>
#include <QVBoxLayout>

#include <cmath>
#include <iterator>

namespace kestrelle {

namespace {

constexpr int kBestQuality = 18;
constexpr int kSmallestQuality = 28;
constexpr double kShortestKeyFrameSeconds = 0.5;
constexpr double kLongestKeyFrameSeconds = 2.0;

}  // namespace

H264ConfigDialog::H264ConfigDialog(const QString& title, const H264Settings& settings, QWidget* parent)
    : QDialog(parent) {
    setWindowTitle(title);
    setModal(true);

    auto* rateBox = new QGroupBox(tr("Rate control"), this);
    averageBitRate_ = new QRadioButton(tr("&Average bit rate (the profile's video bit rate)"), rateBox);
    constantQuality_ = new QRadioButton(tr("Constant &quality"), rateBox);
    averageBitRate_->setAccessibleName(tr("Average bit rate"));
    constantQuality_->setAccessibleName(tr("Constant quality"));

    qualitySlider_ = new QSlider(Qt::Horizontal, rateBox);
    qualitySlider_->setRange(kBestQuality, kSmallestQuality);
    qualitySlider_->setPageStep(2);
    qualitySlider_->setTickPosition(QSlider::TicksBelow);
    qualitySlider_->setTickInterval(1);
    qualitySlider_->setAccessibleName(tr("Quality (18 best, 28 smallest file)"));
    qualitySpin_ = new QSpinBox(rateBox);
    qualitySpin_->setRange(kBestQuality, kSmallestQuality);
    qualitySpin_->setAccessibleName(tr("Quality value"));
    qualityLabel_ = new QLabel(tr("18 = best quality, 28 = smallest file"), rateBox);
    connect(qualitySlider_, &QSlider::valueChanged, qualitySpin_, &QSpinBox::setValue);
    connect(qualitySpin_, &QSpinBox::valueChanged, qualitySlider_, &QSlider::setValue);

    auto* qualityRow = new QHBoxLayout;
    qualityRow->addSpacing(20);
    qualityRow->addWidget(qualitySlider_, 1);
    qualityRow->addWidget(qualitySpin_);
    auto* rateLayout = new QVBoxLayout(rateBox);
    rateLayout->addWidget(averageBitRate_);
    rateLayout->addWidget(constantQuality_);
    rateLayout->addLayout(qualityRow);
    auto* hintRow = new QHBoxLayout;
    hintRow->addSpacing(20);
    hintRow->addWidget(qualityLabel_, 1);
    rateLayout->addLayout(hintRow);

    preset_ = new QComboBox(this);
    for (const char* preset : kH264Presets) preset_->addItem(QString::fromLatin1(preset));
    preset_->setAccessibleName(tr("Preset"));
    auto* presetLabel = new QLabel(tr("&Preset:"), this);
    presetLabel->setBuddy(preset_);
    auto* presetHint = new QLabel(tr("Slower presets make smaller files of the same quality."), this);
    presetHint->setWordWrap(true);

    keyFrameSeconds_ = new QDoubleSpinBox(this);
    keyFrameSeconds_->setRange(kShortestKeyFrameSeconds, kLongestKeyFrameSeconds);
    keyFrameSeconds_->setSingleStep(0.5);
    keyFrameSeconds_->setDecimals(1);
    keyFrameSeconds_->setSuffix(tr(" s"));
    keyFrameSeconds_->setAccessibleName(tr("Key frame every, in seconds"));
    auto* keyFrameLabel = new QLabel(tr("&Key frame every:"), this);
    keyFrameLabel->setBuddy(keyFrameSeconds_);

    longSamples_ = new QCheckBox(tr("Store each still as one long &frame (variable frame rate)"), this);
    longSamples_->setAccessibleName(tr("Store each still as one long frame"));
    longSamplesHint_ =
        new QLabel(tr("Makes smaller files. Some editors and TVs expect a constant frame rate."), this);
    longSamplesHint_->setWordWrap(true);

    auto* form = new QGridLayout;
    form->addWidget(presetLabel, 0, 0);
    form->addWidget(preset_, 0, 1);
    form->addWidget(presetHint, 1, 1);
    form->addWidget(keyFrameLabel, 2, 0);
    form->addWidget(keyFrameSeconds_, 2, 1, Qt::AlignLeft);
    form->addWidget(longSamples_, 3, 0, 1, 2);
    form->addWidget(longSamplesHint_, 4, 1);
    form->setColumnStretch(1, 1);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(constantQuality_, &QRadioButton::toggled, this, [this] { updateEnabled(); });

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(rateBox);
    layout->addLayout(form);
    layout->addStretch(1);
    layout->addWidget(buttons);

    setSettings(settings);
}

H264Settings H264ConfigDialog::settings() const {
    H264Settings s = base_;
    s.rateControl =
        constantQuality_->isChecked() ? H264RateControl::ConstantQuality : H264RateControl::AverageBitRate;
    s.constantQuality = qualitySpin_->value();
    const int preset = preset_->currentIndex();
    if (preset >= 0 && preset < static_cast<int>(std::size(kH264Presets)))
        s.preset = kH264Presets[static_cast<std::size_t>(preset)];
    s.keyFrameSeconds = keyFrameSeconds_->value();
    if (!longSamples_->isHidden()) s.stillsAsLongSamples = longSamples_->isChecked();
    return s;
}

void H264ConfigDialog::setSettings(const H264Settings& s) {
    base_ = s;
    const bool quality = s.rateControl == H264RateControl::ConstantQuality;
    constantQuality_->setChecked(quality);
    averageBitRate_->setChecked(!quality);
    qualitySpin_->setValue(s.constantQuality);  // the spin box brings it into 18..28
    const int preset = preset_->findText(QString::fromStdString(s.preset));
    preset_->setCurrentIndex(preset >= 0 ? preset : 0);
    keyFrameSeconds_->setValue(std::isfinite(s.keyFrameSeconds) ? s.keyFrameSeconds
                                                                : kLongestKeyFrameSeconds);
    longSamples_->setChecked(s.stillsAsLongSamples);
    updateEnabled();
}

void H264ConfigDialog::setLongSamplesOffered(bool offered) {
    longSamples_->setHidden(!offered);
    longSamplesHint_->setHidden(!offered);
}

void H264ConfigDialog::updateEnabled() {
    const bool quality = constantQuality_->isChecked();
    qualitySlider_->setEnabled(quality);
    qualitySpin_->setEnabled(quality);
    qualityLabel_->setEnabled(quality);
}

QString h264DialogTitle(const CodecEntry& entry) {
    return entry.handler == kHevcHandler ? QObject::tr("H.265 Settings") : QObject::tr("H.264 Settings");
}

bool QtH264Configurator::configure(const CodecEntry& entry, std::vector<std::uint8_t>& block,
                                   QObject* parentWindow) {
    auto* parent = qobject_cast<QWidget*>(parentWindow);
    // A block that cannot be read opens on the defaults.
    const H264Settings current = parseH264Settings(block).value_or(H264Settings{});
    H264ConfigDialog dialog(h264DialogTitle(entry), current, parent);
    dialog.setLongSamplesOffered(entry.handler != kHevcHandler);
    if (dialog.exec() != QDialog::Accepted) return false;
    block = serializeH264Settings(dialog.settings());
    return true;
}

}  // namespace kestrelle
