#include "config/data_folder.h"
#include "config/ui/qt_message_presenter.h"

#include "tests/support/temp_home.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <sys/stat.h>

#include <thread>

namespace kestrelle {
namespace {

class DataFolderTest : public testing::TempHomeTest {};

bool isFolder(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

TEST_F(DataFolderTest, CreatesBrightmoorAndTheNamedFolderOnce) {
    std::string first;
    ASSERT_TRUE(resolveDataFolder("Kestrelle", first));
    EXPECT_EQ(first, dataHome() + "/Brightmoor/Kestrelle");
    EXPECT_TRUE(isFolder(dataHome() + "/Brightmoor"));
    EXPECT_TRUE(isFolder(first));
    std::string second;
    ASSERT_TRUE(resolveDataFolder("Kestrelle", second));
    EXPECT_EQ(second, first);
}

TEST_F(DataFolderTest, FallsBackToHomeAndFailsWithoutAnyDataHome) {
    unsetenv("XDG_DATA_HOME");
    std::string folder;
    ASSERT_TRUE(resolveDataFolder("Kestrelle", folder));
    EXPECT_EQ(folder, root() + "/.local/share/Brightmoor/Kestrelle");

    setenv("HOME", "not/absolute", 1);
    std::string untouched = "unchanged";
    EXPECT_FALSE(resolveDataFolder("Kestrelle", untouched, DataFolderLogging::Silent));
    EXPECT_EQ(untouched, "unchanged");
}

TEST_F(DataFolderTest, AFileInTheWayIsAFailure) {
    ASSERT_TRUE(testing::writeFile(dataHome(), "a file where the data home should be"));
    std::string folder;
    EXPECT_FALSE(resolveDataFolder("Kestrelle", folder, DataFolderLogging::Silent));
}

TEST_F(DataFolderTest, FreeSpaceOfMissingOrEmptyPathIsZero) {
    EXPECT_GT(freeDiskBytes(root()), 0u);
    EXPECT_EQ(freeDiskBytes(root() + "/no/such/folder"), 0u);
    EXPECT_EQ(freeDiskBytes(""), 0u);
}

TEST(ProgramFolder, IsTheFolderOfTheRunningExecutable) {
    const std::string folder = programFolder();
    ASSERT_FALSE(folder.empty());
    EXPECT_NE(folder.back(), '/');
    struct stat info {};
    EXPECT_EQ(::stat((folder + "/test_config").c_str(), &info), 0);
}

// Answers the next message box with the button whose text is `answer`.
void pressWhenShown(const QString& answer) {
    QTimer::singleShot(50, [answer] {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            auto* box = qobject_cast<QMessageBox*>(widget);
            if (!box || !box->isVisible()) continue;
            EXPECT_EQ(box->windowTitle(), QStringLiteral("Kestrelle"));
            EXPECT_EQ(box->icon(), QMessageBox::Warning);
            for (QAbstractButton* button : box->buttons()) {
                if (button->text().remove(QLatin1Char('&')) == answer) button->click();
            }
            return;
        }
        pressWhenShown(answer);
    });
}

TEST(QtMessagePresenter, ReturnsOkYesAndNoFromTheGuiAndFromAWorker) {
    int argc = 1;
    char name[] = "test_config";
    char* argv[] = {name, nullptr};
    QApplication app(argc, argv);
    QtMessagePresenter presenter;

    pressWhenShown(QStringLiteral("Yes"));
    EXPECT_EQ(presenter.show("Overwrite?", MessageFlags::kWarningYesNo), MessageAnswer::kYes);
    pressWhenShown(QStringLiteral("No"));
    EXPECT_EQ(presenter.show("Overwrite?", MessageFlags::kWarningYesNo), MessageAnswer::kNo);
    pressWhenShown(QStringLiteral("OK"));
    EXPECT_EQ(presenter.show("Done", MessageFlags::kWarningOk), MessageAnswer::kOk);

    // A worker's question waits for the GUI thread's answer.
    int fromWorker = 0;
    std::thread worker([&] {
        fromWorker = presenter.show("From a worker?", MessageFlags::kWarningYesNo);
        QMetaObject::invokeMethod(&app, [] { QApplication::quit(); }, Qt::QueuedConnection);
    });
    pressWhenShown(QStringLiteral("No"));
    app.exec();
    worker.join();
    EXPECT_EQ(fromWorker, MessageAnswer::kNo);
}

}  // namespace
}  // namespace kestrelle
