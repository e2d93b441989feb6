// The desktop application.

#include "config/ui/qt_message_presenter.h"

#include <QApplication>
#include <QWidget>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    kestrelle::QtMessagePresenter presenter;
    kestrelle::setMessagePresenter(&presenter);

    QWidget window;
    window.setWindowTitle(QStringLiteral("Kestrelle"));
    window.resize(1024, 700);
    window.show();
    const int status = app.exec();
    kestrelle::setMessagePresenter(nullptr);
    return status;
}
