#include "engine/calls/marquee.h"

namespace tellaran {

void MarqueeStep(MarqueeStrip& strip)
{
    strip.image6Left -= MarqueeStepTwips;
    strip.image7Left -= MarqueeStepTwips;
    if (strip.image6Left <= -strip.image6Width)
        strip.image6Left = strip.image7Left + strip.image7Width;
    if (strip.image7Left <= -strip.image7Width)
        strip.image7Left = strip.image6Left + strip.image6Width;
}

} // namespace tellaran
