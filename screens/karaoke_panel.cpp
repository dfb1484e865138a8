#include "screens/karaoke_panel.h"

#include <algorithm>
#include <cmath>
#include <optional>

#include "base/palette.h"
#include "base/settings.h"
#include "engine/control_input.h"
#include "engine/deck_snapshot.h"
#include "engine/deck_view.h"
#include "engine/side_slots.h"
#include "karaoke/deck_lyrics.h"
#include "karaoke/karaoke_panel.h"
#include "karaoke/karaoke_rotation.h"
#include "karaoke/karaoke_screen.h"
#include "karaoke/karaoke_show.h"
#include "karaoke/karaoke_window.h"
#include "karaoke/tap_sync.h"
#include "library/now_playing.h"
#include "screens/main_screen.h"
#include "ui/glow.h"
#include "ui/language.h"
#include "ui/modal.h"
#include "ui/scroll_view.h"
#include "ui/widgets.h"

std::vector<SingerDropRow> SingerRows;

namespace {

// The frame and its parts, in DIPs.
constexpr float kInset = 10.0f, kTopInset = 8.0f, kRadius = 6.0f;
constexpr uint32_t kPanelFill = 0x0E1017;  // RGB(14, 16, 23)
constexpr float kBorderAlpha = 0.35f, kGlowWidth = 1.5f, kGlowStrength = 0.12f;
constexpr float kHeaderH = 26.0f;
constexpr float kCardTop = 34.0f, kCardH = 112.0f, kCardRadius = 5.0f, kCardPad = 10.0f, kActionW = 72.0f;
constexpr float kRotationGap = 8.0f, kListTop = 22.0f, kRowH = 22.0f, kRowPitch = 24.0f;
constexpr float kVocalsW = 132.0f, kVocalsGap = 4.0f;
constexpr float kStageKeyX = 184.0f, kKeyGroupW = 92.0f, kKeyRowH = 26.0f;
constexpr float kTapSyncW = 72.0f, kTapSyncOnW = 58.0f, kFindOnlineW = 84.0f;
// The hint on a card with nobody on stage; wrapped, two lines end above the NEXT row.
constexpr float kHintSize = 11.0f, kHintWrappedSize = 10.5f, kHintLineDip = 13.0f;
constexpr int kHintLinesAboveNext = 2, kHintLinesAlone = 3;
// A list with room for fewer rows than this gives way to the body scrolling as one column; the
// body starts a little above the card so its rounded top shows whole.
constexpr int kMinListRows = 3;
constexpr float kBodyAboveCard = 4.0f, kWheelStepDip = 2 * kRowPitch;

Color Rgb(uint32_t rgb, float alpha = 1.0f) { return ColorOf(rgb, alpha); }

bool HasTrack(int deck) { return ValidDeck(deck) && DeckSnapshots[deck].track != nullptr; }

bool IsBreakDeck(int deck) { return BreakMusic.on && deck == BreakMusic.deck; }

const Lyrics* DeckWords(int deck) {
  if (!HasTrack(deck)) return nullptr;
  const DeckLyrics& record = DeckLyricsState[deck];
  return LyricsBelongTo(record, DeckSnapshots[deck].track->path) ? record.lyrics.get() : nullptr;
}

std::wstring Signed(int32_t value) { return value > 0 ? L"+" + std::to_wstring(value) : std::to_wstring(value); }

void DrawFrame(Rc r) {
  FillRoundedRect(r, kRadius, Rgb(kPanelFill));
  StrokeRoundedRect(Rc{r.x + 0.5f, r.y + 0.5f, r.w - 1, r.h - 1}, kRadius, Rgb(Pal.Pink, kBorderAlpha), 1.0f);
  GlowOutline(r, kRadius, Rgb(Pal.Pink, kGlowStrength), kGlowWidth);
}

void DrawHeader(const KaraokePanelLayout& l, float X, float Y) {
  DrawText(L"KARAOKE", Rc{X, Y, 90, kHeaderH}, 11, Rgb(Pal.Pink), kAlignLeft, true, kFontBahnschrift);
  if (Button(kKaraokeAddSingerId, l.addSinger, L"+ SINGER", Rgb(Pal.Text), false, 10))
    QueueDeferredAction([] { KaraokeNewSinger(L""); });
  if (Button(kKaraokeBreakId, l.breakMusic, L"BREAK ♪", Rgb(Pal.Green), BreakMusic.on, 10)) ToggleBreakMusic();
  if (Button(kKaraokeScreenId, l.screen, L"SCREEN", Rgb(Pal.Pink), IsKaraokeScreenOpen(), 10))
    QueueDeferredAction([] { ToggleKaraokeScreen(); });
}

// Row 2: tap sync, FIND ONLINE and the lyrics state.
void DrawLyricsRow(int deck, float L, float Ri, float y) {
  const Lyrics* words = DeckWords(deck);
  const bool tapping = TapSyncIndex != kTapSyncOff && TapSyncDeck == deck;
  float right = Ri;
  if (words && !words->lines.empty()) {
    const float w = tapping ? kTapSyncOnW : kTapSyncW;
    if (Button(kKaraokeTapSyncId, Rc{right - w, y, w, 22}, tapping ? L"TAP  T" : L"TAP SYNC", Rgb(Pal.Yellow), tapping,
               9.5f)) {
      if (tapping) TapSyncLine();
      else StartTapSync(deck);
    }
    right -= w + 4;
  }
  const DeckLyrics& record = DeckLyricsState[deck];
  const Lyrics* held = record.lyrics.get();
  const bool timedLines = held && held->kind == LyricsKind::Synced && !held->lines.empty();
  const bool pictures = held && (held->kind == LyricsKind::CdgGraphics || held->kind == LyricsKind::KaraokeVideo);
  if (HasTrack(deck) && !record.busy && !timedLines && !pictures) {
    if (Button(kKaraokeFindOnlineId, Rc{right - kFindOnlineW, y, kFindOnlineW, 22}, L"FIND ONLINE", Rgb(Pal.DeckA),
               false, 9.5f))
      FetchLyrics(deck, true);
    right -= kFindOnlineW + 4;
  }
  DrawText(TranslateFilled(LyricsStatusText(deck)), Rc{L, y, right - L - 2, 22}, 11,
           Rgb(tapping ? Pal.Yellow : Pal.Dim), kAlignLeft, false, kFontSegoeUi);
}

// The NEXT face: SING for the next singer, with their name beside it.
void DrawNextButton(const KaraokePanelLayout& l, bool stageControls) {
  const auto next = KaraokeUpNext(1);
  if (next.empty()) return;
  // Beside a stage card's VOCALS and KEY the name keeps to the room they leave.
  Rc room = l.upNext;
  if (stageControls) {
    const float left =
        std::max(room.x, (l.keyFits && !l.keyOwnRow ? l.keyUp.Right() : l.vocals[2].Right()) + kCardPad);
    room = Rc{left, room.y, room.Right() - left, room.h};
  }
  DrawText(TranslateFilled(UiFormat(L"{}{}", UiText(L"Up next: "), Rotation.singers[next[0].first].name)), room, 11,
           Rgb(Pal.Pink), kAlignRight, false, kFontSegoeUi);
  if (Button(kKaraokeActionId, l.action, L"NEXT  ▶", Rgb(Pal.Pink), false, 11)) KaraokeSing(next[0].first);
}

// Row 3: VOCALS (stage only), KEY and the action button.
void DrawControlRow(const KaraokePanelLayout& l, int deck, bool stageFocus) {
  const float y = l.action.y;
  if (stageFocus) {
    DrawText(L"VOCALS", Rc{l.card.x + kCardPad, y, 46, 24}, 8.5f, Rgb(Pal.Faint), kAlignLeft, true, kFontBahnschrift);
    static const wchar_t* const kVocalLabels[] = {L"OFF", L"GUIDE", L"ON"};
    for (int i = 0; i < 3; ++i)
      if (Button(kKaraokeVocalsFirstId + i, l.vocals[i], kVocalLabels[i], Rgb(Pal.DeckA), Settings.KaraokeVocals == i,
                 10.5f) &&
          Settings.KaraokeVocals != i) {
        Settings.KaraokeVocals = i;
        SaveSettings();
      }
  }
  if (HasTrack(deck) && l.keyFits) {
    DrawText(L"KEY", Rc{l.keyDown.x - 26, l.keyDown.y, 26, 24}, 8.5f, Rgb(Pal.Faint), kAlignLeft, true, kFontBahnschrift);
    if (Button(kKaraokeKeyDownId, l.keyDown, L"−", Rgb(Pal.Dim), false, 11)) KaraokeKeyShift(deck, -1);
    const int32_t key = LiveDeckViews[deck].keyShift;
    DrawTextAsIs(Signed(key), l.keyValue, 11, Rgb(key == 0 ? Pal.Text : Pal.Purple), kAlignCenter, true,
                 kFontBahnschrift);
    if (Button(kKaraokeKeyUpId, l.keyUp, L"+", Rgb(Pal.Dim), false, 11)) KaraokeKeyShift(deck, +1);
  }
  if (stageFocus && Stage.settingUp) {
    Button(kKaraokeActionId, l.action, L"LOADING", Rgb(Pal.Dim), false, 10);
  } else if (stageFocus && !Stage.ended && !Stage.singing) {
    if (Button(kKaraokeActionId, l.action, L"GO  ▶", Rgb(Pal.Pink), true, 11)) KaraokeGo();
  } else if (stageFocus && !Stage.ended) {
    if (Button(kKaraokeActionId, l.action, L"END  ■", Rgb(Pal.Red), false, 11)) KaraokeSongDone(false);
  } else {
    DrawNextButton(l, stageFocus);
  }
}

// Row 4: the lyric nudges.
void DrawWordsRow(const KaraokePanelLayout& l, int deck) {
  const Lyrics* words = DeckWords(deck);
  if (!words || words->lines.empty()) return;
  DrawText(L"WORDS", Rc{l.card.x + kCardPad, l.earlier.y, 44, 22}, 8.5f, Rgb(Pal.Faint), kAlignLeft, true,
           kFontBahnschrift);
  if (Button(kKaraokeEarlierId, l.earlier, L"◂ EARLIER", Rgb(Pal.Dim), false, 9)) NudgeLyrics(deck, -kNudgeStepSeconds);
  const double offset = DeckLyricsState[deck].lyrics ? DeckLyricsState[deck].lyrics->offset : 0.0;
  if (offset == 0.0)
    DrawText(L"on time", l.offset, 10.5f, Rgb(Pal.Dim), kAlignCenter, false, kFontBahnschrift);
  else
    DrawTextAsIs(fmt::format(L"{:+.1f} s", offset), l.offset, 10.5f, Rgb(Pal.Yellow), kAlignCenter, false,
                 kFontBahnschrift);
  if (Button(kKaraokeLaterId, l.later, L"LATER ▸", Rgb(Pal.Dim), false, 9)) NudgeLyrics(deck, kNudgeStepSeconds);
}

void DrawCard(Rc r, float W, float R, int singers, float scroll) {
  const KaraokePanelLayout blank = LayOutKaraokePanel(r, false, singers, scroll);
  const float X = blank.card.x, C = blank.card.y;
  FillRoundedRect(blank.card, kCardRadius, Rgb(Pal.Panel2));
  const float L = X + kCardPad, Ri = R - kCardPad;
  const int deck = KaraokeFocusDeck();
  if (deck < 0) {
    DrawText(L"Nobody on stage", Rc{L, C + 8, W - 20, 22}, 13, Rgb(Pal.Dim), kAlignLeft, true, kFontSegoeUi);
    // A narrow column wraps the hint; with no singers there is no NEXT row under it to keep clear.
    const bool none = Rotation.singers.empty();
    DrawWrappingHint(none ? L"Add singers with + SINGER, then drag songs from the library onto their names."
                          : L"SING loads a singer's next song with the vocals off.",
                     Rc{L, C + 32, W - 20, 22}, kHintSize, kHintWrappedSize, kHintLineDip,
                     none ? kHintLinesAlone : kHintLinesAboveNext, Rgb(Pal.Faint));
    DrawNextButton(blank, false);
    return;
  }
  const bool stageFocus = deck == Stage.stageDeck;
  const KaraokePanelLayout l = stageFocus ? LayOutKaraokePanel(r, true, singers, scroll) : blank;
  const bool named = stageFocus && Stage.currentSinger >= 0 &&
                     static_cast<size_t>(Stage.currentSinger) < Rotation.singers.size();
  const std::wstring who = named ? Rotation.singers[static_cast<size_t>(Stage.currentSinger)].name
                                 : TranslateFilled(UiFormat(L"Deck {}", DeckLetter(deck)));
  std::wstring what;
  if (stageFocus && Stage.settingUp) what = TranslateFilled(UiText(L"loading…"));
  else if (HasTrack(deck)) {
    const Track& track = *DeckSnapshots[deck].track;
    what = track.title.empty() ? FileNameOf(track.path) : track.title;
  }
  const float w1 = std::min(TextWidth(who, 14, true, kFontSegoeUi) + 4, 0.45f * (W - 20));
  DrawTextAsIs(who, Rc{L, C + 7, w1, 22}, 14, Rgb(stageFocus ? Pal.Text : Pal.Dim), kAlignLeft, true, kFontSegoeUi);
  const float whatX = L + w1 + 8, whatW = (R - 34) - whatX - 6;
  if (!what.empty() && whatW > 0)
    DrawTextAsIs(what, Rc{whatX, C + 7, whatW, 22}, 12, Rgb(Pal.Dim), kAlignLeft, false, kFontSegoeUi);
  const Rc badge{R - 34, C + 9, 24, 18};
  FillRoundedRect(badge, 4, Rgb(DeckColour(deck), 0.9f));
  DrawTextAsIs(DeckLetter(deck), badge, 10, Rgb(Pal.Background), kAlignCenter, true, kFontBahnschrift);
  DrawLyricsRow(deck, L, Ri, C + 32);
  DrawControlRow(l, deck, stageFocus);
  DrawWordsRow(l, deck);
}

void DrawRotation(const KaraokePanelLayout& l, float X, float Q, float W, float R);

}  // namespace

