#pragma once
// Small interfaces for what the desktop does on the program's behalf: showing a file in the file
// manager, powering the computer off, playing a sound. The windows get real implementations from the
// application; tests pass fakes, so no test reaches D-Bus, a sound device or a real power-off.

#include <string>

namespace kestrelle {

class FileRevealer {
public:
    virtual ~FileRevealer() = default;
    // Opens the file manager on the folder holding `filePath`, with the file selected where the file
    // manager can do that. False when nothing could be opened.
    virtual bool revealFile(const std::string& filePath) = 0;
};

class PowerControl {
public:
    virtual ~PowerControl() = default;
    // Asks the system to power off (the user's session may be asked to confirm). False when the
    // request could not be made.
    virtual bool powerOff() = 0;
};

class SoundPlayer {
public:
    virtual ~SoundPlayer() = default;
    // Plays the WAV file once without blocking; beeps when it cannot be played.
    virtual void playFile(const std::string& wavPath) = 0;
};

}  // namespace kestrelle
