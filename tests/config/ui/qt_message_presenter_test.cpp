#include "config/ui/qt_message_presenter.h"
#include "base/message_box.h"

#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kestrelle {
namespace {

// What the box showed, read while it is open; the box is then answered with `button`.
struct SeenBox {
    QString title;
    QString labelText;
    Qt::TextFormat labelFormat = Qt::AutoText;
    bool found = false;
};

SeenBox answerOpenBox(QMessageBox::StandardButton button) {
    SeenBox seen;
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box) return seen;
    seen.found = true;
    seen.title = box->windowTitle();
    if (auto* label = box->findChild<QLabel*>(QStringLiteral("qt_msgbox_label"))) {
        seen.labelText = label->text();
        seen.labelFormat = label->textFormat();
    }
    if (QAbstractButton* pressed = box->button(button)) pressed->click();
    return seen;
}

// Every message is plain text: file names and codec errors may hold "<" or "&" and must show as typed.
TEST(QtMessagePresenterTest, TextsWithMarkupShowLiterally) {
    const std::vector<std::string> texts = {"Cannot write <b>/tmp/a&b</b>", "x < y",
                                            "<img src=\"/nope\"> here", "plain line\nsecond line"};
    QtMessagePresenter presenter;
    for (const std::string& text : texts) {
        SCOPED_TRACE(text);
        SeenBox seen;
        QTimer::singleShot(0, [&seen] { seen = answerOpenBox(QMessageBox::Ok); });
        EXPECT_EQ(presenter.show(text, MessageFlags::kWarningOk), MessageAnswer::kOk);
        ASSERT_TRUE(seen.found);
        EXPECT_EQ(seen.title, QStringLiteral("Kestrelle"));
        EXPECT_EQ(seen.labelFormat, Qt::PlainText);
        EXPECT_EQ(seen.labelText.toStdString(), text);
    }
    SeenBox seen;
    QTimer::singleShot(0, [&seen] { seen = answerOpenBox(QMessageBox::Yes); });
    EXPECT_EQ(presenter.show("Replace <file>?", MessageFlags::kWarningYesNo), MessageAnswer::kYes);
    EXPECT_EQ(seen.labelFormat, Qt::PlainText);
}

// A question whose flags make No the default: Enter answers No; without that flag Enter answers Yes.
TEST(QtMessagePresenterTest, TheSecondButtonDefaultFlagMakesNoTheDefault) {
    QtMessagePresenter presenter;
    const auto pressEnter = [] {
        if (QWidget* box = QApplication::activeModalWidget()) QTest::keyClick(box, Qt::Key_Return);
    };
    QTimer::singleShot(0, pressEnter);
    EXPECT_EQ(presenter.show("Keep it?", MessageFlags::kWarningYesNoDefaultNo), MessageAnswer::kNo);
    QTimer::singleShot(0, pressEnter);
    EXPECT_EQ(presenter.show("Keep it?", MessageFlags::kWarningYesNo), MessageAnswer::kYes);
}

}  // namespace
}  // namespace kestrelle
