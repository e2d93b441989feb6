#include "config/ui/qt_message_presenter.h"
#include "base/message_box.h"

#include <QApplication>
#include <QMessageBox>
#include <QMetaObject>
#include <QThread>

namespace kestrelle {

namespace {

int showOnGuiThread(const QString& text, unsigned flags) {
    QMessageBox box(QApplication::activeWindow());
    box.setWindowTitle(QStringLiteral("Kestrelle"));
    // Messages carry file names and codec texts: "<" or "&" in them must show as typed, never as mark-up.
    box.setTextFormat(Qt::PlainText);
    box.setText(text);
    box.setIcon((flags & 0xF0) == 0x30   ? QMessageBox::Warning
                : (flags & 0xF0) == 0x10 ? QMessageBox::Critical
                : (flags & 0xF0) == 0x20 ? QMessageBox::Question
                : (flags & 0xF0) == 0x40 ? QMessageBox::Information
                                         : QMessageBox::NoIcon);
    const bool yesNo = (flags & 0x0F) == 0x04;
    box.setStandardButtons(yesNo ? (QMessageBox::Yes | QMessageBox::No) : QMessageBox::Ok);
    if (yesNo) {
        const bool noDefault = (flags & 0xF00) == MessageFlags::kSecondButtonDefault;
        box.setDefaultButton(noDefault ? QMessageBox::No : QMessageBox::Yes);
    }
    const int pressed = box.exec();
    if (!yesNo) return MessageAnswer::kOk;
    return pressed == QMessageBox::Yes ? MessageAnswer::kYes : MessageAnswer::kNo;
}

}  // namespace

int QtMessagePresenter::show(const std::string& text, unsigned flags) {
    const QString message = QString::fromStdString(text);
    QCoreApplication* app = QCoreApplication::instance();
    if (!app || QThread::currentThread() == app->thread()) return showOnGuiThread(message, flags);
    int answer = MessageAnswer::kOk;
    QMetaObject::invokeMethod(
        app, [&] { answer = showOnGuiThread(message, flags); }, Qt::BlockingQueuedConnection);
    return answer;
}

}  // namespace kestrelle
