// One program per user, checked with real processes of the program.

#include "app/single_instance.h"
#include "tests/support/temp_home.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFileInfo>
#include <QLocalSocket>
#include <QProcess>
#include <QThread>

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>

#include <grp.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>
#include <csignal>

namespace kestrelle {
namespace {

namespace fs = std::filesystem;

// Processes events until `done` holds; false when it still does not after a generous limit (a guard
// against a hang, not a measurement).
bool waitUntil(const std::function<bool()>& done) {
    QDeadlineTimer deadline(30000);
    while (!done()) {
        if (deadline.hasExpired()) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
    return true;
}

class SingleInstanceTest : public testing::TempHomeTest {
protected:
    void SetUp() override {
        TempHomeTest::SetUp();
        runtime_ = QString::fromStdString(path("run"));
        fs::create_directories(runtime_.toStdString());
        fs::permissions(runtime_.toStdString(), fs::perms::owner_all, fs::perm_options::replace);
        savedRuntime_ = qgetenv("XDG_RUNTIME_DIR");
        qputenv("XDG_RUNTIME_DIR", runtime_.toLocal8Bit());
        socketPath_ = singleInstanceSocketPath();
    }
    void TearDown() override {
        for (auto& process : processes_) {
            if (process->state() != QProcess::NotRunning) {
                process->kill();
                process->waitForFinished(5000);
            }
        }
        processes_.clear();
        if (savedRuntime_.isNull())
            qunsetenv("XDG_RUNTIME_DIR");
        else
            qputenv("XDG_RUNTIME_DIR", savedRuntime_);
        TempHomeTest::TearDown();
    }

    // Starts the program with this test's home and runtime folder, on the offscreen platform.
    QProcess& startProgram(const QStringList& arguments = {}) {
        auto process = std::make_unique<QProcess>();
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("HOME"), QString::fromStdString(root()));
        environment.insert(QStringLiteral("XDG_DATA_HOME"), QString::fromStdString(dataHome()));
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), QString::fromStdString(path("config")));
        environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime_);
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"),
                           QStringLiteral("unix:path=/nonexistent/bus"));
        environment.insert(QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS"),
                           QStringLiteral("unix:path=/nonexistent/bus"));
        process->setProcessEnvironment(environment);
        process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process->start(QCoreApplication::applicationDirPath() + QStringLiteral("/kestrelle"), arguments);
        processes_.push_back(std::move(process));
        return *processes_.back();
    }
    bool finished(QProcess& process) {
        return waitUntil([&] { return process.state() == QProcess::NotRunning; });
    }
    // Whether a program listens on the socket (a stale socket file refuses the connection).
    bool someoneListens() const {
        QLocalSocket socket;
        socket.connectToServer(socketPath_);
        const bool connected = socket.waitForConnected(500);
        socket.abort();
        return connected;
    }
    // Hands the marker over as a later start would; true when a running program confirmed it.
    bool handOverConfirmed() {
        SingleInstance later(socketPath_);
        return later.start({}) == SingleInstance::Role::Secondary && later.acknowledged();
    }

    QString runtime_;
    QByteArray savedRuntime_;
    QString socketPath_;
    std::vector<std::unique_ptr<QProcess>> processes_;
};

TEST_F(SingleInstanceTest, ASecondStartRaisesTheFirstAndEndsSilently) {
    int activations = 0;
    SingleInstance first(socketPath_);
    ASSERT_EQ(first.start([&] { ++activations; }), SingleInstance::Role::Primary);
    ASSERT_TRUE(first.listening());

    QProcess& second = startProgram();
    ASSERT_TRUE(finished(second));
    EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_EQ(activations, 1);
    // It ended before setting anything up.
    EXPECT_FALSE(fs::exists(dataFolder() + "/Profile"));
    EXPECT_FALSE(fs::exists(dataFolder() + "/settings.ini"));
}

