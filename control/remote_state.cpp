#include "control/remote_state.h"

#include <fmt/format.h>
#include <fmt/xchar.h>

#include <algorithm>
#include <cmath>
#include <iterator>
#include <memory>

#include "app/log.h"
#include "app/text_parse.h"
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
#include "settings/palette.h"

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

struct DeckAction {
  std::string_view action;
  int offset;
};
constexpr DeckAction kDeckActions[] = {
    {"play", kPlayOffset},
    {"cue.down", kCueOffset},
    {"cue.up", kCueOffset},
    {"sync", kSyncOffset},
    {"pfl", kHeadphoneCueOffset},
    {"load", kLoadOffset},
    {"vol", kVolumeOffset},
    {"loop", kLoopOffset},
    {"jumpback", kBeatJumpOffset + 1},  // back 4 beats
    {"jumpfwd", kBeatJumpOffset + 6},   // forward 4 beats
};

struct MixerAction {
  std::string_view name;
  int32_t id;
};
constexpr MixerAction kMixerActions[] = {
    {"mixer.xfader", kCrossfaderControl}, {"lib.browse", kBrowseControl},      {"mixer.automix", kAutomixControl},
    {"mixer.glide", kGlideControl},       {"mixer.rec", kRecordControl},       {"mixer.quantize", kQuantizeControl},
    {"mixer.sandbox", kSandboxControl},
};

void AppendJsonString(std::string* out, std::wstring_view text) {
  const std::string bytes = WideToUtf8(text);
  out->push_back('"');
  for (const char c : bytes) {
    if (c == '"' || c == '\\') {
      out->push_back('\\');
      out->push_back(c);
    } else if (static_cast<unsigned char>(c) < 0x20) {
      out->push_back(' ');
    } else {
      out->push_back(c);
    }
  }
  out->push_back('"');
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
  const double bpm = track ? DeckBpm(deck) : 0.0;
  fmt::format_to(std::back_inserter(*out),
                 ",\"bpm\":\"{:.1f}\",\"playing\":{},\"sync\":{},\"loop\":{},\"pfl\":{},\"vol\":{:.3f},\"hot\":[",
                 std::isfinite(bpm) ? bpm : 0.0, Bool(shot.playing), Bool(DeckInSync(deck) || view.syncLock),
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

const DeckAction* FindDeckAction(std::string_view action) {
  for (const DeckAction& a : kDeckActions)
    if (a.action == action) return &a;
  return nullptr;
}

const MixerAction* FindMixerAction(std::string_view name) {
  for (const MixerAction& a : kMixerActions)
    if (a.name == name) return &a;
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
  if (name.starts_with("deck.") && name.size() >= 8) {
    const int side = name[5] == '1' ? kRightSide : kLeftSide;
    const std::string_view action = name.substr(7);
    if (action.starts_with("hotcue")) {
      // Any number a phone sends lands on a button: 0, none or below gives the first, above the last.
      const int64_t n = std::clamp<int64_t>(LeadingInteger(action.substr(6)), 1, kHotCueButtons);
      target = DeckControl(side, kHotCueOffset + static_cast<int>(n) - 1);
    } else {
      const DeckAction* found = FindDeckAction(action);
      if (!found) return {};
      target = DeckControl(side, found->offset);
      if (action == "cue.down") event.press = edgeGiven = true;
      if (action == "cue.up") event.release = edgeGiven = true;
    }
  } else {
    const MixerAction* found = FindMixerAction(name);
    if (!found) return {};
    target = found->id;
  }
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
