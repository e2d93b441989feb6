#pragma once
// The MP3 encoder binding: libmp3lame.so.0 loaded at run time and the values the AVI writer needs for
// its MP3 audio stream.
//
// How the AVI writer uses it, at every AviWriter::open (with audio):
//   1. Mp3EncoderLibrary::load() (always; it loads the library anew and resets the settings). When
//      Mp3EncoderLibrary::libraryReady() is false the writer refuses to open ("AVI system not
//      initialized.").
//   2. The writer logs its own set-up lines under "avi_lib.cpp" ("Setup audio encoder.", "Delete old
//      encoder.", "Create new audio encoder.", "Set mp3 audio encoder parameters.", "Init audio
//      encoder.", "Create avi audio stream.", "Set stream format." and the failure lines): they belong to
//      the writer's open, not to this binding. Between them it calls, on one Mp3Encoder:
//        auto enc = Mp3Encoder::create();        // null: "Create audio encoder failed."
//                                                // (create installs the message callback, which
//                                                // logs LAME's messages under "avi_lib.cpp" at level 0,
//                                                // at most 127 characters each)
//        enc->applyParameters();                 // the 25 settings, in table order
//        if (enc->initParams() < 0) ...          // "Failed to init audio codec."
//   3. mp3WaveFormat(settings) gives the 30-byte stream format (waveFormatBytes) and
//      audioStreamHeader(format) the values of the audio stream header; the writer sets `length` to the
//      real byte count at close.
//   4. Per frame: enc->encodeInterleaved(samples, frames, out) appends the MP3 bytes for `frames` stereo
//      sample frames (interleaved left, right) to `out`; encodeSeparate takes left and right buffers.
//      A negative result is "Failed to encode AVI audio.". A result of 0 bytes is normal (LAME buffers
//      about one MP3 frame before emitting).
//   5. Before close: enc->flush(out) appends the encoder's tail, so no audio is lost. Then destroy the
//      encoder (the unique_ptr deletes the LAME instance).
// The library itself stays loaded for the life of the process (never dlclose'd).
//
// Mp3EncoderLibrary's state is process-wide and guarded by a lock; an Mp3Encoder is used by one thread.

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace kestrelle {

// The encoder settings the library load resets to their constants: the bit rate and the values of
// parameter ids 1, 3, 17 and 19.
struct Mp3EncoderSettings {
    int bitRateKbps = 192;
    int id1 = 3;
    int id3 = 0;
    int id17 = 19500;
    int id19 = -1;
};

// The MPEG layer-3 wave format of the AVI audio stream, field by field (written little-endian, 30 bytes).
struct Mp3WaveFormat {
    std::uint16_t formatTag = 0x0055;
    std::uint16_t channels = 2;
    std::uint32_t samplesPerSecond = 44100;
    std::uint32_t averageBytesPerSecond = 24000;  // (bit rate / 8) x 1000, integer division
    std::uint16_t blockAlign = 1;
    std::uint16_t bitsPerSample = 0;
    std::uint16_t extraSize = 12;
    std::uint16_t id = 1;
    std::uint32_t flags = 2;
    std::uint16_t blockSize = 731;
    std::uint16_t framesPerBlock = 1;
    std::uint16_t codecDelay = 0;
};
constexpr std::size_t kMp3WaveFormatSize = 30;  // extra size + 18

// The wave format for the given settings.
Mp3WaveFormat mp3WaveFormat(const Mp3EncoderSettings& settings);
// The 30 little-endian bytes of a wave format, as the stream format ("strf") holds them.
std::array<std::uint8_t, kMp3WaveFormatSize> waveFormatBytes(const Mp3WaveFormat& format);

// The bit rates (kbit/s) of MPEG-1 layer III, the ones a 44,100 Hz stream may have.
constexpr int kMp3BitRates[] = {32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320};
bool isMp3BitRate(int kbps);
// The wave format of a constant-bit-rate stream at `kbps` (one of kMp3BitRates): average bytes per
// second kbps x 125 and the frame length as block size. Zero rates for any other value.
Mp3WaveFormat mp3WaveFormatForBitRate(int kbps);

// The samples by which decoded MP3 lags its input: LAME's encoder delay (its usual value, when the
// library cannot tell) and the layer III decoder's own (its synthesis filter bank).
constexpr int kLameEncoderDelay = 576;
constexpr int kMp3DecoderDelay = 529;

// The audio stream header's values. Fields not listed are zero.
struct AudioStreamHeader {
    char type[4] = {'a', 'u', 'd', 's'};
    std::uint32_t handler = 0;
    std::uint32_t flags = 0;
    std::uint16_t priority = 0;
    std::uint16_t language = 0;
    std::uint32_t scale = 1;     // the wave format's block align
    std::uint32_t rate = 24000;  // the wave format's average bytes per second
    std::uint32_t start = 0;
    std::uint32_t length = 0xFFFFFFFFu;  // the writer puts the real byte count here at close
    std::uint32_t initialFrames = 0;
    std::uint32_t suggestedBufferSize = 0;
    std::uint32_t quality = 0xFFFFFFFFu;  // -1
    std::uint32_t sampleSize = 1;         // the wave format's block align
    std::string name = "Audio Stream";
};
AudioStreamHeader audioStreamHeader(const Mp3WaveFormat& format);

namespace Mp3EncoderLibrary {

inline constexpr const char* kDefaultLibraryName = "libmp3lame.so.0";

// Loads the library by name (dlopen at every call; never unloaded), resets the settings to their
// constants and resolves the entry points. On a failed load logs "Failed to load <name>.:LastError=0x%x."
// under "lame_init.cpp". Returns libraryReady().
bool load();
// True only when the last load succeeded and every entry point was found.
bool libraryReady();
// The settings as the last load left them.
Mp3EncoderSettings settings();
// The library's version text ("" when not ready).
std::string version();

// Tests only: the library name load() opens ("" restores libmp3lame.so.0).
void setLibraryNameForTesting(const std::string& name);

}  // namespace Mp3EncoderLibrary

// One encoder instance of the loaded library. Deleting it deletes the instance (without flushing).
class Mp3Encoder {
public:
    // A new instance with the message callback installed; null when the library is not ready or LAME
    // cannot create one.
    static std::unique_ptr<Mp3Encoder> create();
    ~Mp3Encoder();
    Mp3Encoder(const Mp3Encoder&) = delete;
    Mp3Encoder& operator=(const Mp3Encoder&) = delete;

    // The 25 parameter settings, in table order (ids without a meaning for LAME are accepted and
    // ignored). Returns the number of settings LAME refused (0 normally).
    int applyParameters();
    // Sets one parameter by id; false when LAME refused the value (an id without a meaning is accepted).
    bool setParameter(int id, int value);
    // Sets the constant bit rate (before initParams); false for a rate MPEG-1 layer III does not have.
    bool setBitRate(int kbps);
    // Initialises the encoder with the settings made; 0 or more on success, negative on failure.
    int initParams();
    // The samples of silence the encoder puts before its input, once initialised (kLameEncoderDelay
    // when the library does not say).
    int encoderDelay() const;

    // Encode `frames` stereo sample frames and append the MP3 bytes to `out`. Return the number of bytes
    // appended (0 or more) or a negative LAME error. `frames` may be any size; large inputs are encoded
    // in pieces.
    int encodeInterleaved(const std::int16_t* samples, int frames, std::vector<std::uint8_t>& out);
    int encodeSeparate(const std::int16_t* left, const std::int16_t* right, int frames,
                       std::vector<std::uint8_t>& out);
    // Appends the encoder's remaining MP3 bytes to `out`; the byte count or a negative error.
    int flush(std::vector<std::uint8_t>& out);

private:
    explicit Mp3Encoder(void* instance);
    void* instance_;
    bool initialised_ = false;
};

}  // namespace kestrelle
