#include "karaoke/karaoke_draw.h"

#include <memory>

#include "platform/text.h"

KaraokeScreen& KaraokeWindowContent() {
  static KaraokeScreen content;
  return content;
}

void ResetKaraokeDrawState(KaraokeDrawState& state) { state = KaraokeDrawState{}; }

void StopKaraokeVideo(KaraokeScreen&) {}

void DrawKaraokeScreen(KaraokeDrawState&, KaraokeScreen&, DrawSurface& target, float, float,
                       const KaraokeScreenInfo&, const KaraokeSettings&, double) {
  target.Clear(Rgba{0, 0, 0, 1});
}

float DrawCentredText(KaraokeDrawState&, DrawSurface& target, std::wstring_view text, float centreX, float y,
                      float maxWidth, float size, bool heavy, uint32_t rgb, float opacity, float) {
  TextFormat format(heavy ? "Segoe UI" : "Bahnschrift", heavy ? 900 : 600, size);
  const std::string utf8 = WideToUtf8(std::wstring(text));
  const TextExtent extent = MeasureTextLine(format, utf8);
  target.SetColor(Rgba{((rgb >> 16) & 0xFF) / 255.0f, ((rgb >> 8) & 0xFF) / 255.0f, (rgb & 0xFF) / 255.0f, opacity});
  target.DrawTextLine(format, utf8, centreX - maxWidth / 2, y, maxWidth, extent.height, TextAlign::Center);
  return extent.height;
}
