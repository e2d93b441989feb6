#include "media/bgra_to_yuv420.h"

namespace kestrelle {
namespace {

using Byte = std::uint8_t;

// BT.601 limited range in 8-bit fixed point: Y in 16..235, U and V in 16..240, no clamping needed.
void lumaRow(const Byte* __restrict bgra, Byte* __restrict y, int width) {
    for (int x = 0; x < width; ++x) {
        const Byte* p = bgra + 4 * x;
        y[x] = static_cast<Byte>((66 * p[2] + 129 * p[1] + 25 * p[0] + (16 << 8) + 128) >> 8);
    }
}

// Chroma of one 2 x 2 block from its summed components (four pixels: two more bits of scale).
inline void chromaOfSums(int b, int g, int r, Byte& u, Byte& v) {
    u = static_cast<Byte>((-38 * r - 74 * g + 112 * b + (128 << 10) + 512) >> 10);
    v = static_cast<Byte>((112 * r - 94 * g - 18 * b + (128 << 10) + 512) >> 10);
}

void chromaRow(const Byte* __restrict top, const Byte* __restrict bottom, Byte* __restrict u,
               Byte* __restrict v, int width) {
    const int pairs = width / 2;
    for (int x = 0; x < pairs; ++x) {
        const Byte* p = top + 8 * x;
        const Byte* q = bottom + 8 * x;
        chromaOfSums(p[0] + p[4] + q[0] + q[4], p[1] + p[5] + q[1] + q[5], p[2] + p[6] + q[2] + q[6], u[x],
                     v[x]);
    }
    if (width % 2 != 0) {
        const Byte* p = top + 4 * (width - 1);
        const Byte* q = bottom + 4 * (width - 1);
        chromaOfSums(2 * (p[0] + q[0]), 2 * (p[1] + q[1]), 2 * (p[2] + q[2]), u[pairs], v[pairs]);
    }
}

}  // namespace

void convertBgraToYuv420(const Byte* firstRow, std::ptrdiff_t rowStride, int width, int height,
                         const Yuv420Planes& out) {
    if (firstRow == nullptr || width < 1 || height < 1) return;
    for (int row = 0; row < height; row += 2) {
        const Byte* top = firstRow + row * rowStride;
        const Byte* bottom = row + 1 < height ? top + rowStride : top;
        lumaRow(top, out.y + static_cast<std::ptrdiff_t>(row) * out.yStride, width);
        if (row + 1 < height)
            lumaRow(bottom, out.y + static_cast<std::ptrdiff_t>(row + 1) * out.yStride, width);
        chromaRow(top, bottom, out.u + static_cast<std::ptrdiff_t>(row / 2) * out.uStride,
                  out.v + static_cast<std::ptrdiff_t>(row / 2) * out.vStride, width);
    }
}

}  // namespace kestrelle
