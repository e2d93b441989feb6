#pragma once
// The AVI writer: one AVI file at a time, with a video stream compressed by one of the installable
// compressors and an MP3 audio stream. A module with process-wide state, used from one thread (the
// generation worker). Every step goes to the run log under "avi_lib.cpp".
//
// Audio: after n accepted frames the MP3 stream holds round(n x 44100 / fps) stereo sample frames of
// input: the samples each frame brings, all of them, and silence for whatever they fall short of. The
// encoder's tail is flushed into the stream when the file is closed.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace kestrelle::AviWriter {

constexpr int kAudioModeMp3 = 2;

// Frame layouts: 0 32-bit RGB, 1 24-bit RGB, 3 YUY2 through sequential compression; any other value
// is taken as 24-bit RGB for the frame size. RGB rows are bottom-up.
constexpr int kPixelRgb32 = 0;
constexpr int kPixelRgb24 = 1;
constexpr int kPixelYuy2 = 3;

// The output file name for a path: the path without its extension, then ".avi" or, numbered,
// "_01.avi". "/out/My.Show.avi" gives "/out/My.Show.avi" and "/out/My.Show_01.avi".
std::string baseName(const std::string& path);
std::string fileNameFor(const std::string& path, bool numberedName);

// Opens the file (an existing one of that name is deleted first) and sets up both streams.
// `stateBlock` is the compressor's saved settings or null (none). `splitting` has no effect.
// Returns 1 on success, 0 on failure (everything is then closed again).
int open(const std::string& path, int frameLimit, int width, int height, double framesPerSecond,
         int splitting, int audioMode, int videoOn, int pixelFormat, int numberedName,
         std::uint32_t compressorType, std::uint32_t compressorHandler, const std::uint8_t* stateBlock,
         std::size_t stateBlockSize);

// Stores one frame: `pixels` in the opened layout and size, `samples` interleaved 16-bit stereo with
// `sampleCount` values (left and right counted separately). Width and height are not used. Returns 1
// when stored; 0 when refused (frame limit reached, stop flag set, not open, compression or write
// failure), and the writer has then closed itself.
int writeFrame(const std::uint8_t* pixels, int width, int height, const std::int16_t* samples,
               int sampleCount);

// The next `frames` frames handed to writeFrame show one unchanged picture (the generation job's still
// frames, from one buffer): the writer takes the second and later ones as repeats without comparing
// them. Any other call of writeFrame's caller must not rely on it.
void announceStill(int frames);

// When set, every later frame is refused.
void setStopFlag(bool stop);

// Flushes the audio encoder, finishes the file and releases everything. Safe to call again. Returns 1
// when the file was finished completely (or nothing was open), 0 when some of it could not be written.
int close();

// Benchmarks: sees every frame as writeFrame takes it (in the opened size), before compression.
void setFrameObserver(std::function<void(const std::uint8_t* pixels, int width, int height)> observer);

// Tests: the size of the file's write buffer from the next open on (0: every chunk reaches the file as
// it is written, so a write failure shows at the frame that meets it).
void setFileBufferForTesting(std::size_t bytes);

// The file name of the last open ("" before any).
std::string fileName();
// Frames accepted since the last open.
int framesWritten();

}  // namespace kestrelle::AviWriter
