#pragma once
// The skin colours every panel draws with (built from the [Look] settings by LoadSkin), and the
// colour type the drawing calls take.
#include <cstdint>

// One colour as the drawing layer takes it: red, green, blue and alpha, each 0..1.
struct Color {
  float r = 0, g = 0, b = 0, a = 1;
};

// A skin colour (0xRRGGBB; bits above 24 are ignored) with the given opacity.
constexpr Color ColorOf(uint32_t rgb, float alpha = 1.0f) {
  return Color{static_cast<float>((rgb >> 16) & 0xFF) / 255.0f, static_cast<float>((rgb >> 8) & 0xFF) / 255.0f,
               static_cast<float>(rgb & 0xFF) / 255.0f, alpha};
}

// The 21 skin colours, each 0xRRGGBB. The first 17 are the base colours, the last four the
// deck colours. Field order is the skin file's line order (see SkinColourKeys).
struct Palette {
  uint32_t Background, Panel, Panel2, Panel3, Border;
  uint32_t Text, Dim, Faint;
  uint32_t WaveBg, WaveLow, WaveMid, WaveHigh;
  uint32_t Green, Yellow, Red, Purple, Pink;
  uint32_t DeckA, DeckB, DeckC, DeckD;

  bool operator==(const Palette&) const = default;
};

constexpr int kPaletteColours = 21;
constexpr int kPaletteBaseColours = 17;
static_assert(sizeof(Palette) == kPaletteColours * sizeof(uint32_t), "Palette must be 21 packed colours");

// The "Veldmix" skin with the CLASSIC deck colours: the palette before any skin is applied.
inline constexpr Palette kDefaultPalette{
    .Background = 0x07080C,
    .Panel = 0x13161D,
    .Panel2 = 0x1D2029,
    .Panel3 = 0x282C37,
    .Border = 0x272C38,
    .Text = 0xEEF1F8,
    .Dim = 0x8C93A6,
    .Faint = 0x4A5163,
    .WaveBg = 0x05060A,
    .WaveLow = 0x1E7BFF,
    .WaveMid = 0xFFA12E,
    .WaveHigh = 0xF4F7FF,
    .Green = 0x2BF59A,
    .Yellow = 0xFFC83D,
    .Red = 0xFF3B5C,
    .Purple = 0xB57BFF,
    .Pink = 0xFF4FD8,
    .DeckA = 0x1FA8FF,
    .DeckB = 0xFF5E2B,
    .DeckC = 0x3CF0B4,
    .DeckD = 0xD86BFF,
};

// The live colours: read by the drawing code every frame, changed only by LoadSkin and the
// skin editor. UI thread.
extern Palette Pal;

// The skin colour of deck 0..3 (DeckA..DeckD); other numbers give DeckA.
uint32_t DeckColour(int deck);
