#pragma once
// The UI language: 0 English, 1 Spanish, 2 German, 3 Portuguese, 4 French. UI thread only.

// The language for a first run, from the user's locale ($LANGUAGE, $LC_ALL, $LC_MESSAGES, $LANG).
int DefaultUiLanguage();
// Stores the language; values outside 1..4 become 0 (English).
void SetUiLanguage(int lang);
// The language last stored; 0 until the settings are loaded.
int UiLanguage();
