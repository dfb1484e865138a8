#include "control/remote_state.h"

#include <fmt/format.h>
#include <fmt/xchar.h>

#include <algorithm>
#include <cmath>
#include <iterator>
#include <memory>

#include "base/json.h"
#include "base/log.h"
#include "base/palette.h"
#include "base/text_parse.h"
#include "base/track_info.h"
#include "control/action_table.h"
#include "control/control_ids.h"
#include "engine/automix.h"
#include "engine/deck_snapshot.h"
#include "engine/deck_view.h"
#include "engine/engine.h"
#include "engine/mixer_controls.h"
#include "engine/sandbox.h"
#include "engine/side_slots.h"
#include "engine/sync.h"
#include "library/track_view.h"
#include "platform/clock.h"
#include "platform/text.h"

namespace {

constexpr uint64_t kRenewEveryMs = 200;
constexpr int kRowsBeforeSelection = 3;
constexpr int kLibraryRows = 8;
constexpr int kHotCueButtons = 8;

uint64_t LastRenewalMs = 0;
bool Renewed = false;

// A phone polls the state every 300 ms while its page shows; one silent this long has gone (closed,
// out of reach, asleep) and can no longer lift a finger from what it holds.
constexpr uint64_t kHoldLeaseMs = 2000;

// A control a phone pressed and has not released yet (CUE held down), and who holds it.
struct RemoteHold {
  uint16_t target;
  std::string client;
};
std::vector<RemoteHold> Holds;

void AppendJsonString(std::string* out, std::wstring_view text) {
  std::wstring quoted;
  JsonWriteString(text, &quoted, JsonControls::kAsSpaces);
  out->append(WideToUtf8(quoted));
}

const char* Bool(bool value) { return value ? "true" : "false"; }

std::wstring MinutesSeconds(double seconds) {
  const int whole = static_cast<int>(std::max(seconds, 0.0));
  return fmt::format(L"{}:{:02}", whole / 60, whole % 60);
}

void AppendDeck(std::string* out, int deck) {
  const DeckSnapshot& shot = DeckSnapshots[deck];
  const DeckView& view = LiveDeckViews[deck];
  const Track* track = shot.track.get();
  out->append("{\"letter\":");
  AppendJsonString(out, DeckLetter(deck));
  out->append(",\"title\":");
  AppendJsonString(out, track ? std::wstring_view(track->title) : std::wstring_view());
  out->append(",\"artist\":");
  AppendJsonString(out, track ? std::wstring_view(track->artist) : std::wstring_view());
  out->append(",\"color\":");
  AppendJsonString(out, fmt::format(L"#{:06X}", DeckColour(deck) & 0xFFFFFF));
  double elapsed = 0.0, length = 0.0;
  if (track) {
    const double rate = std::max(track->sampleRate, 1);
    elapsed = std::max(shot.position / rate, 0.0);
    length = static_cast<double>(track->frames) / rate;
  }
  out->append(",\"time\":");
  AppendJsonString(out, MinutesSeconds(elapsed));
  out->append(",\"remain\":");
  AppendJsonString(out, track ? L"-" + MinutesSeconds(std::max(length - elapsed, 0.0)) : std::wstring());
  out->append(",\"bpm\":");
  AppendJsonString(out, track ? BpmText(DeckBpm(deck), 1) : std::wstring());
  fmt::format_to(std::back_inserter(*out), ",\"playing\":{},\"sync\":{},\"loop\":{},\"pfl\":{},\"vol\":{:.3f},\"hot\":[",
                 Bool(shot.playing), Bool(DeckInSync(deck) || view.syncLock),
                 Bool(shot.loopOn), Bool(view.headphoneCue), std::clamp(view.fader, 0.0f, 1.0f));
  for (int i = 0; i < kHotCueButtons; ++i) {
    if (i > 0) out->push_back(',');
    out->push_back(shot.hotCueStart[static_cast<size_t>(i)] >= 0.0 ? '1' : '0');
  }
  out->append("]}");
}

void AppendLibraryRows(std::string* out) {
  int position = 0;
  if (Selection >= 0) {
    const auto found = std::find(ViewOrder.begin(), ViewOrder.end(), Selection);
    if (found != ViewOrder.end()) position = static_cast<int>(found - ViewOrder.begin());
  }
  const int first = std::max(position - kRowsBeforeSelection, 0);
  const int end = std::min(first + kLibraryRows, static_cast<int>(ViewOrder.size()));
  for (int row = first; row < end; ++row) {
    const int item = ViewOrder[static_cast<size_t>(row)];
    if (item < 0 || item >= static_cast<int>(ViewItems.size())) continue;
    const LibraryFile& file = ViewItems[static_cast<size_t>(item)];
    if (row > first) out->push_back(',');
    out->append("{\"title\":");
    AppendJsonString(out, file.artist.empty() ? file.title : file.title + L" \u2014 " + file.artist);
    fmt::format_to(std::back_inserter(*out), ",\"sel\":{}}}", Bool(item == Selection));
  }
}

// The action row and word a phone's word names; deck words are what follows "deck.<side>.".
const ActionRow* FindRemoteWord(bool deck, std::string_view word, const RemoteWord** found) {
  for (const ActionRow& row : ActionRows()) {
    if (row.deck != deck) continue;
    for (const RemoteWord& w : row.remote) {
      const bool match = w.n == kNumberFollowsWord ? !w.word.empty() && word.starts_with(w.word) : w.word == word;
      if (!w.word.empty() && match) return *found = &w, &row;
    }
  }
  return nullptr;
}

}  // namespace

