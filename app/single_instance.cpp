#include "app/single_instance.h"

#include "app/start_checks.h"
#include "base/run_log.h"

#include <QByteArray>
#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>

#include <unistd.h>

namespace kestrelle {

namespace {

constexpr int kConnectTimeoutMs = 1000;
constexpr int kAnswerTimeoutMs = 3000;
constexpr int kLockTimeoutMs = 5000;
constexpr qint64 kMaxMarkerBytes = 32;
const QByteArray kAnswer = QByteArrayLiteral("raised\n");

QByteArray markerLine() {
    return QByteArray::number(kInstanceMarker) + '\n';
}

}  // namespace

QString singleInstanceSocketPath() {
    QString folder = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (folder.isEmpty() || !QFileInfo(folder).isDir()) folder = QDir::tempPath();
    return folder + QStringLiteral("/kestrelle-%1.socket").arg(::getuid());
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

bool SingleInstance::handOver() {
    QLocalSocket socket;
    socket.connectToServer(socketPath_);
    if (!socket.waitForConnected(kConnectTimeoutMs)) return false;  // nobody there, or a stale socket
    socket.write(markerLine());
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
    const QByteArray line = socket->readLine(kMaxMarkerBytes);
    if (line != markerLine()) {
        socket->abort();
        return;
    }
    if (activate_) activate_();
    socket->write(kAnswer);
    socket->flush();
    socket->disconnectFromServer();
}

}  // namespace kestrelle
