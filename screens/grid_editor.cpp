#include "screens/grid_editor.h"

#include <fmt/format.h>
#include <fmt/xchar.h>

#include <algorithm>
#include <cmath>
#include <mutex>
#include <vector>

#include "base/beat_grid.h"
#include "engine/control_input.h"
#include "engine/deck_snapshot.h"
#include "engine/deck_view.h"
#include "engine/engine.h"
#include "engine/jog_loops.h"
#include "engine/transport.h"
#include "engine/undo.h"
#include "ui/language.h"
#include "ui/modal.h"
#include "ui/status_line.h"
#include "ui/widgets.h"

int32_t GridEditorDeck = -1;
GridEditorState GridEditor;

namespace {

constexpr float kPanelMaxW = 1120.0f, kPanelMaxH = 600.0f;
constexpr float kPanelMarginW = 40.0f, kPanelMarginH = 24.0f;
constexpr float kEdgeDip = 28.0f;
constexpr float kStripDip = 190.0f;
constexpr float kOverviewGapDip = 10.0f, kOverviewDip = 26.0f;
constexpr float kRowDip = 30.0f, kRowGapDip = 8.0f, kLabelColumnDip = 96.0f, kButtonGapDip = 8.0f;
constexpr float kDoneW = 110.0f;
constexpr float kColumnDip = 2.0f;
constexpr double kWavePointsPerSecond = 150.0;
constexpr float kZoomInStep = 0.8f, kZoomOutStep = 1.25f;
constexpr int32_t kStripControl = 3499;
constexpr int kMaxGridLines = 4000;  // a broken grid must not stall the frame
constexpr int kStatusMs = 2800;

enum class GridAction {
  Tempo, Halve, Double, Tap, Nudge, Downbeat, Pin, RemovePin, ClearPins, Drift,
  JumpBack, PlayPause, JumpForward, Metronome,
};

struct GridButton {
  int32_t id;
  int row;  // 0 TEMPO, 1 GRID, 2 DRIFT, 3 LISTEN
  const wchar_t* caption;
  float width;
  const wchar_t* undoLabel;  // null: no undo record
  GridAction action;
  double amount;  // BPM delta or seconds
};

constexpr GridButton kGridButtons[] = {
    {3500, 0, L"−0.1", 60, L"tempo", GridAction::Tempo, -0.1},
    {3501, 0, L"−0.01", 60, L"tempo", GridAction::Tempo, -0.01},
    {3502, 0, L"+0.01", 60, L"tempo", GridAction::Tempo, 0.01},
    {3503, 0, L"+0.1", 60, L"tempo", GridAction::Tempo, 0.1},
    {3504, 0, L"½", 50, L"halved the tempo", GridAction::Halve, 0},
    {3505, 0, L"×2", 50, L"doubled the tempo", GridAction::Double, 0},
    {3506, 0, L"TAP", 70, nullptr, GridAction::Tap, 0},
    {3507, 1, L"◂ 10 ms", 76, L"moved the grid", GridAction::Nudge, -0.010},
    {3508, 1, L"◂ 1 ms", 70, L"moved the grid", GridAction::Nudge, -0.001},
    {3509, 1, L"1 ms ▸", 70, L"moved the grid", GridAction::Nudge, 0.001},
    {3510, 1, L"10 ms ▸", 76, L"moved the grid", GridAction::Nudge, 0.010},
    {3511, 1, L"BAR STARTS HERE", 170, L"set the downbeat", GridAction::Downbeat, 0},
    {3512, 2, L"BEAT IS HERE (PIN)", 150, nullptr, GridAction::Pin, 0},  // PinBeatHere pushes its own
    {3513, 2, L"REMOVE NEAREST PIN", 150, L"removed a pin", GridAction::RemovePin, 0},
    {3514, 2, L"CLEAR PINS", 110, L"cleared the pins", GridAction::ClearPins, 0},
    {3515, 2, L"FIND THE DRIFT FOR ME", 190, nullptr, GridAction::Drift, 0},  // pushes after the search
    {3516, 3, L"◀ 4 BEATS", 90, nullptr, GridAction::JumpBack, 0},
    {3517, 3, L"PLAY", 110, nullptr, GridAction::PlayPause, 0},
    {3518, 3, L"4 BEATS ▶", 90, nullptr, GridAction::JumpForward, 0},
    {3519, 3, L"METRONOME ON", 150, nullptr, GridAction::Metronome, 0},
};
constexpr int32_t kDoneId = 3520;
constexpr const wchar_t* kRowLabels[4] = {L"TEMPO", L"GRID", L"DRIFT", L"LISTEN"};

// The deck's live position in seconds; 0 without a track. Takes the engine lock.
double LivePositionSeconds(int deck) {
  std::lock_guard<RealtimeMutex> lock(Engine.lock);
  const DeckState& d = DeckStateOf(deck);
  return d.track && d.track->sampleRate > 0 ? d.position / d.track->sampleRate : 0.0;
}

void SetClickDeck(int32_t deck) {
  std::lock_guard<RealtimeMutex> lock(Engine.lock);
  Engine.clickDeck = deck;
}

void CloseEditor() {
  GridEditorDeck = -1;
  GridEditor.dragging = false;
  SetClickDeck(-1);
}

void RunButton(int deck, const GridButton& b) {
  if (b.undoLabel) PushUndo(deck, b.undoLabel);
  switch (b.action) {
    case GridAction::Tempo: EditBeatGrid(deck, RescaleTempoEdit(b.amount)); break;
    case GridAction::Halve: EditBeatGrid(deck, HalveTempoEdit()); break;
    case GridAction::Double: EditBeatGrid(deck, DoubleTempoEdit()); break;
    case GridAction::Tap: TapTempo(deck); break;
    case GridAction::Nudge: EditBeatGrid(deck, NudgeGridEdit(b.amount)); break;
    case GridAction::Downbeat: EditBeatGrid(deck, DownbeatEdit(deck)); break;
    case GridAction::Pin: PinBeatHere(deck); break;
    case GridAction::RemovePin: EditBeatGrid(deck, RemoveNearestPinEdit(LivePositionSeconds(deck))); break;
    case GridAction::ClearPins: EditBeatGrid(deck, [](Track& t) { t.tempoMarkers.clear(); }); break;
    case GridAction::Drift: FindGridDrift(deck); break;
    case GridAction::JumpBack: BeatJump(deck, -4); break;
    case GridAction::PlayPause: PlayPause(deck); break;
    case GridAction::JumpForward: BeatJump(deck, 4); break;
    case GridAction::Metronome: GridEditor.metronome = !GridEditor.metronome; break;
  }
}

// Moves the deck by a drag of dx DIPs: the waveform follows the mouse.
void DragStrip(int deck, float dx, double secondsPerDip) {
  std::lock_guard<RealtimeMutex> lock(Engine.lock);
  DeckState& d = DeckStateOf(deck);
  if (!d.track || d.track->frames == 0) return;
  const double last = static_cast<double>(d.track->frames - 1);
  const double target = std::clamp(d.position - dx * secondsPerDip * d.track->sampleRate, 0.0, last);
  if (d.playing) {
    SeekDeck(Engine, deck, target);
  } else {
    d.cuePoint = target;
    d.position = target;
  }
}

// Three-band waveform of the window [start, start + width x secondsPerDip) in 2-DIP columns.
void DrawStripWave(const Track& track, Rc strip, double start, double secondsPerDip) {
  static std::vector<float> half[3];  // scratch, one entry per DIP column
  const int columns = std::max(0, static_cast<int>(strip.w));
  for (auto& h : half) h.assign(static_cast<size_t>(columns), -1.0f);
  const size_t points = track.waveform.size();
  const float halfHeight = strip.h / 2;
  for (int x = 0; x < columns; x += static_cast<int>(kColumnDip)) {
    const double t0 = start + x * secondsPerDip;
    const double t1 = t0 + kColumnDip * secondsPerDip;
    if (t1 < 0 || points == 0) continue;
    const long long first = std::max(0LL, static_cast<long long>(std::floor(t0 * kWavePointsPerSecond)));
    const long long last = std::min(static_cast<long long>(points) - 1,
                                    static_cast<long long>(std::floor(t1 * kWavePointsPerSecond)));
    if (first > last) continue;
    uint8_t lo = 0, mid = 0, hi = 0;
    for (long long i = first; i <= last; ++i) {
      const WavePoint& p = track.waveform[static_cast<size_t>(i)];
      lo = std::max(lo, p.low), mid = std::max(mid, p.mid), hi = std::max(hi, p.high);
    }
    const float levels[3] = {lo * 1.0f, mid * 0.75f, hi * 0.5f};
    for (int band = 0; band < 3; ++band)
      for (int k = 0; k < static_cast<int>(kColumnDip) && x + k < columns; ++k)
        half[band][static_cast<size_t>(x + k)] = levels[band] / 255.0f * halfHeight;
  }
  const uint32_t colours[3] = {Pal.WaveLow, Pal.WaveMid, Pal.WaveHigh};
  for (int band = 0; band < 3; ++band)
    FillWaveColumns(half[band].data(), 0, columns - 1, strip.x, strip.CenterY(), halfHeight,
                    ColorOf(colours[band]), ColorOf(colours[band]), 1.0f);
}

void DrawStripGrid(const Track& track, Rc strip, double start, double end, double secondsPerDip) {
  const double firstBeat = std::ceil(BeatAtTime(track, start));
  const double lastBeat = std::floor(BeatAtTime(track, end));
  if (!std::isfinite(firstBeat) || !std::isfinite(lastBeat)) return;
  int drawn = 0;
  for (double b = firstBeat; b <= lastBeat && drawn < kMaxGridLines; b += 1.0, ++drawn) {
    const float x = strip.x + static_cast<float>((TimeAtBeat(track, b) - start) / secondsPerDip);
    const bool barLine = std::fmod(b, 4.0) == 0.0;
    if (barLine) {
      DrawLine(x, strip.y, x, strip.Bottom(), ColorOf(0xFFFFFF, 0.55f), 2.0f);
      const long long bar = static_cast<long long>(std::trunc(b / 4.0)) + 1;
      DrawTextAsIs(fmt::format(L"{}", bar), Rc{x + 3, strip.y + 2, 40, 14}, 10, ColorOf(0xFFFFFF, 0.7f),
                   kAlignLeft, true, kFontBahnschrift);
    } else {
      DrawLine(x, strip.y, x, strip.Bottom(), ColorOf(0xFFFFFF, 0.22f), 1.0f);
    }
  }
  const Color pin = ColorOf(Pal.Yellow, 0.9f);
  constexpr float kPinMarkDip = 6.0f;
  for (const TempoMarker& m : track.tempoMarkers) {
    if (m.seconds < start || m.seconds > end) continue;
    const float x = strip.x + static_cast<float>((m.seconds - start) / secondsPerDip);
    DrawLine(x, strip.y, x, strip.Bottom(), pin, 1.5f);
    FillTriangle({x - kPinMarkDip, strip.y}, {x + kPinMarkDip, strip.y}, {x, strip.y + kPinMarkDip}, pin);
  }
}

void DrawOverview(int deck, const Track& track, Rc r) {
  FillRect(r, ColorOf(Pal.WaveBg));
  const double seconds = track.sampleRate > 0 ? static_cast<double>(track.frames) / track.sampleRate : 0.0;
  const size_t points = track.waveform.size();
  const Color bass = ColorOf(Pal.WaveLow, 0.6f);
  for (float x = 0; x < r.w && points > 0; x += kColumnDip) {
    const size_t i = std::min(points - 1, static_cast<size_t>(x / r.w * points));
    const float h = track.waveform[i].low / 255.0f * (r.h / 2);
    FillRect(Rc{r.x + x, r.CenterY() - h, kColumnDip, 2 * h}, bass);
  }
  if (seconds > 0)
    for (const TempoMarker& m : track.tempoMarkers) {
      const float x = r.x + static_cast<float>(m.seconds / seconds) * r.w;
      DrawLine(x, r.y, x, r.Bottom(), ColorOf(Pal.Yellow, 0.9f), 1.5f);
    }
  if (PressStarts(r)) SeekToFraction(deck, (Input.x - r.x) / r.w);
}

}  // namespace

