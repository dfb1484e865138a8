#include "library/ai_set.h"

#include <cmath>
#include <cwctype>
#include <thread>

#include <fmt/format.h>
#include <fmt/xchar.h>

#include "base/json.h"
#include "base/musical_keys.h"
#include "base/text_parse.h"
#include "platform/clock.h"
#include "platform/text.h"
#include "platform/ui_post.h"

std::atomic<bool> AiStop{false};
std::atomic<int> AiWorkersRunning{0};

namespace {

constexpr size_t kMinWordLength = 3;
constexpr size_t kErrorExcerptLength = 200;
constexpr unsigned kStopWaitMs = 1500;

constexpr wchar_t kSystemPrompt[] =
    L"You are an expert club DJ building a set from the user's own music library. Choose tracks ONLY from the "
    L"numbered list. Shape the set as the user asks, using genre, tempo (BPM), key and energy (1-10). Keys are "
    L"Camelot codes: the same number, or a number one step away with the same letter, mix well. Keep neighbouring "
    L"tracks within about 6% BPM. Each track may appear once. Reply in JSON only: one object with \"name\", a "
    L"short set name, and \"tracks\", the ids in play order.";

// A tag as one catalogue field: line breaks and other control characters become spaces.
std::wstring OneLine(std::wstring_view text) {
  std::wstring out(text);
  for (wchar_t& c : out)
    if (c < 32 || c == 127) c = L' ';
  return out;
}

// The first units of the text that fit `units` UTF-16 units, never half a character.
std::wstring CutUtf16(const std::wstring& text, size_t units) {
  size_t used = 0, n = 0;
  for (; n < text.size(); ++n) {
    const size_t width = text[n] > 0xFFFF ? 2 : 1;
    if (used + width > units) break;
    used += width;
  }
  return text.substr(0, n);
}

// The server's own error text, shown as a short printable excerpt.
std::wstring Excerpt(const std::wstring& text) {
  std::wstring line = OneLine(text);
  if (line.size() > kErrorExcerptLength) line = line.substr(0, kErrorExcerptLength) + L"…";
  return line;
}

// The number an element of "tracks" names: a number, a string's leading number, an object's "id".
double PickNumber(const JsonValue& item) {
  if (item.kind == 2) return item.number;
  if (item.kind == 3) return static_cast<double>(LeadingInteger(WideToUtf8(item.string)));
  if (item.kind == 5) {
    const JsonValue* id = JsonFind(item, L"id");
    if (id && id->kind == 2) return id->number;
    if (id && id->kind == 3) return static_cast<double>(LeadingInteger(WideToUtf8(id->string)));
  }
  return 0;
}

UiText ServerError(int32_t status) {
  return UiFormat(L"{} ({})", UiText(L"The AI server returned an error"), status);
}

bool HasModel(const std::string& tagsBody, const std::wstring& model) {
  JsonValue tags;
  if (!JsonParse(Utf8ToWide(tagsBody), &tags)) return false;
  const JsonValue* models = JsonFind(tags, L"models");
  if (!models || models->kind != 4) return false;
  const std::wstring want = LowerText(model), wantLatest = want + L":latest";
  for (const JsonValue& m : models->items) {
    const JsonValue* name = JsonFind(m, L"name");
    if (!name || name->kind != 3) continue;
    const std::wstring have = LowerText(name->string);
    if (have == want || have == wantLatest) return true;
  }
  return false;
}

}  // namespace

std::wstring EscapeAiJson(std::wstring_view text) {
  std::wstring out;
  out.reserve(text.size() + 8);
  for (wchar_t c : text) {
    switch (c) {
      case L'\t': out += L"\\t"; break;
      case L'\n': out += L"\\n"; break;
      case L'\r': out += L"\\r"; break;
      case L'"': out += L"\\\""; break;
      case L'\\': out += L"\\\\"; break;
      default:
        if (c < 32) out += fmt::format(L"\\u{:04x}", static_cast<unsigned>(c));
        else out += c;
    }
  }
  return out;
}

