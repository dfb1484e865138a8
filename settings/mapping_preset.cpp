#include "settings/mapping_preset.h"

#include "base/status_message.h"
#include "base/ui_text.h"
#include "control/controller_devices.h"
#include "control/mapping_table.h"
#include "platform/folders.h"
#include "ui/modal.h"

namespace {
constexpr int kPresetStatusMs = 2800;
}

std::wstring CleanPresetName(const std::wstring& name) {
  std::wstring clean = name;
  for (wchar_t& c : clean)
    if (c < 32 || std::wstring_view(L"<>:\"/\\|?*").find(c) != std::wstring_view::npos) c = L'_';
  return clean;
}

bool SaveMappingPreset(const std::wstring& name) {
  const std::wstring clean = CleanPresetName(name);
  if (clean.empty()) return false;
  if (!WriteMidiMapFile(JoinPath(ControllersFolder(), clean + L".vxmap"))) {
    ShowStatus(UiFormat(L"Could not save preset \u201c{}\u201d", clean), kPresetStatusMs);
    return false;
  }
  ShowStatus(UiFormat(L"Saved preset \u201c{}\u201d", clean), kPresetStatusMs);
  return true;
}

void SaveMappingPresetDialog() {
  const std::vector<std::wstring>& inputs = MidiInputDevices;
  OpenModal(L"Save mapping preset", {{L"Name", inputs.empty() ? L"My controller" : inputs.front()}}, L"SAVE",
            [](const std::vector<ModalField>& fields) { SaveMappingPreset(fields.front().value); });
}
