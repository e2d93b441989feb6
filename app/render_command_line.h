#pragma once
// The command line of the headless renderer: options and inputs as typed, checked for form only.
// Checks that need the settings, the profiles or the file system come after parsing.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kestrelle {

struct RenderCommandLine {
    std::vector<std::string> inputs;  // photo files or folders, in the order given
    std::optional<std::string> output;
    std::optional<std::string> profile;
    std::optional<double> slideDuration;
    std::optional<double> transitionDuration;
    std::vector<int> effects;         // one for every slide, or several used in turn; empty: the default
    std::vector<std::string> audio;   // the soundtrack's clips, in the order given
    bool fitToAudio = false;          // stills scaled so the show lasts as long as the music
    std::optional<double> audioFade;  // seconds of crossfade and fade-out; none: the setting
    // Pan and zoom for every slide: none, or gentle random ("auto"); none given: the project's or the
    // settings' own.
    std::optional<bool> gentleMotion;
    std::optional<std::uint64_t> motionSeed;  // the seed gentle random motion is picked with
    bool fill = false;                        // every photo fills the frame (cropped)
    std::optional<std::string> exportLog;
    bool overwrite = false;
    bool quiet = false;
    bool listProfiles = false;
    bool listCodecs = false;
    bool help = false;
    bool version = false;
};

struct RenderCommandLineResult {
    RenderCommandLine commandLine;
    std::string error;  // empty when the command line is well formed
};

// Parses argv (without the program name). Accepts "--name value", "--name=value", "-x value" and "--"
// before inputs that start with '-'.
RenderCommandLineResult parseRenderCommandLine(const std::vector<std::string>& arguments);

// Whether an input names a slideshow project (ends with ".kestrelle" in any letter case).
bool isProjectFileName(const std::string& path);

// The text of --help.
std::string renderUsageText();

// A duration in seconds: a finite number above 0, the whole text used.
std::optional<double> parseDuration(const std::string& text);
// A music fade in seconds: a finite number from 0 to 10, the whole text used.
std::optional<double> parseAudioFade(const std::string& text);
// A motion seed: a whole number from 0 to 2^64 - 1, the whole text used.
std::optional<std::uint64_t> parseMotionSeed(const std::string& text);
// An effect number 0..12, the whole text used.
std::optional<int> parseEffectNumber(const std::string& text);
// "N" or "N,N,...": effect numbers 0..12; empty when any part is not one.
std::vector<int> parseEffectList(const std::string& text);

}  // namespace kestrelle
