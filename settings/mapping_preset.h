#pragma once
// Saving the controller mapping as a named ".vxmap" preset in the Controllers folder. UI thread.
#include <string>

// The name with each of < > : " / \ | ? * and every control character replaced by "_".
std::wstring CleanPresetName(const std::wstring& name);
// Writes the mapping table crash-safe to ControllersFolder() + cleaned name + ".vxmap" and says
// "Saved preset “name”"; an empty name does nothing; a failed write says so and keeps any older
// file of that name. True when written.
bool SaveMappingPreset(const std::wstring& name);
// The form "Save mapping preset" with one field "Name" (the first open MIDI input's name, else
// "My controller"); its SAVE runs SaveMappingPreset on the field.
void SaveMappingPresetDialog();
