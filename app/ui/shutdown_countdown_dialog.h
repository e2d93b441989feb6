#pragma once
// "Shutting Down": counts 60 seconds down before the computer is powered off. Accepted ("Now", or the
// countdown running out) means power off now; rejected ("Abort", Escape, the close box) means abort.

#include <QDialog>
#include <QTimer>

class QLabel;
class QPushButton;

namespace kestrelle {

class ShutdownCountdownDialog : public QDialog {
    Q_OBJECT

public:
    static constexpr int kStartSeconds = 60;

    explicit ShutdownCountdownDialog(QWidget* parent = nullptr);

    int secondsLeft() const { return counter_; }
    QString countdownText() const;

    // Stops the one-second timer, so that only tick() moves the countdown (tests, the gallery).
    void stopTimer() { timer_.stop(); }

public Q_SLOTS:
    // One second has passed: the counter goes down by one; below 0 the dialog closes as accepted,
    // otherwise the text shows the seconds left.
    void tick();

private:
    int counter_ = kStartSeconds;
    QTimer timer_;
    QLabel* countdownLabel_ = nullptr;
    QPushButton* nowButton_ = nullptr;
    QPushButton* abortButton_ = nullptr;
};

}  // namespace kestrelle
