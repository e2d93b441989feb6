#pragma once
// Undo and redo for every change to the slideshow. Each change is recorded as the project's content
// before and after it (project/project_content.h), so undoing puts the content back exactly, whatever the
// change was. Kept on a QUndoStack, which the window's Edit menu and its clean state (unsaved changes)
// use directly. Lives on the user-interface thread, beside the project it edits.

#include <QString>

#include <functional>
#include <memory>

class QUndoStack;

namespace kestrelle {

class SlideShowProject;

class ProjectHistory {
public:
    explicit ProjectHistory(SlideShowProject& project);
    ~ProjectHistory();
    ProjectHistory(const ProjectHistory&) = delete;
    ProjectHistory& operator=(const ProjectHistory&) = delete;

    // Runs `edit` on the project and, when the content changed, records it as one undo step named
    // `text` ("Delete Slide", "Fit to Music", ...). Returns whether the content changed.
    bool record(const QString& text, const std::function<void()>& edit);

    // The stack behind it: undo(), redo(), canUndo(), isClean(), setClean(), clear() and their signals.
    QUndoStack& stack();

private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace kestrelle
