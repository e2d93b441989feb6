#include "media/bgra_to_yuv420.h"

namespace kestrelle {
namespace {

using Byte = std::uint8_t;

// Limited-range coefficients in 8-bit fixed point: Y in 16..235, U and V in 16..240, no clamping
// needed. Each row of U and V sums to zero, so greys get exactly 128.
struct Coefficients {
    int yr, yg, yb;
    int ur, ug, ub;
    int vr, vg, vb;
};
constexpr Coefficients kBt601{66, 129, 25, -38, -74, 112, 112, -94, -18};
constexpr Coefficients kBt709{47, 157, 16, -26, -86, 112, 112, -102, -10};

template <const Coefficients& k>
void lumaRow(const Byte* __restrict bgra, Byte* __restrict y, int width) {
    for (int x = 0; x < width; ++x) {
        const Byte* p = bgra + 4 * x;
        y[x] = static_cast<Byte>((k.yr * p[2] + k.yg * p[1] + k.yb * p[0] + (16 << 8) + 128) >> 8);
    }
}

// Chroma of one 2 x 2 block from its summed components (four pixels: two more bits of scale).
template <const Coefficients& k>
inline void chromaOfSums(int b, int g, int r, Byte& u, Byte& v) {
    u = static_cast<Byte>((k.ur * r + k.ug * g + k.ub * b + (128 << 10) + 512) >> 10);
    v = static_cast<Byte>((k.vr * r + k.vg * g + k.vb * b + (128 << 10) + 512) >> 10);
}

template <const Coefficients& k>
void chromaRow(const Byte* __restrict top, const Byte* __restrict bottom, Byte* __restrict u,
               Byte* __restrict v, int width) {
    const int pairs = width / 2;
    for (int x = 0; x < pairs; ++x) {
        const Byte* p = top + 8 * x;
        const Byte* q = bottom + 8 * x;
        chromaOfSums<k>(p[0] + p[4] + q[0] + q[4], p[1] + p[5] + q[1] + q[5], p[2] + p[6] + q[2] + q[6], u[x],
                        v[x]);
    }
    if (width % 2 != 0) {
        const Byte* p = top + 4 * (width - 1);
        const Byte* q = bottom + 4 * (width - 1);
        chromaOfSums<k>(2 * (p[0] + q[0]), 2 * (p[1] + q[1]), 2 * (p[2] + q[2]), u[pairs], v[pairs]);
    }
}

template <const Coefficients& k>
void convert(const Byte* firstRow, std::ptrdiff_t rowStride, int width, int height, const Yuv420Planes& out) {
    for (int row = 0; row < height; row += 2) {
        const Byte* top = firstRow + row * rowStride;
        const Byte* bottom = row + 1 < height ? top + rowStride : top;
        lumaRow<k>(top, out.y + static_cast<std::ptrdiff_t>(row) * out.yStride, width);
        if (row + 1 < height)
            lumaRow<k>(bottom, out.y + static_cast<std::ptrdiff_t>(row + 1) * out.yStride, width);
        chromaRow<k>(top, bottom, out.u + static_cast<std::ptrdiff_t>(row / 2) * out.uStride,
                     out.v + static_cast<std::ptrdiff_t>(row / 2) * out.vStride, width);
    }
}

}  // namespace

void convertBgraToYuv420(const Byte* firstRow, std::ptrdiff_t rowStride, int width, int height,
                         const Yuv420Planes& out, YuvMatrix matrix) {
    if (firstRow == nullptr || width < 1 || height < 1) return;
    if (matrix == YuvMatrix::Bt709) {
        convert<kBt709>(firstRow, rowStride, width, height, out);
    } else {
        convert<kBt601>(firstRow, rowStride, width, height, out);
    }
}

}  // namespace kestrelle
