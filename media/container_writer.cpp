#include "media/container_writer.h"

#include "media/avi_writer.h"
#include "media/mp4_writer.h"

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

bool everyFrameEncoded() {
    const char* value = std::getenv("KESTRELLE_ENCODE_EVERY_FRAME");
    return value != nullptr && *value != '\0' && std::strcmp(value, "0") != 0;
}

}  // namespace kestrelle
