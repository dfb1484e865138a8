#include "platform/midi.h"

#include <alsa/asoundlib.h>
#include <jack/jack.h>
#include <rtmidi/RtMidi.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <future>
#include <memory>
#include <mutex>
#include <regex>
#include <string_view>
#include <thread>

#include "platform/text.h"
#include "platform/thread_priority.h"

namespace {

constexpr const char* kClientName = "Veldmix";
constexpr const wchar_t* kSkippedNames[] = {L"Midi Through", L"TiMidity", L"FLUID Synth", L"Synth input port",
                                            L"Timidity"};
constexpr auto kWatchInterval = std::chrono::milliseconds(1000);

void QuietErrors(RtMidiError::Type, const std::string&, void*) {}

// libjack and alsa-lib report a missing server or sequencer on stderr, and RtMidi prints its own
// errors before it throws: both are probed quietly first, since a machine without them is normal.
void QuietJack(const char*) {}
void QuietAlsa(const char*, int, const char*, int, const char*, ...) {}

bool AlsaSequencerOpens() {
  snd_lib_error_set_handler(QuietAlsa);
  snd_seq_t* seq = nullptr;
  const bool opens = snd_seq_open(&seq, "default", SND_SEQ_OPEN_DUPLEX, 0) >= 0;
  if (seq) snd_seq_close(seq);
  snd_lib_error_set_handler(nullptr);
  return opens;
}

// A JACK server leaves its socket in the shared-memory folder (JACK2: jack_NAME_UID_0; JACK1: a
// folder jack-UID/NAME). Without one there is no server to open, and libjack is not touched: every
// client open attaches to one metadata database shared by the whole machine, whose lock a client
// killed inside it leaves held for good, and each later open then waits for ever.
bool JackSocketPresent() {
  const char* named = std::getenv("JACK_DEFAULT_SERVER");
  const std::string name = named != nullptr && *named != '\0' ? named : "default";
  const std::string uid = std::to_string(getuid());
  struct stat st{};
  for (const char* dir : {"/dev/shm", "/tmp"}) {
    const std::string folder(dir);
    if (::stat((folder + "/jack_" + name + "_" + uid + "_0").c_str(), &st) == 0) return true;
    if (::stat((folder + "/jack-" + uid + "/" + name).c_str(), &st) == 0) return true;
  }
  return false;
}

// Set once a probe did not answer: JACK's shared state is stuck, so it is not asked again this run
// (a further open would only add a thread that waits for ever).
std::atomic<bool> JackStuck{false};
constexpr auto kJackAnswer = std::chrono::seconds(3);

bool JackServerRuns() {
  if (JackStuck.load() || !JackSocketPresent()) return false;
  // The open runs on a thread of its own so that a stuck one costs MIDI over JACK, not the caller.
  auto answer = std::make_shared<std::promise<bool>>();
  std::future<bool> answered = answer->get_future();
  std::thread([answer] {
    jack_status_t status;
    jack_client_t* probe = jack_client_open("Veldmix probe", JackNoStartServer, &status);
    if (probe) jack_client_close(probe);
    answer->set_value(probe != nullptr);
  }).detach();
  if (answered.wait_for(kJackAnswer) != std::future_status::ready) {
    JackStuck.store(true);
    return false;
  }
  return answered.get();
}

// The API chosen once: ALSA when its sequencer opens, else JACK. VELDMIX_MIDI_API=jack (or alsa)
// decides instead, for a machine that runs both and wants JACK's ports.
RtMidi::Api ChosenApi() {
  static const RtMidi::Api api = [] {
    jack_set_error_function(QuietJack);
    jack_set_info_function(QuietJack);
    const char* forced = std::getenv("VELDMIX_MIDI_API");
    if (forced && std::string_view(forced) == "jack") return RtMidi::UNIX_JACK;
    if (forced && std::string_view(forced) == "alsa") return RtMidi::LINUX_ALSA;
    return AlsaSequencerOpens() ? RtMidi::LINUX_ALSA : RtMidi::UNIX_JACK;
  }();
  return api;
}

// A port object of the chosen API; none while that API has no server to talk to.
template <typename Port>
std::unique_ptr<Port> MakePort() {
  if (ChosenApi() == RtMidi::UNIX_JACK && !JackServerRuns()) return nullptr;
  try {
    auto port = std::make_unique<Port>(ChosenApi(), kClientName);
    port->setErrorCallback(QuietErrors, nullptr);
    return port;
  } catch (const RtMidiError&) {
    return nullptr;
  }
}

template <typename Port>
std::vector<std::wstring> Names(Port* port, std::vector<unsigned>* indexes = nullptr) {
  std::vector<std::wstring> names;
  if (!port) return names;
  const unsigned count = port->getPortCount();
  for (unsigned i = 0; i < count; ++i) {
    const std::wstring name = PlainMidiPortName(port->getPortName(i));
    if (name.empty() || SkippedMidiPort(name)) continue;
    names.push_back(name);
    if (indexes) indexes->push_back(i);
  }
  return names;
}

// Listing keeps one port object of each direction for the life of the process.
std::mutex ListLock;
std::unique_ptr<RtMidiIn> Lister;
std::unique_ptr<RtMidiOut> OutLister;

struct OpenInput {
  std::unique_ptr<RtMidiIn> port;
  std::wstring name;
};
struct OpenOutput {
  std::unique_ptr<RtMidiOut> port;
  std::wstring name;
  std::unique_ptr<std::mutex> sendLock = std::make_unique<std::mutex>();
};
std::vector<OpenInput> Inputs;
std::vector<OpenOutput> Outputs;
std::mutex OutputsLock;  // guards the Outputs vector against a send during a reopen

void OnRtMidiMessage(double, std::vector<unsigned char>* message, void* sink) {
  if (!message || message->empty() || message->size() > 3 || !sink) return;
  uint32_t packed = 0;
  for (size_t i = 0; i < message->size(); ++i) packed |= static_cast<uint32_t>((*message)[i]) << (8 * i);
  reinterpret_cast<MidiMessageSink>(sink)(packed);
}

std::thread Watcher;
std::mutex WatchLock;
std::condition_variable WatchWake;
bool WatchStop = false;

}  // namespace

