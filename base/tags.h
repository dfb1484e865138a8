#pragma once
// The common tags of audio files (title, artist, album, genre, comment, play time) through the
// platform's tag store, whatever the format.
#include <string>

#include "base/ui_text.h"
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


// Fills the five texts (a missing property gives empty text) and, when the format reports one,
// the play time. False, with *tags untouched, when the file's tags cannot be opened.
bool ReadTags(const std::wstring& path, TrackTags* tags);
// Writes the five texts in table order (duration is never written). On false the file is unchanged
// and *error says which file and why: "Couldn't save the tags of <file name>: <cause>" (a full or
// read-only disk, no regular file, a link that leads nowhere, a format without tags).
bool WriteTags(const std::wstring& path, const TrackTags& tags, UiText* error);
// A property as one text: several values (artists, genres) joined with "; "; empty when absent.
std::wstring PropVariantToText(const TagStore& store, TagProperty property);
// Stores the text as the property's single value; false when the store refuses it.
bool SetTagValue(TagStore& store, TagProperty property, const std::wstring& text);
