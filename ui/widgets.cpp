#include "ui/widgets.h"

#include <algorithm>
#include <cassert>
#include <cmath>

#include "base/palette.h"
#include "control/midi_learn.h"
#include "engine/control_input.h"
#include "ui/glow.h"
#include "ui/scroll_view.h"

namespace {

// Button corners: a quarter of the height, at most 6 DIPs.
constexpr float kButtonRadiusShare = 0.25f;
constexpr float kButtonMaxRadiusDip = 6.0f;
// Button faces: vertical gradients, top and bottom.
constexpr Color kFaceTop = ColorOf(0x222630), kFaceBottom = ColorOf(0x181B22);
constexpr Color kDownTop = ColorOf(0x1A1D25), kDownBottom = ColorOf(0x15171E);
constexpr Color kHoverTop = ColorOf(0x2A2F3B), kHoverBottom = ColorOf(0x1D212A);
constexpr Color kButtonEdge = ColorOf(0x2B303C);
constexpr Color kTopHighlight{1, 1, 1, 0.05f};
constexpr float kLitEdgeLighten = 0.25f;
constexpr float kLitLabelLighten = 0.35f;
constexpr float kLitEdgeWidth = 1.5f;
constexpr float kLitGlowAlpha = 0.6f, kLitGlowWidth = 2.0f;
constexpr float kHoverEdgeAlpha = 0.6f;
constexpr float kHoverGlowAlpha = 0.3f, kHoverGlowWidth = 1.5f;

// MIDI learn marks.
constexpr float kLearnRadiusDip = 5.0f;
constexpr float kLearnTargetWidth = 2.0f, kLearnGlowWidth = 3.0f;
constexpr float kLearnOtherAlpha = 0.22f;
constexpr float kMappedDotRadius = 3.0f, kMappedGlowRadius = 4.0f;

// Choice rows and steppers.
constexpr float kRowGapDip = 4.0f;
constexpr float kRowTextSize = 10.5f;
constexpr float kStepperButtonDip = 26.0f;
constexpr float kStepperBoxInsetDip = 30.0f;
constexpr float kStepperTextInsetDip = 38.0f;
constexpr float kStepperTextSize = 12.0f;
constexpr float kStepperBoxRadius = 4.0f;

Rc Grow(Rc r, float by) { return Rc{r.x - by, r.y - by, r.w + 2 * by, r.h + 2 * by}; }

// The boxes the pointer was tested against in the last noted frame. Capacity is kept across
// frames; a frame that tests more boxes than this keeps no notes (every move then draws).
struct PointerNote {
  Rc box;
  Affine space;  // window pointer -> the coordinates the box is in
  bool followed = false;
};
constexpr size_t kMaxPointerNotes = 4096;
std::vector<PointerNote> PointerNotes;
Affine PointerSpace;
bool PointerNoting = false;
bool PointerNotesWhole = false;  // the notes describe a whole frame

void NotePointerBox(Rc r, bool followed) {
  // A hidden pointer (under a form, outside a scroll view) is in no box wherever it goes; what
  // hid it noted its own box.
  if (!PointerNoting || Input.x == kHiddenMouseDip) return;
  if (PointerNotes.size() >= kMaxPointerNotes) {
    PointerNotesWhole = false;
    return;
  }
  PointerNotes.push_back(PointerNote{r, PointerSpace, followed});
}

// An index moved by step and wrapped into 0..count - 1, also from an index outside that range.
int WrapIndex(int index, int step, int count) {
  const int moved = static_cast<int>((static_cast<int64_t>(index) + step) % count);
  return moved < 0 ? moved + count : moved;
}

}  // namespace

// ---- the protocol ---------------------------------------------------------------------------

bool Inside(Rc r, float x, float y) { return x >= r.x && x < r.x + r.w && y >= r.y && y < r.y + r.h; }

bool MouseOver(Rc r) {
  NotePointerBox(r, false);
  return Inside(r, Input.x, Input.y);
}

bool MouseIn(Rc r) { return ActiveControlId == kNoActiveControl && MouseOver(r); }

void StartPointerNotes() {
  if (PointerNotes.capacity() == 0) PointerNotes.reserve(kMaxPointerNotes);
  PointerNotes.clear();
  PointerSpace = Affine{};
  PointerNoting = PointerNotesWhole = true;
}

