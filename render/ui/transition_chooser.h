#pragma once
// "Choose Transition": thirteen icon buttons (random, then the twelve effects in registry order) and a
// sample frame that plays the effect last pointed at, over and over. A click on a button chooses its
// effect; Escape, the close box and clicking into another window close without a choice.
//
// Openers use chooseTransition() with what the sample plays:
//   - the configuration dialog, for the default effect: chooseTransition(this, {}) plays black into white;
//   - the storyboard, for one slide: chooseTransition(this, sampleSourceFor(&project, slide)) plays the
//     slide's photo into the next one (into black after the last).

#include "base/worker_thread.h"
#include "render/transition_sampler.h"

#include <QAbstractButton>
#include <QDialog>
#include <QFrame>
#include <QImage>

#include <memory>
#include <optional>
#include <vector>

class QLabel;

namespace kestrelle {

class TransitionChooser;

// Runs the chooser modally, sampling `source`. Returns the chosen effect number (0 = random), or none
// when the window was closed without a choice.
std::optional<int> chooseTransition(QWidget* parent, const SampleSource& source);

// A sleeper the chooser can wake when it closes.
class StoppableSleeper : public Sleeper {
public:
    virtual void interrupt() = 0;
};

// One 31 x 23 icon button of the chooser.
class TransitionButton final : public QAbstractButton {
    Q_OBJECT
public:
    TransitionButton(int effect, TransitionChooser& chooser, QWidget* parent);
    int effect() const { return effect_; }
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    const int effect_;
    TransitionChooser& chooser_;
    bool tracking_ = false;
};

// The black sunken frame showing the sample's latest picture.
class SampleView final : public QFrame {
    Q_OBJECT
public:
    explicit SampleView(QWidget* parent);
    // Shows a picture (with its device pixel ratio) from now on.
    void showPicture(const QImage& picture);
    const QImage& picture() const { return picture_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QImage picture_;
};

class TransitionChooser final : public QDialog {
    Q_OBJECT
public:
    // The sample thread starts when the window is first shown. `sleeper` (for tests) replaces the real
    // clock between sample steps; it must outlive the chooser.
    TransitionChooser(QWidget* parent, SampleSource source, StoppableSleeper* sleeper = nullptr);
    ~TransitionChooser() override;

    // True once a button was clicked; hoveredStyle() is then the effect chosen.
    bool chosen() const { return chosen_; }
    // The effect last pointed at (0, random, when the window opens).
    int hoveredStyle() const { return sampler_->hoveredStyle(); }

    // The button of effect 0..12, or null.
    TransitionButton* button(int effect) const;
    SampleView* sampleView() const { return sampleView_; }
    // Whether the sample thread is running.
    bool sampling() const { return worker_.active(); }

    // Called by the buttons.
    void pointAt(int effect);
    void choose(int effect);
    // Moves the keyboard focus to the button of `effect`, when there is one.
    void focusButton(int effect);

    // Closes the window: stops the sample thread and waits for it while events keep being handled.
    void done(int result) override;

protected:
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void startSampling();
    void stopSampling();

    class ViewPresenter;

    std::vector<TransitionButton*> buttons_;
    SampleView* sampleView_ = nullptr;
    QLabel* effectName_ = nullptr;
    SampleSource source_;
    std::unique_ptr<StoppableSleeper> ownSleeper_;
    StoppableSleeper* sleeper_ = nullptr;
    std::unique_ptr<ViewPresenter> presenter_;
    std::unique_ptr<TransitionSampler> sampler_;
    WorkerThread worker_;
    bool chosen_ = false;
    bool wasActive_ = false;
    bool stopping_ = false;
    bool closing_ = false;
};

}  // namespace kestrelle
