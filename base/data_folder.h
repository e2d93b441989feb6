#pragma once
// The per-user data folder, the program folder and free disk space.

#include <cstdint>
#include <string>

namespace kestrelle {

// Whether resolveDataFolder may write its failures to the run log. The run log itself asks without
// logging, so a failure there cannot recurse.
enum class DataFolderLogging { Log, Silent };

// Fills `outPath` with "<data home>/Brightmoor/<folderName>" (data home: $XDG_DATA_HOME, else
// $HOME/.local/share), creating the missing folders. False when no data home is known or a folder
// cannot be created.
bool resolveDataFolder(const std::string& folderName, std::string& outPath,
                       DataFolderLogging logging = DataFolderLogging::Log);

// The folder of the running executable, without a trailing separator.
std::string programFolder();

// Free bytes of the volume holding `folder` (free blocks x fragment size); 0 on any failure.
std::uint64_t freeDiskBytes(const std::string& folder);

}  // namespace kestrelle
