#include "broadcast/rtmp_publisher.h"

#include <cmath>
#include <cwctype>

#include "base/text_parse.h"
#include "platform/text.h"

namespace {

constexpr uint16_t kPingRequest = 6;   // User Control event types
constexpr uint16_t kPingResponse = 7;
constexpr size_t kPingBodyBytes = 6;   // event type + the 4-byte timestamp
constexpr int64_t kTicksPerMs = 10000;  // sample times are in 100-ns units
constexpr uint8_t kVideoKeyAvc = 0x17;  // frame type 1 (key), codec 7 (AVC)
constexpr uint8_t kVideoInterAvc = 0x27;
constexpr uint8_t kAvcSequenceHeader = 0;
constexpr uint8_t kAvcNalu = 1;
constexpr uint8_t kAudioAacStereo16 = 0xAF;  // format 10 (AAC), 44 kHz flag, 16-bit, stereo
constexpr uint8_t kAacSequenceHeader = 0;
constexpr uint8_t kAacRaw = 1;
constexpr size_t kVideoTagHeaderBytes = 5;
constexpr uint8_t kNalTypeMask = 31;
constexpr uint8_t kNalIdr = 5, kNalSps = 7, kNalPps = 8, kNalAccessUnitDelimiter = 9;
constexpr size_t kMinSpsBytes = 4;  // the header copies profile, compatibility and level from it

constexpr AacRateConfig kAacRates[] = {
    {.sampleRate = 44100, .config = {0x12, 0x10}},
    {.sampleRate = 48000, .config = {0x11, 0x90}},
};

void SetError(std::wstring* error, std::wstring text) {
  if (error) *error = std::move(text);
}

std::wstring LowerAscii(std::wstring s) {
  for (wchar_t& c : s)
    if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
  return s;
}

// A decimal port; false for anything but 1 to 5 digits.
bool ParsePort(const std::wstring& text, int* port) {
  if (text.empty() || text.size() > 5) return false;
  int value = 0;
  for (wchar_t c : text) {
    if (c < L'0' || c > L'9') return false;
    value = value * 10 + (c - L'0');
  }
  *port = value;
  return true;
}

bool SendCommand(Publisher& p, uint32_t chunkStream, uint32_t streamId, const std::vector<uint8_t>& body) {
  return RtmpWriteMessage(p, chunkStream, kRtmpAmf0Command, 0, streamId, body);
}

// Answers a ping request or a Set Peer Bandwidth; other messages are left alone. A failed send
// shows on the next read.
void AnswerControl(Publisher& p, const RtmpMessage& m) {
  const std::vector<uint8_t>& b = m.payload;
  if (m.type == kRtmpUserControl && b.size() >= kPingBodyBytes && (b[0] << 8 | b[1]) == kPingRequest) {
    std::vector<uint8_t> body = {0, kPingResponse, b[2], b[3], b[4], b[5]};
    RtmpWriteMessage(p, kChunkStreamControl, kRtmpUserControl, 0, 0, body);
  } else if (m.type == kRtmpSetPeerBandwidth && b.size() >= 4) {
    std::vector<uint8_t> body(b.begin(), b.begin() + 4);
    RtmpWriteMessage(p, kChunkStreamControl, kRtmpWindowAckSize, 0, 0, body);
  }
}

bool IsCommandType(uint8_t type) { return type == 0 || type >= 7; }

// The info object of an onStatus: the second argument, else the first, else an empty value.
const AmfValue& StatusInfo(const std::vector<AmfValue>& args) {
  static const AmfValue kEmpty;
  if (args.size() >= 2) return args[1];
  return args.empty() ? kEmpty : args[0];
}

bool IsErrorStatus(const AmfValue& info) { return AmfStringProperty(info, "level") == "error"; }

uint32_t TicksToMs(int64_t ticks) {
  return ticks < kTicksPerMs ? 0 : static_cast<uint32_t>(ticks / kTicksPerMs);
}

}  // namespace

