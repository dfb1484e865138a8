#include "base/tags.h"

#include <vector>

#include "base/audio_thread.h"
#include "base/files.h"
#include "base/log.h"
#include "base/text_parse.h"

namespace {
constexpr const wchar_t* kValueSeparator = L"; ";  // how several artists or genres read as one text

UiText TagsFailedText(const std::wstring& path, const std::wstring& detail) {
  return UiFormat(L"Couldn't save the tags of {}: {}", FileNameOf(path), FailureCause(detail));
}
}  // namespace

std::wstring PropVariantToText(const TagStore& store, TagProperty property) {
  std::wstring text;
  for (const std::wstring& value : store.Values(property)) {
    if (!text.empty()) text += kValueSeparator;
    text += value;
  }
  return text;
}

bool SetTagValue(TagStore& store, TagProperty property, const std::wstring& text) {
  return store.SetValues(property, {text});
}

bool ReadTags(const std::wstring& path, TrackTags* tags) {
  AssertNotAudioThread();
  const std::unique_ptr<TagStore> store = TagStore::Open(path, TagAccess::Read);
  if (!store) return false;
  for (const TagField& f : kTagFields) tags->*f.field = PropVariantToText(*store, f.property);
  double seconds = 0.0;
  if (store->Duration(&seconds)) tags->duration = seconds;
  return true;
}

bool WriteTags(const std::wstring& path, const TrackTags& tags, UiText* error) {
  AssertNotAudioThread();
  std::wstring detail;
  std::unique_ptr<TagStore> store = TagStore::Open(path, TagAccess::ReadWrite, &detail);
  if (!store) {
    WriteLog(L"Tags: cannot edit {}: {}", path, detail);
    if (error) *error = TagsFailedText(path, detail);
    return false;
  }
  for (const TagField& f : kTagFields) {
    const std::wstring& text = tags.*f.field;
    const bool stored = f.isList ? store->SetValues(f.property, text.empty() ? std::vector<std::wstring>{}
                                                                             : std::vector<std::wstring>{text})
                                 : SetTagValue(*store, f.property, text);
    if (!stored) {
      WriteLog(L"Tags: {} refused a value in table row {}", path, static_cast<int>(f.property));
      if (error) *error = TagsFailedText(path, L"its format refused a value");
      return false;
    }
  }
  if (!store->Commit(&detail)) {
    WriteLog(L"Tags: cannot save {}: {}", path, detail);
    if (error) *error = TagsFailedText(path, detail);
    return false;
  }
  return true;
}
