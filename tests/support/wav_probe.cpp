#include "support/wav_probe.h"

#include <sys/wait.h>
#include <cstdio>
#include <sstream>

std::string RunCommand(const std::string& command, int* status) {
  std::string out;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) {
    if (status) *status = -1;
    return out;
  }
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, pipe)) > 0) out.append(buf, n);
  const int raw = pclose(pipe);
  if (status) *status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  return out;
}

std::string ShellQuote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

namespace {

long long NumberOr(const std::string& text, long long fallback) {
  std::istringstream in(text);
  long long v;
  return (in >> v) ? v : fallback;
}

long long SoxiField(const std::string& flag, const std::string& path) {
  int status = 0;
  const std::string out = RunCommand("soxi " + flag + " " + ShellQuote(path) + " 2>/dev/null", &status);
  return status == 0 ? NumberOr(out, -1) : -1;
}

}  // namespace

WavProbe ProbeWithSoxi(const std::string& path) {
  WavProbe p;
  p.frames = SoxiField("-s", path);
  p.rate = SoxiField("-r", path);
  p.channels = SoxiField("-c", path);
  p.bits = SoxiField("-b", path);
  return p;
}

WavProbe ProbeWithFfprobe(const std::string& path) {
  WavProbe p;
  const std::string out = RunCommand(
      "ffprobe -v error -select_streams a:0 -show_entries "
      "stream=codec_name,sample_rate,channels,bits_per_sample,duration_ts -of default=nw=1 " +
      ShellQuote(path) + " 2>/dev/null");
  std::istringstream lines(out);
  std::string line;
  while (std::getline(lines, line)) {
    const size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    const std::string key = line.substr(0, eq), value = line.substr(eq + 1);
    if (key == "codec_name") p.codec = value;
    if (key == "sample_rate") p.rate = NumberOr(value, -1);
    if (key == "channels") p.channels = NumberOr(value, -1);
    if (key == "bits_per_sample") p.bits = NumberOr(value, -1);
    if (key == "duration_ts") p.frames = NumberOr(value, -1);
  }
  return p;
}

std::vector<int16_t> DecodeWithSox(const std::string& path) {
  int status = 0;
  const std::string raw =
      RunCommand("sox " + ShellQuote(path) + " -t raw -e signed -b 16 -L - 2>/dev/null", &status);
  std::vector<int16_t> samples;
  if (status != 0) return samples;
  for (size_t i = 0; i + 1 < raw.size(); i += 2) {
    samples.push_back(static_cast<int16_t>(static_cast<uint8_t>(raw[i]) | (static_cast<uint8_t>(raw[i + 1]) << 8)));
  }
  return samples;
}

uint32_t LittleEndian32(const std::string& bytes, size_t offset) {
  if (offset + 4 > bytes.size()) return 0;
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<uint8_t>(bytes[offset + i]);
  return v;
}
