#include "app/ui/shutdown_countdown_dialog.h"

#include "config/ui/dialog_units.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QStyle>

namespace kestrelle {

namespace {

QString secondsText(int seconds) {
    return QStringLiteral("%1 seconds to shut down computer.").arg(seconds);
}

}  // namespace

ShutdownCountdownDialog::ShutdownCountdownDialog(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Shutting Down"));
    setModal(true);
    const DialogUnitScale units(font());

    // The picture place of the layout shows the usual warning icon.
    auto* icon = new QLabel(this);
    const int iconSize = std::min(units.x(33), units.y(40));
    icon->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxWarning).pixmap(iconSize, iconSize));
    icon->setGeometry(units.rect(11, 6, 33, 40));
    icon->setAlignment(Qt::AlignCenter);

    countdownLabel_ = new QLabel(secondsText(kStartSeconds), this);
    countdownLabel_->setGeometry(units.rect(55, 8, 154, 10));
    auto* nowHint = new QLabel(QStringLiteral("You can press 'Now' to shut down now,"), this);
    nowHint->setGeometry(units.rect(55, 20, 154, 10));
    auto* abortHint = new QLabel(QStringLiteral("or press 'Abort' to abort."), this);
    abortHint->setGeometry(units.rect(55, 32, 154, 10));

    nowButton_ = new QPushButton(QStringLiteral("Now"), this);
    nowButton_->setGeometry(units.rect(7, 54, 50, 14));
    nowButton_->setDefault(true);
    abortButton_ = new QPushButton(QStringLiteral("Abort"), this);
    abortButton_->setGeometry(units.rect(159, 54, 50, 14));
    connect(nowButton_, &QPushButton::clicked, this, &QDialog::accept);
    connect(abortButton_, &QPushButton::clicked, this, &QDialog::reject);
    setTabOrder(nowButton_, abortButton_);
    setFixedSize(units.x(216), units.y(75));

    timer_.setInterval(1000);
    connect(&timer_, &QTimer::timeout, this, &ShutdownCountdownDialog::tick);
    timer_.start();
}

QString ShutdownCountdownDialog::countdownText() const {
    return countdownLabel_->text();
}

void ShutdownCountdownDialog::tick() {
    --counter_;
    if (counter_ < 0) {
        timer_.stop();
        accept();
        return;
    }
    countdownLabel_->setText(secondsText(counter_));
    update();
}

}  // namespace kestrelle
