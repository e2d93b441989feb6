#pragma once
// What happens after a generation job has written its file completely. The generation dialog only
// knows this interface; the application supplies the real actions (finish sound, shutdown countdown,
// the open-folder question), tests a recording fake.

#include <string>

class QWidget;

namespace kestrelle {

class JobCompletion {
public:
    virtual ~JobCompletion() = default;
    // Called once on the user-interface thread, after the generation dialog has closed, with the path
    // of the finished AVI file. `parent` is the window the follow-up dialogs belong to (may be null).
    virtual void generationCompleted(const std::string& aviPath, QWidget* parent) = 0;
};

}  // namespace kestrelle
