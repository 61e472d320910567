#pragma once

namespace tellaran {

// The info box's slide, counted in twips: 91 a tick out to 2730 and back to 0. The width is
// kept here exactly, so the slide stops where it should whatever the pixel rounding; the
// window only rounds it for display.
struct InfoBoxSlide
{
    static constexpr int StepTwips = 91;
    static constexpr int OpenWidthTwips = 2730;

    int width = 0;
    bool visible = false;
    // Only while fully open; the display advances only then.
    bool open = false;
    // Whether the opening (Timer1) and the closing (Timer2) slides run.
    bool opening = false;
    bool closing = false;
};

// Creation: an empty panel that starts opening by itself.
InfoBoxSlide NewInfoBoxSlide();
// Timer1's tick: visible and 91 twips wider; fully open at 2730. A close asked for meanwhile
// stops the opening.
void OpeningTick(InfoBoxSlide& slide);
// Timer2's tick: no longer open; 91 twips narrower, or hidden once at 0.
void ClosingTick(InfoBoxSlide& slide);
// The status window's info button: a visible panel closes (even while it still opens),
// a hidden one opens. `showdata` records what the user last asked for.
void ToggleInfoBox(InfoBoxSlide& slide, bool& showdata);

} // namespace tellaran
