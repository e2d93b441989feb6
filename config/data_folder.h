#pragma once
// The per-user data folder, the program folder, free disk space and the one message box of the program.

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

// Message-box flags the program uses and the answers it tests.
namespace MessageFlags {
constexpr unsigned kWarningOk = 0x30;     // exclamation icon, OK button
constexpr unsigned kWarningYesNo = 0x34;  // exclamation icon, Yes and No buttons
}  // namespace MessageFlags
namespace MessageAnswer {
constexpr int kOk = 1;
constexpr int kYes = 6;
constexpr int kNo = 7;
}  // namespace MessageAnswer

// Shows a question or an error to the user. The application installs a window-based presenter, the
// headless renderer one that prints, tests one that records.
class MessagePresenter {
public:
    virtual ~MessagePresenter() = default;
    // Returns kOk, kYes or kNo.
    virtual int show(const std::string& text, unsigned flags) = 0;
};

// Installs the presenter showMessage uses (not owned; nullptr restores the default, which writes the
// text to standard error and answers OK, or No to a question).
void setMessagePresenter(MessagePresenter* presenter);

// A modal message captioned "Kestrelle" with the icon and buttons of `flags`; returns the button pressed.
int showMessage(const std::string& text, unsigned flags);

}  // namespace kestrelle
