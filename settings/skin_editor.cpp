#include "settings/skin_editor.h"

bool SkinEditorOpen = false;

void DrawSkinEditor() {}