// ---- layout -----------------------------------------------------------------------------------

Rc GridEditorPanel(float windowWidth, float windowHeight) {
  const float w = std::min(windowWidth - kPanelMarginW, kPanelMaxW);
  const float h = std::min(windowHeight - kPanelMarginH, kPanelMaxH);
  constexpr float kPanelMinTop = 12.0f;  // as the modal backdrop keeps it
  return Rc{windowWidth / 2 - w / 2, std::max(windowHeight / 2 - h / 2, kPanelMinTop), w, h};
}

GridEditorLayout LayoutGridEditor(Rc panel) {
  GridEditorLayout l;
  l.panel = panel;
  const float x = panel.x + kEdgeDip, w = panel.w - 2 * kEdgeDip;
  l.title = Rc{x, panel.y + 14, w, 26};
  l.status = Rc{x, l.title.Bottom() + 2, w, 20};
  l.strip = Rc{x, l.status.Bottom() + 10, w, kStripDip};
  l.overview = Rc{x, l.strip.Bottom() + kOverviewGapDip, w, kOverviewDip};
  float y = l.overview.Bottom() + 16;
  for (Rc& row : l.rows) {
    row = Rc{x, y, w, kRowDip};
    y += kRowDip + kRowGapDip;
  }
  l.done = Rc{panel.Right() - kEdgeDip - kDoneW, panel.Bottom() - kEdgeDip - kRowDip, kDoneW, kRowDip};
  l.help = Rc{x, l.done.y, l.done.x - x - 12, kRowDip};
  return l;
}

