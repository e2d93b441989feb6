#pragma once
// What the configuration dialog does, without a window: the contents of its controls, the `modified`
// rules, the checks made on leaving a field, and the profile commands (switch, New, Del, Configure),
// OK and Cancel, all on a SettingsStore. The dialog widget mirrors these contents and forwards the
// user's actions; tests drive the model directly. Questions go through showMessage.

#include "base/message_box.h"
#include "config/settings_store.h"

#include <array>
#include <functional>
#include <optional>
#include <string>
#include <vector>

class QObject;

namespace kestrelle {

// The three edits whose changes count as profile edits.
enum class ProfileEdit { Width = 0, Height = 1, VideoBitRate = 2 };

// The fixed lists of the Profile page, in their order.
const std::vector<std::string>& frameRateChoices();     // "NTSC(29.97)", "PAL(25.0)", "15.0FPS"
const std::vector<std::string>& audioBitRateChoices();  // "80" ... "256"
// The frame rates offered for a codec: the three above, and "60FPS" (index 3) for an MP4 codec.
std::vector<std::string> frameRateChoicesFor(bool mp4Codec);
// The General page's lists for new slides, indexed by NewSlideMotion and NewSlideFit.
const std::vector<std::string>& newSlideMotionChoices();  // "None", "Gentle random"
const std::vector<std::string>& newSlideFitChoices();  // "Letterbox", "Fill the frame", "Blurred background"

// Why a new profile's name is refused, as the name dialog shows it; nullopt for a usable new name.
// Blank names (spaces only) get the empty-name text; names over 100 characters or 200 bytes the
// too-long text; besides the reserved characters, "." and ".." get the reserved-characters text.
std::optional<std::string> newProfileNameRefusal(const SettingsStore& store, const std::string& name);

class ConfigDialogModel {
public:
    // Runs the name dialog; nullopt when it was cancelled.
    using AskProfileName = std::function<std::optional<std::string>()>;

    // Whether store writes succeeded; the dialog tells the user when they did not.
    enum class SaveResult { Saved, Failed };

    // Fills every control from the store, as the dialog does when it opens.
    explicit ConfigDialogModel(SettingsStore& store);

    // --- Contents of the controls ---
    const std::vector<std::string>& profileNames() const { return profileNames_; }
    int profileSelection() const { return profileSelection_; }
    const std::vector<std::string>& codecNames() const { return codecNames_; }
    int codecSelection() const { return codecSelection_; }
    bool configureEnabled() const { return configureEnabled_; }
    int frameRateSelection() const { return frameRateSelection_; }
    // Whether the selected codec writes MP4 files (then 60 fps is offered and the bit rate may go higher).
    bool selectedCodecIsMp4() const;
    std::vector<std::string> offeredFrameRates() const { return frameRateChoicesFor(selectedCodecIsMp4()); }
    int audioBitRateSelection() const { return audioBitRateSelection_; }
    const std::string& editText(ProfileEdit edit) const { return editTexts_[index(edit)]; }

    bool playSound() const { return playSound_; }
    bool shutDown() const { return shutDown_; }
    bool applyToCurrentSlideshow() const { return applyToCurrent_; }
    const std::string& slideDurationText() const { return slideDurationText_; }
    const std::string& transitionDurationText() const { return transitionDurationText_; }
    const std::string& audioFadeText() const { return audioFadeText_; }
    int defaultEffect() const { return defaultEffect_; }
    NewSlideMotion newSlideMotion() const { return newSlideMotion_; }
    NewSlideFit newSlideFit() const { return newSlideFit_; }
    bool enlargeSmallPhotos() const { return enlargeSmallPhotos_; }

    // --- Dialog state ---
    bool modified() const { return modified_; }
    int shownProfileIndex() const { return shownProfileIndex_; }
    double cachedSlideDuration() const { return slideDuration_; }
    double cachedTransitionDuration() const { return transitionDuration_; }
    double cachedAudioFade() const { return audioFade_; }

