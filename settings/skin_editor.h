#pragma once
// The skin editor, a full-screen overlay. Until it is built it never opens. UI thread.

extern bool SkinEditorOpen;
// Draws and handles the editor while SkinEditorOpen is set.
void DrawSkinEditor();
