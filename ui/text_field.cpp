#include "ui/text_field.h"

#include <algorithm>
#include <cassert>

#include "base/palette.h"
#include "platform/keymap.h"

namespace {

constexpr wchar_t kBackspace = 8;
constexpr wchar_t kFirstTypeable = 32;
constexpr float kSelectionAlpha = 0.45f;

// The text the caret belongs to and where it stands there.
const std::wstring* EditedText = nullptr;
FieldSelection Edit;

// The caret of `text`, taken over (at its end) when another text was edited last, and held
// inside the text when it changed under the caret (the search box cleared by Esc).
FieldSelection& Take(const std::wstring* text) {
  if (text != EditedText) PlaceCaretAtEnd(text);
  Edit.caret = std::min(Edit.caret, text->size());
  Edit.anchor = std::min(Edit.anchor, text->size());
  return Edit;
}

void DeleteSelection(std::wstring* text, FieldSelection& s) {
  text->erase(s.Start(), s.End() - s.Start());
  s.caret = s.anchor = s.Start();
}

// Puts the typeable characters of `chars` in place of the selection, up to kMaxFieldChars.
void Insert(std::wstring* text, FieldSelection& s, std::wstring_view chars) {
  DeleteSelection(text, s);
  std::wstring kept;
  for (wchar_t c : chars)
    if (c >= kFirstTypeable && text->size() + kept.size() < kMaxFieldChars) kept.push_back(c);
  text->insert(s.caret, kept);
  s.caret = s.anchor = s.caret + kept.size();
}

void Copy(const std::wstring& text, const FieldSelection& s) {
  if (s.End() > s.Start() && ClipboardWriteHook) ClipboardWriteHook(text.substr(s.Start(), s.End() - s.Start()));
}

}  // namespace

void PlaceCaretAtEnd(const std::wstring* text) {
  EditedText = text;
  Edit.caret = Edit.anchor = text ? text->size() : 0;
}

FieldSelection SelectionOf(const std::wstring* text) {
  if (text == nullptr || text != EditedText) return FieldSelection{text ? text->size() : 0, text ? text->size() : 0};
  return FieldSelection{std::min(Edit.caret, text->size()), std::min(Edit.anchor, text->size())};
}

void TypeIntoField(std::wstring* text, wchar_t character, bool masked) {
  assert(text && "TypeIntoField needs a text");
  if (!text) return;
  FieldSelection& s = Take(text);
  switch (character) {
    case kBackspace:
      if (s.End() == s.Start() && s.caret > 0) s.anchor = s.caret - 1;
      DeleteSelection(text, s);
      return;
    case kFieldSelectAll:
      s.anchor = 0;
      s.caret = text->size();
      return;
    case kFieldCopy:
      if (!masked) Copy(*text, s);
      return;
    case kFieldCut:
      if (masked) return;
      Copy(*text, s);
      DeleteSelection(text, s);
      return;
    case kFieldPaste: {
      std::wstring clip;
      if (!ClipboardReadHook || !ClipboardReadHook(&clip)) return;
      Insert(text, s, std::wstring_view(clip).substr(0, clip.find_first_of(L"\r\n")));
      return;
    }
    default:
      if (character >= kFirstTypeable) Insert(text, s, std::wstring_view(&character, 1));
  }
}

bool FieldKeyDown(std::wstring* text, int virtualKey, bool shift) {
  assert(text && "FieldKeyDown needs a text");
  if (!text) return false;
  FieldSelection& s = Take(text);
  const bool selected = s.End() > s.Start();
  size_t to = s.caret;
  switch (virtualKey) {
    case KeyCode::Home: to = 0; break;
    case KeyCode::End: to = text->size(); break;
    // Without Shift an arrow first drops the selection at its side, as edit controls do.
    case KeyCode::Left: to = !shift && selected ? s.Start() : (s.caret > 0 ? s.caret - 1 : 0); break;
    case KeyCode::Right: to = !shift && selected ? s.End() : std::min(s.caret + 1, text->size()); break;
    case KeyCode::Delete:
      if (!selected && s.caret < text->size()) s.anchor = s.caret + 1;
      DeleteSelection(text, s);
      return true;
    default: return false;
  }
  s.caret = to;
  if (!shift) s.anchor = to;
  return true;
}

void DrawFieldText(const std::wstring& text, const std::wstring& shown, const FieldLook& look, bool caretOn) {
  const FieldSelection s = SelectionOf(&text);
  const size_t start = std::min(s.Start(), shown.size()), end = std::min(s.End(), shown.size());
  auto xAt = [&](size_t index) {
    const float width = index == 0 ? 0.0f : TextWidth(shown.substr(0, index), look.size, false, kFontSegoeUi);
    return std::min(look.box.x + width, look.maxX);
  };
  if (end > start) {
    const float x0 = xAt(start), x1 = xAt(end);
    FillRect(Rc{x0, look.top, x1 - x0, look.bottom - look.top}, WithAlpha(ColorOf(Pal.DeckA), kSelectionAlpha));
  }
  if (!shown.empty()) DrawTextAsIs(shown, look.box, look.size, look.color, kAlignLeft, false, kFontSegoeUi);
  if (caretOn) {
    const float x = std::min(xAt(s.caret) + 1, look.maxX);
    DrawLine(x, look.top, x, look.bottom, ColorOf(Pal.Text), 1);
  }
}
