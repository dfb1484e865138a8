#pragma once
// The browser's forms and dialogs for tags and moved files. UI thread; each opens and returns at
// once, the work runs when the form is confirmed.
#include <string>

// "Edit tags — <file name>": Title, Artist, Album, Genre and Comment from the file's tags; SAVE
// writes them with SaveTags.
void EditTags(const std::wstring& path);
// "My Tags — <file name without extension>": one field with the record's own tags; SAVE stores them.
void EditMyTags(const std::wstring& path);
// Asks where the music is now; a chosen folder starts the moved-files search.
void FindMovedFiles();
