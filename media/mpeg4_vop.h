#pragma once
// Reading and writing the few MPEG-4 video headers the writer needs to repeat a picture without the
// encoder: the video object layer (VOL) of a stream, the timing fields of a video object plane (VOP),
// and a P-VOP whose macroblocks are all "not coded", which a decoder turns into an exact copy of the
// picture before it.
//
// Only the plain tool set is understood: rectangular frames, progressive, no sprites, no data
// partitioning, no reduced resolution, no NEWPRED, no scalability, no complexity estimation. A VOP
// whose timing fields change length can only be rewritten when the stream has no resync markers.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace kestrelle::mpeg4 {

// The VOL fields that shape a VOP header, read from a stream's own headers.
struct VolInfo {
    int verid = 1;
    int shape = 0;                    // 0 rectangular
    int timeIncrementResolution = 0;  // ticks per second
    int timeIncrementBits = 1;        // width of vop_time_increment
    bool fixedVopRate = false;
    int fixedVopTimeIncrement = 0;
    int width = 0;
    int height = 0;
    bool interlaced = false;
    int spriteEnable = 0;
    int quantPrecision = 5;
    bool quarterSample = false;
    bool complexityEstimationDisable = true;
    bool resyncMarkerDisable = true;
    bool dataPartitioned = false;
    bool newpred = false;
    bool reducedResolution = false;
    bool scalability = false;

    // Whether the generator and the time stamping below handle streams with this VOL.
    bool supported() const;
    int macroblockCount() const { return ((width + 15) / 16) * ((height + 15) / 16); }
};

// The first VOL in `data` (a packet or a stream's extra data); none when there is none or it cannot
// be read completely.
std::optional<VolInfo> parseVol(const std::uint8_t* data, std::size_t size);

enum class VopType { I = 0, P = 1, B = 2, S = 3 };

// Where and what the timing fields of a packet's VOP are.
struct VopTiming {
    VopType type = VopType::I;
    int moduloTimeBase = 0;         // whole seconds since the previous VOP's second (or the GOV's)
    int timeIncrement = 0;          // ticks within the second
    bool coded = true;              // vop_coded
    int quant = 0;                  // vop_quant (0 when not read: not coded)
    std::optional<int> govSeconds;  // time code of a GOV header in front of the VOP
    std::size_t vopStart = 0;       // byte offset of the VOP start code
    std::size_t moduloBit = 0;      // bit offset of modulo_time_base
    std::size_t afterTimeBit = 0;   // bit offset just after the marker that follows vop_time_increment
    int vopCount = 0;               // VOP start codes in the packet
};

// The timing of the (single) VOP in an encoded packet; none when the packet holds no VOP or its
// header cannot be read with `vol`.
std::optional<VopTiming> parseVopTiming(const VolInfo& vol, const std::uint8_t* data, std::size_t size);

// A P-VOP whose every macroblock is not coded, with these timing fields. Empty when `vol` is not
// supported or the timing does not fit it.
std::vector<std::uint8_t> notCodedPVop(const VolInfo& vol, int moduloTimeBase, int timeIncrement);

// Rewrites the timing fields of the packet's VOP (and the time code of a GOV header in front of it,
// to `govSeconds`, when there is one) in place. False, with the packet unchanged, when its layout is
// not understood (several VOPs, no trailing stuffing) or the values do not fit.
bool restampVop(const VolInfo& vol, std::vector<std::uint8_t>& packet, int moduloTimeBase, int timeIncrement,
                int govSeconds);

}  // namespace kestrelle::mpeg4
