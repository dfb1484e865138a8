#include "control/hid_reports.h"

#include <algorithm>
#include <cstdlib>

#include "control/control_ids.h"
#include "control/controller_presets.h"
#include "control/dispatcher.h"
#include "control/mapping_table.h"
#include "control/midi_learn.h"
#include "platform/clock.h"

namespace {

constexpr uint32_t kHidReportIds = 64;
constexpr uint64_t kChangeRunMs = 1000;  // changes closer than this count as one run
constexpr uint32_t kBusyChanges = 41;    // a byte changing this often in a run is not a control

std::vector<HidHistory> Histories;

struct PendingEvent {
  uint16_t target;
  ControlEvent event;
};

uint32_t FieldWidth(uint32_t kind) { return kind == 9 || kind == 11 ? 2 : 1; }

uint32_t ReadField(const std::vector<uint8_t>& r, uint32_t position, uint32_t width) {
  return width == 2 ? static_cast<uint32_t>(r[position] | r[position + 1] << 8) : r[position];
}

// Evaluates one mapping against the previous and the new report; false when it yields no event.
bool Evaluate(uint32_t key, uint32_t value, const std::vector<uint8_t>& old, const std::vector<uint8_t>& now,
              HidHistory& history, PendingEvent& out) {
  const uint32_t position = (key >> 4) & 0xFFF;
  const uint32_t kind = key & 0xF;
  const int32_t target = MappingTarget(value);
  const ControlKind bindingKind = GetBindingKind(target);
  ControlEvent event;
  if (kind < 8) {
    if (position >= now.size()) return false;
    const int oldBit = position < old.size() ? (old[position] >> kind) & 1 : 0;
    const int newBit = (now[position] >> kind) & 1;
    if (oldBit == newBit) return false;
    event = {.press = newBit != 0, .release = newBit == 0, .hasValue = true, .value = float(newBit)};
  } else {
    const uint32_t width = FieldWidth(kind);
    if (position + width > now.size() || position + width > old.size()) return false;
    const uint32_t n = ReadField(now, position, width), o = ReadField(old, position, width);
    if (n == o) return false;
    uint32_t& largest = history.largestRaw[key & ~kShiftLayerFlag];
    largest = std::max(largest, n);
    const float scale = width == 1 ? 255.0f : (largest < 4096 ? 4095.0f : 65535.0f);
    event.hasValue = true;
    event.value = std::clamp(static_cast<float>(n) / scale, 0.0f, 1.0f);
    event.press = static_cast<float>(n) > scale / 2.0f;
    event.release = !event.press;
    if (bindingKind == kRelativeControl || kind == 10 || kind == 11)
      event.delta = width == 1 ? static_cast<int8_t>(static_cast<uint8_t>(n - o))
                               : static_cast<int16_t>(static_cast<uint16_t>(n - o));
  }
  if ((value & kInvertedMapping) != 0) event.value = 1.0f - event.value, event.delta = -event.delta;
  if (bindingKind == kRelativeControl && event.delta == 0) return false;
  out = {static_cast<uint16_t>(target), event};
  return true;
}

}  // namespace

void ClearHidHistory() { Histories.clear(); }

void OnHidReport(const HidReport& report) { OnHidReportAt(report, MonotonicMs()); }

