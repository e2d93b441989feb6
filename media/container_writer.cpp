#include "media/container_writer.h"

#include "media/avi_writer.h"
#include "media/mp4_writer.h"

#include <malloc.h>

#include <cstdlib>
#include <cstring>

namespace kestrelle {

std::unique_ptr<ContainerWriter> createContainerWriter(ContainerFormat format) {
    switch (format) {
        case ContainerFormat::Avi:
            return std::make_unique<AviWriter>();
        case ContainerFormat::Mp4:
            return std::make_unique<Mp4Writer>();
    }
    return nullptr;
}

// The encoders allocate their frame buffers in blocks of a few MiB. Served by mmap they all start at
// the same offset within a page, and the MPEG-4 encoder's block comparisons between the current and
// the reference picture then collide in the cache: about a sixth of its encoding time at 1920 x 1080.
// Fresh mappings are also faulted in page by page each time (with libx264, 7 % of the headline show's
// time). Freed heap memory is kept up to 64 MiB so frame-sized blocks are reused (what glibc's sliding
// thresholds do anyway once a large block was freed).
void placeLargeBlocksOnTheHeap() {
    static const bool done = [] {
        return mallopt(M_MMAP_THRESHOLD, 32 << 20) == 1 && mallopt(M_TRIM_THRESHOLD, 64 << 20) == 1;
    }();
    (void)done;
}

bool everyFrameEncoded() {
    const char* value = std::getenv("KESTRELLE_ENCODE_EVERY_FRAME");
    return value != nullptr && *value != '\0' && std::strcmp(value, "0") != 0;
}

}  // namespace kestrelle
