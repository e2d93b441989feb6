#include "app/ui/desktop_service_impls.h"

#include "base/file_uri.h"
#include "base/run_log.h"
#include "media/wave_file.h"

#include <QApplication>
#include <QAudioDevice>
#include <QDBusConnection>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDesktopServices>
#include <QMediaDevices>
#include <QSoundEffect>

#include <filesystem>
#include <system_error>

namespace kestrelle {

namespace {

constexpr const char* kLogSource = "LumoDlg.cpp";

// Logs a D-Bus call's failure when its answer arrives; `onError` runs then too.
void watchCall(const QDBusPendingCall& call, const char* what, std::function<void()> onError = {}) {
    auto* watcher = new QDBusPendingCallWatcher(call, QCoreApplication::instance());
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher,
                     [watcher, what, onError = std::move(onError)] {
                         if (watcher->isError()) {
                             const QByteArray message = watcher->error().message().toUtf8();
                             KESTRELLE_LOG_AS(kLogSource, 0, "%s failed: %s", what, message.constData());
                             if (onError) onError();
                         }
                         watcher->deleteLater();
                     });
}

// A WAV file that can be played: RIFF/WAVE with PCM samples.
bool isPlayableWave(const std::string& path) {
    WaveFile wave;
    return wave.open(path) == WaveOpenResult::Ok && wave.hasSamples() && wave.sampleBytes() > 0 &&
           wave.format().channels > 0 && wave.format().sampleRate > 0;
}

}  // namespace

QDBusMessage powerOffMessage() {
    QDBusMessage message = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.login1"), QStringLiteral("/org/freedesktop/login1"),
        QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("PowerOff"));
    message << true;  // interactive: the user may be asked to confirm or authenticate
    // The answer may wait for the user, so it must not time out early.
    message.setInteractiveAuthorizationAllowed(true);
    return message;
}

QDBusMessage showItemsMessage(const std::string& filePath) {
    QDBusMessage message = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("/org/freedesktop/FileManager1"),
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
    // Built from the path's bytes: a name that is not UTF-8 keeps its own bytes in the URI.
    message << QStringList{fileUriFromPath(filePath)} << QString();
    return message;
}

QUrl containingFolderUrl(const std::string& filePath) {
    // Worked out on the bytes, so a folder name that is not UTF-8 stays the same folder.
    std::error_code error;
    std::filesystem::path file = std::filesystem::absolute(filePath, error);
    if (error) file = filePath;
    return QUrl(fileUriFromPath(file.parent_path().native()));
}

bool LogindPowerControl::powerOff() {
    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected()) {
        KESTRELLE_LOG_AS(kLogSource, 0, "Power off: no system bus");
        return false;
    }
    watchCall(bus.asyncCall(powerOffMessage(), 10 * 60 * 1000), "Power off");
    return true;
}

DesktopFileRevealer::DesktopFileRevealer(UrlOpener openUrl)
    : openUrl_(openUrl ? std::move(openUrl)
                       : UrlOpener([](const QUrl& url) { return QDesktopServices::openUrl(url); })) {}

bool DesktopFileRevealer::revealFile(const std::string& filePath) {
    const QUrl folder = containingFolderUrl(filePath);
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) return openUrl_(folder);
    UrlOpener openFolder = openUrl_;
    // A file manager started on demand may take a few seconds; after that the folder opens instead.
    watchCall(bus.asyncCall(showItemsMessage(filePath), 10 * 1000), "Show in file manager",
              [openFolder, folder] { openFolder(folder); });
    return true;
}

QtSoundPlayer::QtSoundPlayer(Beep beep, QObject* parent)
    : QObject(parent), beep_(beep ? std::move(beep) : Beep([] { QApplication::beep(); })) {}

void QtSoundPlayer::playFile(const std::string& wavPath) {
    if (!isPlayableWave(wavPath) || QMediaDevices::defaultAudioOutput().isNull()) {
        beep_();
        return;
    }
    // The effect lives until it has played (or failed), then removes itself.
    auto* effect = new QSoundEffect(this);
    Beep beep = beep_;
    connect(effect, &QSoundEffect::statusChanged, effect, [effect, beep] {
        if (effect->status() == QSoundEffect::Error) {
            beep();
            effect->deleteLater();
        } else if (effect->status() == QSoundEffect::Ready && !effect->isPlaying()) {
            effect->play();
        }
    });
    connect(effect, &QSoundEffect::playingChanged, effect, [effect] {
        if (!effect->isPlaying()) effect->deleteLater();
    });
    effect->setSource(QUrl::fromLocalFile(QString::fromStdString(wavPath)));
}

}  // namespace kestrelle
