#include "base/message_box.h"

#include <atomic>
#include <cstdio>

namespace kestrelle {

namespace {

std::atomic<MessagePresenter*> installedPresenter{nullptr};

}  // namespace

void setMessagePresenter(MessagePresenter* presenter) {
    installedPresenter.store(presenter);
}

int showMessage(const std::string& text, unsigned flags) {
    if (MessagePresenter* presenter = installedPresenter.load()) return presenter->show(text, flags);
    std::fprintf(stderr, "Kestrelle: %s\n", text.c_str());
    return (flags & 0x0F) == 0x04 ? MessageAnswer::kNo : MessageAnswer::kOk;
}

}  // namespace kestrelle
