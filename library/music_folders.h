#pragma once
// The [Library] section of settings.ini: the user's music folders (Count, Folder0..) and the one
// the browser shows (Selected). The settings file reads and writes it through the hooks the shell
// points here. UI thread.
struct IniDocument;

// Fills MusicFolders from the section and clamps ViewIndex to them. Without a Count (a first
// start) the music, downloads and desktop folders that exist; a Count above 1000 reads 1000;
// empty FolderN keys are skipped.
void LoadMusicFolders(const IniDocument& ini);
// Replaces the section with MusicFolders, in order, and the shown folder (0 unless the browser
// shows a folder).
void StoreMusicFolders(IniDocument* ini);
