#pragma once

namespace tellaran {

// Window geometry is designed in twips; the screen counts pixels.
constexpr int TwipsPerPixel = 15;

constexpr int TwipsToPixels(int twips)
{
    // Rounded to the nearest pixel, halves away from zero, so that negative positions of
    // sliding pictures round like positive ones.
    return twips >= 0 ? (twips + TwipsPerPixel / 2) / TwipsPerPixel
                      : -((-twips + TwipsPerPixel / 2) / TwipsPerPixel);
}

constexpr int PixelsToTwips(int pixels)
{
    return pixels * TwipsPerPixel;
}

} // namespace tellaran