void StopPointerNotes(bool drawn) {
  PointerNoting = false;
  PointerNotesWhole = PointerNotesWhole && drawn;
}

bool PointerNotesTaken() { return PointerNoting; }

void NotePointerFollowed(Rc r) { NotePointerBox(r, true); }

Affine SetPointerSpace(const Affine& windowToInput) {
  const Affine previous = PointerSpace;
  PointerSpace = windowToInput;
  return previous;
}

bool PointerMoveChangesNothing(float x0, float y0, float x1, float y1) {
  if (!PointerNotesWhole || PointerNoting || PointerNotes.empty()) return false;
  for (const PointerNote& note : PointerNotes) {
    float ax = 0, ay = 0, bx = 0, by = 0;
    MapPoint(note.space, x0, y0, &ax, &ay);
    MapPoint(note.space, x1, y1, &bx, &by);
    const bool before = Inside(note.box, ax, ay), after = Inside(note.box, bx, by);
    if (before != after || (note.followed && (before || after))) return false;
  }
  return true;
}

bool IsHeld(int id) { return (ActiveControlId == id && Input.held) || heldIds.count(id) > 0; }

bool IsReleased(int id) { return (ActiveControlId == id && Input.released) || releasedIds.count(id) > 0; }

bool PressStarts(Rc area) { return Input.pressed && MouseIn(area); }

bool TakeLearnClick(int id, Rc area) {
  if (!midiLearnOn || !PressStarts(area)) return false;
  midiLearnTarget = id;
  ActiveControlId = id;
  return true;
}

bool OffScreen(Rc r) {
  if (!std::isfinite(r.x) || !std::isfinite(r.y) || !std::isfinite(r.w) || !std::isfinite(r.h)) return true;
  if (!HasDevice()) return false;
  const Affine m = GetTransform();
  float x0 = INFINITY, y0 = INFINITY, x1 = -INFINITY, y1 = -INFINITY;
  for (const PointF corner : {PointF{r.x, r.y}, PointF{r.Right(), r.y}, PointF{r.x, r.Bottom()},
                              PointF{r.Right(), r.Bottom()}}) {
    float x = 0, y = 0;
    MapPoint(m, corner.x, corner.y, &x, &y);
    x0 = std::min(x0, x), y0 = std::min(y0, y), x1 = std::max(x1, x), y1 = std::max(y1, y);
  }
  return x1 < 0 || y1 < 0 || x0 > TargetWidth() || y0 > TargetHeight();
}

void GlowOutline(Rc r, float radius, Color c, float width) {
  GlowShape shape;
  shape.kind = kGlowOutlinedRoundedRect;
  shape.g1 = r.x, shape.g2 = r.y, shape.g3 = r.Right(), shape.g4 = r.Bottom(), shape.g5 = radius, shape.g6 = width;
  shape.color = c;
  QueueGlow(std::move(shape));
}

void MidiLearnMark(int id, Rc r) {
  if (!midiLearnOn) return;
  const Color yellow = ColorOf(Pal.Yellow);
  if (id == midiLearnTarget) {
    StrokeRoundedRect(Grow(r, 1), kLearnRadiusDip, yellow, kLearnTargetWidth);
    GlowOutline(Grow(r, 2), kLearnRadiusDip, yellow, kLearnGlowWidth);
  } else {
    StrokeRoundedRect(Grow(r, 0.5f), kLearnRadiusDip, WithAlpha(yellow, kLearnOtherAlpha), 1);
  }
  if (mappedControlIds.count(id) > 0) {
    const Color green = ColorOf(Pal.Green);
    const float x = r.Right() - kMappedDotRadius, y = r.y + kMappedDotRadius;
    FillCircle(x, y, kMappedDotRadius, green);
    GlowCircle(x, y, kMappedGlowRadius, green);
  }
}

// ---- buttons --------------------------------------------------------------------------------

void RecordWidgetRect(int id, Rc r) {
  if (WidgetRectLog) WidgetRectLog->emplace_back(id, r);
}

