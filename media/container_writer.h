#pragma once
// A container writer: one video file with a compressed video stream and an MP3 audio stream, written a
// frame at a time. The generation job writes through this interface only; createContainerWriter picks
// the implementation for a container format. Today the one format is AVI (media/avi_writer.h).
//
// A writer is owned by one thread (the generation worker) and holds one file at a time; any number of
// writers may be open in one process. Failures are return values: open says which step failed,
// writeFrame and close whether everything was stored.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kestrelle {

// AVI: MPEG-4 Part 2 video and MP3 audio. MP4: H.264 (or H.265) video and AAC audio.
enum class ContainerFormat { Avi, Mp4 };

// How a frame's pixels are laid out. 32-bit frames hold bytes blue, green, red, unused; 24-bit frames
// blue, green, red with rows tightly packed; both bottom-up. YUY2 frames are top-down, 2 bytes a pixel.
enum class FrameLayout { Rgb32BottomUp, Rgb24BottomUp, Yuy2 };

// Why an open failed; the run log has the details.
enum class WriterError {
    Ok,
    AudioLibraryMissing,  // the MP3 library cannot be loaded: nothing was touched
    FileNotCreated,       // the file cannot be created (folder missing, not writable, a folder of that name)
    CompressorMissing,    // no compressor has the asked-for type and handler, or its encoder is missing
    VideoSetupFailed,     // the compressor refuses the size, rate or layout, or the stream cannot be set up
    AudioSetupFailed,     // the MP3 encoder or the audio stream cannot be set up
};

// Sees every frame as writeFrame takes it (in the opened size), before compression.
using FrameObserver = std::function<void(const std::uint8_t* pixels, int width, int height)>;

struct ContainerWriterOptions {
    // The file asked for; the writer's file name is derived from it (fileName()).
    std::string path;
    // Frames the writer takes at most; the one after is refused and closes the file.
    int frameLimit = 0;
    int width = 0;
    int height = 0;
    double framesPerSecond = 0;
    FrameLayout layout = FrameLayout::Rgb32BottomUp;
    // Whether the file name is numbered ("_01" before the extension).
    bool numberedName = false;
    // The video compressor by type and handler code, and its saved settings (empty: its defaults).
    std::uint32_t compressorType = 0;
    std::uint32_t compressorHandler = 0;
    std::vector<std::uint8_t> codecState;
    // MP4: the video's average bit rate in kbit/s (the profile's), used when the H.264 settings in
    // codecState ask for an average bit rate. The AVI compressors keep theirs in codecState.
    int videoBitRateKbps = 0;
    // Whether the file gets the MP3 audio stream of the samples each frame brings.
    bool audio = true;
    // The MP3 stream's constant bit rate in kbit/s (an MPEG-1 layer III rate); none: the encoder
    // library's own setting, 192.
    std::optional<int> audioBitRateKbps;
    // Whether the audio stream makes up for its decoding delay (audioDelayFrames): the caller hands
    // samples that many frames ahead of the video, and the stream takes that many fewer in all, so
    // that a sound is heard with its frame and the stream ends with the video. Off: after n frames
    // the stream holds exactly the samples of n frames.
    bool audioDelayCompensated = false;
    // Whether the MP3 encoder runs on a thread of its own, beside the video's compression: each
    // frame's audio chunk then holds the MP3 bytes made by the time its video is stored (the stream
    // is the same, its chunks lie up to a few frames later). Off: each frame's audio follows its video.
    bool audioOnItsOwnThread = false;
    // Benchmarks: called with every frame taken (none: nothing is called).
    FrameObserver frameObserver;
    // Tests: the size of the file's write buffer (0: every chunk reaches the file as it is written, so a
    // write failure shows at the frame that meets it). None: the file's own default.
    std::optional<std::size_t> fileBufferBytes;
};

class ContainerWriter {
public:
    virtual ~ContainerWriter() = default;

    // Opens the file (an existing one of that name is deleted first) and sets up both streams. A writer
    // still open finishes its file first. On failure everything is closed again.
    virtual WriterError open(const ContainerWriterOptions& options) = 0;

    // Stores one frame: `pixels` in the opened layout and size, `samples` interleaved 16-bit stereo with
    // `sampleCount` values (left and right counted separately). False when refused (frame limit
    // reached, not open, compression or write failure); the writer has then closed itself.
    virtual bool writeFrame(const std::uint8_t* pixels, const std::int16_t* samples, int sampleCount) = 0;

    // The next `frames` frames handed to writeFrame show one unchanged picture from one buffer (the
    // generation job's still frames): the writer may store the second and later ones as repeats
    // without comparing them.
    virtual void announceStill(int frames) = 0;

    // Finishes the file and releases everything. Safe to call again. True when the file was finished
    // completely (or nothing was open), false when some of it could not be written.
    virtual bool close() = 0;

    // The file name of the last open ("" before any).
    virtual std::string fileName() const = 0;
    // Frames accepted since the last open.
    virtual int framesWritten() const = 0;
    // Stereo sample frames by which the decoded audio lags the samples handed in (the encoder's delay
    // and the decoder's), known once open; 0 without an audio stream.
    virtual std::int64_t audioDelayFrames() const = 0;
};

// A closed writer for `format`.
std::unique_ptr<ContainerWriter> createContainerWriter(ContainerFormat format);

// Repeated still frames are stored without the encoder unless KESTRELLE_ENCODE_EVERY_FRAME is set
// (to anything but "0"): the switch for comparisons, and the way back should a player mind.
bool everyFrameEncoded();

// Serves blocks below 32 MiB from the heap and keeps up to 64 MiB of freed heap memory, so the
// encoders' frame-sized blocks are reused instead of mapped and faulted in again (and do not all start
// at the same offset within a page). Called by the writers when they open; done once.
void placeLargeBlocksOnTheHeap();

}  // namespace kestrelle
