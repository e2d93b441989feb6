#pragma once
// The real desktop services behind config/desktop_services.h: logind for the power-off, the
// freedesktop file manager interface (or the folder through QDesktopServices) for showing a file, and
// Qt Multimedia for the finish sound. Nothing here builds a shell command line from a path.

#include "config/desktop_services.h"

#include <QDBusMessage>
#include <QObject>
#include <QUrl>

#include <functional>

namespace kestrelle {

// The messages the services send, built apart so that tests can read them without a bus.
// org.freedesktop.login1.Manager.PowerOff(interactive = true) on the system bus.
QDBusMessage powerOffMessage();
// org.freedesktop.FileManager1.ShowItems([file URI of filePath], "") on the session bus.
QDBusMessage showItemsMessage(const std::string& filePath);
// The folder holding `filePath`, as a file URL (what is opened when the file manager cannot select).
QUrl containingFolderUrl(const std::string& filePath);

class LogindPowerControl final : public PowerControl {
public:
    // Sends the request (the session may ask the user to confirm or authenticate); false without a
    // system bus. A refusal that comes back later is logged.
    bool powerOff() override;
};

class DesktopFileRevealer final : public FileRevealer {
public:
    using UrlOpener = std::function<bool(const QUrl&)>;
    // `openUrl` opens the folder when the file manager interface is missing or fails (default:
    // QDesktopServices::openUrl).
    explicit DesktopFileRevealer(UrlOpener openUrl = {});

    bool revealFile(const std::string& filePath) override;

private:
    UrlOpener openUrl_;
};

class QtSoundPlayer final : public QObject, public SoundPlayer {
    Q_OBJECT

public:
    using Beep = std::function<void()>;
    // `beep` sounds when a file cannot be played (default: QApplication::beep).
    explicit QtSoundPlayer(Beep beep = {}, QObject* parent = nullptr);

    // Plays a PCM WAV file once without blocking; a missing, damaged or unplayable file beeps instead.
    void playFile(const std::string& wavPath) override;

private:
    Beep beep_;
};

// The real services together, for the application to own once and lend to the dialogs.
struct DesktopServices {
    LogindPowerControl power;
    DesktopFileRevealer revealer;
    QtSoundPlayer sound;
};

}  // namespace kestrelle
