#pragma once
// Long file work the main window starts (copying a slideshow with its photos, searching a folder for
// missing photos): run on a worker while a window-modal progress dialog shows, so the window keeps
// painting and Cancel stops the work.

#include <QString>

#include <atomic>
#include <functional>
#include <stop_token>

class QWidget;

namespace kestrelle {

// Reports progress from the worker, in per cent (0..100); any thread.
using ProgressReport = std::function<void(int percent)>;

// Runs `body` on a worker thread; returns once it has ended. Cancel in the progress dialog sets the
// body's stop token. The dialog shows only when the work takes longer than a moment.
void runWithProgress(QWidget* owner, const QString& text,
                     const std::function<void(std::stop_token stop, const ProgressReport& report)>& body);

}  // namespace kestrelle
