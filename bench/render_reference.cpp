// kestrelle-render that also keeps what it encodes: every frame handed to the writer, converted to
// planar 4:2:0 (top-down) as the encoder receives it, is appended to a raw file. The quality checks of
// bench/run_headline.sh and bench/run_mp4.sh compare the decoded video against it (ffmpeg's psnr
// filter). --bt709 converts with BT.709 coefficients, as the MP4 writer does from 720 lines up;
// otherwise with BT.601's, as the AVI writer does.
//   render_reference [--bt709] <frames.yuv> <kestrelle-render arguments...>
#include "app/render_session.h"
#include "media/bgra_to_yuv420.h"

#include <QCoreApplication>

#include <cstdio>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    const bool bt709 = argc > 1 && std::string(argv[1]) == "--bt709";
    if (bt709) {
        --argc;
        ++argv;
    }
    if (argc < 3) {
        std::cerr << "usage: render_reference <frames.yuv> <kestrelle-render arguments...>\n";
        return 2;
    }
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> raw(std::fopen(argv[1], "wb"), &std::fclose);
    if (!raw) {
        std::cerr << "cannot write " << argv[1] << '\n';
        return 2;
    }
    std::vector<std::uint8_t> planes;
    bool writeFailed = false;
    const kestrelle::FrameObserver keepFrame = [&](const std::uint8_t* pixels, int width, int height) {
        const std::size_t luma = static_cast<std::size_t>(width) * height;
        const int chromaWidth = (width + 1) / 2;
        const std::size_t chroma = static_cast<std::size_t>(chromaWidth) * ((height + 1) / 2);
        planes.resize(luma + 2 * chroma);
        const std::ptrdiff_t stride = static_cast<std::ptrdiff_t>(width) * 4;
        kestrelle::convertBgraToYuv420(pixels + (height - 1) * stride, -stride, width, height,
                                       {planes.data(), planes.data() + luma, planes.data() + luma + chroma,
                                        width, chromaWidth, chromaWidth},
                                       bt709 ? kestrelle::YuvMatrix::Bt709 : kestrelle::YuvMatrix::Bt601);
        if (std::fwrite(planes.data(), 1, planes.size(), raw.get()) != planes.size()) writeFailed = true;
    };
    std::vector<std::string> arguments(argv + 2, argv + argc);
    const int status = kestrelle::runRenderCommand(arguments, std::cout, std::cerr, false, keepFrame);
    if (writeFailed) {
        std::cerr << "writing " << argv[1] << " failed\n";
        return 1;
    }
    return status;
}
