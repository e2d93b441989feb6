#pragma once
// The twelve transition effects. Each is a step plan: how many steps it takes and which rectangles of the
// next picture it copies onto the current one at each step. W and H are the canvas's size, N the step
// target (frames in a video, steps on screen), n = N rounded with halves going down.

#include "render/transition_style.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace kestrelle {

// The effects in registry order, numbers 1..12.
std::vector<std::unique_ptr<const TransitionStyle>> makeTransitionEffects();

// The spiral's block arithmetic for a W x H canvas and step target N.
struct SpiralPlan {
    int blockSide = 0;         // q = max(4, trunc(W / N))
    int columns = 0;           // u = W div q
    int rows = 0;              // v = H div q
    int rings = 0;             // (v + 1) div 2
    std::int64_t blocks = 0;   // blocks of all rings, repeated blocks included
    std::int64_t perStep = 0;  // blocks per step: blocks div n (0: every block ends a step)
    std::int64_t steps = 0;    // steps the run takes (0 when n is 0)
};
SpiralPlan spiralPlan(int width, int height, double target);

// Positions of the two diagonal effects: 0, d, 2d, ... below max(W, H), d = max(2, max(W, H) / N).
std::vector<double> diagonalPositions(int width, int height, double target);

#define KESTRELLE_DECLARE_EFFECT(Name, Number)                              \
    class Name final : public TransitionStyle {                             \
    public:                                                                 \
        Name() : TransitionStyle(Number) {}                                 \
        const char* name() const override { return #Name; }                 \
                                                                            \
    protected:                                                              \
        void drawSteps(QImage& canvas, const QImage& source, double target, \
                       const StepEnd& endStep) const override;              \
    };

// Slides the right-hand part of the next picture in at the left edge.
KESTRELLE_DECLARE_EFFECT(SlideInFromLeft, 1)
// One column in every 20-pixel band per step.
KESTRELLE_DECLARE_EFFECT(VerticalLineBlinds, 2)
// One row in every 20-pixel band per step.
KESTRELLE_DECLARE_EFFECT(HorizontalLineBlinds, 3)
// A strip in place, moving from the right edge to the left.
KESTRELLE_DECLARE_EFFECT(WipeFromRight, 4)
// 50 square blocks at random cells of a grid per step.
KESTRELLE_DECLARE_EFFECT(RandomBlocks, 5)
// Square blocks along a clockwise inward spiral, several per step.
KESTRELLE_DECLARE_EFFECT(SpiralBlocks, 6)
// A strip in place, moving from the left edge to the right.
KESTRELLE_DECLARE_EFFECT(WipeFromLeft, 7)
// Slides the left-hand part of the next picture in at the right edge.
KESTRELLE_DECLARE_EFFECT(SlideInFromRight, 8)
// Slides the bottom part of the next picture in at the top edge.
KESTRELLE_DECLARE_EFFECT(SlideInFromTop, 9)
// Slides the top part of the next picture in at the bottom edge.
KESTRELLE_DECLARE_EFFECT(SlideInFromBottom, 10)
// A growing square holding the next picture's bottom-right corner, at the top-left.
KESTRELLE_DECLARE_EFFECT(DiagonalFromTopLeft, 11)
// A growing square holding the next picture's top-right corner, at the bottom-left.
KESTRELLE_DECLARE_EFFECT(DiagonalFromBottomLeft, 12)

#undef KESTRELLE_DECLARE_EFFECT

}  // namespace kestrelle
