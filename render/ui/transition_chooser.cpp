#include "render/ui/transition_chooser.h"

#include "config/ui/dialog_units.h"
#include "render/ui/transition_icons.h"

#include <QApplication>
#include <QEnterEvent>
#include <QFontMetrics>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPointer>
#include <QStyleOptionFocusRect>

#include <algorithm>

namespace kestrelle {
namespace {

// The button pitch and the first button's corner, in pixels.
constexpr int kButtonPitchX = 39;
constexpr int kButtonPitchY = 31;
constexpr int kButtonMargin = 4;
constexpr int kButtonsPerRow = 10;

// The chooser's own sleeper: the real clock, cut short when the window closes.
class WakeableSleeper final : public StoppableSleeper {
public:
    void sleepMs(int milliseconds) override { sleeper_.sleepMs(milliseconds); }
    void interrupt() override { sleeper_.interrupt(); }

private:
    InterruptibleSleeper sleeper_;
};

}  // namespace

// Hands each sample step to the view on the UI thread (queued); steps after the stop are dropped.
class TransitionChooser::ViewPresenter final : public FramePresenter {
public:
    explicit ViewPresenter(SampleView* view) : view_(view) {}
    // Both are set before the sample thread starts.
    void setDevicePixelRatio(qreal ratio) { ratio_ = ratio; }
    void setSampler(const TransitionSampler* sampler) { sampler_ = sampler; }

    void present(const QImage& picture, int, int) override {
        if (!sampler_ || sampler_->stopRequested()) {
            return;
        }
        QImage copy = picture.copy();
        copy.setDevicePixelRatio(ratio_);
        SampleView* view = view_;
        // The view outlives the thread (the chooser joins it first), so it is safe as the context.
        QMetaObject::invokeMethod(
            view, [view, copy] { view->showPicture(copy); }, Qt::QueuedConnection);
    }

private:
    SampleView* view_;
    qreal ratio_ = 1.0;
    const TransitionSampler* sampler_ = nullptr;
};

std::optional<int> chooseTransition(QWidget* parent, const SampleSource& source) {
    TransitionChooser chooser(parent, source);
    chooser.exec();
    if (!chooser.chosen()) {
        return std::nullopt;
    }
    return chooser.hoveredStyle();
}

// ---- TransitionButton

TransitionButton::TransitionButton(int effect, TransitionChooser& chooser, QWidget* parent)
    : QAbstractButton(parent), effect_(effect), chooser_(chooser) {
    setFixedSize(kTransitionIconSize);
    setFocusPolicy(Qt::StrongFocus);
    setCursor(Qt::ArrowCursor);
    const QString title = transitionEffectTitle(effect);
    setAccessibleName(title);
    setToolTip(title);
    connect(this, &QAbstractButton::clicked, this, [this] { chooser_.choose(effect_); });
}

QSize TransitionButton::sizeHint() const {
    return kTransitionIconSize;
}

void TransitionButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    paintTransitionIcon(painter, QRectF(QPointF(0, 0), QSizeF(kTransitionIconSize)), effect_);
    // Pointed at, pressed or focused: a ring in the highlight colour over the icon's own frame.
    if (tracking_ || isDown() || hasFocus()) {
        painter.setPen(QPen(palette().color(QPalette::Highlight), 2));
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(QRectF(1, 1, width() - 2, height() - 2));
    }
    if (hasFocus()) {
        QStyleOptionFocusRect option;
        option.initFrom(this);
        option.rect = rect().adjusted(3, 3, -3, -3);
        style()->drawPrimitive(QStyle::PE_FrameFocusRect, &option, &painter, this);
    }
}

void TransitionButton::enterEvent(QEnterEvent* event) {
    QAbstractButton::enterEvent(event);
    if (!tracking_) {
        tracking_ = true;
        chooser_.pointAt(effect_);
        update();
    }
}

void TransitionButton::leaveEvent(QEvent* event) {
    QAbstractButton::leaveEvent(event);
    // The hovered effect keeps playing after the pointer has left.
    tracking_ = false;
    update();
}

void TransitionButton::focusInEvent(QFocusEvent* event) {
    QAbstractButton::focusInEvent(event);
    // Keyboard users see the sample of the button they move to (not of the one focused on opening).
    if (event->reason() == Qt::TabFocusReason || event->reason() == Qt::BacktabFocusReason) {
        chooser_.pointAt(effect_);
    }
}

void TransitionButton::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
        case Qt::Key_Left:
            chooser_.focusButton(effect_ - 1);
            return;
        case Qt::Key_Right:
            chooser_.focusButton(effect_ + 1);
            return;
        case Qt::Key_Up:
            chooser_.focusButton(effect_ - kButtonsPerRow);
            return;
        case Qt::Key_Down:
            chooser_.focusButton(effect_ + kButtonsPerRow);
            return;
        case Qt::Key_Return:
        case Qt::Key_Enter:
            click();
            return;
        default:
            QAbstractButton::keyPressEvent(event);
    }
}

// ---- SampleView

SampleView::SampleView(QWidget* parent) : QFrame(parent) {
    setFrameStyle(QFrame::Panel | QFrame::Sunken);
    setLineWidth(1);
    setAutoFillBackground(false);
    setAccessibleName(QStringLiteral("Sample"));
}

void SampleView::showPicture(const QImage& picture) {
    picture_ = picture;
    update(contentsRect());
}

