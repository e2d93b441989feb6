// The MP3 encoder binding over libmp3lame.so.0, loaded with dlopen and resolved by LAME's own names.

#include "media/mp3_encoder.h"

#include "base/byte_order.h"
#include "base/run_log.h"

#include <lame/lame.h>

#include <dlfcn.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <mutex>

namespace kestrelle {

namespace {

constexpr const char* kSource = "lame_init.cpp";
// The encoder's messages arrive while the writer sets up its audio stream and are logged with its lines.
constexpr const char* kCallbackSource = "avi_lib.cpp";

// The code logged for a library that was found but could not be loaded (not a shared object, wrong
// architecture, missing dependencies).
constexpr int kFallbackLoadError = ELIBBAD;

// dlopen leaves errno alone; the loader's own text says why. It ends with the system's text for the
// error when a file could not be opened ("...: cannot open shared object file: No such file or
// directory"); that error is the code to log.
int loadErrorCode(const std::string& loaderText) {
    for (const int code : {ENOENT, EACCES, ENOTDIR, ELOOP, ENAMETOOLONG, EISDIR, ENOMEM}) {
        char buffer[256];
        const std::string systemText = std::string(": ") + strerror_r(code, buffer, sizeof buffer);
        if (loaderText.size() >= systemText.size() &&
            loaderText.compare(loaderText.size() - systemText.size(), systemText.size(), systemText) == 0)
            return code;
    }
    return kFallbackLoadError;
}

// Pieces encoded per LAME call and the output room for each (LAME needs 1.25 x samples + 7200 bytes).
constexpr int kMaxFramesPerCall = 4096;
constexpr int kMp3BufferBytes = 16384;
static_assert(kMp3BufferBytes >= kMaxFramesPerCall * 5 / 4 + 7200);

// The entry points, resolved from the loaded library.
struct LameApi {
    // The fourteen roles.
    lame_global_flags* (*init)() = nullptr;
    int (*close)(lame_global_flags*) = nullptr;
    int (*setErrorf)(lame_global_flags*, lame_report_function) = nullptr;
    int (*setBrate)(lame_global_flags*, int) = nullptr;
    int (*initParams)(lame_global_flags*) = nullptr;
    int (*encodeBuffer)(lame_global_flags*, const short*, const short*, int, unsigned char*, int) = nullptr;
    const char* (*version)() = nullptr;
    void (*versionNumerical)(lame_version_t*) = nullptr;
    const char* (*psyVersion)() = nullptr;
    const char* (*url)() = nullptr;
    int (*getBrate)(const lame_global_flags*) = nullptr;
    int (*encodeInterleaved)(lame_global_flags*, short*, int, unsigned char*, int) = nullptr;
    int (*encodeFlush)(lame_global_flags*, unsigned char*, int) = nullptr;
    int (*encodeFlushNogap)(lame_global_flags*, unsigned char*, int) = nullptr;
    // The rest of the message callback and parameter setters the binding uses.
    int (*setDebugf)(lame_global_flags*, lame_report_function) = nullptr;
    int (*setMsgf)(lame_global_flags*, lame_report_function) = nullptr;
    int (*setQuality)(lame_global_flags*, int) = nullptr;
    int (*setOutSamplerate)(lame_global_flags*, int) = nullptr;
    int (*setMode)(lame_global_flags*, MPEG_mode) = nullptr;
    int (*setNumChannels)(lame_global_flags*, int) = nullptr;
    int (*setInSamplerate)(lame_global_flags*, int) = nullptr;
    int (*setVbr)(lame_global_flags*, vbr_mode) = nullptr;
    int (*setLowpass)(lame_global_flags*, int) = nullptr;
    int (*setHighpass)(lame_global_flags*, int) = nullptr;
    int (*setWriteVbrTag)(lame_global_flags*, int) = nullptr;
    void (*setId3Automatic)(lame_global_flags*, int) = nullptr;
    // Optional: the encoder's delay in samples (LAME 3.94 and later); 576 is assumed without it.
    int (*getEncoderDelay)(const lame_global_flags*) = nullptr;
};

struct LibraryState {
    std::mutex lock;
    std::string libraryName = Mp3EncoderLibrary::kDefaultLibraryName;
    LameApi api;
    bool ready = false;
    Mp3EncoderSettings settings;
};

LibraryState& state() {
    static LibraryState s;
    return s;
}

template <typename Fn>
bool resolve(void* library, const char* name, Fn& target) {
    target = reinterpret_cast<Fn>(dlsym(library, name));
    if (!target) KESTRELLE_LOG_AS(kSource, 1, "Entry point %s not found.", name);
    return target != nullptr;
}

bool resolveAll(void* library, LameApi& api) {
    bool ok = true;
    ok &= resolve(library, "lame_init", api.init);
    ok &= resolve(library, "lame_close", api.close);
    ok &= resolve(library, "lame_set_errorf", api.setErrorf);
    ok &= resolve(library, "lame_set_brate", api.setBrate);
    ok &= resolve(library, "lame_init_params", api.initParams);
    ok &= resolve(library, "lame_encode_buffer", api.encodeBuffer);
    ok &= resolve(library, "get_lame_version", api.version);
    ok &= resolve(library, "get_lame_version_numerical", api.versionNumerical);
    ok &= resolve(library, "get_psy_version", api.psyVersion);
    ok &= resolve(library, "get_lame_url", api.url);
    ok &= resolve(library, "lame_get_brate", api.getBrate);
    ok &= resolve(library, "lame_encode_buffer_interleaved", api.encodeInterleaved);
    ok &= resolve(library, "lame_encode_flush", api.encodeFlush);
    ok &= resolve(library, "lame_encode_flush_nogap", api.encodeFlushNogap);
    ok &= resolve(library, "lame_set_debugf", api.setDebugf);
    ok &= resolve(library, "lame_set_msgf", api.setMsgf);
    ok &= resolve(library, "lame_set_quality", api.setQuality);
    ok &= resolve(library, "lame_set_out_samplerate", api.setOutSamplerate);
    ok &= resolve(library, "lame_set_mode", api.setMode);
    ok &= resolve(library, "lame_set_num_channels", api.setNumChannels);
    ok &= resolve(library, "lame_set_in_samplerate", api.setInSamplerate);
    ok &= resolve(library, "lame_set_VBR", api.setVbr);
    ok &= resolve(library, "lame_set_lowpassfreq", api.setLowpass);
    ok &= resolve(library, "lame_set_highpassfreq", api.setHighpass);
    ok &= resolve(library, "lame_set_bWriteVbrTag", api.setWriteVbrTag);
    ok &= resolve(library, "lame_set_write_id3tag_automatic", api.setId3Automatic);
    api.getEncoderDelay =
        reinterpret_cast<decltype(api.getEncoderDelay)>(dlsym(library, "lame_get_encoder_delay"));
    return ok;
}

// LAME's messages go to the run log, cut to what fits a 128-byte buffer. A trailing line break is
// dropped: the log ends each line itself.
void messageCallback(const char* format, va_list args) {
    if (!format) return;
    char text[128];
    std::vsnprintf(text, sizeof text, format, args);
    std::size_t length = std::strlen(text);
    while (length > 0 && (text[length - 1] == '\n' || text[length - 1] == '\r')) text[--length] = '\0';
    KESTRELLE_LOG_AS(kCallbackSource, 0, "%s", text);
}

// The parameter settings of every new instance, in order: (id, value). The bit rate and the values of
// ids 1, 3, 17 and 19 come from the library's settings.
struct ParameterSetting {
    int id;
    int value;
};
std::array<ParameterSetting, 25> parameterTable(const Mp3EncoderSettings& s) {
    return {{{0, s.bitRateKbps},
             {1, s.id1},
             {2, 44100},
             {3, s.id3},
             {4, 2},
             {5, 44100},
             {6, 98},
             {7, 0},
             {8, 0},
             {9, 0},
             {10, 0},
             {17, s.id17},
             {18, -1},
             {19, s.id19},
             {20, -1},
             {21, 0},
             {22, 0},
             {23, 0},
             {24, 0},
             {25, 2},
             {26, 0},
             {27, 1},
             {36, 1},
             {37, 0},
             {38, 0}}};
}

}  // namespace

Mp3WaveFormat mp3WaveFormat(const Mp3EncoderSettings& settings) {
    Mp3WaveFormat format;
    const int kbps = std::max(0, settings.bitRateKbps);
    format.averageBytesPerSecond = static_cast<std::uint32_t>(kbps / 8) * 1000u;
    return format;
}

bool isMp3BitRate(int kbps) {
    return std::find(std::begin(kMp3BitRates), std::end(kMp3BitRates), kbps) != std::end(kMp3BitRates);
}

Mp3WaveFormat mp3WaveFormatForBitRate(int kbps) {
    Mp3WaveFormat format;
    const std::uint32_t rate = isMp3BitRate(kbps) ? static_cast<std::uint32_t>(kbps) : 0u;
    format.averageBytesPerSecond = rate * 1000u / 8u;
    // An MPEG-1 layer III frame holds 1,152 samples: 144 x bit rate / sample rate bytes, without padding.
    format.blockSize = static_cast<std::uint16_t>(144u * rate * 1000u / format.samplesPerSecond);
    return format;
}

std::array<std::uint8_t, kMp3WaveFormatSize> waveFormatBytes(const Mp3WaveFormat& f) {
    std::array<std::uint8_t, kMp3WaveFormatSize> b{};
    writeLe16(&b[0], f.formatTag);
    writeLe16(&b[2], f.channels);
    writeLe32(&b[4], f.samplesPerSecond);
    writeLe32(&b[8], f.averageBytesPerSecond);
    writeLe16(&b[12], f.blockAlign);
    writeLe16(&b[14], f.bitsPerSample);
    writeLe16(&b[16], f.extraSize);
    writeLe16(&b[18], f.id);
    writeLe32(&b[20], f.flags);
    writeLe16(&b[24], f.blockSize);
    writeLe16(&b[26], f.framesPerBlock);
    writeLe16(&b[28], f.codecDelay);
    return b;
}

AudioStreamHeader audioStreamHeader(const Mp3WaveFormat& format) {
    AudioStreamHeader header;
    header.scale = format.blockAlign;
    header.rate = format.averageBytesPerSecond;
    header.sampleSize = format.blockAlign;
    return header;
}

namespace Mp3EncoderLibrary {

bool load() {
    LibraryState& s = state();
    std::lock_guard<std::mutex> guard(s.lock);

    // Loaded anew on every call and never closed: function pointers handed out earlier stay valid.
    void* library = dlopen(s.libraryName.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!library) {
        const char* text = dlerror();
        const std::string loaderText = text != nullptr ? text : "";
        const std::string message = "Failed to load " + s.libraryName + ".";
        KESTRELLE_LOG_AS(kSource, 0, "%s:LastError=0x%x.", message.c_str(),
                         static_cast<unsigned>(loadErrorCode(loaderText)));
        KESTRELLE_LOG_AS(kSource, 1, "%s", loaderText.c_str());
    }

    s.api = LameApi{};
    s.settings = Mp3EncoderSettings{};
    s.ready = library != nullptr && resolveAll(library, s.api);
    if (!s.ready) s.api = LameApi{};
    return s.ready;
}

bool libraryReady() {
    LibraryState& s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    return s.ready;
}

Mp3EncoderSettings settings() {
    LibraryState& s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    return s.settings;
}

std::string version() {
    LibraryState& s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    if (!s.ready) return {};
    const char* text = s.api.version();
    return text ? text : "";
}

void setLibraryNameForTesting(const std::string& name) {
    LibraryState& s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    s.libraryName = name.empty() ? kDefaultLibraryName : name;
}

}  // namespace Mp3EncoderLibrary

// The instance keeps its own copy of the entry points and settings, so a later load cannot pull them
// away from under it.
struct EncoderInstance {
    LameApi api;
    Mp3EncoderSettings settings;
    lame_global_flags* flags = nullptr;
};

Mp3Encoder::Mp3Encoder(void* instance) : instance_(instance) {}

std::unique_ptr<Mp3Encoder> Mp3Encoder::create() {
    auto instance = std::make_unique<EncoderInstance>();
    {
        LibraryState& s = state();
        std::lock_guard<std::mutex> guard(s.lock);
        if (!s.ready) return nullptr;
        instance->api = s.api;
        instance->settings = s.settings;
    }
    instance->flags = instance->api.init();
    if (!instance->flags) return nullptr;
    instance->api.setErrorf(instance->flags, messageCallback);
    instance->api.setDebugf(instance->flags, messageCallback);
    instance->api.setMsgf(instance->flags, messageCallback);
    // The stream goes into an AVI: no VBR header frame and no ID3 tags among the MP3 frames.
    instance->api.setWriteVbrTag(instance->flags, 0);
    instance->api.setId3Automatic(instance->flags, 0);
    return std::unique_ptr<Mp3Encoder>(new Mp3Encoder(instance.release()));
}

Mp3Encoder::~Mp3Encoder() {
    auto* instance = static_cast<EncoderInstance*>(instance_);
    if (instance->flags) instance->api.close(instance->flags);
    delete instance;
}

bool Mp3Encoder::setParameter(int id, int value) {
    auto* in = static_cast<EncoderInstance*>(instance_);
    const LameApi& api = in->api;
    lame_global_flags* f = in->flags;
    int result = 0;
    switch (id) {
        case 0:
            result = api.setBrate(f, value);
            break;
        case 1:
            result = api.setQuality(f, value);
            break;
        case 2:
            result = api.setOutSamplerate(f, value);
            break;
        case 3:  // channel mode: 0 stereo, 1 joint stereo, 2 dual channel, 3 mono
            result = (value >= 0 && value <= 3) ? api.setMode(f, static_cast<MPEG_mode>(value)) : -1;
            break;
        case 4:
            result = api.setNumChannels(f, value);
            break;
        case 5:
            result = api.setInSamplerate(f, value);
            break;
        case 9:  // rate mode: 0 constant bit rate
            result = (value >= 0 && value < static_cast<int>(vbr_max_indicator))
                         ? api.setVbr(f, static_cast<vbr_mode>(value))
                         : -1;
            break;
        case 17:
            result = api.setLowpass(f, value);
            break;  // low-pass filter frequency in Hz
        case 19:
            result = api.setHighpass(f, value);
            break;  // high-pass filter frequency; -1 turns it off
        default:
            break;  // no LAME setting of its own: accepted and ignored
    }
    return result >= 0;
}

int Mp3Encoder::applyParameters() {
    auto* in = static_cast<EncoderInstance*>(instance_);
    int refused = 0;
    for (const ParameterSetting& p : parameterTable(in->settings)) {
        if (!setParameter(p.id, p.value)) ++refused;
    }
    return refused;
}

bool Mp3Encoder::setBitRate(int kbps) {
    return isMp3BitRate(kbps) && setParameter(0, kbps);
}

int Mp3Encoder::encoderDelay() const {
    const auto* in = static_cast<const EncoderInstance*>(instance_);
    if (!initialised_ || !in->api.getEncoderDelay) return kLameEncoderDelay;
    const int delay = in->api.getEncoderDelay(in->flags);
    return delay >= 0 ? delay : kLameEncoderDelay;
}

int Mp3Encoder::initParams() {
    auto* in = static_cast<EncoderInstance*>(instance_);
    const int result = in->api.initParams(in->flags);
    initialised_ = result >= 0;
    return result;
}

int Mp3Encoder::encodeInterleaved(const std::int16_t* samples, int frames, std::vector<std::uint8_t>& out) {
    auto* in = static_cast<EncoderInstance*>(instance_);
    if (frames < 0 || (frames > 0 && !samples)) return -1;
    if (!initialised_) return -3;
    const std::size_t start = out.size();
    std::vector<short> piece;
    for (int done = 0; done < frames;) {
        const int n = std::min(kMaxFramesPerCall, frames - done);
        // LAME's interleaved call takes a writable buffer; hand it a copy, never the caller's samples.
        piece.assign(samples + 2 * static_cast<std::size_t>(done),
                     samples + 2 * static_cast<std::size_t>(done + n));
        const std::size_t at = out.size();
        out.resize(at + kMp3BufferBytes);
        const int bytes =
            in->api.encodeInterleaved(in->flags, piece.data(), n, out.data() + at, kMp3BufferBytes);
        if (bytes < 0) {
            out.resize(start);
            return bytes;
        }
        out.resize(at + static_cast<std::size_t>(bytes));
        done += n;
    }
    return static_cast<int>(out.size() - start);
}

int Mp3Encoder::encodeSeparate(const std::int16_t* left, const std::int16_t* right, int frames,
                               std::vector<std::uint8_t>& out) {
    auto* in = static_cast<EncoderInstance*>(instance_);
    if (frames < 0 || (frames > 0 && (!left || !right))) return -1;
    if (!initialised_) return -3;
    const std::size_t start = out.size();
    for (int done = 0; done < frames;) {
        const int n = std::min(kMaxFramesPerCall, frames - done);
        const std::size_t at = out.size();
        out.resize(at + kMp3BufferBytes);
        const int bytes =
            in->api.encodeBuffer(in->flags, left + done, right + done, n, out.data() + at, kMp3BufferBytes);
        if (bytes < 0) {
            out.resize(start);
            return bytes;
        }
        out.resize(at + static_cast<std::size_t>(bytes));
        done += n;
    }
    return static_cast<int>(out.size() - start);
}

int Mp3Encoder::flush(std::vector<std::uint8_t>& out) {
    auto* in = static_cast<EncoderInstance*>(instance_);
    if (!initialised_) return -3;
    const std::size_t at = out.size();
    out.resize(at + kMp3BufferBytes);
    const int bytes = in->api.encodeFlush(in->flags, out.data() + at, kMp3BufferBytes);
    out.resize(at + static_cast<std::size_t>(std::max(bytes, 0)));
    return bytes;
}

}  // namespace kestrelle