std::wstring PlainMidiPortName(const std::string& rtmidiName) {
  static const std::regex kAlsaNumbers(R"( \d+:\d+$)");
  return Utf8ToWide(std::regex_replace(rtmidiName, kAlsaNumbers, ""));
}

bool SkippedMidiPort(const std::wstring& name) {
  for (const wchar_t* skipped : kSkippedNames)
    if (name.find(skipped) != std::wstring::npos) return true;
  const std::wstring own = Utf8ToWide(kClientName);
  return name.compare(0, own.size(), own) == 0;
}

MidiPortNames ListMidiPorts() {
  std::lock_guard<std::mutex> lock(ListLock);
  if (ChosenApi() == RtMidi::UNIX_JACK && !JackServerRuns()) {
    Lister.reset(), OutLister.reset();  // a server that comes back gets new clients
    return {};
  }
  if (!Lister) Lister = MakePort<RtMidiIn>();
  if (!OutLister) OutLister = MakePort<RtMidiOut>();
  return {Names(Lister.get()), Names(OutLister.get())};
}

void OpenMidiPorts(MidiMessageSink sink) {
  CloseMidiPorts();
  if (auto probe = MakePort<RtMidiIn>()) {
    std::vector<unsigned> indexes;
    const std::vector<std::wstring> names = Names(probe.get(), &indexes);
    for (size_t i = 0; i < names.size(); ++i) {
      auto port = MakePort<RtMidiIn>();
      if (!port || indexes[i] >= port->getPortCount() || PlainMidiPortName(port->getPortName(indexes[i])) != names[i])
        continue;
      port->ignoreTypes(true, true, true);
      port->setCallback(OnRtMidiMessage, reinterpret_cast<void*>(sink));
      port->openPort(indexes[i], "in " + std::to_string(Inputs.size() + 1));
      if (port->isPortOpen()) Inputs.push_back({std::move(port), names[i]});
    }
  }
  std::vector<OpenOutput> outputs;
  if (auto probe = MakePort<RtMidiOut>()) {
    std::vector<unsigned> indexes;
    const std::vector<std::wstring> names = Names(probe.get(), &indexes);
    for (size_t i = 0; i < names.size(); ++i) {
      auto port = MakePort<RtMidiOut>();
      if (!port || indexes[i] >= port->getPortCount() || PlainMidiPortName(port->getPortName(indexes[i])) != names[i])
        continue;
      port->openPort(indexes[i], "out " + std::to_string(outputs.size() + 1));
      if (port->isPortOpen()) outputs.push_back({.port = std::move(port), .name = names[i]});
    }
  }
  std::lock_guard<std::mutex> lock(OutputsLock);
  Outputs = std::move(outputs);
}

void CloseMidiPorts() {
  for (OpenInput& input : Inputs) {
    input.port->cancelCallback();
    input.port->closePort();
  }
  Inputs.clear();
  std::vector<OpenOutput> closing;
  {
    std::lock_guard<std::mutex> lock(OutputsLock);
    closing.swap(Outputs);
  }
  for (OpenOutput& output : closing) {
    std::lock_guard<std::mutex> send(*output.sendLock);
    output.port->closePort();
  }
}

MidiPortNames OpenMidiPortNames() {
  MidiPortNames names;
  for (const OpenInput& input : Inputs) names.inputs.push_back(input.name);
  std::lock_guard<std::mutex> lock(OutputsLock);
  for (const OpenOutput& output : Outputs) names.outputs.push_back(output.name);
  return names;
}

bool SendMidiShort(size_t output, uint32_t packed) {
  std::unique_lock<std::mutex> lock(OutputsLock);
  if (output >= Outputs.size()) return false;
  OpenOutput& out = Outputs[output];
  std::lock_guard<std::mutex> send(*out.sendLock);
  lock.unlock();
  const unsigned char status = packed & 0xFF;
  const unsigned char bytes[3] = {status, static_cast<unsigned char>((packed >> 8) & 0x7F),
                                  static_cast<unsigned char>((packed >> 16) & 0x7F)};
  // Channel messages carry two data bytes except program change and channel pressure; system
  // real-time and the clock bytes carry none.
  const unsigned type = status & 0xF0;
  const size_t size = status >= 0xF0 ? 1 : (type == 0xC0 || type == 0xD0) ? 2 : 3;
  out.port->sendMessage(bytes, size);
  return true;
}

void StartMidiPortWatch(void (*changed)()) {
  StopMidiPortWatch();
  {
    std::lock_guard<std::mutex> lock(WatchLock);
    WatchStop = false;
  }
  Watcher = std::thread([changed] {
    NameThisThread("vm-midi-watch");
    MidiPortNames last = ListMidiPorts();
    std::unique_lock<std::mutex> lock(WatchLock);
    while (!WatchWake.wait_for(lock, kWatchInterval, [] { return WatchStop; })) {
      lock.unlock();
      MidiPortNames now = ListMidiPorts();
      if (!(now == last)) {
        last = std::move(now);
        changed();
      }
      lock.lock();
    }
  });
}

void StopMidiPortWatch() {
  {
    std::lock_guard<std::mutex> lock(WatchLock);
    WatchStop = true;
  }
  WatchWake.notify_all();
  if (Watcher.joinable()) Watcher.join();
}
