#pragma once
// The program's start: one instance per user, the shipped profiles, the settings store, the main
// window run modally, and the settings saved as the program ends or the session shuts down.

#include <functional>

namespace kestrelle {

class LumoDlg;

// Runs the program and returns its exit status. `windowCreated` (if any) sees the main window just
// before it is shown (the start-up benchmark watches it).
int runApplication(int argc, char* argv[], const std::function<void(LumoDlg&)>& windowCreated = {});

}  // namespace kestrelle
