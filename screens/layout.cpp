#include "screens/layout.h"

#include <algorithm>

ScreenLayout Screen;

namespace {

// Every size in DIPs.
constexpr float kMarginDip = 8.0f;           // window edges and gaps between panels
constexpr float kFirstLaneTopDip = 46.0f;    // under the 40-high top bar
constexpr float kLaneHeightTwoDecksDip = 66.0f;
constexpr float kLaneHeightFourDecksDip = 32.0f;
constexpr float kLaneGapDip = 2.0f;          // between a side's two lanes
constexpr float kPhaseMeterHeightDip = 18.0f;
constexpr float kVerticalPhaseMeterYDip = 42.0f;
constexpr float kVerticalPanelTopDip = 62.0f;
constexpr float kStripWidthTwoDecksDip = 64.0f;
constexpr float kStripWidthFourDecksDip = 44.0f;
constexpr float kStripGapDip = 4.0f;

}  // namespace

const LayoutVariant kLayoutVariants[kLayoutCount] = {
    {.statusText = L"Full layout",
     .mixerWidth = 360.0f,
     .panelHeight = 372.0f,
     .browser = true,
     .allowsVertical = true,
     .slimPanels = false},
    {.statusText = L"Library layout",
     .mixerWidth = 300.0f,
     .panelHeight = 124.0f,
     .browser = true,
     .allowsVertical = false,
     .slimPanels = true},
    {.statusText = L"Performance layout",
     .mixerWidth = 360.0f,
     .panelHeight = 0.0f,
     .browser = false,
     .allowsVertical = true,
     .slimPanels = false},
};

const LayoutVariant& VariantOf(int32_t layout) {
  return kLayoutVariants[(layout >= 0 && layout < kLayoutCount) ? layout : kLayoutFull];
}

int32_t NextLayout(int32_t layout) {
  const int32_t known = (layout >= 0 && layout < kLayoutCount) ? layout : kLayoutFull;
  return (known + 1) % kLayoutCount;
}

ScreenLayout ComputeLayout(float width, float height, int32_t layout, bool vertical, bool fourDecks) {
  const LayoutVariant& variant = VariantOf(layout);
  ScreenLayout s;
  s.width = width;
  s.height = height;
  s.layout = (layout >= 0 && layout < kLayoutCount) ? layout : kLayoutFull;
  s.vertical = vertical && variant.allowsVertical;
  s.fourDecks = fourDecks;
  // A window too small for the layout gets empty rectangles rather than negative ones.
  auto sized = [](float x, float y, float w, float h) { return Rc{x, y, std::max(w, 0.0f), std::max(h, 0.0f)}; };

  float top = 0;
  if (!s.vertical) {
    const float laneHeight = fourDecks ? kLaneHeightFourDecksDip : kLaneHeightTwoDecksDip;
    const float laneWidth = width - 2 * kMarginDip;
    float y = kFirstLaneTopDip;
    s.lanes[0] = sized(kMarginDip, y, laneWidth, laneHeight);
    y += laneHeight;
    if (fourDecks) {
      s.lanes[2] = sized(kMarginDip, y + kLaneGapDip, laneWidth, laneHeight);
      y += kLaneGapDip + laneHeight;
    }
    s.phaseMeterY = y;
    y += kPhaseMeterHeightDip;
    s.lanes[1] = sized(kMarginDip, y, laneWidth, laneHeight);
    y += laneHeight;
    if (fourDecks) {
      s.lanes[3] = sized(kMarginDip, y + kLaneGapDip, laneWidth, laneHeight);
      y += kLaneGapDip + laneHeight;
    }
    top = y + kMarginDip;
  } else {
    s.phaseMeterY = kVerticalPhaseMeterYDip;
    top = kVerticalPanelTopDip;
  }

  const float panelHeight = variant.panelHeight > 0 ? variant.panelHeight : height - top - kMarginDip;
  const float stripWidth = fourDecks ? kStripWidthFourDecksDip : kStripWidthTwoDecksDip;
  const int stripsPerSide = fourDecks ? 2 : 1;
  const float extra = s.vertical ? (stripWidth + kStripGapDip) * stripsPerSide + kStripGapDip : 0.0f;
  const float mixerWidth = variant.mixerWidth;
  const float sideWidth = ((width - 2 * kMarginDip) - mixerWidth - 2 * kMarginDip) / 2 - extra;

  s.leftPanel = sized(kMarginDip, top, sideWidth, panelHeight);
  s.mixer = sized(sideWidth + 2 * kMarginDip + extra, top, mixerWidth, panelHeight);
  s.rightPanel = sized(s.mixer.x + mixerWidth + kMarginDip + extra, top, sideWidth, panelHeight);

  if (s.vertical) {
    for (int i = 0; i < stripsPerSide; ++i) {
      const float step = (stripWidth + kStripGapDip) * static_cast<float>(i);
      s.lanes[2 * i] = sized(kMarginDip + sideWidth + kStripGapDip + step, top, stripWidth, panelHeight);
      s.lanes[2 * i + 1] = sized(s.mixer.x + mixerWidth + kStripGapDip + step, top, stripWidth, panelHeight);
    }
  }

  if (variant.browser) {
    const float browserTop = top + panelHeight + kMarginDip;
    s.browser = sized(kMarginDip, browserTop, width - 2 * kMarginDip, height - browserTop - kMarginDip);
  }
  return s;
}
