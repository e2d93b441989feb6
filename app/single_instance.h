#pragma once
// One running program per user. The first start listens on a local socket named per user; a later start
// connects, sends the instance marker and ends, and the first one brings its window to the front. A
// socket left behind by a crashed instance is found (nobody answers) and replaced.

#include <QString>

#include <functional>
#include <memory>

class QLocalServer;
class QLocalSocket;

namespace kestrelle {

// The socket for this user: "<runtime folder>/kestrelle-<uid>.socket", the runtime folder being
// $XDG_RUNTIME_DIR when it is a folder, else the temporary folder.
QString singleInstanceSocketPath();

class SingleInstance {
public:
    enum class Role {
        Primary,    // this process runs the program (listening, or unguarded when listening failed)
        Secondary,  // another instance runs; the marker was handed to it and this process should end
    };

    explicit SingleInstance(QString socketPath = singleInstanceSocketPath());
    ~SingleInstance();
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    // Hands the marker to a running instance, or becomes the running instance. `activate` is called on
    // this thread's event loop each time a later start sends the marker. Waits at most a few seconds.
    Role start(std::function<void()> activate);

    // Whether this process listens for later starts.
    bool listening() const;
    // For a Secondary: whether the running instance confirmed the marker.
    bool acknowledged() const { return acknowledged_; }

private:
    bool handOver();
    bool listen();
    void accept();
    void readMarker(QLocalSocket* socket);

    QString socketPath_;
    std::function<void()> activate_;
    std::unique_ptr<QLocalServer> server_;
    bool acknowledged_ = false;
};

}  // namespace kestrelle
