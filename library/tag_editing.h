#pragma once
// Editing tags from the browser: the file's own tags (written into the audio file) and the user's
// own tags ("My Tags", kept only in the library record). UI thread.
#include <string>
#include <vector>

#include "base/tags.h"

// Writes the five texts of `fields` (title, artist, album, genre, comment) into the file. Refused
// while any deck plays the file; a prelisten of it is stopped first so the file is not held open.
// On success the view's rows of the file are read again and "Tags saved" is shown; on failure the
// writer's text is shown and the file is unchanged. True when written.
bool SaveTags(const std::wstring& path, const TrackTags& fields);
// Confirming the "My Tags" form: the text normalised (SplitTags, joined with ", ") into the
// record's myTags, the record created when needed.
void StoreMyTags(const std::wstring& path, const std::wstring& text);
// Adds the tag to the file's own tags, or removes it when present (compared ignoring case).
void ToggleMyTag(const std::wstring& path, const std::wstring& tag);
// Every distinct own tag of the library, the spelling first met kept, sorted ignoring case.
std::vector<std::wstring> AllMyTags();

// The user-visible texts.
inline constexpr const wchar_t* kTagsPlayingText = L"That track is playing — tags can be edited once it stops";
inline constexpr const wchar_t* kTagsSavedText = L"Tags saved";
