#include "config/codec_list.h"

#include "base/run_log.h"
#include "base/text_numbers.h"
#include "media/h264_settings.h"

#include <exception>

namespace kestrelle {

namespace {

class InstalledCompressors final : public CompressorProvider {
public:
    std::vector<CompressorInfo> enumerate() const override { return enumerateCompressors(); }
    std::unique_ptr<VideoCompressor> open(std::uint32_t type, std::uint32_t handler) const override {
        return openCompressor(type, handler);
    }
    bool hasEncoder(const std::string& encoderName) const override { return hasEncoderNamed(encoderName); }
};

CodecConfigurator* g_configurator = nullptr;
H264Configurator* g_h264Configurator = nullptr;

struct Mp4Codec {
    const char* name;
    const char* encoderName;
    std::uint32_t handler;
};
constexpr Mp4Codec kMp4Codecs[] = {
    {kH264CodecName, kH264EncoderName, kH264Handler},
    {kHevcCodecName, kHevcEncoderName, kHevcHandler},
};

// The list's test format: 32-bit RGB, 360 x 240.
constexpr int kTestWidth = 360;
constexpr int kTestHeight = 240;

}  // namespace

const CompressorProvider& installedCompressors() {
    static const InstalledCompressors provider;
    return provider;
}

void setCodecConfigurator(CodecConfigurator* configurator) {
    g_configurator = configurator;
}
CodecConfigurator* codecConfigurator() {
    return g_configurator;
}

void setH264Configurator(H264Configurator* configurator) {
    g_h264Configurator = configurator;
}
H264Configurator* h264Configurator() {
    return g_h264Configurator;
}

const char* fileExtensionFor(const CodecEntry* entry) {
    return entry != nullptr && entry->isMp4() ? ".mp4" : ".avi";
}

bool codecNamePassesFilter(const std::string& description) {
    for (const Mp4Codec& codec : kMp4Codecs)
        if (description == codec.name) return true;
    return description.find("Xvid") != std::string::npos || description.find("DivX") != std::string::npos;
}

CodecList::CodecList(const CompressorProvider* provider)
    : provider_(provider != nullptr ? provider : &installedCompressors()) {}

void CodecList::setProvider(const CompressorProvider* provider) {
    provider_ = provider != nullptr ? provider : &installedCompressors();
}

void CodecList::listCodecs() {
    entries_.clear();
    try {
        for (const CompressorInfo& info : provider_->enumerate()) {
            if (info.type != kCompressorType) continue;
            std::unique_ptr<VideoCompressor> compressor = provider_->open(info.type, info.handler);
            if (!compressor) continue;
            if (!compressor->canCompress(CompressorInput::Rgb32BottomUp, kTestWidth, kTestHeight)) continue;
            CodecEntry entry;
            // Descriptions are kept within 255 bytes, as the platform's description field was.
            entry.name = compressor->description().substr(0, 255);
            entry.type = compressor->typeCode();
            entry.handler = compressor->handlerCode();
            if (codecNamePassesFilter(entry.name)) entries_.push_back(std::move(entry));
        }
    } catch (...) {
        KESTRELLE_LOG_AS("ConfigSet.cpp", 0, "list_avi_codec failed");
    }
    // The MP4 codecs follow the AVI ones, so a profile naming no listed codec still falls back to an
    // AVI compressor when there is one.
    for (const Mp4Codec& codec : kMp4Codecs) {
        bool present = false;
        try {
            present = provider_->hasEncoder(codec.encoderName);
        } catch (...) {
            present = false;
        }
        if (!present) continue;
        CodecEntry entry;
        entry.name = codec.name;
        entry.type = kCompressorType;
        entry.handler = codec.handler;
        entry.container = ContainerFormat::Mp4;
        entries_.push_back(std::move(entry));
    }
}

void CodecList::fillCodecCombo(ComboSink& combo) const {
    for (const CodecEntry& entry : entries_) combo.addItem(entry.name);
}

const CodecEntry* CodecList::findCodec(const std::string& name) const {
    for (const CodecEntry& entry : entries_)
        if (namesEqualIgnoringCase(entry.name, name)) return &entry;
    return nullptr;
}

CodecEntry* CodecList::findCodec(const std::string& name) {
    return const_cast<CodecEntry*>(static_cast<const CodecList*>(this)->findCodec(name));
}

bool CodecList::isCodecInstalled(const std::string& name) const {
    return findCodec(name) != nullptr;
}

const CodecEntry* CodecList::firstCodec() const {
    return entries_.empty() ? nullptr : &entries_.front();
}

bool CodecList::configureCodec(CodecEntry& entry, QObject* parentWindow) const {
    if (entry.isMp4()) {
        H264Configurator* h264 = g_h264Configurator;
        if (h264 == nullptr) return false;
        std::vector<std::uint8_t> block = entry.state.value_or(std::vector<std::uint8_t>{});
        if (!h264->configure(entry, block, parentWindow) || block.empty()) return false;
        entry.state = std::move(block);
        return true;
    }
    CodecConfigurator* configurator = g_configurator;
    if (configurator == nullptr) return false;
    std::unique_ptr<VideoCompressor> compressor;
    try {
        compressor = provider_->open(entry.type, entry.handler);
    } catch (...) {
        return false;
    }
    if (!compressor) return false;
    if (compressor->state().empty()) return false;  // nothing to configure
    // The dialog opens on the earlier choices.
    if (entry.state) compressor->setState(entry.state->data(), entry.state->size());
    configurator->configure(*compressor, parentWindow);
    std::vector<std::uint8_t> captured = compressor->state();
    if (captured.empty()) return false;
    // A state of another size replaces the old one; equal sizes are simply refilled.
    entry.state = std::move(captured);
    return true;
}

}  // namespace kestrelle
