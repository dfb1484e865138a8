#include "engine/encode.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <vector>

#include "base/log.h"
#include "engine/engine.h"  // AssertNotAudioThread
#include "engine/wav_file.h"
#include "platform/files.h"
#include "platform/media_decode.h"
#include "platform/mp3_encoder.h"
#include "platform/text.h"

namespace {

constexpr const wchar_t* kCantOpenRecordingText = L"Couldn't open the recording";
constexpr const wchar_t* kMp3RateText = L"MP3 needs a 32, 44.1 or 48 kHz output";
constexpr const wchar_t* kEmptyRecordingText = L"The recording is empty \u2014 there is nothing to copy";
constexpr size_t kBlockBytes = kEncodeBlockFrames * kWavBytesPerFrame;

// The header fields a file must carry to be read as this layout (offset, bytes).
struct WavHeaderField {
  size_t offset;
  const char* bytes;
  size_t size;
};
constexpr WavHeaderField kWavHeaderFields[] = {
    {0, "RIFF", 4},
    {8, "WAVEfmt ", 8},
    {20, "\x01\x00\x02\x00", 4},  // PCM, 2 channels
    {32, "\x04\x00\x10\x00", 4},  // block align 4, 16 bits
    {36, "data", 4},
};

uint32_t ReadU32(const uint8_t* at) {
  return uint32_t(at[0]) | uint32_t(at[1]) << 8 | uint32_t(at[2]) << 16 | uint32_t(at[3]) << 24;
}

bool IsOurWavLayout(const uint8_t* header) {
  for (const WavHeaderField& f : kWavHeaderFields)
    if (std::memcmp(header + f.offset, f.bytes, f.size) != 0) return false;
  return true;
}

struct FileCloser {
  void operator()(FILE* f) const { std::fclose(f); }
};

}  // namespace

bool EncodeWavFile(const std::wstring& wavPath, const std::wstring& outputPath, AudioSubtype subtype,
                   const std::wstring& formatName, std::wstring* error) {
  AssertNotAudioThread();
  std::wstring unused;
  std::wstring& message = error ? *error : unused;
  const std::unique_ptr<FILE, FileCloser> wav(std::fopen(PathToBytes(wavPath).c_str(), "rb"));
  if (!wav) {
    message = kCantOpenRecordingText;
    return false;
  }
  uint8_t header[kWavHeaderBytes];
  if (std::fread(header, 1, sizeof header, wav.get()) != sizeof header || !IsOurWavLayout(header)) {
    WriteLog(L"Encode: {} is not a 16-bit stereo PCM WAV", wavPath);
    message = kCantOpenRecordingText;
    return false;
  }
  const uint32_t rate = ReadU32(header + 24);
  const long long wavBytes = FileSize(wavPath);
  const uint64_t wavFrames =
      wavBytes > static_cast<long long>(kWavHeaderBytes) ? (wavBytes - kWavHeaderBytes) / kWavBytesPerFrame : 0;
  if (wavFrames == 0) {
    message = kEmptyRecordingText;
    return false;
  }
  if (subtype == AudioSubtype::Mp3 && !Mp3RateOffered(static_cast<int>(rate))) {
    message = kMp3RateText;
    return false;
  }

  std::wstring detail;
  std::unique_ptr<MediaWriter> writer = MediaWriter::Open(outputPath, subtype, rate, &detail);
  if (!writer) {
    WriteLog(L"Encode: {} at {} Hz to {}: {}", formatName, rate, outputPath, detail);
    message = L"The " + formatName + L" encoder isn't available — kept the WAV";
    return false;
  }

  std::vector<uint8_t> bytes(kBlockBytes);
  std::vector<int16_t> samples(kEncodeBlockFrames * kWavChannels);
  bool ok = true;
  for (;;) {
    const size_t got = std::fread(bytes.data(), 1, kBlockBytes, wav.get());
    const size_t frames = got / kWavBytesPerFrame;  // a trailing partial frame is ignored
    for (size_t i = 0; i < frames * kWavChannels; ++i)
      samples[i] = static_cast<int16_t>(uint16_t(bytes[2 * i]) | uint16_t(bytes[2 * i + 1]) << 8);
    if (frames > 0 && !writer->Write(samples.data(), frames, &detail)) {
      ok = false;
      break;
    }
    if (got < kBlockBytes) {
      if (std::ferror(wav.get())) {
        detail = L"reading the WAV failed";
        ok = false;
      }
      break;
    }
  }
  // An encoder can finish without complaint and still leave a file no player opens.
  if (ok)
    ok = writer->Finish(&detail, [&](const std::wstring& written, std::wstring* why) {
      return CopyReadsBack(written, rate, wavFrames, why);
    });
  if (!ok) {
    WriteLog(L"Encode: {} to {} failed: {}", formatName, outputPath, detail);
    message = formatName + L" encoding failed — kept the WAV";
    return false;
  }
  return true;
}

bool CopyReadsBack(const std::wstring& path, uint32_t rate, uint64_t frames, std::wstring* detail) {
  AssertNotAudioThread();
  std::unique_ptr<MediaReader> reader;
  MediaStreamInfo info;
  std::wstring why;
  if (MediaReader::Open(path, &reader, &info, &why) != MediaOpenStatus::Ok) {
    *detail = L"the copy doesn't open as audio (" + why + L")";
    return false;
  }
  uint64_t decoded = 0;
  const float* block = nullptr;
  size_t got = 0;
  while (reader->ReadBlock(&block, &got)) decoded += got;
  if (!reader->ReadError().empty()) {
    *detail = L"the copy doesn't decode to its end (" + reader->ReadError() + L")";
    return false;
  }
  const uint64_t apart = decoded > frames ? decoded - frames : frames - decoded;
  if (reader->SampleRate() != static_cast<int32_t>(rate) || apart > kCopyLengthSlackFrames) {
    *detail = fmt::format(L"the copy decodes to {} frames at {} Hz, the WAV holds {} at {} Hz", decoded,
                          reader->SampleRate(), frames, rate);
    return false;
  }
  return true;
}
