#include "control/macros_panel.h"

#include <algorithm>

#include "base/settings.h"

bool MacrosPanelOpen = false;

const wchar_t* const kMacroReference[kMacroReferenceLines] = {
    L"Commands, joined with  &",
    L"deck left | right | a\u2013d | other",
    L"play \u00b7 pause \u00b7 stop \u00b7 cue \u00b7 sync \u00b7 synclock",
    L"loop 4 \u00b7 loop off \u00b7 jump -8 \u00b7 hotcue 3",
    L"tempo +2% \u00b7 tempo 0 \u00b7 key -1 \u00b7 keymatch",
    L"volume 80 \u00b7 gain 50 \u00b7 filter -60",
    L"eq low 0 \u00b7 eq high 50",
    L"fx 1 echo \u00b7 fx 1 on|off \u00b7 fx 1 amount 70",
    L"stems acapella|instrumental|all",
    L"stem vocals off \u00b7 stem kick off",
    L"xfader left|right|50 \u00b7 glide \u00b7 master 80",
    L"brake \u00b7 spin \u00b7 reverse \u00b7 sampler 3 \u00b7 bank b",
    L"automix on \u00b7 sandbox \u00b7 rec \u00b7 load \u00b7 browse 1",
    L"video effect mono \u00b7 video transition wipe",
    L"say \"text\" \u00b7 wait 2 beats | 1 bar | 500 ms",
    L"Glide a value:  filter 70 over 8 beats",
};

std::wstring MacroCardLabel(int slot) {
  const int i = std::clamp(slot, 0, kMacroSlots - 1);
  return std::to_wstring(i + 1) + L"  " + Settings.MacroName[i];
}

bool SaveMacroSlot(int slot, const std::wstring& name, const std::wstring& script) {
  const int i = std::clamp(slot, 0, kMacroSlots - 1);
  Settings.MacroName[i] = name;
  Settings.MacroScript[i] = script;
  return SaveSettings();
}
