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

// The strip moves 2200 twips a second (about 147 pixels): 132 twips a tick, a tick every
// 60 ms. Every frame costs the display a round trip; more ticks of smaller steps would look
// hardly different and keep the processor from idling while the engine waits for a call.
constexpr int MarqueeStepTwips = 132;
constexpr int MarqueeTickMs = 60;

// One tick: both halves move left; a half that has left the frame entirely goes on right
// behind the other, so there is never a gap.
void MarqueeStep(MarqueeStrip& strip);

} // namespace tellaran