KaraokePanelLayout LayOutKaraokePanel(Rc r, bool stageFocus, int singers, float scroll) {
  KaraokePanelLayout l;
  const float X = r.x + kInset, Y = r.y + kTopInset, W = r.w - 2 * kInset, R = X + W, B = r.y + r.h - kTopInset;
  l.addSinger = Rc{R - 76, Y, 76, kHeaderH};
  l.breakMusic = Rc{R - 153, Y, 72, kHeaderH};
  l.screen = Rc{R - 224, Y, 66, kHeaderH};
  const float cardTop = Y + kCardTop;
  l.body = Rc{r.x, cardTop - kBodyAboveCard, r.w, std::max(0.0f, B - (cardTop - kBodyAboveCard))};
  const float L = X + kCardPad, Ri = R - kCardPad, A = Ri - kActionW;
  // A column too narrow for the KEY group beside VOCALS and the action button gives it a row of
  // its own under them, whatever the focus, so the rotation does not move when a singer goes on.
  l.keyOwnRow = L + kStageKeyX + kKeyGroupW + 4 >= A;
  const float keyRowH = l.keyOwnRow ? kKeyRowH : 0.0f;
  // Too short for the card and a few rows: the body scrolls, with every singer's row in it.
  const float listTop = cardTop + kCardH + keyRowH + kRotationGap + kListTop;
  if (B - listTop < kMinListRows * kRowPitch) {
    const float rows = static_cast<float>(std::max(singers, 1));
    l.maxScroll = MaxScroll(listTop + rows * kRowPitch - (kRowPitch - kRowH) - l.body.y, l.body.h);
    l.scroll = std::clamp(scroll, 0.0f, l.maxScroll);
  }
  const float C = cardTop - l.scroll;
  l.card = Rc{X, C, W, kCardH + keyRowH};
  l.tapSync = Rc{Ri - kTapSyncW, C + 32, kTapSyncW, 22};
  l.findOnline = Rc{Ri - kFindOnlineW, C + 32, kFindOnlineW, 22};
  l.findOnlineByTap = Rc{Ri - kTapSyncW - 4 - kFindOnlineW, C + 32, kFindOnlineW, 22};
  const float vw = (kVocalsW - 2 * kVocalsGap) / 3.0f;
  for (int i = 0; i < 3; ++i) l.vocals[i] = Rc{L + 44 + i * (vw + kVocalsGap), C + 58, vw, 24};
  const float k = stageFocus && !l.keyOwnRow ? L + kStageKeyX : L;
  const float keyY = l.keyOwnRow ? C + 86 : C + 58;
  l.keyDown = Rc{k + 26, keyY, 20, 24};
  l.keyValue = Rc{k + 46, keyY, 26, 24};
  l.keyUp = Rc{k + 72, keyY, 20, 24};
  l.keyFits = l.keyOwnRow ? k + kKeyGroupW <= Ri : k + kKeyGroupW + 4 < A;
  l.action = Rc{A, C + 58, kActionW, 24};
  l.upNext = Rc{A - 180, C + 58, 172, 24};
  l.earlier = Rc{L + 44, C + 86 + keyRowH, 64, 20};
  l.offset = Rc{L + 110, C + 86 + keyRowH, 56, 20};
  l.later = Rc{L + 168, C + 86 + keyRowH, 58, 20};
  const float T = l.card.Bottom() + kRotationGap + kListTop;
  if (l.maxScroll > 0) {
    l.rowsShown = std::max(singers, 1);
    l.list = Rc{X, T, W, l.rowsShown * kRowPitch - (kRowPitch - kRowH)};
  } else {
    l.list = Rc{X, T, W, std::max(0.0f, B - T)};
    l.rowsShown = std::max(1, static_cast<int>(std::floor(l.list.h / kRowPitch)));
  }
  return l;
}