void OnHidReportAt(const HidReport& report, uint64_t nowMs) {
  if (report.bytes.size() < 2) return;
  if (Histories.size() <= report.device) Histories.resize(report.device + 1);
  HidHistory& history = Histories[report.device];
  const uint32_t reportId = report.bytes[0] & (kHidReportIds - 1);
  const std::vector<uint8_t> old = history.lastReport[reportId];
  const std::vector<uint8_t>& now = report.bytes;

  HidChanges changes;
  if (old.size() == now.size()) {
    for (uint32_t p = 1; p < now.size(); ++p) {
      if (old[p] == now[p]) continue;
      changes.bytes.push_back({p, old[p], now[p]});
      for (uint32_t bit = 0; bit < 8; ++bit) {
        const uint8_t a = (old[p] >> bit) & 1, b = (now[p] >> bit) & 1;
        if (a != b) changes.bits.push_back({p, bit, a, b});
      }
    }
  }
  history.lastReport[reportId] = now;
  if (changes.Empty()) return;

  for (const HidByteChange& c : changes.bytes) {
    const auto at = history.changedAtMs.find(c.position);
    const bool inRun = at != history.changedAtMs.end() && nowMs - at->second < kChangeRunMs;
    uint32_t& count = history.changeCount[c.position];
    count = inRun ? count + 1 : 1;
    history.changedAtMs[c.position] = nowMs;
  }

  if (midiLearnOn) {
    HidLearn(history, reportId, changes);
    return;
  }

  const bool shift = IsShiftHeld();
  std::vector<PendingEvent> events;
  for (const auto& [key, value] : MappingTable) {
    if (!IsHidKey(key) || ((key >> 24) & 63) != reportId) continue;
    const bool shiftLayer = (key & kShiftLayerFlag) != 0;
    if (shiftLayer && !shift) continue;
    if (!shiftLayer && shift && MappingTable.count(key | kShiftLayerFlag) != 0) continue;
    PendingEvent pending;
    if (Evaluate(key, value, old, now, history, pending)) events.push_back(pending);
  }
  for (const PendingEvent& e : events) ApplyMappedControl(e.target, e.event);
}

void HidLearn(const HidHistory& history, uint32_t reportId, const HidChanges& changes) {
  const int32_t target = midiLearnTarget;
  if (target == 0 || target == kBrowseKnobWidget || changes.Empty()) return;
  const auto quiet = [&](uint32_t position) {
    const auto count = history.changeCount.find(position);
    return count == history.changeCount.end() || count->second < kBusyChanges;
  };
  const std::vector<uint8_t>& now = history.lastReport[reportId];
  const ControlKind kind = GetBindingKind(target);
  uint32_t position = 0, field = 0;
  if (kind == kAbsoluteControl || kind == kRelativeControl) {
    const HidByteChange* best = nullptr;
    for (const HidByteChange& c : changes.bytes) {
      if (kind == kAbsoluteControl && !quiet(c.position)) continue;
      const int size = std::abs(int(c.newValue) - int(c.oldValue));
      if (!best || size > std::abs(int(best->newValue) - int(best->oldValue))) best = &c;
    }
    if (!best) return;
    position = best->position, field = 8;
    if (kind == kAbsoluteControl) {
      const auto changed = [&](uint32_t p) {
        return std::any_of(changes.bytes.begin(), changes.bytes.end(),
                           [p](const HidByteChange& c) { return c.position == p; });
      };
      const uint32_t next = position + 1;
      if (next < now.size() && now[next] < 16 && (changed(next) || now[next] != 0)) {
        field = 9;
      } else if (position >= 2 && best->newValue < 16 && changed(position - 1)) {
        field = 9, position -= 1;
      }
    }
  } else {
    const auto bit = std::find_if(changes.bits.begin(), changes.bits.end(), [&](const HidBitChange& c) {
      return c.oldBit == 0 && c.newBit == 1 && quiet(c.position);
    });
    if (bit == changes.bits.end()) return;
    position = bit->position, field = bit->bit;
  }
  MidiLearnAssign(HidMappingKey(reportId, position, field));
}

bool IsHidControllerCandidate(uint16_t vendorId, uint32_t usagePage, uint32_t usage,
                              uint32_t inputReportLength, const std::wstring& manufacturer,
                              const std::wstring& product) {
  if (inputReportLength < 2) return false;
  if (usagePage == 1 && (usage == 2 || usage == 6 || usage == 128)) return false;
  if (usagePage == 12 || usagePage == 13) return false;
  static constexpr uint16_t kDjVendors[] = {0x17CC, 0x06F8, 0x15E4, 0x2B73, 0x08E4,
                                            0x200C, 0x1397, 0x09E8, 0x13E5, 0x0582};
  if (std::find(std::begin(kDjVendors), std::end(kDjVendors), vendorId) != std::end(kDjVendors)) return true;
  const std::wstring name = NormaliseControllerName(manufacturer + L" " + product);
  for (const wchar_t* word : {L"DJ", L"TRAKTOR", L"KONTROL", L"MIXTRACK", L"DECK"})
    if (name.find(word) != std::wstring::npos) return true;
  return false;
}
