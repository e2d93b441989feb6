#include "config/ui/codec_config_dialog.h"

#include "config/ui/h264_config_dialog.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QRadioButton>
#include <QSpinBox>
#include <QVBoxLayout>

namespace kestrelle {

CodecConfigDialog::CodecConfigDialog(const QString& codecName, const CompressorSettings& settings,
                                     QWidget* parent)
    : QDialog(parent) {
    setWindowTitle(codecName);
    setModal(true);

    auto* rateBox = new QGroupBox(tr("Rate control"), this);
    bitRateMode_ = new QRadioButton(tr("Target bit rate"), rateBox);
    quantizerMode_ = new QRadioButton(tr("Constant quantizer"), rateBox);
    auto* rateLayout = new QVBoxLayout(rateBox);
    rateLayout->addWidget(bitRateMode_);
    rateLayout->addWidget(quantizerMode_);

    bitRate_ = new QSpinBox(this);
    bitRate_->setRange(16, 100000);
    bitRate_->setSuffix(tr(" kbit/s"));
    bitRate_->setSingleStep(100);
    quantizer_ = new QSpinBox(this);
    quantizer_->setRange(1, 31);
    keyFrameInterval_ = new QSpinBox(this);
    keyFrameInterval_->setRange(1, 3000);
    keyFrameInterval_->setSuffix(tr(" frames"));

    auto* form = new QFormLayout;
    form->addRow(tr("Bit rate:"), bitRate_);
    form->addRow(tr("Quantizer (1 = best):"), quantizer_);
    form->addRow(tr("Key frame every:"), keyFrameInterval_);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(bitRateMode_, &QRadioButton::toggled, this, [this] { updateEnabled(); });

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(rateBox);
    layout->addLayout(form);
    layout->addWidget(buttons);

    setSettings(settings);
}

CompressorSettings CodecConfigDialog::settings() const {
    CompressorSettings s;
    s.rateControl = quantizerMode_->isChecked() ? CompressorSettings::RateControl::ConstantQuantizer
                                                : CompressorSettings::RateControl::TargetBitRate;
    s.bitRateKbps = bitRate_->value();
    s.quantizer = quantizer_->value();
    s.keyFrameInterval = keyFrameInterval_->value();
    return s;
}

void CodecConfigDialog::setSettings(const CompressorSettings& s) {
    const bool quantizer = s.rateControl == CompressorSettings::RateControl::ConstantQuantizer;
    quantizerMode_->setChecked(quantizer);
    bitRateMode_->setChecked(!quantizer);
    bitRate_->setValue(s.bitRateKbps);
    quantizer_->setValue(s.quantizer);
    keyFrameInterval_->setValue(s.keyFrameInterval);
    updateEnabled();
}

void CodecConfigDialog::updateEnabled() {
    bitRate_->setEnabled(bitRateMode_->isChecked());
    quantizer_->setEnabled(!bitRateMode_->isChecked());
}

bool QtCodecConfigurator::configure(VideoCompressor& compressor, QObject* parentWindow) {
    auto* parent = qobject_cast<QWidget*>(parentWindow);
    CodecConfigDialog dialog(QString::fromStdString(compressor.description()), compressor.settings(), parent);
    if (dialog.exec() != QDialog::Accepted) return false;
    compressor.setSettings(dialog.settings());
    return true;
}

void installCodecConfigDialog() {
    static QtCodecConfigurator configurator;
    setCodecConfigurator(&configurator);
    static QtH264Configurator h264Configurator;
    setH264Configurator(&h264Configurator);
}

}  // namespace kestrelle