    // --- The user's actions ---
    // A change of one of the three profile edits (typed by the user). An MP4 codec takes up to
    // 100,000 kbit/s when the bit rate is left; the AVI codecs keep their limits.
    void changeEditText(ProfileEdit edit, const std::string& text);
    void leaveVideoBitRate();
    void changeSlideDurationText(const std::string& text) { slideDurationText_ = text; }
    void changeTransitionDurationText(const std::string& text) { transitionDurationText_ = text; }
    void changeAudioFadeText(const std::string& text) { audioFadeText_ = text; }
    void leaveSlideDuration();
    void leaveTransitionDuration();
    // The music fade takes 0 to 10 seconds: a larger number becomes 10, a smaller one 0, anything that
    // is not a number the stored setting.
    void leaveAudioFade();
    // Only an offered rate is taken (60 fps only with an MP4 codec).
    void chooseFrameRate(int index);
    void chooseAudioBitRate(int index);
    // Choosing an AVI codec while 60 fps is selected brings the rate back to the first one.
    void chooseCodec(int index);
    void setPlaySound(bool on) { playSound_ = on; }
    void setShutDown(bool on) { shutDown_ = on; }
    void setApplyToCurrentSlideshow(bool on) { applyToCurrent_ = on; }
    void setDefaultEffect(int effect) { defaultEffect_ = effect; }
    // Only a listed choice is taken (an index of newSlideMotionChoices() or newSlideFitChoices()).
    void chooseNewSlideMotion(int index);
    void chooseNewSlideFit(int index);
    void setEnlargeSmallPhotos(bool on) { enlargeSmallPhotos_ = on; }

    // Another profile chosen in the profile list (may ask whether to keep the edits).
    void chooseProfile(int index);
    // New: may ask about the edits, then asks for a name; adds the profile and writes its file at once.
    enum class NewProfileResult { NotAdded, Added, AddedButFileNotWritten };
    NewProfileResult newProfile(const AskProfileName& askName);
    // Del: asks, then removes the shown profile and its file. False when nothing was deleted.
    bool deleteShownProfile();
    // Configure: the selected codec's own dialog over `parentWindow`. False when nothing was captured.
    bool configureSelectedCodec(QObject* parentWindow);

    // OK: the general values and any edits into the store, then saves it.
    SaveResult accept();
    // Cancel: saves the store as it stands (profiles added, deleted, or edited through the questions).
    SaveResult cancel();

    // What the user is told when saving failed, and when a new profile's file could not be written.
    std::string saveFailureText() const;
    std::string profileFileFailureText() const;

private:
    static std::size_t index(ProfileEdit edit) { return static_cast<std::size_t>(edit); }

    void fillProfileNames();
    void showProfile(const OutputProfile& profile);
    void writeEditText(ProfileEdit edit, const std::string& text);
    void takeControlsInto(OutputProfile& profile) const;
    void takeControlsIntoShownProfileOnYes(const char* question);
    std::string leaveDuration(const std::string& text, double storedDefault, double& cache);

    SettingsStore& store_;

    std::vector<std::string> profileNames_;
    int profileSelection_ = -1;
    std::vector<std::string> codecNames_;
    int codecSelection_ = -1;
    bool configureEnabled_ = false;
    int frameRateSelection_ = 0;
    int audioBitRateSelection_ = 3;
    std::array<std::string, 3> editTexts_;

    bool playSound_ = false;
    bool shutDown_ = false;
    bool applyToCurrent_ = false;
    std::string slideDurationText_;
    std::string transitionDurationText_;
    std::string audioFadeText_;

    bool modified_ = false;
    int shownProfileIndex_ = -1;
    std::array<bool, 3> firstChangeSeen_{};
    double slideDuration_ = 0.0;
    double transitionDuration_ = 0.0;
    double audioFade_ = 0.0;
    int defaultEffect_ = 0;
    NewSlideMotion newSlideMotion_ = NewSlideMotion::None;
    NewSlideFit newSlideFit_ = NewSlideFit::Letterbox;
    bool enlargeSmallPhotos_ = false;
};

}  // namespace kestrelle
