#include "app/single_instance.h"

#include "app/start_checks.h"
#include "base/run_log.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QTimer>

#include <cctype>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

namespace kestrelle {

namespace {

constexpr int kConnectTimeoutMs = 1000;
constexpr int kAnswerTimeoutMs = 3000;
constexpr int kLockTimeoutMs = 5000;
// The marker line: the number, then optionally a space and the project path's bytes in hex (any
// bytes a file name may hold pass unchanged). A path beyond PATH_MAX is not one to open.
constexpr qint64 kMaxPathBytes = 4096;
constexpr qint64 kMaxMarkerBytes = 16 + 2 * kMaxPathBytes;
const QByteArray kAnswer = QByteArrayLiteral("raised\n");

QByteArray markerLine() {
    return QByteArray::number(kInstanceMarker) + '\n';
}

QByteArray markerLineWithPath(const QString& path) {
    if (path.isEmpty()) return markerLine();
    return QByteArray::number(kInstanceMarker) + ' ' + QFile::encodeName(path).toHex() + '\n';
}

// Reads a marker line; false for anything else. `path` gets the handed-over path ("" for none).
bool parseMarkerLine(const QByteArray& line, QString& path) {
    path.clear();
    if (line == markerLine()) return true;
    const QByteArray prefix = QByteArray::number(kInstanceMarker) + ' ';
    if (!line.startsWith(prefix) || !line.endsWith('\n')) return false;
    const QByteArray hex = line.mid(prefix.size(), line.size() - prefix.size() - 1);
    if (hex.isEmpty() || hex.size() % 2 != 0 || hex.size() > 2 * kMaxPathBytes) return false;
    for (const char c : hex) {
        if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
    }
    const QByteArray bytes = QByteArray::fromHex(hex);
    if (bytes.contains('\0')) return false;
    path = QFile::decodeName(bytes);
    return true;
}

// Whether the process at the other end of a connected local socket runs as this user.
bool peerIsThisUser(qintptr descriptor) {
    if (descriptor < 0) return false;
    ucred credentials{};
    socklen_t size = sizeof credentials;
    if (::getsockopt(static_cast<int>(descriptor), SOL_SOCKET, SO_PEERCRED, &credentials, &size) != 0 ||
        size != sizeof credentials) {
        return false;
    }
    return credentials.uid == ::getuid();
}

// Removes `path` unless it is missing or a file of `type` owned by this user. In a private folder of
// ours anything else was not left there by us.
void removeUnlessOurs(const QByteArray& path, mode_t type) {
    struct stat info {};
    if (::lstat(path.constData(), &info) != 0) return;
    if ((info.st_mode & S_IFMT) == type && info.st_uid == ::getuid()) return;
    KESTRELLE_LOG(0, "Single instance: removing %s, which is not ours", path.constData());
    ::unlink(path.constData());
}

}  // namespace

bool isPrivateFolder(const QString& path) {
    if (path.isEmpty()) return false;
    struct stat info {};
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0 && S_ISDIR(info.st_mode) &&
           info.st_uid == ::getuid() && (info.st_mode & 077) == 0;
}

QString singleInstanceSocketPath() {
    const QString name = QStringLiteral("/kestrelle-%1.socket").arg(::getuid());
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (isPrivateFolder(runtime)) return runtime + name;
    // Without a runtime folder: a folder of our own in the temporary folder, never a name shared with
    // other users.
    const QString folder = QDir::tempPath() + QStringLiteral("/kestrelle-%1").arg(::getuid());
    const QByteArray bytes = QFile::encodeName(folder);
    ::mkdir(bytes.constData(), 0700);
    struct stat info {};
    if (::lstat(bytes.constData(), &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == ::getuid() &&
        (info.st_mode & 077) != 0) {
        ::chmod(bytes.constData(), 0700);  // ours, but open to others (made under another umask)
    }
    if (isPrivateFolder(folder)) return folder + name;
    KESTRELLE_LOG(0, "Single instance: %s is not a private folder of ours", qPrintable(folder));
    return {};
}

SingleInstance::SingleInstance(QString socketPath) : socketPath_(std::move(socketPath)) {}

SingleInstance::~SingleInstance() {
    if (server_) server_->close();  // removes the socket file
}

bool SingleInstance::listening() const {
    return server_ && server_->isListening();
}

SingleInstance::Role SingleInstance::start(std::function<void()> activate) {
    activate_ = std::move(activate);
    if (socketPath_.isEmpty()) return Role::Primary;  // no private folder for the socket: unguarded
    removeForeignFiles();
    // The lock makes look-and-listen one step, so two starts at once cannot both listen. A lock left by
    // a dead process is taken over by QLockFile.
    QLockFile lock(socketPath_ + QStringLiteral(".lock"));
    const bool locked = lock.tryLock(kLockTimeoutMs);
    if (handOver()) return Role::Secondary;
    if (!listen()) {
        KESTRELLE_LOG(0, "Single instance: cannot listen on %s (locked:%d)", qPrintable(socketPath_),
                      locked ? 1 : 0);
    }
    return Role::Primary;
}

void SingleInstance::removeForeignFiles() const {
    removeUnlessOurs(QFile::encodeName(socketPath_), S_IFSOCK);
    removeUnlessOurs(QFile::encodeName(socketPath_ + QStringLiteral(".lock")), S_IFREG);
}

bool SingleInstance::handOver() {
    QLocalSocket socket;
    socket.connectToServer(socketPath_);
    if (!socket.waitForConnected(kConnectTimeoutMs)) return false;  // nobody there, or a stale socket
    if (!peerIsThisUser(socket.socketDescriptor())) {
        // Not an instance of ours, whatever it answers: it gets no marker and does not stop this start.
        KESTRELLE_LOG(0, "Single instance: the process on %s is another user's", qPrintable(socketPath_));
        socket.abort();
        return false;
    }
    socket.write(markerLineWithPath(pathToHandOver_));
    if (!socket.waitForBytesWritten(kConnectTimeoutMs)) return true;  // someone is there; do not compete
    QByteArray answer;
    while (answer.size() < kAnswer.size() && socket.waitForReadyRead(kAnswerTimeoutMs))
        answer += socket.read(kMaxMarkerBytes);
    acknowledged_ = answer.startsWith(kAnswer);
    socket.disconnectFromServer();
    return true;
}

bool SingleInstance::listen() {
    server_ = std::make_unique<QLocalServer>();
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    if (!server_->listen(socketPath_)) {
        // A socket file nobody answers on: left by an instance that ended without closing it.
        QLocalServer::removeServer(socketPath_);
        if (!server_->listen(socketPath_)) {
            server_.reset();
            return false;
        }
    }
    QObject::connect(server_.get(), &QLocalServer::newConnection, server_.get(), [this] { accept(); });
    return true;
}

void SingleInstance::accept() {
    while (QLocalSocket* socket = server_->nextPendingConnection()) {
        if (!peerIsThisUser(socket->socketDescriptor())) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
        QObject::connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        QObject::connect(socket, &QLocalSocket::readyRead, socket, [this, socket] { readMarker(socket); });
        if (socket->bytesAvailable() > 0) readMarker(socket);
    }
}

void SingleInstance::readMarker(QLocalSocket* socket) {
    if (!socket->canReadLine()) {
        // Whatever is not a short line is not a later start of ours.
        if (socket->bytesAvailable() > kMaxMarkerBytes) socket->abort();
        return;
    }
    const QByteArray line = socket->readLine(kMaxMarkerBytes + 1);
    QString path;
    if (!parseMarkerLine(line, path)) {
        socket->abort();
        return;
    }
    if (activate_) activate_();
    socket->write(kAnswer);
    socket->flush();
    socket->disconnectFromServer();
    // Opening may ask questions (save changes?): it runs once this connection is answered.
    if (!path.isEmpty() && openRequested_) {
        QTimer::singleShot(0, server_.get(), [open = openRequested_, path] { open(path); });
    }
}

}  // namespace kestrelle