bool Button(int id, Rc r, std::wstring_view label, Color colour, bool lit, float textSize) {
  // Off screen (a scrolled page, a window smaller than the layout) a key or controller still
  // presses the button and its light still follows it; only the mouse and the drawing are left out.
  if (OffScreen(r)) {
    controlKinds[id] = kControlKindButton;
    controlLights[id] = lit || (!midiLearnOn && heldIds.count(id) > 0);
    return pressedIds.count(id) > 0;
  }
  RecordWidgetRect(id, r);

  controlKinds[id] = kControlKindButton;
  const bool learnClick = TakeLearnClick(id, r);
  const bool hover = MouseOver(r) && (ActiveControlId == kNoActiveControl || ActiveControlId == id);
  bool clicked = false;
  if (!learnClick && !midiLearnOn && hover && PressStarts(r)) {
    ActiveControlId = id;
    clicked = true;
  }
  if (pressedIds.count(id) > 0) clicked = true;  // keys and controllers fire in learn mode too
  const bool down = !midiLearnOn && IsHeld(id);
  controlLights[id] = lit || down;

  const float radius = std::min(r.h * kButtonRadiusShare, kButtonMaxRadiusDip);
  Color labelColour = colour;
  if (lit) {
    DrawButtonFace(r, ButtonFace{.radius = radius,
                                 .top = down ? kDownTop : kFaceTop,
                                 .bottom = down ? kDownBottom : kFaceBottom,
                                 .edge = Lighten(colour, kLitEdgeLighten),
                                 .edgeWidth = kLitEdgeWidth});
    GlowOutline(r, radius, WithAlpha(colour, kLitGlowAlpha), kLitGlowWidth);
    labelColour = Lighten(colour, kLitLabelLighten);
  } else {
    const Color top = down ? kDownTop : hover ? kHoverTop : kFaceTop;
    const Color bottom = down ? kDownBottom : hover ? kHoverBottom : kFaceBottom;
    DrawButtonFace(r, ButtonFace{.radius = radius,
                                 .top = top,
                                 .bottom = bottom,
                                 .edge = hover ? WithAlpha(colour, kHoverEdgeAlpha) : kButtonEdge,
                                 .highlight = kTopHighlight});
    if (hover) GlowOutline(r, radius, WithAlpha(colour, kHoverGlowAlpha), kHoverGlowWidth);
  }
  DrawText(label, r, textSize, labelColour, kAlignCenter, true, kFontBahnschrift);
  MidiLearnMark(id, r);
  return clicked;
}

bool DrawTextRows(int firstId, Rc r, const std::vector<std::wstring>& labels, int* selected) {
  assert(selected && "DrawTextRows needs the selection it edits");
  if (!selected || labels.empty()) return false;
  const int n = static_cast<int>(labels.size());
  const float width = (r.w - kRowGapDip * (n - 1)) / n;
  int chosen = *selected;
  for (int i = 0; i < n; ++i) {
    const Rc button{r.x + (width + kRowGapDip) * i, r.y, width, r.h};
    if (Button(firstId + i, button, labels[i], ColorOf(Pal.DeckA), i == *selected, kRowTextSize)) chosen = i;
  }
  if (chosen == *selected) return false;
  *selected = chosen;
  return true;
}

bool DrawLabelledBox(int id, Rc r, std::wstring_view text, int* index, int count) {
  assert(index && count > 0 && "DrawLabelledBox needs an index and at least one choice");
  if (!index || count <= 0) return false;
  const Color dim = ColorOf(Pal.Dim);
  const bool back = Button(id, Rc{r.x, r.y, kStepperButtonDip, r.h}, L"\u25C2", dim, false, kStepperTextSize);
  FillRoundedRect(Rc{r.x + kStepperBoxInsetDip, r.y, r.w - 2 * kStepperBoxInsetDip, r.h}, kStepperBoxRadius,
                  ColorOf(Pal.Background));
  DrawText(text, Rc{r.x + kStepperTextInsetDip, r.y, r.w - 2 * kStepperTextInsetDip, r.h}, kStepperTextSize,
           ColorOf(Pal.Text), kAlignCenter, false, kFontSegoeUi);
  const bool forward = Button(id + 1, Rc{r.Right() - kStepperButtonDip, r.y, kStepperButtonDip, r.h}, L"\u25B8", dim,
                              false, kStepperTextSize);
  if (!back && !forward) return false;
  *index = WrapIndex(*index, (forward ? 1 : 0) - (back ? 1 : 0), count);
  return true;
}
