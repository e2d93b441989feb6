#include "app/render_session.h"

#include "app/photo_folder.h"

#include "app/profile_setup.h"
#include "app/render_command_line.h"
#include "base/data_folder.h"
#include "base/message_box.h"
#include "base/run_log.h"
#include "base/worker_thread.h"
#include "config/settings_store.h"
#include "diag/log_export.h"
#include "media/audio_decoder.h"
#include "media/avi_writer.h"
#include "output/generation_job.h"
#include "project/fit_to_music.h"
#include "project/project_file.h"
#include "project/project_paths.h"
#include "project/slide_defaults.h"
#include "project/slideshow_project.h"
#include "project/soundtrack_plan.h"
#include "project/timeline.h"
#include "render/face_detector.h"
#include "render/photo_loader.h"

#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <ctime>
#include <iomanip>
#include <ostream>
#include <set>
#include <sstream>

namespace kestrelle {

namespace {

std::atomic<bool> cancelAsked{false};
// How often the progress line on a terminal is redrawn while the job runs.
constexpr auto kProgressRedraw = std::chrono::milliseconds(200);

// Prints the program's messages instead of showing boxes; a question is answered No.
class StreamMessagePresenter final : public MessagePresenter {
public:
    explicit StreamMessagePresenter(std::ostream& err) : err_(err) {}
    int show(const std::string& text, unsigned flags) override {
        std::string line = text;
        std::replace(line.begin(), line.end(), '\n', ' ');
        err_ << "kestrelle-render: " << line << std::endl;
        return (flags & 0x0F) == 0x04 ? MessageAnswer::kNo : MessageAnswer::kOk;
    }

private:
    std::ostream& err_;
};

// Restores the default presenter however the session ends.
class PresenterScope {
public:
    explicit PresenterScope(MessagePresenter& presenter) { setMessagePresenter(&presenter); }
    ~PresenterScope() { setMessagePresenter(nullptr); }
    PresenterScope(const PresenterScope&) = delete;
    PresenterScope& operator=(const PresenterScope&) = delete;
};

// Saves the settings once when the session ends, whichever way it ends.
class SettingsSaveAtExit {
public:
    SettingsSaveAtExit() = default;
    ~SettingsSaveAtExit() { SettingsStore::saveAtExit(); }
    SettingsSaveAtExit(const SettingsSaveAtExit&) = delete;
    SettingsSaveAtExit& operator=(const SettingsSaveAtExit&) = delete;
};

bool isFolder(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool exists(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0;
}

bool isRegularFile(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

std::string folderOf(const std::string& path) {
    const std::size_t cut = path.find_last_of('/');
    if (cut == std::string::npos) return ".";
    return cut == 0 ? "/" : path.substr(0, cut);
}

bool endsWithExtension(const std::string& path, const std::string& extension) {
    if (path.size() < extension.size()) return false;
    std::string tail = path.substr(path.size() - extension.size());
    std::transform(tail.begin(), tail.end(), tail.begin(), [](unsigned char c) { return std::tolower(c); });
    return tail == extension;
}

bool endsWithAvi(const std::string& path) {
    return endsWithExtension(path, ".avi");
}

// A profile by its full name, or by the name without its "(.avi)" / "(.mp4)" ending.
const OutputProfile* findProfileByName(const SettingsStore& store, const std::string& name) {
    if (const OutputProfile* profile = store.findProfile(name)) return profile;
    for (const char* ending : {"(.avi)", "(.mp4)"})
        if (const OutputProfile* profile = store.findProfile(name + ending)) return profile;
    return nullptr;
}

// The MP4 output path: a name ending in ".mp4" as it is, an ".avi" name given with -o as the user
// wrote it, an ".avi" name from a project or the default with ".mp4" in its place, anything else
// with ".mp4" appended.
std::string mp4OutputPath(const std::string& requested, bool givenByUser) {
    if (endsWithExtension(requested, ".mp4")) return requested;
    if (endsWithAvi(requested)) {
        if (givenByUser) return requested;
        return requested.substr(0, requested.size() - 4) + ".mp4";
    }
    return requested + ".mp4";
}

std::string frameRateText(int index) {
    std::ostringstream text;
    text << std::fixed << std::setprecision(2) << frameRateForIndex(index);
    return text.str();
}

void listProfiles(const SettingsStore& store, std::ostream& out) {
    for (int i = 0; i < store.profileCount(); ++i) {
        const OutputProfile* profile = store.profileAt(i);
        out << profile->name << ", " << profile->ResWidth << 'x' << profile->ResHeight << ", "
            << frameRateText(profile->FrameRate) << " fps, " << profile->CodecName << '\n';
    }
}

void listCodecs(const SettingsStore& store, std::ostream& out) {
    for (const CodecEntry& entry : store.codecs().entries()) out << entry.name << '\n';
}

std::string knownProfileNames(const SettingsStore& store) {
    std::string names;
    for (int i = 0; i < store.profileCount(); ++i) {
        names += (i ? ", \"" : "\"") + store.profileAt(i)->name + "\"";
    }
    return names;
}

// The progress line on a terminal: frames, percent, elapsed and remaining time.
void drawProgress(std::ostream& err, const GenerationJob& job, std::int64_t now) {
    const int upper = job.progressUpper();
    const int position = std::min(job.progressPosition(), upper);
    const int percent = upper > 0 ? static_cast<int>(std::int64_t{position} * 100 / upper) : 0;
    constexpr int kBarWidth = 30;
    const int filled = percent * kBarWidth / 100;
    err << "\r[" << std::string(filled, '#') << std::string(kBarWidth - filled, ' ') << "] " << position
        << '/' << upper << " frames " << std::setw(3) << percent << "%  elapsed " << job.elapsedText(now)
        << "  left " << job.leftText(now) << std::flush;
}

struct RenderPlan {
    std::vector<std::string> photos;
    const OutputProfile* profile = nullptr;
    std::string outputPath;  // the file the writer makes
    double slideDuration = 0;
    double transitionDuration = 0;
    std::vector<int> effects;        // used in turn, slide by slide
    std::vector<std::string> audio;  // the soundtrack's clips, in order
    bool fitToAudio = false;
    double audioFade = 0;
    std::optional<bool> gentleMotion;  // --motion: none or gentle random for every slide
    std::optional<std::uint64_t> motionSeed;
    bool fill = false;
    std::optional<ProjectDocument> project;  // a slideshow project given as the input
    std::vector<std::string> warnings;       // said before rendering starts
    std::set<std::string> missingPhotos;     // the project's photos that were not found
};

// What a slideshow project brings to the plan: its slides and clips, its profile and output unless
// the command line names them. Returns "" or the problem.
std::string planProject(const RenderCommandLine& line, SettingsStore& store, RenderPlan& plan) {
    ProjectReadResult read = readProjectFile(line.inputs.front());
    if (read.error != ProjectFileError::Ok) return read.message;
    const ProjectDocument& document = plan.project.emplace(std::move(read.document));
    if (!line.profile && !document.profileName.empty()) {
        plan.profile = store.findProfile(document.profileName);
        if (!plan.profile) {
            plan.warnings.push_back("the project's profile \"" + document.profileName +
                                    "\" is not installed; the current profile \"" +
                                    store.currentProfile()->name + "\" is used");
        }
    }
    for (const SlideContent& slide : document.content.slides) {
        if (slide.photoMissing) plan.missingPhotos.insert(slide.photoPath);
    }
    std::size_t missingSlides = 0;
    for (const SlideContent& slide : document.content.slides) missingSlides += slide.photoMissing ? 1 : 0;
    if (missingSlides > 0) {
        plan.warnings.push_back(std::to_string(missingSlides) + " of the project's " +
                                std::to_string(document.content.slides.size()) +
                                " photos are missing; they render black");
    }
    if (document.content.slides.empty()) return "the project " + line.inputs.front() + " holds no slides";
    return {};
}

// The output a project names: its output file name in its target folder, each falling back to the
// settings' default. Only the name's last part counts, so the file stays in the folder.
std::string projectOutput(const ProjectDocument& document, const AppSettings& settings) {
    const std::string folder = document.targetFolder.empty() ? settings.TargetPath : document.targetFolder;
    std::string name = fileNameOfPath(document.outputName);
    if (name.empty() || name == "." || name == "..") name = "Untitled.avi";
    return folder + "/" + name;
}

// The problem with an audio file named on the command line, or "".
std::string audioFileProblem(const std::string& file) {
    AudioFileFacts facts;
    const AudioOpenResult result = probeAudioFile(file, &facts);
    if (result == AudioOpenResult::Ok) return {};
    return "cannot use audio file " + file + ": " + audioOpenResultText(result);
}

// Every check of the command line against the settings, the profiles and the file system. Returns "" or
// the problem; nothing is written.
std::string planRender(const RenderCommandLine& line, SettingsStore& store, RenderPlan& plan) {
    if (line.inputs.empty()) return "no input photos or folders given (try --help)";
    if (line.inputs.size() == 1 && isProjectFileName(line.inputs.front())) {
        if (std::string problem = planProject(line, store, plan); !problem.empty()) return problem;
    } else if (std::string problem = collectPhotos(line.inputs, plan.photos); !problem.empty()) {
        return problem;
    }

    if (plan.profile) {
        // The project's own.
    } else if (line.profile) {
        plan.profile = findProfileByName(store, *line.profile);
        if (!plan.profile) {
            return "unknown profile \"" + *line.profile + "\"; known profiles: " + knownProfileNames(store);
        }
    } else {
        plan.profile = store.currentProfile();
    }
    if (plan.profile->CodecName.empty() || store.codecs().empty()) {
        return "no usable video codec is installed";
    }

    std::string requested = line.output    ? *line.output
                            : plan.project ? projectOutput(*plan.project, store.settings())
                                           : store.settings().TargetPath + "/Untitled.avi";
    if (const CodecEntry* codec = store.findCodec(plan.profile->CodecName); codec && codec->isMp4()) {
        plan.outputPath = mp4OutputPath(requested, line.output.has_value());
    } else {
        if (!endsWithAvi(requested)) requested += ".avi";
        plan.outputPath = fileNameFor(requested, false);
    }
    if (!isFolder(folderOf(plan.outputPath)))
        return "output folder " + folderOf(plan.outputPath) + " does not exist";
    if (isFolder(plan.outputPath)) return "output " + plan.outputPath + " is a folder";
    if (exists(plan.outputPath) && !line.overwrite) {
        return "output file " + plan.outputPath + " exists (use -y to replace it)";
    }

    const AppSettings& settings = store.settings();
    plan.slideDuration = line.slideDuration.value_or(settings.DefaultSlideDuration);
    plan.transitionDuration = line.transitionDuration.value_or(settings.DefaultTransitionDuration);
    plan.effects = line.effects;
    if (plan.effects.empty()) plan.effects.push_back(settings.DefaultSlideIndex);

    const bool projectHasMusic = plan.project && !plan.project->content.clips.empty();
    if (line.fitToAudio && line.audio.empty() && !projectHasMusic)
        return "--fit-to-audio needs music: give it with --audio FILE";
    for (const std::string& file : line.audio) {
        if (std::string problem = audioFileProblem(file); !problem.empty()) return problem;
    }
    plan.audio = line.audio;
    plan.fitToAudio = line.fitToAudio;
    plan.audioFade = line.audioFade.value_or(settings.AudioFadeSeconds);
    plan.gentleMotion = line.gentleMotion;
    plan.motionSeed = line.motionSeed;
    plan.fill = line.fill;
    return {};
}

// --motion, --seed and --fill: they apply to every slide, a project's included.
void applyLookOptions(const RenderPlan& plan, SlideShowProject& project) {
    if (plan.motionSeed) project.setMotionSeed(*plan.motionSeed);
    if (!plan.gentleMotion && !plan.fill) return;
    for (int i = 0; i < project.photoSlideCount(); ++i) {
        SlideLook look = project.slide(i)->look;
        if (plan.gentleMotion)
            look.motion = {*plan.gentleMotion ? MotionKind::GentleRandom : MotionKind::None, {}, {}};
        if (plan.fill) look.fit = {PhotoFit::Fill, true};  // small photos too: never bars
        project.setSlideLook(i, look);
    }
}

int renderPlan(const RenderPlan& plan, SettingsStore& store, std::ostream& err, bool showProgress,
               std::chrono::steady_clock::time_point started, const FrameObserver& frameTaken) {
    SlideShowProject project;
    // Nothing shows a storyboard here: no thumbnails, so every photo is decoded once, for the video.
    project.setMakesThumbnails(false);
    const AppSettings& settings = store.settings();
    project.setDefaultsProvider([&settings] { return slideDefaultsFrom(settings); });
    for (const std::string& warning : plan.warnings)
        err << "kestrelle-render: warning: " << warning << std::endl;
    if (plan.project) project.setContent(plan.project->content);
    for (std::size_t i = 0; i < plan.photos.size(); ++i) {
        project.appendPlaceholder();
        project.insertPhoto(plan.photos[i], project.photoSlideCount(), plan.effects[i % plan.effects.size()],
                            plan.slideDuration, plan.transitionDuration);
    }
    for (const std::string& file : plan.audio) {
        // Checked when planning; a file changed since then is refused all the same.
        if (const AudioOpenResult added = project.addClip(file); added != AudioOpenResult::Ok) {
            err << "kestrelle-render: cannot use audio file " << file << ": " << audioOpenResultText(added)
                << std::endl;
            return kRenderBadUsage;
        }
    }
    applyLookOptions(plan, project);
    const double fps = frameRateForIndex(plan.profile->FrameRate);
    if (plan.fitToAudio) {
        const double music = soundtrackSecondsFor(project, plan.audioFade);
        const FitResult fitted =
            fitToMusic(project, music, fps, VideoSize{plan.profile->ResWidth, plan.profile->ResHeight});
        if (fitted.outcome == FitOutcome::StillsAtMinimum) {
            err << "kestrelle-render: warning: the music (" << std::fixed << std::setprecision(1) << music
                << " s) is too short for every photo to stay " << kMinFittedStillSeconds
                << " s; the video lasts " << fitted.videoSeconds << " s" << std::defaultfloat << std::endl;
        } else if (fitted.outcome == FitOutcome::NoMusic) {
            err << "kestrelle-render: warning: the music has no length; the durations stay as given"
                << std::endl;
        }
    }

    // The profile the command line chose, without making it the stored current profile.
    std::optional<GenerationSetup> setup = generationSetupFor(store, plan.profile, plan.outputPath);
    if (setup) setup->audioFadeSeconds = plan.audioFade;

    // Ctrl-C only sets a flag (a signal handler can do no more); the job hears of it from its own
    // thread, before its first frame and after each one.
    GenerationJob* running = nullptr;
    auto passOnCancel = [&running] {
        if (cancelAsked && running) running->requestCancel();
    };
    GenerationJob::Callbacks callbacks;
    callbacks.progressRange = [passOnCancel](int) { passOnCancel(); };
    callbacks.progressPosition = [started, passOnCancel](int position) {
        passOnCancel();
        if (position != 1) return;
        const auto waited =
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started);
        KESTRELLE_LOG_AS("kestrelle_render.cpp", 1, "First frame %lld ms after start.",
                         static_cast<long long>(waited.count()));
    };
    callbacks.photoNotDecoded = [&err, &plan](const std::string& path) {
        if (plan.missingPhotos.count(path)) return;  // counted before the start
        err << "kestrelle-render: warning: cannot decode " << path << "; it renders black" << std::endl;
    };
    // Moving and filling photos keep every face they show in the frame.
    callbacks.findFaces = findFaces;
    callbacks.clipNotRead = [&err](const std::string& path) {
        err << "kestrelle-render: warning: cannot read audio file " << path
            << "; its part of the video is silent" << std::endl;
    };
    callbacks.unknownEffect = [&err](int slide, int effect) {
        err << "kestrelle-render: warning: slide " << slide + 1 << " has no transition effect " << effect
            << " (effects are 0 to 12); its transition is left out" << std::endl;
    };
    callbacks.frameTaken = frameTaken;
    GenerationJob job(project, std::move(setup), callbacks);
    running = &job;
    cancelAsked = false;
    WorkerThread worker;
    worker.start([&job](std::stop_token) { job.run(); });
    // Waits for the job's end; on a terminal the wait is cut into redraws of the progress line.
    if (showProgress) {
        auto redraw = std::chrono::steady_clock::now();
        while (!worker.waitUntil(redraw += kProgressRedraw)) drawProgress(err, job, std::time(nullptr));
    }
    worker.join();
    if (showProgress) {
        drawProgress(err, job, std::time(nullptr));
        err << '\n';
    }
    if (job.completed()) {
        if (showProgress) err << "Wrote " << plan.outputPath << '\n';
        return kRenderDone;
    }
    err << "kestrelle-render: " << (job.cancelRequested() ? "rendering cancelled; " : "rendering failed; ")
        << "the file is closed as far as written: " << plan.outputPath << std::endl;
    return kRenderFailed;
}

}  // namespace

void requestRenderCancel() {
    cancelAsked = true;
}

std::string collectPhotos(const std::vector<std::string>& inputs, std::vector<std::string>& photos) {
    for (const std::string& input : inputs) {
        if (isFolder(input)) {
            bool readable = false;
            const std::vector<ListedFile> files = listBrowserFiles(input, BrowserMode::Photo, &readable);
            if (!readable) return "cannot read folder " + input;
            if (files.empty()) return "folder " + input + " holds no photos";
            const std::string prefix = input.back() == '/' ? input : input + "/";
            for (const ListedFile& file : files) photos.push_back(prefix + file.name);
        } else if (!exists(input)) {
            return input + ": no such file or folder";
        } else if (!isRegularFile(input) || !isSupportedPhotoName(input)) {
            return input + " is not a photo file";
        } else {
            photos.push_back(input);
        }
    }
    return {};
}

int runRenderCommand(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err,
                     bool progressOnTerminal, const FrameObserver& frameTaken) {
    const auto started = std::chrono::steady_clock::now();
    const RenderCommandLineResult parsed = parseRenderCommandLine(arguments);
    if (!parsed.error.empty()) {
        err << "kestrelle-render: " << parsed.error << "\nTry 'kestrelle-render --help'." << std::endl;
        return kRenderBadUsage;
    }
    const RenderCommandLine& line = parsed.commandLine;
    if (line.help) {
        out << renderUsageText();
        return kRenderDone;
    }
    if (line.version) {
        out << "kestrelle-render " << KESTRELLE_VERSION << '\n';
        return kRenderDone;
    }

    StreamMessagePresenter presenter(err);
    PresenterScope presenterScope(presenter);
    setUpUserProfileFolder();
    SettingsStore& store = SettingsStore::instance();
    SettingsSaveAtExit saveAtExit;

    if (line.exportLog) {
        // Like the video output, an existing file is replaced only when the user asked for it.
        if (exists(*line.exportLog) && !line.overwrite) {
            err << "kestrelle-render: log file " << *line.exportLog << " exists (use -y to replace it)"
                << std::endl;
            return kRenderBadUsage;
        }
        return exportRunLog(*line.exportLog) ? kRenderDone : kRenderFailed;
    }
    std::string refusal;
    if (!checkProfilesAvailable(store, refusal)) {
        showMessage(refusal, MessageFlags::kWarningOk);
        return kRenderFailed;
    }
    if (line.listProfiles || line.listCodecs) {
        if (line.listProfiles) listProfiles(store, out);
        if (line.listCodecs) listCodecs(store, out);
        return kRenderDone;
    }

    RenderPlan plan;
    if (const std::string problem = planRender(line, store, plan); !problem.empty()) {
        err << "kestrelle-render: " << problem << std::endl;
        return kRenderBadUsage;
    }
    return renderPlan(plan, store, err, progressOnTerminal && !line.quiet, started, frameTaken);
}

}  // namespace kestrelle