std::string JsonEscape(std::wstring_view text) {
  std::string out;
  AppendJsonString(&out, text);
  return out;
}

std::string RemoteStateJson() {
  std::string out = "{\"decks\":[";
  for (int side = 0; side < 2; ++side) {
    if (side > 0) out.push_back(',');
    const int deck = std::clamp<int>(SideSlots[side], 0, kEngineDecks - 1);
    AppendDeck(&out, deck);
  }
  fmt::format_to(std::back_inserter(out), "],\"xf\":{:.3f},\"automix\":{},\"sandbox\":{},\"rec\":{},",
                 std::clamp(CrossfaderPosition, 0.0f, 1.0f), Bool(Automix.on), Bool(Sandbox.on),
                 Bool(Engine.recording.load()));
  const LocalTime now = NowLocal();
  out.append("\"clock\":");
  AppendJsonString(&out, fmt::format(L"{:02}:{:02}", now.hour, now.minute));
  out.append(",\"lib\":[");
  AppendLibraryRows(&out);
  out.append("]}");
  return out;
}

void ReleaseAbandonedRemoteHolds(uint64_t nowMs) {
  const bool running = IsRemoteServerRunning();
  std::erase_if(Holds, [&](const RemoteHold& hold) {
    const uint64_t seen = running ? RemotePhoneSeenMs(hold.client) : 0;
    if (seen != 0 && nowMs - seen < kHoldLeaseMs) return false;
    WriteLog(L"Remote: {} went quiet while holding control {}; released", Utf8ToWide(hold.client), hold.target);
    ApplyMappedControl(hold.target, ReleaseEvent());
    return true;
  });
}

void BuildRemoteState() {
  const uint64_t now = MonotonicMs();
  ReleaseAbandonedRemoteHolds(now);
  if (!IsRemoteServerRunning()) return;
  if (Renewed && now - LastRenewalMs < kRenewEveryMs) return;
  Renewed = true;
  LastRenewalMs = now;
  SetRemoteState(RemoteStateJson());
}

std::vector<RemoteControlStep> RemoteControlSteps(const RemoteCommand& command) {
  const std::string_view name = command.name;
  int32_t target = 0;
  bool edgeGiven = false;  // cue.down and cue.up carry their own edge
  ControlEvent event;
  const bool deck = name.starts_with("deck.") && name.size() >= 8;
  const std::string_view word = deck ? name.substr(7) : name;
  const RemoteWord* found = nullptr;
  const ActionRow* row = FindRemoteWord(deck, word, &found);
  if (!row) return {};
  int32_t n = found->n - 1;
  if (found->n == kNumberFollowsWord) {
    // Any number a phone sends lands on a button: 0, none or below gives the first, above the last.
    n = static_cast<int32_t>(std::clamp<int64_t>(LeadingInteger(word.substr(found->word.size())), 1, row->count)) - 1;
  }
  target = row->first + n;
  if (deck) target = DeckControl(name[5] == '1' ? kRightSide : kLeftSide, target);
  event.press = found->edge == RemoteEdge::kPress;
  event.release = found->edge == RemoteEdge::kRelease;
  edgeGiven = found->edge != RemoteEdge::kFromCommand;
  const auto id = static_cast<uint16_t>(target);
  event.delta = command.delta;
  if (command.hasValue) {
    if (!std::isfinite(command.value)) return {};  // the server refuses these; nothing moves
    event.hasValue = true;
    event.value = std::clamp(command.value, 0.0f, 1.0f);
    return {{id, event}};
  }
  if (command.press && !edgeGiven) {
    ControlEvent release;
    release.release = true;
    event.press = true;
    return {{id, event}, {id, release}};
  }
  return {{id, event}};
}

void DispatchRemoteCommand(RemoteCommand* command) {
  const std::unique_ptr<RemoteCommand> owned(command);
  if (!owned) return;
  const std::vector<RemoteControlStep> steps = RemoteControlSteps(*owned);
  if (steps.size() == 1 && !steps[0].event.hasValue) {
    // A press without its release holds the control until the phone releases it or goes quiet.
    const ControlEvent& event = steps[0].event;
    const uint16_t target = steps[0].target;
    if (event.press != event.release) std::erase_if(Holds, [&](const RemoteHold& h) { return h.target == target; });
    if (event.press && !event.release) Holds.push_back({target, owned->client});
  }
  for (const RemoteControlStep& step : steps) ApplyMappedControl(step.target, step.event);
}
