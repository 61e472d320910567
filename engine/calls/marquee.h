#pragma once

namespace tellaran {

// The answer window's scrolling strip: two halves showing the same picture side by side,
// positions in twips relative to the strip's frame.
struct MarqueeStrip
{
    int image6Left = 0;
    int image7Left = 1815;
    int image6Width = 1815;
    int image7Width = 1815;
};

constexpr int MarqueeStepTwips = 33;

// One tick: both halves move left; a half that has just left the frame entirely jumps
// behind the other. With 1815-twip halves that happens every 55 ticks, with no gap.
void MarqueeStep(MarqueeStrip& strip);

} // namespace tellaran
