#include "app/ui/main_window_dialogs.h"

#include "base/worker_thread.h"

#include <QMetaObject>
#include <QPointer>
#include <QProgressDialog>

namespace kestrelle {

void runWithProgress(QWidget* owner, const QString& text,
                     const std::function<void(std::stop_token stop, const ProgressReport& report)>& body) {
    QProgressDialog dialog(text, QStringLiteral("Cancel"), 0, 100, owner);
    dialog.setWindowTitle(QStringLiteral("Kestrelle"));
    dialog.setWindowModality(Qt::WindowModal);
    dialog.setMinimumDuration(400);
    dialog.setAutoClose(false);
    dialog.setAutoReset(false);
    dialog.setValue(0);

    WorkerThread worker;
    QPointer<QProgressDialog> shown(&dialog);
    const ProgressReport report = [shown](int percent) {
        // Queued to the dialog's thread; dropped once the dialog is gone.
        QMetaObject::invokeMethod(
            shown.data(),
            [shown, percent] {
                if (shown) shown->setValue(std::clamp(percent, 0, 99));
            },
            Qt::QueuedConnection);
    };
    bool ended = false;
    QObject::connect(&dialog, &QProgressDialog::canceled, &dialog, [&worker] { worker.requestStop(); });
    worker.start([&body, report](std::stop_token stop) { body(stop, report); }, &dialog,
                 [&dialog, &ended] {
                     ended = true;
                     dialog.done(0);
                 });
    if (!ended) dialog.exec();
    // Cancelled: the body sees its token between steps; input stays with nobody until it has returned.
    worker.waitForEnd(QEventLoop::ExcludeUserInputEvents);
}

}  // namespace kestrelle