void SampleView::paintEvent(QPaintEvent* event) {
    {
        QPainter painter(this);
        const QRect inside = contentsRect();
        painter.fillRect(inside, Qt::black);
        if (!picture_.isNull()) {
            painter.drawImage(inside.topLeft(), picture_);
        }
    }
    QFrame::paintEvent(event);
}

// ---- TransitionChooser

TransitionChooser::TransitionChooser(QWidget* parent, SampleSource source, StoppableSleeper* sleeper)
    : QDialog(parent), source_(std::move(source)), sleeper_(sleeper) {
    setWindowTitle(QStringLiteral("Choose Transition"));
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    if (!sleeper_) {
        ownSleeper_ = std::make_unique<WakeableSleeper>();
        sleeper_ = ownSleeper_.get();
    }

    const DialogUnitScale units(font());
    // Every button must fit, whatever the font: the first row needs ten pitches.
    const int buttonsWidth = kButtonsPerRow * kButtonPitchX + kButtonMargin;
    const int width = std::max(units.x(260), buttonsWidth + 4);
    const int height = units.y(144);

    // Random first, then the effects in registry order.
    const int count = 1 + static_cast<int>(TransitionRegistry::instance().styles().size());
    for (int k = 0; k < count; ++k) {
        const int effect =
            k == 0 ? 0 : TransitionRegistry::instance().styles()[static_cast<std::size_t>(k - 1)]->number();
        auto* button = new TransitionButton(effect, *this, this);
        button->move((k % kButtonsPerRow) * kButtonPitchX + kButtonMargin,
                     (k / kButtonsPerRow) * kButtonPitchY + kButtonMargin);
        buttons_.push_back(button);
    }
    for (std::size_t i = 1; i < buttons_.size(); ++i) {
        setTabOrder(buttons_[i - 1], buttons_[i]);
    }

    // Below the two rows of buttons, whatever the font.
    const int buttonsBottom = 2 * kButtonPitchY + kButtonMargin + 6;
    QRect group = units.rect(3, 76, 253, 64);
    group.setWidth(width - 2 * group.left());
    if (group.top() < buttonsBottom) {
        group.moveTop(buttonsBottom);
    }
    auto* box = new QGroupBox(this);
    box->setGeometry(group);
    QRect sample = units.rect(6, 83, 75, 54);
    sample.translate(0, group.top() - units.y(76));
    sampleView_ = new SampleView(this);
    sampleView_->setGeometry(sample);
    // The name of the effect playing, beside the sample.
    effectName_ = new QLabel(transitionEffectTitle(0), this);
    effectName_->setGeometry(sample.right() + units.x(6), sample.top(),
                             group.right() - sample.right() - units.x(10), QFontMetrics(font()).height() + 4);
    const int bottom = std::max(height, group.bottom() + units.y(4));
    setFixedSize(width, bottom);

    presenter_ = std::make_unique<ViewPresenter>(sampleView_);
    sampler_ =
        std::make_unique<TransitionSampler>(source_, sample.width(), sample.height(), *presenter_, *sleeper_);
    presenter_->setSampler(sampler_.get());
}

TransitionChooser::~TransitionChooser() {
    stopSampling();
}

TransitionButton* TransitionChooser::button(int effect) const {
    for (TransitionButton* b : buttons_) {
        if (b->effect() == effect) {
            return b;
        }
    }
    return nullptr;
}

void TransitionChooser::pointAt(int effect) {
    sampler_->setHoveredStyle(effect);
    effectName_->setText(transitionEffectTitle(effect));
}

void TransitionChooser::choose(int effect) {
    sampler_->setHoveredStyle(effect);
    chosen_ = true;
    accept();
}

void TransitionChooser::focusButton(int effect) {
    if (TransitionButton* target = button(effect)) {
        target->setFocus(Qt::TabFocusReason);
    }
}

void TransitionChooser::done(int result) {
    // A second close (Escape, or the deactivation that hiding causes) while closing changes nothing.
    if (closing_) {
        return;
    }
    closing_ = true;
    stopSampling();
    QDialog::done(result);
    closing_ = false;
}

void TransitionChooser::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    startSampling();
}

void TransitionChooser::changeEvent(QEvent* event) {
    QDialog::changeEvent(event);
    if (event->type() != QEvent::ActivationChange) {
        return;
    }
    if (isActiveWindow()) {
        wasActive_ = true;
    } else if (wasActive_ && isVisible() && !closing_) {
        // Clicking into another window closes the chooser without a choice.
        reject();
    }
}

void TransitionChooser::startSampling() {
    if (worker_.active() || stopping_ || sampler_->stopRequested()) {
        return;
    }
    // The frame's size is measured once, in device pixels so the sample is sharp on high-DPI screens.
    const qreal ratio = sampleView_->devicePixelRatioF();
    const QSize size = sampleView_->contentsRect().size() * ratio;
    presenter_->setDevicePixelRatio(ratio);
    sampler_->setSize(size.width(), size.height());
    TransitionSampler* running = sampler_.get();
    StoppableSleeper* sleeper = sleeper_;
    worker_.start([running, sleeper](std::stop_token stop) {
        // A stop ends the loop before its next run and wakes the step waiting in the sleeper.
        std::stop_callback stopSample(stop, [running, sleeper] {
            running->requestStop();
            sleeper->interrupt();
        });
        running->run();
    });
}

void TransitionChooser::stopSampling() {
    if (stopping_ || !worker_.active()) {
        return;
    }
    stopping_ = true;
    worker_.requestStop();
    // The run in progress ends quickly once woken; events keep being handled meanwhile.
    worker_.waitForEnd();
    stopping_ = false;
}

}  // namespace kestrelle
