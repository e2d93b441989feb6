#pragma once
// Start-up steps the application and the headless renderer share: putting the shipped output profiles
// into the user's profile folder, and refusing to go on without any profile.

#include <string>

namespace kestrelle {

class SettingsStore;

// The refusal shown when no output profile could be loaded.
inline constexpr const char* kNoProfileMessage =
    "Can't locate configuration file.\nPlease re-install Kestrelle to fix the problem.";

// Creates the user's profile folder (<data folder>/Profile) and copies into it every shipped .ipf file
// from `shippedFolder` whose name the user's folder lacks in any letter case. Existing user files are
// never overwritten. Does nothing when the data folder is unavailable. Returns the number of files
// copied.
int setUpUserProfileFolder(const std::string& shippedFolder);
// The same with the shipped folder beside the program (programFolder() + "/Profile").
int setUpUserProfileFolder();

// True when the store holds at least one profile; otherwise `refusal` gets kNoProfileMessage for the
// caller to show (the caller then ends).
bool checkProfilesAvailable(const SettingsStore& store, std::string& refusal);

}  // namespace kestrelle
