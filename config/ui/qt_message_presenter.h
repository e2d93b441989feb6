#pragma once
// The window-based message presenter: a modal QMessageBox captioned "Kestrelle".

#include "base/data_folder.h"
#include "base/message_box.h"

namespace kestrelle {

class QtMessagePresenter final : public MessagePresenter {
public:
    // Shown on the GUI thread; a worker thread's call waits there for the answer.
    int show(const std::string& text, unsigned flags) override;
};

}  // namespace kestrelle
