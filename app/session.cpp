#include "app/session.h"

#include <cmath>
#include <cwchar>
#include <mutex>

#include <fmt/xchar.h>

#include "base/log.h"
#include "base/settings.h"
#include "base/text_parse.h"
#include "engine/deck_commands.h"
#include "engine/engine.h"
#include "engine/side_slots.h"
#include "platform/files.h"
#include "platform/folders.h"

namespace {

constexpr wchar_t kSection[] = L"Session";

std::wstring PathKey(int deck) { return fmt::format(L"Deck{}Path", static_cast<wchar_t>(L'A' + deck)); }
std::wstring PosKey(int deck) { return fmt::format(L"Deck{}Pos", static_cast<wchar_t>(L'A' + deck)); }

}  // namespace

void StoreSession(IniDocument* ini, const std::array<SessionDeck, kEngineDecks>& decks) {
  for (int deck = 0; deck < kEngineDecks; ++deck) {
    const SessionDeck& d = decks[deck];
    IniSet(ini, kSection, PathKey(deck), d.path);
    IniSet(ini, kSection, PosKey(deck), fmt::format(L"{:f}", d.path.empty() ? 0.0 : d.seconds));
  }
}

std::vector<SessionDeck> ReadSession(const IniDocument& ini, int count) {
  std::vector<SessionDeck> decks;
  for (int deck = 0; deck < count && deck < kEngineDecks; ++deck) {
    SessionDeck d;
    d.path = IniString(ini, kSection, PathKey(deck), L"");
    d.seconds = LeadingCNumber(IniString(ini, kSection, PosKey(deck), L"0"));
    decks.push_back(std::move(d));
  }
  return decks;
}

std::array<SessionDeck, kEngineDecks> CurrentSessionDecks() {
  std::array<SessionDeck, kEngineDecks> decks;
  std::array<TrackPtr, kEngineDecks> tracks;  // released after the lock
  {
    std::lock_guard<RealtimeMutex> lock(Engine.lock);
    for (int deck = 0; deck < kEngineDecks; ++deck) {
      const DeckState& state = Engine.decks[deck];
      tracks[deck] = state.track;
      if (!state.track) continue;
      decks[deck].path = state.track->path;
      if (state.track->sampleRate > 0) decks[deck].seconds = state.position / state.track->sampleRate;
    }
  }
  return decks;
}

bool SaveSession() {
  const std::wstring path = SettingsPath();
  std::wstring error;
  const auto decks = CurrentSessionDecks();
  const IniUpdate result = UpdateIniFile(path, [&](IniDocument* ini) { StoreSession(ini, decks); }, &error);
  if (result == IniUpdate::Unreadable) {
    WriteLog(L"Couldn't read {} before saving the session; the session was not saved", path);
    return false;
  }
  if (result == IniUpdate::WriteFailed) {
    WriteLog(L"Couldn't save the session to {} ({})", path, error);
    return false;
  }
  return true;
}

void LoadSession() {
  std::string bytes;
  const IniDocument ini = ReadBytes(SettingsPath(), &bytes, kIniMaxBytes) == ReadStatus::Ok ? ParseIni(bytes)
                                                                                            : IniDocument{};
  const std::vector<SessionDeck> decks = ReadSession(ini, DecksInUse());
  for (int deck = 0; deck < static_cast<int>(decks.size()); ++deck) {
    const SessionDeck& d = decks[deck];
    if (d.path.empty() || !FileExists(d.path)) continue;
    SetPendingSeek(deck, d.seconds);
    LoadTrack(deck, d.path);
  }
}