Rc GridEditorButtonRect(const GridEditorLayout& layout, int32_t id) {
  if (id == kDoneId) return layout.done;
  float offset[4] = {kLabelColumnDip, kLabelColumnDip, kLabelColumnDip, kLabelColumnDip};
  for (const GridButton& b : kGridButtons) {
    const Rc row = layout.rows[b.row];
    if (b.id == id) return Rc{row.x + offset[b.row], row.y, b.width, kRowDip};
    offset[b.row] += b.width + kButtonGapDip;
  }
  return Rc{};
}

// ---- edits ------------------------------------------------------------------------------------

GridEdit RescaleTempoEdit(double delta) {
  return [delta](Track& t) {
    const double old = t.bpm, now = t.bpm + delta;
    if (!(now > 0.0)) return;
    for (TempoMarker& m : t.tempoMarkers) m.seconds = t.firstBeat + (m.seconds - t.firstBeat) * old / now;
    t.bpm = now;
  };
}

GridEdit PinBeatEdit(int deck) {
  return [deck](Track& t) {
    // EditBeatGrid holds the engine lock, so the live position is read at the moment of the edit.
    const DeckState& d = DeckStateOf(deck);
    if (t.sampleRate <= 0) return;
    const double seconds = d.position / t.sampleRate;
    const double beat = std::round(BeatAtTime(t, seconds));
    if (beat == 0.0) {
      t.firstBeat = seconds;
      return;
    }
    std::erase_if(t.tempoMarkers, [beat](const TempoMarker& m) { return std::fabs(m.beat - beat) <= 0.5; });
    const auto at = std::find_if(t.tempoMarkers.begin(), t.tempoMarkers.end(),
                                 [beat](const TempoMarker& m) { return !(m.beat < beat); });
    t.tempoMarkers.insert(at, TempoMarker{beat, seconds});
  };
}