bool ParseRtmpUrl(const std::wstring& address, RtmpUrl* url, std::wstring* error) {
  const std::wstring text = TrimSpace(address);
  const size_t sep = text.find(L"://");
  const std::wstring scheme = sep == std::wstring::npos ? L"" : LowerAscii(text.substr(0, sep));
  if (scheme != L"rtmp" && scheme != L"rtmps") {
    SetError(error, L"The server address should start rtmp:// or rtmps://");
    return false;
  }
  RtmpUrl u;
  u.tls = scheme == L"rtmps";
  u.port = u.tls ? kRtmpsDefaultPort : kRtmpDefaultPort;
  const std::wstring rest = text.substr(sep + 3);
  const size_t slash = rest.find(L'/');
  const std::wstring hostPart = rest.substr(0, slash);
  std::wstring path = slash == std::wstring::npos ? L"" : rest.substr(slash + 1);
  while (!path.empty() && path.back() == L'/') path.pop_back();

  bool complete = true;
  if (!hostPart.empty() && hostPart[0] == L'[') {
    // An IPv6 literal: its colons are not the port separator.
    const size_t close = hostPart.find(L']');
    complete = close != std::wstring::npos;
    if (complete) {
      u.host = hostPart.substr(1, close - 1);
      const std::wstring after = hostPart.substr(close + 1);
      if (!after.empty()) complete = after[0] == L':' && ParsePort(after.substr(1), &u.port);
    }
  } else {
    const size_t colon = hostPart.rfind(L':');
    u.host = hostPart.substr(0, colon);
    if (colon != std::wstring::npos) complete = ParsePort(hostPart.substr(colon + 1), &u.port);
  }
  if (!complete || u.host.empty() || u.port < 1 || u.port > 65535) {
    SetError(error, L"The server address isn't complete");
    return false;
  }
  if (path.empty()) {
    SetError(error, L"The server address needs its app name at the end (like /live2)");
    return false;
  }
  u.app = WideToUtf8(path);
  u.tcUrl = WideToUtf8(scheme) + "://" + WideToUtf8(hostPart) + "/" + u.app;
  *url = std::move(u);
  return true;
}

void HandleStatusError(Publisher& p, const AmfValue& info, std::wstring* error) {
  const std::string code = AmfStringProperty(info, "code");
  const std::string description = AmfStringProperty(info, "description");
  const auto has = [](const std::string& s, const char* part) { return s.find(part) != std::string::npos; };
  // The server answered and said no: asking again every few seconds gets the same answer.
  p.refused = true;
  if (has(code, "BadName") || has(code, "BadAuth") || has(code, "Rejected") || has(description, "auth") ||
      has(description, "key")) {
    SetError(error, L"The service refused the stream key: check it on its live dashboard");
    return;
  }
  const std::string& said = !description.empty() ? description : !code.empty() ? code : std::string("no");
  SetError(error, L"The server said: " + Utf8ToWide(said));
}

bool WaitForResult(Publisher& p, double transactionId, std::vector<AmfValue>* arguments, std::wstring* error) {
  RtmpMessage m;
  std::string name;
  double id = 0;
  for (int count = 0; count < kMaxMessagesWithoutAnswer; ++count) {
    if (!RtmpReadMessage(p, &m)) {
      SetError(error, L"No answer from the server");
      return false;
    }
    AnswerControl(p, m);
    if (!IsCommandType(m.type) || !ParseCommand(m, &name, &id, arguments)) continue;
    const bool isResult = name == "_result" || name == "_error";
    if (transactionId > 0 && id == transactionId && isResult) {
      if (name == "_error") {
        HandleStatusError(p, arguments->size() >= 2 ? (*arguments)[1] : AmfValue{}, error);
        return false;
      }
      return true;
    }
    if (name == "onStatus") {
      if (IsErrorStatus(StatusInfo(*arguments))) {
        HandleStatusError(p, StatusInfo(*arguments), error);
        return false;
      }
      if (transactionId == 0) return true;
    }
  }
  arguments->clear();
  SetError(error, L"The server didn't answer");
  return false;
}

