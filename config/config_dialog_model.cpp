#include "config/config_dialog_model.h"

#include "base/data_folder.h"
#include "base/message_box.h"
#include "base/text_numbers.h"

#include <algorithm>

namespace kestrelle {

namespace {

// Appends into a plain list, as a combo box would.
class ListSink final : public ComboSink {
public:
    explicit ListSink(std::vector<std::string>& items) : items_(items) {}
    void addItem(const std::string& text) override { items_.push_back(text); }

private:
    std::vector<std::string>& items_;
};

constexpr int kFallbackAudioBitRateIndex = 3;  // "128"
constexpr int kBitRateLimitFirstCodec = 2500;
constexpr int kBitRateLimitOtherCodecs = 1500;
constexpr int kBitRateLimitMp4 = 100000;
constexpr int kBitRateFloor = 100;
constexpr int kBitRateReplacingLow = 400;

// A profile's name is its file's title, "<name>(.avi).ipf" at most, which must fit the file system's
// 255 bytes; the store takes names of up to 200 bytes. Names are kept to what a list shows well.
constexpr std::size_t kMaxProfileNameCharacters = 100;
constexpr std::size_t kMaxProfileNameBytes = 200;

// Characters of UTF-8 text: every byte but the continuation bytes.
std::size_t utf8CharacterCount(const std::string& text) {
    return static_cast<std::size_t>(std::count_if(
        text.begin(), text.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

bool isIndexOf(int index, std::size_t count) {
    return index >= 0 && static_cast<std::size_t>(index) < count;
}

}  // namespace

const std::vector<std::string>& frameRateChoices() {
    static const std::vector<std::string> choices{"NTSC(29.97)", "PAL(25.0)", "15.0FPS"};
    return choices;
}

std::vector<std::string> frameRateChoicesFor(bool mp4Codec) {
    std::vector<std::string> choices = frameRateChoices();
    if (mp4Codec) choices.emplace_back("60FPS");
    return choices;
}

const std::vector<std::string>& newSlideMotionChoices() {
    static const std::vector<std::string> choices{"None", "Gentle random"};
    return choices;
}

const std::vector<std::string>& newSlideFitChoices() {
    static const std::vector<std::string> choices{"Letterbox", "Fill the frame", "Blurred background"};
    return choices;
}

const std::vector<std::string>& audioBitRateChoices() {
    static const std::vector<std::string> choices{"80", "96", "112", "128", "160", "192", "224", "256"};
    return choices;
}

std::optional<std::string> newProfileNameRefusal(const SettingsStore& store, const std::string& name) {
    if (name.find_first_not_of(" \t\n\r\f\v") == std::string::npos)
        return std::string("The name is empty,please input again!");
    if (utf8CharacterCount(name) > kMaxProfileNameCharacters || name.size() > kMaxProfileNameBytes)
        return std::string("The name is too long. Use at most 100 characters.");
    const bool reserved = name.find_first_of("/:*?\"<>|\\") != std::string::npos;
    if (reserved || !isUsableProfileName(name))
        return std::string("Characters /:*?\"<>|\\ can't be used in file name.");
    if (store.profileExists(name)) return std::string("The name is existed,please input again!");
    return std::nullopt;
}

ConfigDialogModel::ConfigDialogModel(SettingsStore& store) : store_(store) {
    fillProfileNames();
    const int current = store_.currentProfileIndex();
    profileSelection_ = isIndexOf(current, profileNames_.size()) ? current : -1;
    shownProfileIndex_ = profileSelection_;

    ListSink codecs(codecNames_);
    store_.fillCodecCombo(codecs);

    if (const OutputProfile* profile =
            shownProfileIndex_ >= 0 ? store_.profileAt(shownProfileIndex_) : nullptr)
        showProfile(*profile);

    const AppSettings& settings = store_.settings();
    shutDown_ = settings.ShutDown != 0;
    playSound_ = settings.PlaySound != 0;
    slideDurationText_ = durationToText(settings.DefaultSlideDuration);
    transitionDurationText_ = durationToText(settings.DefaultTransitionDuration);
    slideDuration_ = settings.DefaultSlideDuration;
    transitionDuration_ = settings.DefaultTransitionDuration;
    audioFade_ = settings.AudioFadeSeconds;
    audioFadeText_ = durationToText(audioFade_);
    defaultEffect_ = settings.DefaultSlideIndex;
    newSlideMotion_ = settings.NewSlideMotionKind;
    newSlideFit_ = settings.NewSlideFitKind;
    enlargeSmallPhotos_ = settings.EnlargeSmallPhotos;
}

void ConfigDialogModel::fillProfileNames() {
    profileNames_.clear();
    ListSink names(profileNames_);
    store_.fillProfileCombo(names);
}

void ConfigDialogModel::showProfile(const OutputProfile& profile) {
    codecSelection_ = codecNames_.empty() ? -1 : 0;
    configureEnabled_ = false;
    for (std::size_t i = 0; i < codecNames_.size(); ++i) {
        if (!namesEqualIgnoringCase(codecNames_[i], profile.CodecName)) continue;
        codecSelection_ = static_cast<int>(i);
        modified_ = false;
        configureEnabled_ = true;
    }
    // Writing the edits notifies like typing does: after the first fill this marks the dialog modified.
    writeEditText(ProfileEdit::Width, intToText(profile.ResWidth));
    writeEditText(ProfileEdit::Height, intToText(profile.ResHeight));
    writeEditText(ProfileEdit::VideoBitRate, intToText(profile.VideoBR));
    audioBitRateSelection_ = isIndexOf(profile.AudioBR, audioBitRateChoices().size())
                                 ? profile.AudioBR
                                 : kFallbackAudioBitRateIndex;
    frameRateSelection_ = isIndexOf(profile.FrameRate, offeredFrameRates().size()) ? profile.FrameRate : 0;
}

bool ConfigDialogModel::selectedCodecIsMp4() const {
    if (!isIndexOf(codecSelection_, codecNames_.size())) return false;
    const CodecEntry* entry =
        store_.codecs().findCodec(codecNames_[static_cast<std::size_t>(codecSelection_)]);
    return entry != nullptr && entry->isMp4();
}

void ConfigDialogModel::writeEditText(ProfileEdit edit, const std::string& text) {
    editTexts_[index(edit)] = text;
    // The first change of each edit comes from the initial fill and does not count.
    if (!firstChangeSeen_[index(edit)])
        firstChangeSeen_[index(edit)] = true;
    else
        modified_ = true;
}

void ConfigDialogModel::changeEditText(ProfileEdit edit, const std::string& text) {
    writeEditText(edit, text);
}

void ConfigDialogModel::takeControlsInto(OutputProfile& profile) const {
    profile.ResWidth = textToInt(editText(ProfileEdit::Width));
    profile.ResHeight = textToInt(editText(ProfileEdit::Height));
    profile.VideoBR = textToInt(editText(ProfileEdit::VideoBitRate));
    profile.AudioBR = audioBitRateSelection_;
    profile.CodecName = isIndexOf(codecSelection_, codecNames_.size())
                            ? codecNames_[static_cast<std::size_t>(codecSelection_)]
                            : std::string();
    profile.FrameRate = frameRateSelection_;
}

void ConfigDialogModel::takeControlsIntoShownProfileOnYes(const char* question) {
    if (!modified_ || shownProfileIndex_ < 0) return;
    if (showMessage(question, MessageFlags::kWarningYesNo) != MessageAnswer::kYes) return;
    if (OutputProfile* shown = store_.profileAt(shownProfileIndex_)) takeControlsInto(*shown);
}

void ConfigDialogModel::leaveVideoBitRate() {
    const int value = textToInt(editText(ProfileEdit::VideoBitRate));
    const int limit = selectedCodecIsMp4()   ? kBitRateLimitMp4
                      : codecSelection_ == 0 ? kBitRateLimitFirstCodec
                                             : kBitRateLimitOtherCodecs;
    if (value > limit) writeEditText(ProfileEdit::VideoBitRate, intToText(limit));
    if (value < kBitRateFloor) writeEditText(ProfileEdit::VideoBitRate, intToText(kBitRateReplacingLow));
}

std::string ConfigDialogModel::leaveDuration(const std::string& text, double storedDefault, double& cache) {
    double value = textToDouble(text);
    if (!(value > 0.0)) value = storedDefault;
    cache = value;
    return durationToText(value);
}

void ConfigDialogModel::leaveSlideDuration() {
    slideDurationText_ =
        leaveDuration(slideDurationText_, store_.settings().DefaultSlideDuration, slideDuration_);
}

void ConfigDialogModel::leaveTransitionDuration() {
    transitionDurationText_ = leaveDuration(transitionDurationText_,
                                            store_.settings().DefaultTransitionDuration, transitionDuration_);
}

void ConfigDialogModel::leaveAudioFade() {
    audioFade_ = audioFadeFromText(audioFadeText_).value_or(store_.settings().AudioFadeSeconds);
    audioFadeText_ = durationToText(audioFade_);
}

void ConfigDialogModel::chooseFrameRate(int index) {
    if (!isIndexOf(index, offeredFrameRates().size())) return;
    frameRateSelection_ = index;
    modified_ = true;
}

void ConfigDialogModel::chooseAudioBitRate(int index) {
    if (!isIndexOf(index, audioBitRateChoices().size())) return;
    audioBitRateSelection_ = index;
    modified_ = true;
}

void ConfigDialogModel::chooseCodec(int index) {
    if (!isIndexOf(index, codecNames_.size())) return;
    codecSelection_ = index;
    modified_ = true;
    if (index != 0) configureEnabled_ = true;
    if (!isIndexOf(frameRateSelection_, offeredFrameRates().size())) frameRateSelection_ = 0;
}

void ConfigDialogModel::chooseNewSlideMotion(int index) {
    if (isIndexOf(index, newSlideMotionChoices().size()))
        newSlideMotion_ = static_cast<NewSlideMotion>(index);
}

void ConfigDialogModel::chooseNewSlideFit(int index) {
    if (isIndexOf(index, newSlideFitChoices().size())) newSlideFit_ = static_cast<NewSlideFit>(index);
}

void ConfigDialogModel::chooseProfile(int index) {
    takeControlsIntoShownProfileOnYes("You have changed the settings, do you want to save changes?");
    const bool valid = isIndexOf(index, profileNames_.size());
    profileSelection_ = valid ? index : -1;
    if (valid) {
        if (const OutputProfile* profile = store_.profileAt(index)) showProfile(*profile);
    }
    shownProfileIndex_ = profileSelection_;
    modified_ = false;
}

ConfigDialogModel::NewProfileResult ConfigDialogModel::newProfile(const AskProfileName& askName) {
    takeControlsIntoShownProfileOnYes("Save changes to current profile?");
    modified_ = false;

    const std::optional<std::string> name = askName ? askName() : std::nullopt;
    // The name dialog refuses bad names; a caller that skipped it must not reach outside the folder.
    if (!name || newProfileNameRefusal(store_, *name)) return NewProfileResult::NotAdded;

    OutputProfile profile;
    profile.name = *name;
    store_.addProfile(profile);
    fillProfileNames();
    profileSelection_ = static_cast<int>(profileNames_.size()) - 1;
    shownProfileIndex_ = profileSelection_;
    // The controls show the fresh profile with its defaults settled (the first codec, a listed audio
    // bit rate); the profile takes them, so nothing counts as changed until the user changes it.
    if (OutputProfile* added = store_.profileAt(shownProfileIndex_)) {
        showProfile(*added);
        takeControlsInto(*added);
    }
    modified_ = false;

    return store_.writeProfileFile(profile) ? NewProfileResult::Added
                                            : NewProfileResult::AddedButFileNotWritten;
}

bool ConfigDialogModel::deleteShownProfile() {
    // The last profile stays (and an empty or unselected list offers nothing to delete).
    if (profileNames_.size() <= 1 || !isIndexOf(profileSelection_, profileNames_.size())) return false;
    if (showMessage("Are you sure to delete the profile?", MessageFlags::kWarningYesNo) !=
        MessageAnswer::kYes)
        return false;
    store_.deleteProfile(profileNames_[static_cast<std::size_t>(profileSelection_)]);
    fillProfileNames();
    int selection = shownProfileIndex_;
    if (selection == static_cast<int>(profileNames_.size())) selection = 0;
    profileSelection_ =
        isIndexOf(selection, profileNames_.size()) ? selection : (profileNames_.empty() ? -1 : 0);
    if (profileSelection_ >= 0) {
        if (const OutputProfile* profile = store_.profileAt(profileSelection_)) showProfile(*profile);
    }
    modified_ = false;
    shownProfileIndex_ = profileSelection_;
    return true;
}

bool ConfigDialogModel::configureSelectedCodec(QObject* parentWindow) {
    if (!isIndexOf(codecSelection_, codecNames_.size())) return false;
    CodecEntry* entry = store_.findCodec(codecNames_[static_cast<std::size_t>(codecSelection_)]);
    return entry != nullptr && store_.configureCodec(*entry, parentWindow);
}

ConfigDialogModel::SaveResult ConfigDialogModel::accept() {
    AppSettings& settings = store_.settings();
    settings.PlaySound = playSound_ ? 1 : 0;
    settings.ShutDown = shutDown_ ? 1 : 0;
    settings.DefaultSlideDuration = slideDuration_;
    settings.DefaultTransitionDuration = transitionDuration_;
    settings.AudioFadeSeconds = audioFade_;
    settings.DefaultSlideIndex = defaultEffect_;
    settings.NewSlideMotionKind = newSlideMotion_;
    settings.NewSlideFitKind = newSlideFit_;
    settings.EnlargeSmallPhotos = enlargeSmallPhotos_;
    if (modified_ && shownProfileIndex_ >= 0) {
        if (OutputProfile* shown = store_.profileAt(shownProfileIndex_)) takeControlsInto(*shown);
    }
    return store_.save() ? SaveResult::Saved : SaveResult::Failed;
}

ConfigDialogModel::SaveResult ConfigDialogModel::cancel() {
    return store_.save() ? SaveResult::Saved : SaveResult::Failed;
}

std::string ConfigDialogModel::saveFailureText() const {
    const std::string& path = store_.settingsFilePath();
    const std::size_t slash = path.find_last_of('/');
    const std::string folder = slash == std::string::npos ? std::string(".") : path.substr(0, slash);
    return "The settings could not be saved in " + folder +
           ". They stay in use until Kestrelle ends; check that the folder can be written.";
}

std::string ConfigDialogModel::profileFileFailureText() const {
    const std::string name = isIndexOf(profileSelection_, profileNames_.size())
                                 ? profileNames_[static_cast<std::size_t>(profileSelection_)]
                                 : std::string();
    return "The profile file " + profileFilePath(name) +
           " could not be written. The profile stays in use "
           "until Kestrelle ends; check that the folder can be written.";
}

}  // namespace kestrelle