TEST_F(SingleInstanceTest, AStaleSocketFromAKilledInstanceDoesNotBlockANewStart) {
    QProcess& crashed = startProgram();
    ASSERT_TRUE(waitUntil([&] { return someoneListens(); }));
    crashed.kill();
    ASSERT_TRUE(finished(crashed));
    ASSERT_TRUE(QFileInfo::exists(socketPath_)) << "the killed program should leave its socket behind";
    ASSERT_FALSE(someoneListens());

    QProcess& next = startProgram();
    ASSERT_TRUE(waitUntil([&] { return someoneListens() || next.state() == QProcess::NotRunning; }));
    ASSERT_EQ(next.state(), QProcess::Running);
    EXPECT_TRUE(handOverConfirmed());

    // Asked to end (as at a shutdown), it closes normally and saves the settings.
    next.terminate();
    ASSERT_TRUE(finished(next));
    EXPECT_EQ(next.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(next.exitCode(), 0);
    EXPECT_TRUE(fs::exists(dataFolder() + "/settings.ini"));
    EXPECT_FALSE(QFileInfo::exists(socketPath_));
}

TEST_F(SingleInstanceTest, TwoStartsAtOnceLeaveOneRunningInstance) {
    QProcess& a = startProgram();
    QProcess& b = startProgram();
    // One of them hands over to the other and ends.
    ASSERT_TRUE(
        waitUntil([&] { return a.state() == QProcess::NotRunning || b.state() == QProcess::NotRunning; }));
    QProcess& ended = a.state() == QProcess::NotRunning ? a : b;
    QProcess& running = &ended == &a ? b : a;
    EXPECT_EQ(ended.exitCode(), 0);
    ASSERT_TRUE(waitUntil([&] { return someoneListens(); }));
    EXPECT_EQ(running.state(), QProcess::Running);
    EXPECT_TRUE(handOverConfirmed());
    running.terminate();
    ASSERT_TRUE(finished(running));
    EXPECT_EQ(running.exitCode(), 0);
}

TEST_F(SingleInstanceTest, AnythingButTheMarkerIsIgnored) {
    int activations = 0;
    SingleInstance first(socketPath_);
    ASSERT_EQ(first.start([&] { ++activations; }), SingleInstance::Role::Primary);
    for (const QByteArray& bytes :
         {QByteArray("10018\n"), QByteArray("10019"), QByteArray(4096, 'x'), QByteArray("10019 \n"),
          QByteArray("10019 2f746d7\n"), QByteArray("10019 zz\n"), QByteArray("10019 2f00\n"),
          QByteArray("10019 ") + QByteArray(20000, 'a') + '\n'}) {
        QLocalSocket socket;
        socket.connectToServer(socketPath_);
        ASSERT_TRUE(socket.waitForConnected(5000));
        socket.write(bytes);
        socket.flush();
        waitUntil([&] { return socket.bytesToWrite() == 0; });
        for (int i = 0; i < 20; ++i) QCoreApplication::processEvents();
        socket.abort();
    }
    for (int i = 0; i < 20; ++i) QCoreApplication::processEvents();
    EXPECT_EQ(activations, 0);
    EXPECT_TRUE(first.listening());
}

// A later start given a project hands its path over with the marker (any bytes a name may hold); the
// running program is raised first, then asked to open it once the later start has its answer.
TEST_F(SingleInstanceTest, ALaterStartHandsOverTheProjectItWasGiven) {
    std::vector<QString> events;
    SingleInstance first(socketPath_);
    first.setOpenRequested([&](const QString& path) { events.push_back(QStringLiteral("open ") + path); });
    ASSERT_EQ(first.start([&] { events.push_back(QStringLiteral("raise")); }), SingleInstance::Role::Primary);
    const QString project = QFile::decodeName("/tmp/Sommer \xe9t\xe9 & <x>.kestrelle");
    QProcess& later = startProgram({project});
    ASSERT_TRUE(finished(later));
    EXPECT_EQ(later.exitCode(), 0);
    ASSERT_TRUE(waitUntil([&] { return events.size() == 2; }));
    EXPECT_EQ(events[0], QStringLiteral("raise"));
    EXPECT_EQ(events[1], QStringLiteral("open ") + project);
}

// Without a runtime folder the socket lies in a folder of our own in the temporary folder, never under
// a name shared with other users; a link in that place is refused.
class PrivateSocketFolderTest : public testing::TempHomeTest {
protected:
    void SetUp() override {
        TempHomeTest::SetUp();
        savedRuntime_ = qgetenv("XDG_RUNTIME_DIR");
        savedTemp_ = qgetenv("TMPDIR");
        qunsetenv("XDG_RUNTIME_DIR");
        fs::create_directories(path("tmp"));
        qputenv("TMPDIR", QByteArray::fromStdString(path("tmp")));
        folder_ = path("tmp/kestrelle-") + std::to_string(::getuid());
    }
    void TearDown() override {
        restore("XDG_RUNTIME_DIR", savedRuntime_);
        restore("TMPDIR", savedTemp_);
        TempHomeTest::TearDown();
    }
    static void restore(const char* name, const QByteArray& value) {
        if (value.isNull())
            qunsetenv(name);
        else
            qputenv(name, value);
    }

    QByteArray savedRuntime_;
    QByteArray savedTemp_;
    std::string folder_;
};

TEST_F(PrivateSocketFolderTest, WithoutARuntimeFolderTheSocketLiesInAPrivateFolder) {
    const std::string expected = folder_ + "/kestrelle-" + std::to_string(::getuid()) + ".socket";
    EXPECT_EQ(singleInstanceSocketPath().toStdString(), expected);
    struct stat info {};
    ASSERT_EQ(::lstat(folder_.c_str(), &info), 0);
    EXPECT_TRUE(S_ISDIR(info.st_mode));
    EXPECT_EQ(info.st_mode & 0777, 0700u);

    // A folder of ours left open to others is closed; a runtime folder open to others is not used.
    ASSERT_EQ(::chmod(folder_.c_str(), 0777), 0);
    EXPECT_EQ(singleInstanceSocketPath().toStdString(), expected);
    ASSERT_EQ(::lstat(folder_.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
    fs::create_directories(path("open-run"));
    ASSERT_EQ(::chmod(path("open-run").c_str(), 0777), 0);
    qputenv("XDG_RUNTIME_DIR", QByteArray::fromStdString(path("open-run")));
    EXPECT_EQ(singleInstanceSocketPath().toStdString(), expected);
    qunsetenv("XDG_RUNTIME_DIR");

    // A link in the folder's place, even to a private folder of ours, is refused: the program runs
    // unguarded rather than follow it.
    fs::remove_all(folder_);
    fs::create_directories(path("elsewhere"));
    ASSERT_EQ(::chmod(path("elsewhere").c_str(), 0700), 0);
    ASSERT_EQ(::symlink(path("elsewhere").c_str(), folder_.c_str()), 0);
    EXPECT_EQ(singleInstanceSocketPath(), QString());
    SingleInstance unguarded{QString()};
    EXPECT_EQ(unguarded.start({}), SingleInstance::Role::Primary);
    EXPECT_FALSE(unguarded.listening());
}

constexpr uid_t kOtherUser = 65534;

// A child process running as another user that listens on `socketPath` (creating `folder` first when
// it is not empty) until it is killed.
class ForeignListener {
public:
    ForeignListener(const std::string& socketPath, const std::string& folder = {}) {
        int ready[2];
        if (::pipe(ready) != 0) return;
        pid_ = ::fork();
        if (pid_ == 0) {
            // Only async-signal-safe calls from here on.
            ::close(ready[0]);
            const gid_t group = kOtherUser;
            if (::setgroups(1, &group) != 0 || ::setgid(kOtherUser) != 0 || ::setuid(kOtherUser) != 0)
                ::_exit(1);
            if (!folder.empty() && ::mkdir(folder.c_str(), 0777) != 0) ::_exit(1);
            const int listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
            sockaddr_un address{};
            address.sun_family = AF_UNIX;
            if (socketPath.size() >= sizeof address.sun_path) ::_exit(1);
            socketPath.copy(address.sun_path, socketPath.size());
            if (listener < 0 ||
                ::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
                ::chmod(socketPath.c_str(), 0777) != 0 || ::listen(listener, 8) != 0)
                ::_exit(1);
            const char byte = 'r';
            if (::write(ready[1], &byte, 1) != 1) ::_exit(1);
            for (;;) ::pause();
        }
        ::close(ready[1]);
        char byte = 0;
        listening_ = pid_ > 0 && ::read(ready[0], &byte, 1) == 1;
        ::close(ready[0]);
    }
    ~ForeignListener() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    ForeignListener(const ForeignListener&) = delete;
    ForeignListener& operator=(const ForeignListener&) = delete;

    bool listening() const { return listening_; }

private:
    pid_t pid_ = -1;
    bool listening_ = false;
};

// Another user's socket, lock file or folder where ours would be never ends a start (nor gets the
// marker): it is refused, and this start listens itself.
TEST_F(PrivateSocketFolderTest, AnotherUsersSocketLockOrFolderIsRefused) {
    if (::getuid() != 0) GTEST_SKIP() << "needs root to act as another user";
    // The other user may reach the test's folders.
    ASSERT_EQ(::chmod(root().c_str(), 0755), 0);
    const std::string shared = path("shared");
    fs::create_directories(shared);
    ASSERT_EQ(::chmod(shared.c_str(), 0777), 0);
    const std::string socketPath = shared + "/kestrelle-0.socket";
    const std::string lockPath = socketPath + ".lock";
    int activations = 0;
    {
        // Another user's socket, and a lock file naming this live process but owned by the other user.
        ForeignListener foreign(socketPath);
        ASSERT_TRUE(foreign.listening());
        ASSERT_TRUE(testing::writeFile(lockPath, std::to_string(::getpid()) + "\nKestrelle\n\n"));
        ASSERT_EQ(::chown(lockPath.c_str(), kOtherUser, kOtherUser), 0);
        SingleInstance first(QString::fromStdString(socketPath));
        EXPECT_EQ(first.start([&] { ++activations; }), SingleInstance::Role::Primary);
        EXPECT_TRUE(first.listening());
        EXPECT_FALSE(fs::exists(lockPath));
    }
    {
        // A socket file of ours, but the process listening on it is another user's.
        ForeignListener foreign(socketPath);
        ASSERT_TRUE(foreign.listening());
        ASSERT_EQ(::chown(socketPath.c_str(), ::getuid(), ::getgid()), 0);
        SingleInstance second(QString::fromStdString(socketPath));
        EXPECT_EQ(second.start([&] { ++activations; }), SingleInstance::Role::Primary);
        EXPECT_TRUE(second.listening());
        EXPECT_FALSE(second.acknowledged());
    }
    EXPECT_EQ(activations, 0);

    // Another user made the private folder's name first: it is not used.
    ASSERT_EQ(::chmod(path("tmp").c_str(), 0777), 0);
    ForeignListener squatter(folder_ + "/kestrelle-0.socket", folder_);
    ASSERT_TRUE(squatter.listening());
    EXPECT_EQ(singleInstanceSocketPath(), QString());
}

}  // namespace
}  // namespace kestrelle