bool RtmpPublish(Publisher& p, const RtmpUrl& url, const std::string& streamKey, std::wstring* error) {
  p.streamKey = streamKey;
  std::wstring message;
  std::vector<AmfValue> args;
  std::vector<uint8_t> b;
  const auto fail = [&]() {
    SetError(error, message.empty() ? L"The server closed the connection" : message);
    return false;
  };
  if (!OpenConnection(p, url.host, url.port, url.tls, &message)) return fail();
  if (!RtmpHandshake(p)) {
    message = L"The server didn't answer as an RTMP server";
    return fail();
  }
  AppendU32BE(b, kPublishChunkSize);
  if (!RtmpWriteMessage(p, kChunkStreamControl, kRtmpSetChunkSize, 0, 0, b)) return fail();
  p.outChunkSize = kPublishChunkSize;

  b.clear();
  AmfWriteString(b, "connect");
  AmfWriteNumber(b, 1);
  AmfWriteObjectStart(b);
  AmfWritePropertyName(b, "app");
  AmfWriteString(b, url.app);
  AmfWritePropertyName(b, "type");
  AmfWriteString(b, "nonprivate");
  AmfWritePropertyName(b, "flashVer");
  AmfWriteString(b, "FMLE/3.0 (compatible; Veldmix)");
  AmfWritePropertyName(b, "swfUrl");
  AmfWriteString(b, url.tcUrl);
  AmfWritePropertyName(b, "tcUrl");
  AmfWriteString(b, url.tcUrl);
  AmfWriteObjectEnd(b);
  if (!SendCommand(p, kChunkStreamCommand, 0, b) || !WaitForResult(p, 1, &args, &message)) return fail();

  // releaseStream and FCPublish go out back to back with createStream; their answers are skipped.
  const char* const kAnnounce[] = {"releaseStream", "FCPublish"};
  for (int i = 0; i < 2; ++i) {
    b.clear();
    AmfWriteString(b, kAnnounce[i]);
    AmfWriteNumber(b, 2 + i);
    AmfWriteNull(b);
    AmfWriteString(b, streamKey);
    if (!SendCommand(p, kChunkStreamCommand, 0, b)) return fail();
  }
  b.clear();
  AmfWriteString(b, "createStream");
  AmfWriteNumber(b, 4);
  AmfWriteNull(b);
  if (!SendCommand(p, kChunkStreamCommand, 0, b) || !WaitForResult(p, 4, &args, &message)) return fail();
  // Only a whole number that fits a stream id replaces the owner's; anything else keeps it.
  if (args.size() >= 2 && args[1].type == kAmfNumber && std::isfinite(args[1].number) &&
      args[1].number >= 0 && args[1].number <= UINT32_MAX && args[1].number == std::floor(args[1].number))
    p.streamId = static_cast<uint32_t>(args[1].number);

  b.clear();
  AmfWriteString(b, "publish");
  AmfWriteNumber(b, 5);
  AmfWriteNull(b);
  AmfWriteString(b, streamKey);
  AmfWriteString(b, "live");
  if (!SendCommand(p, kChunkStreamPublish, p.streamId, b) || !WaitForResult(p, 0, &args, &message)) return fail();
  return true;
}

bool PollServerMessages(Publisher& p, std::wstring* error) {
  RtmpMessage m;
  std::string name;
  double id = 0;
  std::vector<AmfValue> args;
  for (int handled = 0; handled < kMaxMessagesPerPoll; ++handled) {
    if (!InputPending(p)) return true;
    if (!RtmpReadMessage(p, &m)) {
      SetError(error, L"The server closed the connection");
      return false;
    }
    AnswerControl(p, m);
    if (IsCommandType(m.type) && ParseCommand(m, &name, &id, &args) && name == "onStatus" &&
        IsErrorStatus(StatusInfo(args))) {
      HandleStatusError(p, StatusInfo(args), error);
      return false;
    }
  }
  return true;
}

void RtmpUnpublish(Publisher& p) {
  if (p.connected) {
    std::vector<uint8_t> b;
    AmfWriteString(b, "FCUnpublish");
    AmfWriteNumber(b, 6);
    AmfWriteNull(b);
    AmfWriteString(b, p.streamKey);
    SendCommand(p, kChunkStreamCommand, 0, b);
    b.clear();
    AmfWriteString(b, "deleteStream");
    AmfWriteNumber(b, 7);
    AmfWriteNull(b);
    AmfWriteNumber(b, p.streamId);
    SendCommand(p, kChunkStreamCommand, 0, b);
  }
  CloseConnection(p);
}

// --- Media payloads ---

std::span<const AacRateConfig> AacRateConfigs() { return kAacRates; }

bool SendStreamMetadata(Publisher& p, int width, int height, int videoKbps, int audioRate) {
  constexpr uint32_t kMetadataProperties = 12;
  std::vector<uint8_t> b;
  AmfWriteString(b, "@setDataFrame");
  AmfWriteString(b, "onMetaData");
  AmfWriteEcmaArrayStart(b, kMetadataProperties);
  const auto number = [&b](const char* name, double value) {
    AmfWritePropertyName(b, name);
    AmfWriteNumber(b, value);
  };
  number("duration", 0);
  number("width", width);
  number("height", height);
  number("videodatarate", videoKbps);
  number("framerate", 30);
  number("videocodecid", 7);
  number("audiodatarate", 160);
  number("audiosamplerate", audioRate);
  number("audiosamplesize", 16);
  AmfWritePropertyName(b, "stereo");
  AmfWriteBoolean(b, true);
  number("audiocodecid", 10);
  AmfWritePropertyName(b, "encoder");
  AmfWriteString(b, "Veldmix");
  AmfWriteObjectEnd(b);
  return RtmpWriteMessage(p, kChunkStreamPublish, kRtmpAmf0Data, 0, p.streamId, b);
}