Rc KaraokeRowRect(const KaraokePanelLayout& l, int k) { return Rc{l.list.x, l.list.y + k * kRowPitch, l.list.w, kRowH}; }

int KaraokeFocusDeck() {
  const int stage = Stage.stageDeck;
  if (ValidDeck(stage) && (HasTrack(stage) || Stage.settingUp)) return stage;
  int loudest = -1;
  for (int d = 0; d < DecksInUse(); ++d) {
    if (IsBreakDeck(d) || !IsDeckAudible(d)) continue;
    if (loudest < 0 || LiveDeckViews[d].meterLevel > LiveDeckViews[loudest].meterLevel) loudest = d;
  }
  if (loudest >= 0) return loudest;
  for (int side : {kLeftSide, kRightSide})
    if (HasTrack(SideSlots[side]) && !IsBreakDeck(SideSlots[side])) return SideSlots[side];
  return -1;
}

void DrawKaraokePanel(Rc r) {
  SingerRows.clear();
  if (OffScreen(r)) return;
  const float X = r.x + kInset, Y = r.y + kTopInset, W = r.w - 2 * kInset, R = X + W;
  const int singers = static_cast<int>(Rotation.singers.size());
  const KaraokePanelLayout top = LayOutKaraokePanel(r, false, singers, 0);
  const float scroll = top.maxScroll > 0 ? WheelScroll(top.body, KaraokePanelBodyScroll, top.maxScroll, kWheelStepDip) : 0;
  KaraokePanelBodyScroll = scroll;
  const KaraokePanelLayout l = LayOutKaraokePanel(r, false, singers, scroll);
  DrawFrame(r);
  DrawHeader(l, X, Y);
  {
    std::optional<ScrollClip> clip;
    if (l.maxScroll > 0) clip.emplace(l.body);
    DrawCard(r, W, R, singers, scroll);
    DrawRotation(l, X, l.card.Bottom() + kRotationGap, W, R);
  }
  DrawScrollMark(Rc{l.body.x, l.body.y, l.body.w - kTopInset / 2, l.body.h}, l.scroll, l.maxScroll);
}

