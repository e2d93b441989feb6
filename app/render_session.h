#pragma once
// The headless renderer: the same start-up, settings, profiles and generation job as the application,
// driven by a command line instead of windows.

#include "media/container_writer.h"

#include <iosfwd>
#include <string>
#include <vector>

namespace kestrelle {

// Exit statuses of kestrelle-render.
enum RenderExit { kRenderDone = 0, kRenderFailed = 1, kRenderBadUsage = 2 };

// Runs the renderer with `arguments` (without the program name). Progress goes to `err` when
// `progressOnTerminal` is set; lists, help and the version go to `out`; warnings and errors to `err`.
// `frameTaken` (benchmarks) sees every frame the video writer takes, before compression.
int runRenderCommand(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err,
                     bool progressOnTerminal, const FrameObserver& frameTaken = {});

// Asks a running render to stop like the dialog's Cancel (safe from a signal handler).
void requestRenderCancel();

// The photos named by the inputs: files as given, folders' supported photos in byte-wise name order (not
// recursive). Returns "" or the first problem found, naming the input.
std::string collectPhotos(const std::vector<std::string>& inputs, std::vector<std::string>& photos);

}  // namespace kestrelle
