#include "app/render_command_line.h"

#include "project/project_file.h"

#include <algorithm>

#include <cctype>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdlib>

namespace kestrelle {

namespace {

enum class OptionKind { Flag, Value };

struct OptionSpec {
    std::string longName;
    char shortName;
    OptionKind kind;
};

const std::vector<OptionSpec>& optionSpecs() {
    static const std::vector<OptionSpec> specs = {
        {"output", 'o', OptionKind::Value},
        {"profile", 'p', OptionKind::Value},
        {"slide-duration", 's', OptionKind::Value},
        {"transition-duration", 't', OptionKind::Value},
        {"effect", 'e', OptionKind::Value},
        {"audio", 0, OptionKind::Value},
        {"fit-to-audio", 0, OptionKind::Flag},
        {"audio-fade", 0, OptionKind::Value},
        {"overwrite", 'y', OptionKind::Flag},
        {"list-profiles", 0, OptionKind::Flag},
        {"list-codecs", 0, OptionKind::Flag},
        {"export-log", 0, OptionKind::Value},
        {"quiet", 'q', OptionKind::Flag},
        {"help", 'h', OptionKind::Flag},
        {"version", 0, OptionKind::Flag},
        {"motion", 0, OptionKind::Value},
        {"seed", 0, OptionKind::Value},
        {"fill", 0, OptionKind::Flag},
    };
    return specs;
}

const OptionSpec* findLong(const std::string& name) {
    for (const OptionSpec& spec : optionSpecs()) {
        if (spec.longName == name) return &spec;
    }
    return nullptr;
}

const OptionSpec* findShort(char name) {
    for (const OptionSpec& spec : optionSpecs()) {
        if (spec.shortName != 0 && spec.shortName == name) return &spec;
    }
    return nullptr;
}

// Stores one option; returns an error text or "".
std::string applyOption(RenderCommandLine& line, const OptionSpec& spec, const std::string& value) {
    const std::string& name = spec.longName;
    if (name == "output") {
        if (value.empty()) return "--output needs a file name";
        line.output = value;
    } else if (name == "profile") {
        line.profile = value;
    } else if (name == "slide-duration" || name == "transition-duration") {
        const std::optional<double> seconds = parseDuration(value);
        if (!seconds) return "--" + name + " must be a number of seconds above 0, not \"" + value + "\"";
        (name == "slide-duration" ? line.slideDuration : line.transitionDuration) = seconds;
    } else if (name == "effect") {
        line.effects = parseEffectList(value);
        if (line.effects.empty()) {
            return "--effect must be a whole number from 0 to 12 (or a list such as 1,2,3), not \"" + value +
                   "\"";
        }
    } else if (name == "audio") {
        if (value.empty()) return "--audio needs a file name";
        line.audio.push_back(value);
    } else if (name == "fit-to-audio") {
        line.fitToAudio = true;
    } else if (name == "audio-fade") {
        line.audioFade = parseAudioFade(value);
        if (!line.audioFade)
            return "--audio-fade must be a number of seconds from 0 to 10, not \"" + value + "\"";
    } else if (name == "motion") {
        if (value != "none" && value != "auto") return "--motion must be none or auto, not \"" + value + "\"";
        line.gentleMotion = value == "auto";
    } else if (name == "seed") {
        line.motionSeed = parseMotionSeed(value);
        if (!line.motionSeed) return "--seed must be a whole number from 0 on, not \"" + value + "\"";
    } else if (name == "fill") {
        line.fill = true;
    } else if (name == "export-log") {
        if (value.empty()) return "--export-log needs a file name";
        line.exportLog = value;
    } else if (name == "overwrite") {
        line.overwrite = true;
    } else if (name == "list-profiles") {
        line.listProfiles = true;
    } else if (name == "list-codecs") {
        line.listCodecs = true;
    } else if (name == "quiet") {
        line.quiet = true;
    } else if (name == "help") {
        line.help = true;
    } else if (name == "version") {
        line.version = true;
    }
    return {};
}

}  // namespace

std::optional<double> parseDuration(const std::string& text) {
    // strtod would skip leading blanks; a duration is the number alone.
    if (text.empty() || std::isspace(static_cast<unsigned char>(text[0]))) return std::nullopt;
    errno = 0;
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (end != text.c_str() + text.size() || errno == ERANGE || !std::isfinite(value) || value <= 0.0) {
        return std::nullopt;
    }
    return value;
}

std::optional<double> parseAudioFade(const std::string& text) {
    double value = 0.0;
    const char* end = text.data() + text.size();
    // from_chars reads the C locale's numbers whatever the process locale is, and no blanks.
    const auto [stop, error] = std::from_chars(text.data(), end, value, std::chars_format::fixed);
    if (text.empty() || error != std::errc() || stop != end || !std::isfinite(value) || value < 0.0 ||
        value > 10.0)
        return std::nullopt;
    return value;
}

std::optional<std::uint64_t> parseMotionSeed(const std::string& text) {
    std::uint64_t value = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    if (text.empty() || error != std::errc() || stop != end) return std::nullopt;
    return value;
}

std::optional<int> parseEffectNumber(const std::string& text) {
    if (text.empty() || text.size() > 3) return std::nullopt;
    int value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + (c - '0');
    }
    if (value > 12) return std::nullopt;
    return value;
}

