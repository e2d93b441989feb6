#pragma once
// One running program per user. The first start listens on a local socket named per user; a later start
// connects, sends the instance marker (with a project file to open, if it was given one) and ends, and
// the first one brings its window to the front (and opens the project). A
// socket left behind by a crashed instance is found (nobody answers) and replaced. Only a folder of
// this user's own holds the socket, and only a peer running as this user counts as an instance: a
// socket, lock or folder of another user never ends or delays a start.

#include <QString>

#include <functional>
#include <memory>

class QLocalServer;
class QLocalSocket;

namespace kestrelle {

// The socket for this user: "<folder>/kestrelle-<uid>.socket", the folder being $XDG_RUNTIME_DIR when
// it is a private folder of this user, else "<temporary folder>/kestrelle-<uid>" (made with mode 0700
// when missing, closed to others when it is ours). Empty when neither is a private folder of ours (a real
// folder, not a link, owned by this user, closed to others): the program then runs unguarded.
QString singleInstanceSocketPath();

// Whether `path` is a folder (not a link to one) owned by this user that no one else may enter.
bool isPrivateFolder(const QString& path);

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

    // A project file a Secondary hands over with the marker ("" for none); set before start.
    void setPathToHandOver(const QString& path) { pathToHandOver_ = path; }
    // Called on this thread's event loop, after `activate`, when a later start handed over a path.
    void setOpenRequested(std::function<void(const QString& path)> open) { openRequested_ = std::move(open); }

    // Whether this process listens for later starts.
    bool listening() const;
    // For a Secondary: whether the running instance confirmed the marker.
    bool acknowledged() const { return acknowledged_; }

private:
    bool handOver();
    void removeForeignFiles() const;
    bool listen();
    void accept();
    void readMarker(QLocalSocket* socket);

    QString socketPath_;
    std::function<void()> activate_;
    std::function<void(const QString&)> openRequested_;
    QString pathToHandOver_;
    std::unique_ptr<QLocalServer> server_;
    bool acknowledged_ = false;
};

}  // namespace kestrelle
