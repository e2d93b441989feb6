#include "base/message_box.h"
#include "config/ui/qt_message_presenter.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <thread>

namespace kestrelle {
namespace {

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
        QMetaObject::invokeMethod(
            &app, [] { QApplication::quit(); }, Qt::QueuedConnection);
    });
    pressWhenShown(QStringLiteral("No"));
    app.exec();
    worker.join();
    EXPECT_EQ(fromWorker, MessageAnswer::kNo);
}

}  // namespace
}  // namespace kestrelle
