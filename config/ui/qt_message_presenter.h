#pragma once
// The window-based message presenter: a modal QMessageBox captioned "Kestrelle".

#include "config/data_folder.h"

namespace kestrelle {

class QtMessagePresenter final : public MessagePresenter {
public:
    // Shown on the GUI thread; a worker thread's call waits there for the answer.
    int show(const std::string& text, unsigned flags) override;
};

}  // namespace kestrelle
