#pragma once
// The video codecs the program offers: the installed compressors that open, accept 32-bit RGB frames of
// 360 x 240 and carry "Xvid" or "DivX" in their description (written into AVI files), then the MP4
// codecs whose libavcodec encoder is present ("H.264 (MP4)" through libx264, "H.265 (MP4)" through
// libx265); each with the configuration captured from its dialog (held in memory only).

#include "config/combo_sink.h"
#include "media/container_writer.h"
#include "media/video_compressor.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QObject;

namespace kestrelle {

struct CodecEntry {
    std::string name;  // the compressor's description
    std::uint32_t type = 0;
    std::uint32_t handler = 0;
    std::optional<std::vector<std::uint8_t>> state;  // none until the user configured it
    // The file the codec writes into. MP4 entries keep their H.264 settings block as their state.
    ContainerFormat container = ContainerFormat::Avi;

    bool isMp4() const { return container == ContainerFormat::Mp4; }
};

// The MP4 entries' names and the libavcodec encoders behind them.
inline constexpr const char* kH264CodecName = "H.264 (MP4)";
inline constexpr const char* kHevcCodecName = "H.265 (MP4)";
inline constexpr const char* kH264EncoderName = "libx264";
inline constexpr const char* kHevcEncoderName = "libx265";

// The file extension (with its dot) of a codec's files: ".mp4" for the MP4 entries, else ".avi".
const char* fileExtensionFor(const CodecEntry* entry);

// Where compressors come from; the installed ones by default, a fake in tests.
class CompressorProvider {
public:
    virtual ~CompressorProvider() = default;
    virtual std::vector<CompressorInfo> enumerate() const = 0;
    virtual std::unique_ptr<VideoCompressor> open(std::uint32_t type, std::uint32_t handler) const = 0;
    // Whether libavcodec has the named encoder (the MP4 entries need it). None by default, so a fake
    // provider lists only its compressors unless it says otherwise.
    virtual bool hasEncoder(const std::string& /*encoderName*/) const { return false; }
};

// enumerateCompressors() and openCompressor().
const CompressorProvider& installedCompressors();

// Shows a compressor's configuration dialog; the window library installs one. Returns whether the user
// accepted (the compressor's settings are changed only then).
class CodecConfigurator {
public:
    virtual ~CodecConfigurator() = default;
    virtual bool configure(VideoCompressor& compressor, QObject* parentWindow) = 0;
};

// Installs the dialog configureCodec shows (not owned; nullptr removes it).
void setCodecConfigurator(CodecConfigurator* configurator);
CodecConfigurator* codecConfigurator();

// Shows the H.264 settings dialog for an MP4 entry on its settings block (empty: the defaults); the
// window library installs one. On OK it replaces `block` and returns true; on Cancel nothing changes.
class H264Configurator {
public:
    virtual ~H264Configurator() = default;
    virtual bool configure(const CodecEntry& entry, std::vector<std::uint8_t>& block,
                           QObject* parentWindow) = 0;
};

// Installs the dialog configureCodec shows for MP4 entries (not owned; nullptr removes it).
void setH264Configurator(H264Configurator* configurator);
H264Configurator* h264Configurator();

// The description filter of the list: "Xvid" or "DivX", with this exact letter case, for the AVI
// compressors; the MP4 entries' own names pass too.
bool codecNamePassesFilter(const std::string& description);

class CodecList {
public:
    // nullptr uses installedCompressors(); the provider must outlive the list.
    explicit CodecList(const CompressorProvider* provider = nullptr);

    void setProvider(const CompressorProvider* provider);

    // Rebuilds the list in enumeration order.
    void listCodecs();

    const std::vector<CodecEntry>& entries() const { return entries_; }
    std::size_t size() const { return entries_.size(); }
    bool empty() const { return entries_.empty(); }

    // Appends every codec name in list order (the combo is not emptied first).
    void fillCodecCombo(ComboSink& combo) const;
    // The first entry with that name (letter case ignored), or nullptr.
    const CodecEntry* findCodec(const std::string& name) const;
    CodecEntry* findCodec(const std::string& name);
    bool isCodecInstalled(const std::string& name) const;
    const CodecEntry* firstCodec() const;

    // Opens the entry's compressor, hands it the earlier state, shows the configuration dialog and
    // captures the state afterwards. Nothing happens when the compressor cannot be opened, has no state
    // or no dialog is installed. Returns whether a state was captured. An MP4 entry shows the H.264
    // settings dialog instead and keeps its block when the user accepts.
    bool configureCodec(CodecEntry& entry, QObject* parentWindow) const;

private:
    const CompressorProvider* provider_;
    std::vector<CodecEntry> entries_;
};

}  // namespace kestrelle
