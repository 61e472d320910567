#pragma once

#include <QString>

namespace tellaran {

// The about box's credits: a text taller than its viewport, scrolled up 10 twips a tick
// until its last line is 120 twips past the viewport's top; then the box closes itself.
struct CreditsScroll
{
    static constexpr int StepTwips = 10;
    static constexpr int CloseBelowTwips = -120;
    static constexpr int ViewportWidthTwips = 2655;
    static constexpr int ViewportHeightTwips = 855;
    static constexpr int TextWidthTwips = 2610;
    static constexpr int TextHeightTwips = 6500;

    int top = 0;
    int height = TextHeightTwips;
};

// One tick. Returns true when the credits have gone far enough for the box to close.
bool ScrollCredits(CreditsScroll& credits);

// The credits, each line ended by CR LF.
QString CreditsText();

} // namespace tellaran
