#pragma once
// Repeated pictures in an H.264 stream without the encoder.
//
// A slideshow's stills repeat one picture for seconds. Instead of handing every repeat to libx264, the
// MP4 writer writes a P frame of its own whose macroblocks are all skipped: each copies the previous
// picture exactly (motion vector 0, no residual, deblocking off). Such a frame costs a few bytes and no
// encoding time.
//
// The encoder must be set up so that the frames it makes and ours can follow each other: no B frames
// and one reference frame (every frame is a reference, so the previous picture is always reference 0),
// picture order from frame_num (pic_order_cnt_type 2). Every skip frame is a reference frame too and
// takes the next frame_num, so each of the encoder's later frames is given the frame_num that follows
// the frame written before it; frame_num is a fixed-width field, so only its bits change.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace kestrelle {

// What a skip frame must agree with, read from the encoder's sequence and picture parameter sets.
struct H264StreamFacts {
    int log2MaxFrameNum = 4;
    int picOrderCntType = 0;
    int maxNumRefFrames = 0;
    bool frameMbsOnly = true;
    int macroblocks = 0;  // in one picture
    int ppsId = 0;
    bool cabac = false;
    bool weightedPred = false;
    bool deblockingFilterControl = false;
    bool redundantPicCnt = false;
    int chromaArrayType = 1;
    int picInitQp = 26;
};

// The facts from the encoder's extradata (SPS and PPS in Annex B form); none when either is missing
// or cannot be read.
std::optional<H264StreamFacts> readH264StreamFacts(const std::uint8_t* data, std::size_t size);

// True when skip frames can follow this encoder's frames: the set-up above, one slice group, frames.
bool skipFramesFit(const H264StreamFacts& facts);

// One access unit in Annex B form: a non-IDR reference P slice of `frameNum` (taken modulo
// MaxFrameNum) whose every macroblock is skipped.
std::vector<std::uint8_t> makeH264SkipFrame(const H264StreamFacts& facts, int frameNum);

// An encoded access unit's slices, as renumberH264Frame saw them.
struct H264FrameFacts {
    bool idr = false;
    bool reference = false;
    int frameNum = 0;  // after renumbering
};

// Gives every slice of the Annex B access unit `data` the frame_num `frameNum` (modulo MaxFrameNum),
// rewriting the slice NAL units where it changes; an IDR frame keeps its 0. `frame` tells the first
// slice's facts. False when a slice cannot be read (then `data` is unchanged).
bool renumberH264Frame(std::vector<std::uint8_t>& data, const H264StreamFacts& facts, int frameNum,
                       H264FrameFacts& frame);

}  // namespace kestrelle
