// The autosave survives a kill: the real program, started as a child on the offscreen platform with its
// own home and no D-Bus, opens a project named on its command line, makes a change, autosaves it to the
// data folder, is killed with SIGKILL, and offers the slideshow back at its next start. A second start
// with a project path hands it to the running program.

#include "project/project_file.h"
#include "tests/support/temp_home.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QImage>
#include <QProcess>
#include <QThread>

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>

#include <unistd.h>

namespace kestrelle {
namespace {

namespace fs = std::filesystem;

// Processes events until `done` holds; false after a generous limit (a guard against a hang).
bool waitUntil(const std::function<bool()>& done) {
    QDeadlineTimer deadline(30000);
    while (!done()) {
        if (deadline.hasExpired()) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(10);
    }
    return true;
}

class AutosaveAfterKillTest : public testing::TempHomeTest {
protected:
    void TearDown() override {
        for (auto& process : processes_) {
            if (process->state() != QProcess::NotRunning) {
                process->kill();
                process->waitForFinished(5000);
            }
        }
        TempHomeTest::TearDown();
    }

    QProcess& startProgram(const QStringList& arguments, bool editAtStart) {
        auto process = std::make_unique<QProcess>();
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        const QString runtime = QString::fromStdString(path("run"));
        fs::create_directories(runtime.toStdString());
        fs::permissions(runtime.toStdString(), fs::perms::owner_all, fs::perm_options::replace);
        environment.insert(QStringLiteral("HOME"), QString::fromStdString(root()));
        environment.insert(QStringLiteral("XDG_DATA_HOME"), QString::fromStdString(dataHome()));
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), QString::fromStdString(path("config")));
        environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"),
                           QStringLiteral("unix:path=/nonexistent/bus"));
        environment.insert(QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS"),
                           QStringLiteral("unix:path=/nonexistent/bus"));
        environment.insert(QStringLiteral("KESTRELLE_AUTOSAVE_DELAY_MS"), QStringLiteral("50"));
        if (editAtStart)
            environment.insert(QStringLiteral("KESTRELLE_TEST_EDIT_AT_START"), QStringLiteral("1"));
        process->setProcessEnvironment(environment);
        process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process->start(QCoreApplication::applicationDirPath() + QStringLiteral("/kestrelle"), arguments);
        processes_.push_back(std::move(process));
        return *processes_.back();
    }
    // A project of two photos whose stills last 9.5 s (not the default: applying the defaults changes it).
    std::string makeProject(const std::string& name) {
        ProjectDocument document;
        for (const char* photo : {"one.png", "two.png"}) {
            QImage picture(40, 30, QImage::Format_RGB32);
            picture.fill(Qt::darkRed);
            EXPECT_TRUE(picture.save(QString::fromStdString(path(photo))));
            SlideContent slide;
            slide.photoPath = path(photo);
            slide.slideDuration = 9.5;
            document.content.slides.push_back(slide);
        }
        const std::string file = path(name);
        std::string message;
        EXPECT_TRUE(writeProjectFile(file, document, &message)) << message;
        return file;
    }
    std::string runLog() const { return testing::readFile(dataFolder() + "/run.log"); }
    std::string autosavePath() const { return dataFolder() + "/autosave.kestrelle"; }

    std::vector<std::unique_ptr<QProcess>> processes_;
};

TEST_F(AutosaveAfterKillTest, AKilledProgramOffersItsSlideshowBackAtTheNextStart) {
    const std::string project = makeProject("show.kestrelle");
    QProcess& first = startProgram({QString::fromStdString(project)}, true);
    ASSERT_TRUE(
        waitUntil([&] { return fs::exists(autosavePath()) || first.state() == QProcess::NotRunning; }));
    ASSERT_EQ(first.state(), QProcess::Running);
    EXPECT_NE(runLog().find("Open project " + project), std::string::npos);
    // The change is in the autosave, and the user's own file is untouched.
    ASSERT_TRUE(waitUntil([&] { return readProjectFile(autosavePath()).error == ProjectFileError::Ok; }));
    const ProjectReadResult autosaved = readProjectFile(autosavePath());
    ASSERT_EQ(autosaved.document.content.slides.size(), 2u);
    EXPECT_NE(autosaved.document.content.slides[0].slideDuration, 9.5);
    EXPECT_EQ(readProjectFile(project).document.content.slides[0].slideDuration, 9.5);

    first.kill();
    ASSERT_TRUE(waitUntil([&] { return first.state() == QProcess::NotRunning; }));
    ASSERT_TRUE(fs::exists(autosavePath())) << "a kill leaves the autosave behind";

    QProcess& next = startProgram({}, false);
    ASSERT_TRUE(waitUntil([&] {
        return runLog().find("offering to restore it") != std::string::npos ||
               next.state() == QProcess::NotRunning;
    }));
    EXPECT_EQ(next.state(), QProcess::Running) << "the question waits for the user";
    next.kill();
    ASSERT_TRUE(waitUntil([&] { return next.state() == QProcess::NotRunning; }));
}

TEST_F(AutosaveAfterKillTest, ALaterStartHandsItsProjectToTheRunningProgram) {
    const std::string project = makeProject("handed.kestrelle");
    QProcess& first = startProgram({}, false);
    ASSERT_TRUE(waitUntil(
        [&] { return fs::exists(path("run/kestrelle-" + std::to_string(::getuid()) + ".socket")); }));
    QProcess& second = startProgram({QString::fromStdString(project)}, false);
    ASSERT_TRUE(waitUntil([&] { return second.state() == QProcess::NotRunning; }));
    EXPECT_EQ(second.exitCode(), 0);
    ASSERT_TRUE(waitUntil([&] { return runLog().find("Open project " + project) != std::string::npos; }));
    EXPECT_EQ(first.state(), QProcess::Running);
    // Asked to end, it closes normally: nothing changed, so no autosave is left.
    first.terminate();
    ASSERT_TRUE(waitUntil([&] { return first.state() == QProcess::NotRunning; }));
    EXPECT_EQ(first.exitCode(), 0);
    EXPECT_FALSE(fs::exists(autosavePath()));
}

}  // namespace
}  // namespace kestrelle