namespace {

void DrawRotation(const KaraokePanelLayout& l, float X, float Q, float W, float R) {
  const size_t count = Rotation.singers.size();
  DrawText(L"ROTATION", Rc{X, Q, 100, 18}, 9.5f, Rgb(Pal.Dim), kAlignLeft, true, kFontBahnschrift);
  DrawTextAsIs(std::to_wstring(count) + TranslateFilled(UiText(count == 1 ? L" singer" : L" singers")),
               Rc{R - 120, Q, 120, 18}, 10.5f, Rgb(Pal.Faint), kAlignRight, false, kFontSegoeUi);
  const float T = l.list.y;
  const int shown = l.rowsShown;
  const bool dragging = RowDrag.dragging;
  if (!dragging && MouseOver(l.list) && Input.wheel != 0.0f)
    KaraokePanelScroll -= static_cast<int32_t>(std::lroundf(Input.wheel * 2));
  KaraokePanelScroll = std::clamp(KaraokePanelScroll, 0, std::max(0, static_cast<int32_t>(count) - shown));
  if (count == 0) {
    DrawText(L"No singers yet", Rc{X, T, W, 22}, 11, Rgb(Pal.Faint), kAlignCenter, false, kFontSegoeUi);
    return;
  }
  const auto next = KaraokeUpNext(1);
  const int nextSinger = next.empty() ? -1 : next[0].first;
  int singAt = -1, menuAt = -1;
  for (int k = 0; k < shown; ++k) {
    const int i = KaraokePanelScroll + k;
    if (i >= static_cast<int>(count)) break;
    const KaraokeSinger& singer = Rotation.singers[static_cast<size_t>(i)];
    const Rc row = KaraokeRowRect(l, k);
    const Rc seen = SeenPart(row, l.body);
    if (!(seen.h > 0)) continue;  // scrolled out of the body
    const float y = row.y;
    const bool hovered = !dragging && MouseOver(row);
    const bool onStage = i == Stage.currentSinger && SingerOnStage();
    if (onStage) FillRoundedRect(row, 4, Rgb(Pal.Pink, 0.16f));
    else if (hovered) FillRoundedRect(row, 4, ColorOf(0xFFFFFF, 0.06f));
    else if (k % 2 == 1) FillRoundedRect(row, 4, ColorOf(0xFFFFFF, 0.02f));
    if (dragging && MouseOver(row))
      StrokeRoundedRect(Rc{row.x + 0.75f, row.y + 0.75f, row.w - 1.5f, row.h - 1.5f}, 4, Rgb(Pal.Pink), 1.5f);
    SingerRows.push_back(SingerDropRow{seen, i});
    DrawTextAsIs(std::to_wstring(i + 1), Rc{X + 2, y, 18, 22}, 10, Rgb(Pal.Faint), kAlignCenter, false, kFontBahnschrift);
    const float w2 = std::min(TextWidth(singer.name, 12.5f, true, kFontSegoeUi) + 4, 0.38f * W);
    DrawTextAsIs(singer.name, Rc{X + 22, y, w2, 22}, 12.5f, Rgb(onStage ? Pal.Pink : Pal.Text), kAlignLeft, true,
                 kFontSegoeUi);
    float c = X + 22 + w2 + 8;
    if (i == nextSinger) {
      FillRoundedRect(Rc{c, y + 4, 34, 14}, 3, Rgb(Pal.Pink, 0.25f));
      DrawText(L"NEXT", Rc{c, y + 4, 34, 14}, 8, Rgb(Pal.Pink), kAlignCenter, true, kFontBahnschrift);
      c += 40;
    }
    const int32_t first = FirstUnsungSong(i);
    int unsung = 0;
    for (const KaraokeSong& song : singer.songs) unsung += song.sung ? 0 : 1;
    if (first >= 0)
      DrawTextAsIs(singer.songs[static_cast<size_t>(first)].title, Rc{c, y, (hovered ? R - 54 : R - 30) - c, 22}, 11.5f,
                   Rgb(Pal.Dim), kAlignLeft, false, kFontSegoeUi);
    else
      DrawText(L"no songs waiting", Rc{c, y, R - 30 - c, 22}, 11.5f, Rgb(Pal.Faint), kAlignLeft, false, kFontSegoeUi);
    if (hovered && first >= 0) {
      if (Button(kKaraokeSingFirstId + i % kKaraokeSingIds, Rc{R - 50, y + 2, 46, 18}, L"SING", Rgb(Pal.Pink), false,
                 9.5f))
        singAt = i;
    } else if (unsung >= 2) {
      DrawTextAsIs(L"+" + std::to_wstring(unsung - 1), Rc{R - 28, y, 24, 22}, 10, Rgb(Pal.Faint), kAlignRight, false,
                   kFontBahnschrift);
    }
    if (Input.rightPressed && !dragging && MouseOver(row)) menuAt = i;
  }
  if (singAt >= 0) KaraokeSing(singAt);
  if (menuAt >= 0) QueueDeferredAction([menuAt] { SingerMenu(menuAt); });
}

}  // namespace
