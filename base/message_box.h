#pragma once
// The one message box of the program: the core asks its questions through showMessage, and whoever runs
// the core (the application, the headless renderer, a test) decides how they reach the user.

#include <string>

namespace kestrelle {

// Message-box flags the program uses and the answers it tests.
namespace MessageFlags {
constexpr unsigned kWarningOk = 0x30;     // exclamation icon, OK button
constexpr unsigned kWarningYesNo = 0x34;  // exclamation icon, Yes and No buttons
// Added to a flag with two buttons: the second (No) is the default, pressed by Enter.
constexpr unsigned kSecondButtonDefault = 0x100;
constexpr unsigned kWarningYesNoDefaultNo = kWarningYesNo | kSecondButtonDefault;
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
