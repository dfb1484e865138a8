#pragma once
// The About page (tab 9 of the settings screen). UI thread.
#include <string>

#include "base/ui_text.h"
#include "ui/draw.h"

inline constexpr int kAboutSiteId = 3120;
inline constexpr int kAboutSupportId = 3121;
inline constexpr int kAboutLicencesId = 3122;

// The maker's web site, and the host name its link shows.
inline constexpr const wchar_t* kMakerSite = L"https://www.orrelby.com/";
inline constexpr const wchar_t* kMakerHost = L"orrelby.com";
inline constexpr const wchar_t* kNoticesFileName = L"THIRD-PARTY-NOTICES.txt";

// Draws and handles the About page in the area the settings frame gives it (below the header).
void DrawAbout(Rc area);
// When this copy was built, as the Updates page shows it ("8 Dec 2026, 13:43"; the month in the UI
// language once translated).
UiText BuildDate();
// Each hands its target to the desktop's default handler; a failure goes to the status line.
void OpenMakerSite();
void OpenSupportFolder();
void OpenLicences();
