#include "project/project_history.h"

#include "project/slideshow_project.h"

#include <QUndoCommand>
#include <QUndoStack>

#include <vector>

namespace kestrelle {

namespace {

// Steps kept before the oldest are forgotten. A step holds the content before and after it, shared with
// its neighbours where they are the same (about 100 KB per copy for a 1,000-slide show), so a long
// session stays within some tens of megabytes.
constexpr int kUndoLimit = 500;

using SharedContent = std::shared_ptr<const ProjectContent>;

// The selected slides around a change, so that undo and redo select what the user had selected then.
struct Selection {
    std::vector<int> slides;
    int current = -1;
};

Selection selectionOf(const SlideShowProject& project) {
    return {project.selectedSlides(), project.selectedSlide()};
}

// One change: the content before and after it. Undo and redo put the copy back whole; the slides'
// thumbnail indexes point into the project's thumbnail list, which never shrinks, so nothing is decoded.
class ContentChange final : public QUndoCommand {
public:
    ContentChange(SlideShowProject& project, const QString& text, SharedContent before, SharedContent after,
                  Selection selectedBefore, Selection selectedAfter)
        : QUndoCommand(text),
          project_(project),
          before_(std::move(before)),
          after_(std::move(after)),
          selectedBefore_(std::move(selectedBefore)),
          selectedAfter_(std::move(selectedAfter)) {}

    void undo() override { apply(*before_, selectedBefore_); }

    void redo() override {
        // The stack calls redo when the step is pushed; the change is already made then.
        if (pushed_) {
            pushed_ = false;
            return;
        }
        apply(*after_, selectedAfter_);
    }

private:
    void apply(const ProjectContent& content, const Selection& selection) {
        project_.setContent(content);
        project_.setSlideSelection(selection.slides, selection.current);
    }

    SlideShowProject& project_;
    SharedContent before_;
    SharedContent after_;
    Selection selectedBefore_;
    Selection selectedAfter_;
    bool pushed_ = true;
};

}  // namespace

struct ProjectHistory::State {
    explicit State(SlideShowProject& p) : project(p) {}
    SlideShowProject& project;
    QUndoStack stack;
    // The content after the last recorded step, shared as the next step's "before" when it matches.
    SharedContent last;
};

ProjectHistory::ProjectHistory(SlideShowProject& project) : state_(std::make_unique<State>(project)) {
    state_->stack.setUndoLimit(kUndoLimit);
}

ProjectHistory::~ProjectHistory() = default;

bool ProjectHistory::record(const QString& text, const std::function<void()>& edit) {
    SlideShowProject& project = state_->project;
    auto before = std::make_shared<const ProjectContent>(project.content());
    Selection selectedBefore = selectionOf(project);
    if (edit) {
        edit();
    }
    auto after = std::make_shared<const ProjectContent>(project.content());
    if (*before == *after) {
        return false;
    }
    if (state_->last && *state_->last == *before) {
        before = state_->last;
    }
    state_->last = after;
    state_->stack.push(new ContentChange(project, text, std::move(before), std::move(after),
                                         std::move(selectedBefore), selectionOf(project)));
    return true;
}

QUndoStack& ProjectHistory::stack() {
    return state_->stack;
}

}  // namespace kestrelle
