#include "support/audio_server.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>

#include "platform/text.h"
#include "support/wav_probe.h"

namespace {

constexpr double kPi = 3.141592653589793;
constexpr int kToneSeconds = 60;
constexpr int kRecorderStartMs = 3000;

std::string ScriptPath() { return std::string(VELDMIX_SOURCE_DIR) + "/scripts/test_audio_server.sh"; }

std::string gOwnServerDir;

void StopOwnServer() {
  if (!gOwnServerDir.empty()) RunCommand(ShellQuote(ScriptPath()) + " stop " + ShellQuote(gOwnServerDir) + " 2>&1");
}

bool ServerAnswers() {
  int status = -1;
  RunCommand("pactl info >/dev/null 2>&1", &status);
  return status == 0;
}

// Starts a child with stdout to `out` (or /dev/null); its pid, -1 on failure.
int Spawn(const std::vector<std::string>& argv, const std::string& out) {
  const pid_t pid = fork();
  if (pid != 0) return pid;
  const int fd = open(out.empty() ? "/dev/null" : out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  if (fd >= 0) dup2(fd, 1);
  const int null = open("/dev/null", O_WRONLY);
  if (null >= 0) dup2(null, 2);
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  execvp(args[0], args.data());
  _exit(127);
}

void Reap(int pid) {
  if (pid <= 0) return;
  kill(pid, SIGTERM);
  int status;
  waitpid(pid, &status, 0);
}

long FileSize(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 ? static_cast<long>(st.st_size) : -1;
}

std::string TempPath(const std::string& stem) {
  static std::atomic<int> counter{0};
  return "/tmp/veldmix-" + stem + "-" + std::to_string(getpid()) + "-" + std::to_string(counter++);
}

}  // namespace

bool EnsureAudioServer(std::string* why) {
  if (std::getenv("VELDMIX_AUDIO_DIR") == nullptr) {
    char dir[] = "/tmp/veldmix-pulse-XXXXXX";
    if (mkdtemp(dir) == nullptr) {
      *why = "no temporary folder";
      return false;
    }
    setenv("VELDMIX_AUDIO_DIR", dir, 1);
  }
  const char* server = std::getenv("PULSE_SERVER");
  if (server != nullptr && *server != '\0') {
    if (ServerAnswers()) return true;
    *why = std::string("the sound server at ") + server + " does not answer";
    return false;
  }
  int status = -1;
  const std::string dir = std::getenv("VELDMIX_AUDIO_DIR");
  // The server goes with this process even when the process is killed.
  const std::string out = RunCommand("VELDMIX_AUDIO_OWNER=" + std::to_string(getpid()) + " " + ShellQuote(ScriptPath()) +
                                         " start " + ShellQuote(dir) + " 2>&1",
                                     &status);
  if (status != 0) {
    *why = "the test sound server did not start: " + out;
    return false;
  }
  // Lines of the form: export NAME='value'
  std::istringstream lines(out);
  std::string line;
  while (std::getline(lines, line)) {
    const size_t eq = line.find('=');
    if (line.rfind("export ", 0) != 0 || eq == std::string::npos || line.size() < eq + 3) continue;
    setenv(line.substr(7, eq - 7).c_str(), line.substr(eq + 2, line.size() - eq - 3).c_str(), 1);
  }
  gOwnServerDir = dir;
  std::atexit(StopOwnServer);
  if (ServerAnswers()) return true;
  *why = "the test sound server does not answer";
  return false;
}

TestSink::TestSink(const std::string& tag, int channels, int rate, const std::string& format,
                   const std::string& description) {
  static std::atomic<int> counter{0};
  name_ = "vt_" + tag + "_" + std::to_string(getpid()) + "_" + std::to_string(counter++);
  int status = -1;
  RunCommand(ShellQuote(ScriptPath()) + " add-sink " + name_ + " " + std::to_string(channels) + " " +
                 std::to_string(rate) + " " + format + " " + ShellQuote(description.empty() ? name_ : description) +
                 " >/dev/null 2>&1",
             &status);
  ok_ = status == 0;
}

TestSink::~TestSink() { Remove(); }

void TestSink::Remove() {
  if (!ok_) return;
  RunCommand(ShellQuote(ScriptPath()) + " remove-sink " + name_ + " >/dev/null 2>&1");
  ok_ = false;
}

std::wstring TestSink::wname() const { return Utf8ToWide(name_); }

MonitorRecording::MonitorRecording(const std::string& source, int channels, int rate) : path_(TempPath("rec")) {
  // The channel map of the test sinks, or parec would remix 4 channels into its own layout.
  const std::string map = channels == 4 ? "front-left,front-right,rear-left,rear-right"
                          : channels == 1 ? "mono"
                                          : "front-left,front-right";
  pid_ = Spawn({"parec", "--raw", "--format=float32le", "--channels=" + std::to_string(channels),
                "--channel-map=" + map, "--rate=" + std::to_string(rate), "--latency-msec=10", "-d", source},
               path_);
  // The monitor carries the keep-alive's silence, so a connected recorder's file grows at once.
  WaitFor([&] { return FileSize(path_) > 0; }, kRecorderStartMs);
}

MonitorRecording::~MonitorRecording() {
  Reap(pid_);
  std::remove(path_.c_str());
}

std::vector<float> MonitorRecording::Stop() {
  Reap(pid_);
  pid_ = -1;
  std::ifstream in(path_, std::ios::binary);
  std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<float> samples(bytes.size() / sizeof(float));
  std::memcpy(samples.data(), bytes.data(), samples.size() * sizeof(float));
  return samples;
}

TonePlayer::TonePlayer(const std::string& sink, double hz, double amplitude, int channels, int rate)
    : path_(TempPath("tone")) {
  std::vector<float> samples(static_cast<size_t>(kToneSeconds) * rate * channels);
  for (size_t i = 0; i < samples.size(); ++i)
    samples[i] = static_cast<float>(amplitude * std::sin(2 * kPi * hz * static_cast<double>(i / channels) / rate));
  std::ofstream(path_, std::ios::binary).write(reinterpret_cast<const char*>(samples.data()),
                                                static_cast<std::streamsize>(samples.size() * sizeof(float)));
  pid_ = Spawn({"pacat", "--playback", "--raw", "--format=float32le", "--channels=" + std::to_string(channels),
                "--rate=" + std::to_string(rate), "--latency-msec=10", "-d", sink, path_},
               "");
}

TonePlayer::~TonePlayer() {
  Reap(pid_);
  std::remove(path_.c_str());
}

std::vector<float> Channel(const std::vector<float>& samples, int channels, int channel) {
  std::vector<float> out;
  for (size_t i = static_cast<size_t>(channel); i < samples.size(); i += static_cast<size_t>(channels))
    out.push_back(samples[i]);
  return out;
}

std::vector<float> SoundingPart(const std::vector<float>& x, float threshold, size_t trim) {
  size_t first = 0, last = x.size();
  while (first < x.size() && std::abs(x[first]) < threshold) ++first;
  while (last > first && std::abs(x[last - 1]) < threshold) --last;
  if (last - first <= 2 * trim) return {};
  return std::vector<float>(x.begin() + static_cast<long>(first + trim), x.begin() + static_cast<long>(last - trim));
}

double Rms(const std::vector<float>& x) {
  if (x.empty()) return 0.0;
  double sum = 0.0;
  for (float v : x) sum += static_cast<double>(v) * v;
  return std::sqrt(sum / static_cast<double>(x.size()));
}

double ToneAmplitude(const std::vector<float>& x, double hz, int rate) {
  if (x.empty()) return 0.0;
  double re = 0.0, im = 0.0;
  for (size_t i = 0; i < x.size(); ++i) {
    const double phase = 2 * kPi * hz * static_cast<double>(i) / rate;
    re += x[i] * std::cos(phase);
    im += x[i] * std::sin(phase);
  }
  return 2.0 * std::hypot(re, im) / static_cast<double>(x.size());
}

double ZeroCrossingHz(const std::vector<float>& x, int rate) {
  double first = -1.0, last = -1.0;
  int count = 0;
  for (size_t i = 1; i < x.size(); ++i) {
    if (x[i - 1] < 0.0f && x[i] >= 0.0f) {
      const double at = static_cast<double>(i - 1) + x[i - 1] / (x[i - 1] - x[i]);
      if (first < 0.0) first = at;
      last = at;
      ++count;
    }
  }
  return count < 2 ? 0.0 : (count - 1) * rate / (last - first);
}
