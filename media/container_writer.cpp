#include "media/container_writer.h"

#include "media/avi_writer.h"
#include "media/mp4_writer.h"

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

}  // namespace kestrelle