std::vector<int> parseEffectList(const std::string& text) {
    std::vector<int> effects;
    std::size_t start = 0;
    while (true) {
        const std::size_t comma = text.find(',', start);
        const std::optional<int> effect = parseEffectNumber(text.substr(start, comma - start));
        if (!effect) return {};
        effects.push_back(*effect);
        if (comma == std::string::npos) return effects;
        start = comma + 1;
    }
}

RenderCommandLineResult parseRenderCommandLine(const std::vector<std::string>& arguments) {
    RenderCommandLineResult result;
    RenderCommandLine& line = result.commandLine;
    bool optionsEnded = false;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (optionsEnded || argument.size() < 2 || argument[0] != '-') {
            line.inputs.push_back(argument);
            continue;
        }
        if (argument == "--") {
            optionsEnded = true;
            continue;
        }
        const OptionSpec* spec = nullptr;
        std::optional<std::string> inlineValue;
        std::string shown = argument;
        if (argument.rfind("--", 0) == 0) {
            const std::size_t equals = argument.find('=');
            const std::string name =
                argument.substr(2, equals == std::string::npos ? std::string::npos : equals - 2);
            if (equals != std::string::npos) inlineValue = argument.substr(equals + 1);
            spec = findLong(name);
            shown = "--" + name;
        } else {
            spec = findShort(argument[1]);
            if (argument.size() > 2) inlineValue = argument.substr(2);
            shown = argument.substr(0, 2);
        }
        if (!spec) {
            result.error = "unknown option " + shown;
            return result;
        }
        std::string value;
        if (spec->kind == OptionKind::Value) {
            if (inlineValue) {
                value = *inlineValue;
            } else if (i + 1 < arguments.size()) {
                value = arguments[++i];
            } else {
                result.error = "option " + shown + " needs a value";
                return result;
            }
        } else if (inlineValue) {
            result.error = "option " + shown + " takes no value";
            return result;
        }
        result.error = applyOption(line, *spec, value);
        if (!result.error.empty()) return result;
    }
    // A project holds its own photos, durations, effects and soundtrack.
    if (std::any_of(line.inputs.begin(), line.inputs.end(), isProjectFileName)) {
        if (line.inputs.size() > 1) {
            result.error =
                "a slideshow project is rendered on its own: give no other photos, folders or projects";
        } else if (line.slideDuration || line.transitionDuration || !line.effects.empty() ||
                   !line.audio.empty()) {
            result.error =
                "-s, -t, -e and --audio cannot be used with a slideshow project (it holds its own)";
        }
    }
    return result;
}

bool isProjectFileName(const std::string& path) {
    const std::string ending = kProjectFileExtension;
    if (path.size() <= ending.size()) return false;
    return std::equal(ending.rbegin(), ending.rend(), path.rbegin(),
                      [](char a, char b) { return a == std::tolower(static_cast<unsigned char>(b)); });
}

std::string renderUsageText() {
    return "Usage: kestrelle-render [OPTIONS] INPUT...\n"
           "Renders photos into a slideshow video (AVI: MPEG-4 video, MP3 audio).\n"
           "\n"
           "INPUT: photo files, or folders whose photos are taken in name order (not recursive), or one\n"
           "slideshow project (SHOW.kestrelle): its slides with their durations and effects, its "
           "soundtrack,\n"
           "its profile and its output file (-o and -p override those two; -s, -t, -e and --audio do not\n"
           "apply); its missing photos render black\n"
           "  -o, --output FILE              output file (\".avi\", or \".mp4\" for an MP4 profile,\n"
           "                                 appended when missing);\n"
           "                                 default \"<TargetPath>/Untitled.avi\" (\".mp4\" for an MP4\n"
           "                                 profile)\n"
           "  -p, --profile NAME             output profile (any letter case; \"(.avi)\" or \"(.mp4)\"\n"
           "                                 may be left off); default the current profile\n"
           "  -s, --slide-duration SEC       seconds each photo stays still\n"
           "  -t, --transition-duration SEC  seconds of each transition\n"
           "  -e, --effect N[,N...]          transition effect 0-12 for every slide (0 = random);\n"
           "                                 a list is used in turn, slide by slide\n"
           "      --audio FILE               a soundtrack clip (WAV, MP3, FLAC, Ogg, Opus, M4A, or the "
           "sound\n"
           "                                 of a video); repeat it for more clips, played in the order "
           "given\n"
           "      --fit-to-audio             scale the photos' still durations so that the video lasts as\n"
           "                                 long as the music (a still never below 0.5 s)\n"
           "      --audio-fade SEC           seconds of the crossfade between clips and of the music's\n"
           "                                 fade-out at the end, 0 to 10; default the setting (2)\n"
           "      --motion none|auto         pan and zoom: none, or a gentle random motion for every\n"
           "                                 photo (a project's own motions stay when not given)\n"
           "      --seed N                   the number gentle random motion is picked with (the same\n"
           "                                 number gives the same motions)\n"
           "      --fill                     every photo fills the frame (cropped and, when small,\n"
           "                                 enlarged: no bars)\n"
           "  -y, --overwrite                replace an existing output or log file\n"
           "      --list-profiles            one line per profile: name, WIDTHxHEIGHT, frame rate, codec\n"
           "      --list-codecs              the usable video codecs\n"
           "      --export-log FILE          write the run log as an .iba archive and exit\n"
           "  -q, --quiet                    no progress output\n"
           "  -h, --help                     this text\n"
           "      --version                  the program's version\n"
           "\n"
           "Exit status: 0 done; 1 rendering failed; 2 bad usage or input (nothing written).\n";
}

}  // namespace kestrelle