std::vector<int32_t> SelectAiCandidates(const std::wstring& description, const std::vector<MixTrack>& tracks) {
  std::vector<std::wstring> words;
  std::wstring word;
  for (wchar_t c : LowerText(description) + L' ') {
    if (std::iswalnum(c)) {
      word += c;
      continue;
    }
    if (word.size() >= kMinWordLength) words.push_back(word);
    word.clear();
  }
  std::vector<int32_t> matches, analysed, rest;
  for (size_t i = 0; i < tracks.size(); ++i) {
    const MixTrack& t = tracks[i];
    const std::wstring text = LowerText(fmt::format(L"{} {} {}", t.artist, t.title, t.genre));
    bool match = false;
    for (const std::wstring& w : words) match = match || text.find(w) != std::wstring::npos;
    (match ? matches : t.bpm > 0 ? analysed : rest).push_back(static_cast<int32_t>(i));
  }
  matches.insert(matches.end(), analysed.begin(), analysed.end());
  matches.insert(matches.end(), rest.begin(), rest.end());
  if (matches.size() > kAiMaxCandidates) matches.resize(kAiMaxCandidates);
  return matches;
}

std::wstring AiCatalogue(const std::vector<int32_t>& candidates, const std::vector<MixTrack>& tracks) {
  std::wstring out;
  for (size_t n = 0; n < candidates.size(); ++n) {
    const MixTrack& t = tracks[static_cast<size_t>(candidates[n])];
    const std::wstring bpm = t.bpm > 0 ? std::to_wstring(std::lround(t.bpm)) : L"?";
    const std::wstring key = t.key >= 0 ? KeyName(t.key, true) : L"";
    const std::wstring energy = t.energy != 0 ? std::to_wstring(t.energy) : L"?";
    const int64_t seconds = t.duration > 0 && std::isfinite(t.duration) ? static_cast<int64_t>(t.duration) : 0;
    out += fmt::format(L"{} | {}{} | {} | {} | {} | {} | {}:{:02}\n", n + 1,
                       t.artist.empty() ? L"" : OneLine(t.artist) + L" - ", OneLine(t.title), OneLine(t.genre), bpm,
                       key.empty() ? L"?" : key, energy, seconds / 60, seconds % 60);
  }
  return out;
}

std::string AiChatBody(const std::wstring& model, const std::wstring& description, int32_t minutes,
                       const std::wstring& catalogue) {
  const std::wstring user = L"Request: " + description + L"\nLength: about " + std::to_wstring(minutes) +
                            L" minutes\n\nLibrary (id | artist - title | genre | BPM | key | energy | length):\n" +
                            catalogue;
  const std::wstring body = L"{\"model\":\"" + EscapeAiJson(model) +
                            L"\",\"stream\":false,\"format\":\"json\",\"options\":{\"temperature\":0.3,"
                            L"\"num_ctx\":16384},\"messages\":[{\"role\":\"system\",\"content\":\"" +
                            EscapeAiJson(kSystemPrompt) + L"\"},{\"role\":\"user\",\"content\":\"" +
                            EscapeAiJson(user) + L"\"}]}";
  return WideToUtf8(body);
}

void ReadAiAnswer(const std::wstring& answer, const std::vector<int32_t>& candidates,
                  const std::vector<MixTrack>& tracks, int32_t minutes, AiSetResult* result) {
  JsonValue set;
  if (!JsonParse(answer, &set)) {
    result->error = L"The AI's answer wasn't in the expected form — try again, or a larger model";
    return;
  }
  const JsonValue* name = JsonFind(set, L"name");
  if (name && name->kind == 3) result->name = CutUtf16(name->string, kAiSetNameUnits);
  const JsonValue* list = JsonFind(set, L"tracks");
  std::vector<bool> taken(candidates.size(), false);
  double seconds = 0;
  const double allowed = static_cast<double>(minutes) * 60.0;
  if (list && list->kind == 4) {
    for (const JsonValue& item : list->items) {
      // Checked as a real number first: 1e300 or -5 never reaches an integer conversion.
      const double number = PickNumber(item);
      if (!(number >= 1 && number < static_cast<double>(candidates.size()) + 1)) continue;
      const size_t position = static_cast<size_t>(number) - 1;
      if (taken[position]) continue;
      if (seconds > allowed) break;
      taken[position] = true;
      const int32_t index = candidates[position];
      result->picks.push_back(index);
      const double duration = tracks[static_cast<size_t>(index)].duration;
      if (duration > 0 && std::isfinite(duration)) seconds += duration;
    }
  }
  if (result->picks.empty())
    result->error = L"The AI didn't pick any tracks from your library — try describing the set differently";
}

