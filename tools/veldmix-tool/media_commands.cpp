#include <atomic>
#include <bit>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "base/tags.h"
#include "engine/audio_file.h"
#include "engine/encode.h"
#include "platform/files.h"
#include "platform/text.h"
#include "tools/veldmix-tool/commands.h"

namespace {

static_assert(std::endian::native == std::endian::little, "decode writes the samples' own bytes as LE");

bool EndsWith(const std::string& text, std::string_view tail) {
  return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// decode FILE OUT.f32: the whole file as raw interleaved stereo float32 LE at the file's rate.
int RunDecodeCommand(const std::vector<std::string>& args) {
  if (args.size() != 2) {
    std::fprintf(stderr, "usage: veldmix-tool decode FILE OUT.f32\n");
    return 2;
  }
  std::atomic<float> progress{0.0f};
  std::wstring error;
  const TrackPtr track = DecodeFile(PathFromBytes(args[0]), &progress, &error, false);
  if (!track) {
    std::fprintf(stderr, "veldmix-tool decode: %s\n", WideToUtf8(error).c_str());
    return 1;
  }
  const std::string_view bytes(reinterpret_cast<const char*>(track->samples.data()),
                               track->samples.size() * sizeof(float));
  std::wstring why;
  if (!WriteBytesAtomic(PathFromBytes(args[1]), bytes, &why, SpecialTarget::WriteInPlace)) {
    std::fprintf(stderr, "veldmix-tool decode: cannot write \"%s\": %s\n", args[1].c_str(), WideToUtf8(why).c_str());
    return 1;
  }
  std::printf("%llu frames at %d Hz\ntitle=%s\nartist=%s\n", static_cast<unsigned long long>(track->frames),
              track->sampleRate, WideToUtf8(track->title).c_str(), WideToUtf8(track->artist).c_str());
  return 0;
}

// encode IN.wav OUT.mp3|OUT.flac: the format follows the output's extension.
int RunEncodeCommand(const std::vector<std::string>& args) {
  if (args.size() != 2 || !(EndsWith(args[1], ".mp3") || EndsWith(args[1], ".flac"))) {
    std::fprintf(stderr, "usage: veldmix-tool encode IN.wav OUT.mp3|OUT.flac\n");
    return 2;
  }
  const bool mp3 = EndsWith(args[1], ".mp3");
  std::wstring error;
  if (!EncodeWavFile(PathFromBytes(args[0]), PathFromBytes(args[1]), mp3 ? AudioSubtype::Mp3 : AudioSubtype::Flac,
                     mp3 ? L"MP3" : L"FLAC", &error)) {
    std::fprintf(stderr, "veldmix-tool encode: %s\n", WideToUtf8(error).c_str());
    return 1;
  }
  return 0;
}

// The names the tags command uses for TrackTags' text fields, in kTagFields order.
constexpr const char* kTagNames[] = {"title", "artist", "album", "genre", "comment"};
static_assert(std::size(kTagNames) == std::size(kTagFields));

// tags read FILE | tags write FILE key=value...
int RunTagsCommand(const std::vector<std::string>& args) {
  const bool read = args.size() == 2 && args[0] == "read";
  const bool write = args.size() >= 3 && args[0] == "write";
  if (!read && !write) {
    std::fprintf(stderr, "usage: veldmix-tool tags read FILE | tags write FILE key=value...\n");
    return 2;
  }
  const std::wstring path = PathFromBytes(args[1]);
  TrackTags tags;
  const bool opened = ReadTags(path, &tags);
  if (read) {
    if (!opened) {
      std::fprintf(stderr, "veldmix-tool tags: cannot read the tags of \"%s\"\n", args[1].c_str());
      return 1;
    }
    for (size_t i = 0; i < std::size(kTagFields); ++i)
      std::printf("%s=%s\n", kTagNames[i], WideToUtf8(tags.*kTagFields[i].field).c_str());
    std::printf("duration=%.3f\n", tags.duration);
    return 0;
  }
  for (size_t a = 2; a < args.size(); ++a) {
    const size_t eq = args[a].find('=');
    size_t i = 0;
    while (eq != std::string::npos && i < std::size(kTagNames) && args[a].compare(0, eq, kTagNames[i]) != 0) ++i;
    if (eq == std::string::npos || i == std::size(kTagNames)) {
      std::fprintf(stderr, "veldmix-tool tags: \"%s\" is not title=, artist=, album=, genre= or comment=\n",
                   args[a].c_str());
      return 2;
    }
    tags.*kTagFields[i].field = Utf8ToWide(std::string_view(args[a]).substr(eq + 1));
  }
  UiText error;
  if (!WriteTags(path, tags, &error)) {
    std::fprintf(stderr, "veldmix-tool tags: %s\n", WideToUtf8(EnglishText(error)).c_str());
    return 1;
  }
  return 0;
}

}  // namespace

const ToolCommand kMediaCommands[] = {
    {"decode", "FILE OUT.f32", "decode an audio file to raw stereo float32 LE", RunDecodeCommand},
    {"encode", "IN.wav OUT.mp3|OUT.flac", "copy a 16-bit stereo WAV as MP3 or FLAC", RunEncodeCommand},
    {"tags", "read FILE | write FILE k=v...", "print or change title, artist, album, genre, comment",
     RunTagsCommand},
};
const int kMediaCommandCount = static_cast<int>(sizeof kMediaCommands / sizeof kMediaCommands[0]);
