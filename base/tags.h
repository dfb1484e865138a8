#pragma once
// The common tags of audio files (title, artist, album, genre, comment, play time) through the
// platform's tag store, whatever the format.
#include <string>

#include "platform/media_tags.h"

struct TrackTags {
  std::wstring title;
  std::wstring artist;
  std::wstring album;
  std::wstring genre;
  std::wstring comment;
  double duration = 0.0;  // seconds; read only
};

// One text field of TrackTags and how it is stored: one text, or a list of texts (artists and
// genres), which an empty field writes as an empty list.
struct TagField {
  std::wstring TrackTags::*field;
  TagProperty property;
  bool isList;
};
inline constexpr TagField kTagFields[] = {
    {.field = &TrackTags::title, .property = TagProperty::Title, .isList = false},
    {.field = &TrackTags::artist, .property = TagProperty::Artist, .isList = true},
    {.field = &TrackTags::album, .property = TagProperty::Album, .isList = false},
    {.field = &TrackTags::genre, .property = TagProperty::Genre, .isList = true},
    {.field = &TrackTags::comment, .property = TagProperty::Comment, .isList = false},
};

// Texts of WriteTags' two failures.
inline constexpr const wchar_t* kTagsNotEditableText =
    L"This file's tags can't be edited (read-only, in use, or an unsupported format)";
inline constexpr const wchar_t* kTagsNotSavedText = L"Couldn't save tags to this file";

// Fills the five texts (a missing property gives empty text) and, when the format reports one,
// the play time. False, with *tags untouched, when the file's tags cannot be opened.
bool ReadTags(const std::wstring& path, TrackTags* tags);
// Writes the five texts in table order (duration is never written). On false *error holds one of
// the two texts above and the file is unchanged.
bool WriteTags(const std::wstring& path, const TrackTags& tags, std::wstring* error);
// A property as one text: several values (artists, genres) joined with "; "; empty when absent.
std::wstring PropVariantToText(const TagStore& store, TagProperty property);
// Stores the text as the property's single value; false when the store refuses it.
bool SetTagValue(TagStore& store, TagProperty property, const std::wstring& text);