GridEdit RemoveNearestPinEdit(double seconds) {
  return [seconds](Track& t) {
    auto nearest = t.tempoMarkers.end();
    double best = 0.0;
    for (auto it = t.tempoMarkers.begin(); it != t.tempoMarkers.end(); ++it) {
      const double distance = std::fabs(it->seconds - seconds);
      if (nearest == t.tempoMarkers.end() || distance < best) nearest = it, best = distance;
    }
    if (nearest != t.tempoMarkers.end()) t.tempoMarkers.erase(nearest);
  };
}

void PinBeatHere(int deck) {
  PushUndo(deck, L"pinned a beat");
  EditBeatGrid(deck, PinBeatEdit(deck));
}

void FindGridDrift(int deck) {
  TrackPtr source;
  {
    std::lock_guard<RealtimeMutex> lock(Engine.lock);
    source = DeckStateOf(deck).track;
  }
  if (!source) return;
  Track scratch;
  scratch.bpm = source->bpm;
  scratch.firstBeat = source->firstBeat;
  scratch.sampleRate = source->sampleRate;
  scratch.frames = source->frames;
  scratch.waveform = source->waveform;
  const int32_t placed = RefineBeatGrid(scratch);
  PushUndo(deck, L"found the drift");
  EditBeatGrid(deck, [markers = scratch.tempoMarkers](Track& t) { t.tempoMarkers = markers; });
  if (placed == 1)
    ShowStatus(L"Pinned 1 beat where the tempo drifts — play it with the metronome to check", kStatusMs);
  else if (placed > 0)
    ShowStatus(UiFormat(L"Pinned {} beats where the tempo drifts — play it with the metronome to check", placed),
               kStatusMs);
  else
    ShowStatus(L"This track keeps a steady tempo — no pins needed", kStatusMs);
}

float ZoomAfterWheel(float zoom, float notches) {
  const int steps = static_cast<int>(std::max(1.0f, std::round(std::fabs(notches))));
  for (int i = 0; i < steps && notches != 0.0f; ++i) zoom *= notches > 0 ? kZoomInStep : kZoomOutStep;
  return std::clamp(zoom, kGridZoomMinSeconds, kGridZoomMaxSeconds);
}

// ---- the frame --------------------------------------------------------------------------------