bool SendAacSequenceHeader(Publisher& p, int audioRate) {
  for (const AacRateConfig& r : kAacRates) {
    if (r.sampleRate != audioRate) continue;
    const std::vector<uint8_t> body = {kAudioAacStereo16, kAacSequenceHeader, r.config[0], r.config[1]};
    return RtmpWriteMessage(p, kChunkStreamPublish, kRtmpAudio, 0, p.streamId, body);
  }
  return false;
}

std::vector<std::span<const uint8_t>> SplitAnnexB(std::span<const uint8_t> data) {
  std::vector<std::span<const uint8_t>> units;
  const size_t n = data.size();
  size_t start = std::string::npos;  // first byte of the unit in progress
  for (size_t i = 0; i + 2 < n;) {
    if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1) {
      if (start != std::string::npos) {
        size_t end = i;
        while (end > start && data[end - 1] == 0) --end;
        units.push_back(data.subspan(start, end - start));
      }
      i += 3;
      start = i;
    } else {
      ++i;
    }
  }
  if (start != std::string::npos && start < n) units.push_back(data.subspan(start));
  return units;
}

bool SendFlvSample(Publisher& p, VideoTagState& s, const EncodedSample& sample) {
  std::vector<uint8_t>& body = s.body;
  body.assign(kVideoTagHeaderBytes, 0);
  bool keyFrame = false;
  for (std::span<const uint8_t> nal : SplitAnnexB(sample.data)) {
    if (nal.empty()) continue;
    const uint8_t type = nal[0] & kNalTypeMask;
    if (type == kNalSps) {
      s.sps.assign(nal.begin(), nal.end());
    } else if (type == kNalPps) {
      s.pps.assign(nal.begin(), nal.end());
    } else if (type != kNalAccessUnitDelimiter) {
      AppendU32BE(body, static_cast<uint32_t>(nal.size()));
      body.insert(body.end(), nal.begin(), nal.end());
      keyFrame = keyFrame || type == kNalIdr;
    }
  }
  const uint32_t timestamp = TicksToMs(sample.decodeTime);

  if (s.sps.size() >= kMinSpsBytes && !s.pps.empty()) {
    std::vector<uint8_t> sets = s.sps;
    sets.insert(sets.end(), s.pps.begin(), s.pps.end());
    if (sets != s.lastHeader) {
      std::vector<uint8_t> h = {kVideoKeyAvc, kAvcSequenceHeader, 0, 0, 0, 1, s.sps[1], s.sps[2], s.sps[3], 0xFF, 0xE1};
      h.push_back(static_cast<uint8_t>(s.sps.size() >> 8));
      h.push_back(static_cast<uint8_t>(s.sps.size()));
      h.insert(h.end(), s.sps.begin(), s.sps.end());
      h.push_back(1);
      h.push_back(static_cast<uint8_t>(s.pps.size() >> 8));
      h.push_back(static_cast<uint8_t>(s.pps.size()));
      h.insert(h.end(), s.pps.begin(), s.pps.end());
      if (!RtmpWriteMessage(p, kChunkStreamVideo, kRtmpVideo, timestamp, p.streamId, h)) return false;
      s.lastHeader = std::move(sets);
    }
  }
  if (s.lastHeader.empty() || body.size() == kVideoTagHeaderBytes) return true;

  const int64_t composition = (sample.time - sample.decodeTime) / kTicksPerMs;
  const uint32_t cts = static_cast<uint32_t>(composition) & 0xFFFFFF;  // 24-bit, two's complement
  body[0] = keyFrame ? kVideoKeyAvc : kVideoInterAvc;
  body[1] = kAvcNalu;
  body[2] = static_cast<uint8_t>(cts >> 16);
  body[3] = static_cast<uint8_t>(cts >> 8);
  body[4] = static_cast<uint8_t>(cts);
  return RtmpWriteMessage(p, kChunkStreamVideo, kRtmpVideo, timestamp, p.streamId, body);
}

bool SendAacSample(Publisher& p, std::vector<uint8_t>& body, const EncodedSample& sample) {
  if (sample.data.empty()) return true;
  body.assign({kAudioAacStereo16, kAacRaw});
  body.insert(body.end(), sample.data.begin(), sample.data.end());
  return RtmpWriteMessage(p, kChunkStreamPublish, kRtmpAudio, TicksToMs(sample.time), p.streamId, body);
}
