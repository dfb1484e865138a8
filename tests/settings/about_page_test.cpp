// The About page's three buttons, clicked in real frames, reach the desktop's default handler
// through the real xdg-open: a recording handler made the default with xdg-mime in this test's
// private XDG folders writes down what it was given.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <regex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "app/frame_tick.h"
#include "base/log.h"
#include "engine/control_input.h"
#include "platform/folders.h"
#include "platform/text.h"
#include "settings/about_page.h"
#include "settings/settings_screen.h"
#include "settings/update_client.h"
#include "support/shown_status.h"
#include "support/temp_home.h"
#include "ui/draw.h"
#include "ui/frame_driver.h"
#include "ui/widgets.h"

namespace {

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
    lines.push_back(text.substr(start, end - start));
  return lines;
}

TEST(AboutPage, LinksReachTheDesktopHandler) {
  TempHome home;
  const std::string h = home.path();
  const std::string log = h + "/opened.txt";
  std::filesystem::create_directories(h + "/data/applications");
  std::filesystem::create_directories(h + "/config");
  WriteRaw(h + "/record.sh", "#!/bin/sh\nprintf '%s\\n' \"$1\" >> '" + log + "'\n");
  std::filesystem::permissions(h + "/record.sh", std::filesystem::perms::owner_all);
  WriteRaw(h + "/data/applications/record.desktop",
           "[Desktop Entry]\nType=Application\nName=Record\nExec=" + h +
               "/record.sh %u\nMimeType=x-scheme-handler/https;inode/directory;text/plain;\n");
  // xdg-open's generic path: no desktop environment, a display named, no $BROWSER.
  for (const char* name : {"XDG_CURRENT_DESKTOP", "DESKTOP_SESSION", "KDE_FULL_SESSION", "GNOME_DESKTOP_SESSION_ID",
                           "BROWSER"})
    unsetenv(name);
  if (getenv("DISPLAY") == nullptr) setenv("DISPLAY", ":99", 1);
  ASSERT_EQ(std::system("xdg-mime default record.desktop x-scheme-handler/https inode/directory text/plain"), 0);

  std::vector<std::pair<int, Rc>> rects;
  WidgetRectLog = &rects;
  SettingsOpen = true;
  SettingsPage = 9;
  const FrameWindow window{1500, 980, false, 1.0f};
  for (int id : {kAboutSiteId, kAboutSupportId, kAboutLicencesId}) {
    rects.clear();
    DriveFrame(window);
    Rc r{};
    for (const auto& [rid, rect] : rects)
      if (rid == id) r = rect;
    ASSERT_GT(r.w, 0.0f) << id;
    Input.x = r.x + r.w / 2, Input.y = r.y + r.h / 2;
    Input.pressed = Input.held = true;
    DriveFrame(window);  // the click queues the opener; it runs after this frame
    Input.pressed = Input.held = false;
    ActiveControlId = kNoActiveControl;
  }
  WidgetRectLog = nullptr;
  SettingsOpen = false;
  ReleaseDevice();

  // Only a build that linked the program writes the notices beside it; without them LICENCES
  // says so on the status line instead of opening anything.
  const std::string notices = WideToUtf8(JoinPath(ProgramFolder(), kNoticesFileName));
  const bool haveNotices = !ReadRaw(notices).empty();
  const size_t wanted = haveNotices ? 3 : 2;
  std::vector<std::string> opened;
  for (int i = 0; i < 400 && opened.size() < wanted; ++i) {  // xdg-open starts slowly on a busy machine
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    opened = Lines(ReadRaw(log));
  }
  ASSERT_EQ(opened.size(), wanted) << ReadRaw(log);
  std::sort(opened.begin(), opened.end());  // the handlers run as separate children
  std::vector<std::string> expected = {WideToUtf8(kMakerSite), WideToUtf8(SupportFolder())};
  if (haveNotices) expected.push_back(notices);
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(opened, expected);
  if (!haveNotices) return;

  // The notices the build put beside the program name the libraries and carry their licences.
  const std::string text = ReadRaw(notices);
  EXPECT_NE(text.find("libmp3lame"), std::string::npos);
  EXPECT_NE(text.find("Package: libtag"), std::string::npos);
  EXPECT_NE(text.find("GNU"), std::string::npos);
}

// With no desktop opener to start, the status line says what could not be opened, in the language
// asked (the target as it is).
TEST(AboutPage, AnOpenThatCannotStartSaysSoInTheLanguageAsked) {
  TempHome home;
  const char* was = getenv("PATH");
  const std::string path = was ? was : "";
  setenv("PATH", (home.path() + "/no-programs").c_str(), 1);
  OpenMakerSite();
  setenv("PATH", path.c_str(), 1);
  EXPECT_EQ(ShownStatusIn(kUiFrench), L"Impossible d'ouvrir " + std::wstring(kMakerSite));
  EXPECT_EQ(ShownStatusIn(kUiGerman), std::wstring(kMakerSite) + L" konnte nicht geöffnet werden");
}

}  // namespace

namespace {

// The footer's build date reads like every other date the program shows, the Updates page's
// "Built" row first: "8 Dec 2026, 13:43", never the compiler's "Dec  8 2026".
TEST(AboutPage, TheBuildDateHasTheUpdatesPagesFormat) {
  const std::string date = WideToUtf8(EnglishText(BuildDate()));
  EXPECT_TRUE(std::regex_match(date, std::regex(R"([1-9][0-9]? (Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) 20[0-9]{2}, [0-2][0-9]:[0-5][0-9])")))
      << date;
  EXPECT_EQ(EnglishText(BuildDate()), FormatStamp(BuildStamp()));
}

}  // namespace