void DrawGridEditor() {
  const int deck = GridEditorDeck;
  if (deck < 0) return;
  if (!ValidDeck(deck) || deck >= kEngineDecks || !DeckSnapshots[deck].track) {
    CloseEditor();
    return;
  }
  SetClickDeck(GridEditor.metronome ? deck : -1);
  const DeckSnapshot& snap = DeckSnapshots[deck];
  const TrackPtr track = snap.track;  // keeps the track alive through the frame

  const Rc size = GridEditorPanel(TargetWidth(), TargetHeight());
  const Rc panel = DrawModalBackdrop(size.w, size.h);
  const GridEditorLayout l = LayoutGridEditor(panel);

  // Title and status.
  const std::wstring title = Translate(L"Beat grid — deck ") + DeckLetter(deck);
  const float titleW = TextWidth(title, 17, true, kFontSegoeUi);
  DrawTextAsIs(title, l.title, 17, ColorOf(Pal.Text), kAlignLeft, true, kFontSegoeUi);
  std::wstring name = track->title;
  if (!track->artist.empty()) name += L"  ·  " + track->artist;
  DrawTextAsIs(name, Rc{l.title.x + titleW + 16, l.title.y, l.title.w - titleW - 16, l.title.h}, 13,
               ColorOf(Pal.Dim), kAlignLeft, false, kFontSegoeUi);
  const double rate = track->sampleRate > 0 ? track->sampleRate : 44100.0;
  const double position = snap.position / rate;
  const double beatLength = BeatLengthAt(*track, position);
  const size_t pins = track->tempoMarkers.size();
  const double here = beatLength > 0 ? 60.0 / beatLength : 0.0;
  DrawTextAsIs(pins == 1 ? TranslateFormat(L"{:.2f} BPM   ·   here {:.2f}   ·   {} pin", track->bpm, here, pins)
                         : TranslateFormat(L"{:.2f} BPM   ·   here {:.2f}   ·   {} pins", track->bpm, here, pins),
               l.status, 12, ColorOf(Pal.Dim), kAlignLeft, false, kFontSegoeUi);

  // Waveform strip with grid, pins and the play position.
  const Rc strip = l.strip;
  const double zoom = GridEditor.zoom;
  const double secondsPerDip = 2.0 * zoom / strip.w;
  const double start = position - zoom, end = position + zoom;
  FillRect(strip, ColorOf(Pal.WaveBg));
  PushClip(strip);
  DrawStripWave(*track, strip, start, secondsPerDip);
  DrawStripGrid(*track, strip, start, end, secondsPerDip);
  DrawLine(strip.CenterX(), strip.y, strip.CenterX(), strip.Bottom(), ColorOf(Pal.Red), 2.0f);
  PopClip();

  if (PressStarts(strip)) {
    ActiveControlId = kStripControl;
    GridEditor.dragging = true;
    GridEditor.lastMouseX = Input.x;
  }
  if (GridEditor.dragging) {
    if (Input.held && ActiveControlId == kStripControl) {
      const float dx = Input.x - GridEditor.lastMouseX;
      GridEditor.lastMouseX = Input.x;
      if (dx != 0.0f) DragStrip(deck, dx, secondsPerDip);
    } else {
      GridEditor.dragging = false;
    }
  }
  if (Input.wheel != 0.0f && MouseIn(strip)) GridEditor.zoom = ZoomAfterWheel(GridEditor.zoom, Input.wheel);

  DrawOverview(deck, *track, l.overview);

  // Button rows.
  for (int row = 0; row < 4; ++row)
    DrawText(kRowLabels[row], Rc{l.rows[row].x, l.rows[row].y, kLabelColumnDip - 8, kRowDip}, 11,
             ColorOf(Pal.Dim), kAlignLeft, true, kFontBahnschrift);
  const Color accent = ColorOf(Pal.DeckA);
  for (const GridButton& b : kGridButtons) {
    std::wstring_view caption = b.caption;
    bool lit = false;
    if (b.action == GridAction::PlayPause) {
      lit = snap.playing;
      if (snap.playing) caption = L"PAUSE";
    } else if (b.action == GridAction::Metronome) {
      lit = GridEditor.metronome;
      if (!lit) caption = L"METRONOME OFF";
    }
    const Color colour = b.row == 2 ? ColorOf(Pal.Yellow) : b.row == 3 ? ColorOf(Pal.Green) : accent;
    if (Button(b.id, GridEditorButtonRect(l, b.id), caption, colour, lit, 11.5f)) RunButton(deck, b);
  }
  DrawText(L"Pause on a kick drum where the grid is off, then BEAT IS HERE: the grid bends to pass through it. "
           L"Drag the waveform to move, scroll to zoom, Ctrl+Z undoes.",
           l.help, 11, ColorOf(Pal.Dim), kAlignLeft, false, kFontSegoeUi);
  if (Button(kDoneId, l.done, L"DONE", ColorOf(Pal.Green), false, 12)) CloseEditor();
}