AiSetResult BuildAiSet(std::wstring url, std::wstring model, const std::wstring& description, int32_t minutes,
                       const std::vector<MixTrack>& tracks, unsigned chatTimeoutMs, const std::atomic<bool>* stop) {
  AiSetResult result;
  if (model.empty()) model = kAiDefaultModel;
  if (url.empty()) url = kAiDefaultUrl;
  while (!url.empty() && url.back() == L'/') url.pop_back();
  if (tracks.empty()) {
    result.error = L"There are no tracks in this view to build a set from";
    return result;
  }
  const AiHttpReply tags = AiHttpRequest(url, "GET", "/api/tags", {}, kAiTagsTimeoutMs, stop);
  if (tags.error == UiText(L"The AI server address isn't a valid URL")) {
    result.error = tags.error;  // an address typed wrong is not a missing install
    return result;
  }
  if (!tags.error.empty() || tags.status != 200) {
    result.error = UiFormat(L"The AI set builder needs Ollama, which is free: install it from {}, then run  ollama pull {}",
                            std::wstring(kOllamaDomain), model);
    result.needsOllama = true;
    return result;
  }
  if (!HasModel(tags.body, model)) {
    result.error = UiFormat(L"Ollama is running but doesn't have the model “{}” yet — run  ollama pull {}", model, model);
    result.needsOllama = true;
    return result;
  }
  const std::vector<int32_t> candidates = SelectAiCandidates(description, tracks);
  const std::string body = AiChatBody(model, description, minutes, AiCatalogue(candidates, tracks));
  const AiHttpReply chat = AiHttpRequest(url, "POST", "/api/chat", body, chatTimeoutMs, stop);
  if (!chat.error.empty()) {
    result.error = chat.error;
    return result;
  }
  JsonValue reply;
  const bool parsed = JsonParse(Utf8ToWide(chat.body), &reply);
  if (chat.status != 200 || !parsed) {
    const JsonValue* error = parsed ? JsonFind(reply, L"error") : nullptr;
    if (error && error->kind == 3)
      result.error = UiFormat(L"{}{}", UiText(L"The AI server returned an error: "), Excerpt(error->string));
    else
      result.error = ServerError(chat.status);
    return result;
  }
  const JsonValue* message = JsonFind(reply, L"message");
  const JsonValue* content = message ? JsonFind(*message, L"content") : nullptr;
  if (!content || content->kind != 3) {
    result.error = L"The AI's answer wasn't in the expected form — try again, or a larger model";
    return result;
  }
  ReadAiAnswer(content->string, candidates, tracks, minutes, &result);
  return result;
}

void AiSetWorker(AiWorkerArgs* raw) {
  std::unique_ptr<AiWorkerArgs> args(raw);
  AiJob* job = args->job;
  job->result = BuildAiSet(args->url, args->model, job->description, args->minutes, job->tracks.tracks(),
                           args->chatTimeoutMs, &AiStop);
  if (AiStop || !PostToUi(kAiSetPost, 0, job)) delete job;
  --AiWorkersRunning;
}

void StartAiWorker(AiWorkerArgs* args) {
  ++AiWorkersRunning;
  std::thread(AiSetWorker, args).detach();
}

void StopAiJobs() {
  AiStop = true;
  const uint64_t end = MonotonicMs() + kStopWaitMs;
  while (AiWorkersRunning > 0 && MonotonicMs() < end) SleepMs(5);
}
