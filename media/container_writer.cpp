#include "media/container_writer.h"

#include "media/avi_writer.h"

namespace kestrelle {

std::unique_ptr<ContainerWriter> createContainerWriter(ContainerFormat format) {
    switch (format) {
        case ContainerFormat::Avi:
            return std::make_unique<AviWriter>();
    }
    return nullptr;
}

}  // namespace kestrelle
