#pragma once
// The video codecs the program offers: the installed compressors that open, accept 32-bit RGB frames of
// 360 x 240 and carry "Xvid" or "DivX" in their description, each with the configuration captured from
// its dialog (held in memory only).

#include "config/combo_sink.h"
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
};

// Where compressors come from; the installed ones by default, a fake in tests.
class CompressorProvider {
public:
    virtual ~CompressorProvider() = default;
    virtual std::vector<CompressorInfo> enumerate() const = 0;
    virtual std::unique_ptr<VideoCompressor> open(std::uint32_t type, std::uint32_t handler) const = 0;
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

// The description filter of the list: "Xvid" or "DivX", with this exact letter case.
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
    // or no dialog is installed. Returns whether a state was captured.
    bool configureCodec(CodecEntry& entry, QObject* parentWindow) const;

private:
    const CompressorProvider* provider_;
    std::vector<CodecEntry> entries_;
};

}  // namespace kestrelle
