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
    QProcess& startProgram() {
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
        process->start(QCoreApplication::applicationDirPath() + QStringLiteral("/kestrelle"), {});
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
    for (const QByteArray& bytes : {QByteArray("10018\n"), QByteArray("10019"), QByteArray(4096, 'x')}) {
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

}  // namespace
}  // namespace kestrelle
