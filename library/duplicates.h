#pragma once
// The duplicate finder: tracks in view with the same artist and title (letter case and runs of
// white space aside) are gathered side by side in the list "Duplicates". It deletes nothing.
// UI thread.
#include <cstdint>
#include <string>
#include <vector>

#include "library/mix_order.h"

inline constexpr wchar_t kDuplicatesListName[] = L"Duplicates";

// Lower-cased, white space runs as one space, none at either end.
std::wstring NormaliseMatchText(std::wstring_view text);
// Groups of two or more tracks with the same match key, in ascending key order (UTF-16 code
// units); each group's indices in input order. Tracks with an empty normalised title are left out.
std::vector<std::vector<uint32_t>> GroupDuplicates(const std::vector<MixTrack>& tracks);
// Runs the finder on the tracks in view and reports on the status line.
void FindDuplicates();
