#pragma once
// The skin editor, a full-screen overlay over the 21 colours of the Palette: a click on a colour
// asks for a new value, written straight into the Palette; SAVE AS SKIN… keeps the colours as a
// ".vxskin" file and selects it; UNDO CHANGES goes back to the selected skin. UI thread.
#include <string>
#include <vector>

#include "ui/modal.h"

extern bool SkinEditorOpen;
// Draws and handles the editor while SkinEditorOpen is set.
void DrawSkinEditor();

// The colour form for colour i (SkinColourKeys order): "Colour (RRGGBB)", "SET".
void OpenColourEntry(int i);
// "#" then six hex digits, or six hex digits, set colour i; anything else is refused with
// "Six hex digits, like 1FA8FF". True when the colour was set.
bool ApplyColourEntry(int i, const std::vector<ModalField>& fields);
// The "Save as a skin" form, starting with "My skin" for the default skin, else [Look] Skin.
void OpenSaveSkinForm();
// Saves the Palette under the form's name (made fit for a file name; " (mine)" added to a
// built-in skin's name) in the Skins folder and selects it. Outside test mode a failed write
// says "Couldn't save the skin “name”" and changes nothing. True when the skin was selected.
bool SaveSkinAs(const std::vector<ModalField>& fields);
