#include "engine/windows/infoboxslide.h"

namespace tellaran {

InfoBoxSlide NewInfoBoxSlide()
{
    InfoBoxSlide slide;
    slide.opening = true;
    return slide;
}

void OpeningTick(InfoBoxSlide& slide)
{
    slide.visible = true;
    slide.width += InfoBoxSlide::StepTwips;
    if (slide.width >= InfoBoxSlide::OpenWidthTwips) {
        slide.width = InfoBoxSlide::OpenWidthTwips;
        slide.opening = false;
        slide.open = true;
    } else if (slide.closing) {
        slide.opening = false;
    }
}

void ClosingTick(InfoBoxSlide& slide)
{
    slide.open = false;
    if (slide.width <= 0) {
        slide.width = 0;
        slide.closing = false;
        slide.visible = false;
    } else {
        slide.width =
            slide.width > InfoBoxSlide::StepTwips ? slide.width - InfoBoxSlide::StepTwips : 0;
    }
}

void ToggleInfoBox(InfoBoxSlide& slide, bool& showdata)
{
    if (slide.visible) {
        slide.closing = true;
        showdata = false;
    } else {
        showdata = true;
        slide.opening = true;
    }
}

} // namespace tellaran
