#pragma once
// The AI set builder's headless part: a numbered catalogue of the tracks in view goes to a local
// LLM server speaking the Ollama protocol ("/api/tags", "/api/chat"), whose answer names the tracks
// of a set in play order. The worker thread runs BuildAiSet and hands its job back as completion 13.
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "base/ui_text.h"
#include "library/mix_order.h"

inline constexpr int kAiSetPost = 13;
inline constexpr int kAiMaxCandidates = 250;
inline constexpr size_t kAiSetNameUnits = 60;     // UTF-16 units
inline constexpr size_t kAiMaxBodyBytes = size_t{16} << 20;
inline constexpr unsigned kAiChatTimeoutMs = 600000;
inline constexpr unsigned kAiTagsTimeoutMs = 10000;
inline constexpr wchar_t kAiDefaultUrl[] = L"http://127.0.0.1:11434";
inline constexpr wchar_t kAiDefaultModel[] = L"llama3.2";
inline constexpr wchar_t kOllamaDomain[] = L"ollama.com";
inline constexpr wchar_t kOllamaDownloadPage[] = L"https://ollama.com/download";

struct AiSetResult {
  std::wstring name;            // at most kAiSetNameUnits UTF-16 units; empty when none
  UiText error;                 // empty on success
  bool needsOllama = false;     // the error is one of the two install texts (no server, no model)
  std::vector<int32_t> picks;   // indices into the tracks, in play order
};

// One request and its outcome: made on the UI thread, filled by the worker, applied and deleted by
// the UI thread.
struct AiJob {
  std::wstring description;
  MixTrackSet tracks;  // the job's own copies: the library may change while the worker runs
  AiSetResult result;
};

struct AiWorkerArgs {
  AiJob* job = nullptr;
  std::wstring url, model;
  int32_t minutes = 60;
  unsigned chatTimeoutMs = kAiChatTimeoutMs;
};

// Set at exit: a running request ends at once (its job is then freed by the worker).
extern std::atomic<bool> AiStop;
// Workers between their start and their end.
extern std::atomic<int> AiWorkersRunning;

struct AiHttpReply {
  int32_t status = 0;
  std::string body;  // UTF-8, at most kAiMaxBodyBytes
  UiText error;      // empty on success
};
// One request to the server at url (only its scheme, host and port count) with the JSON body;
// no proxy. Resolve 5 s, connect 5 s, send 30 s; the whole answer within receiveTimeoutMs. A body
// over kAiMaxBodyBytes is refused as a server error. Ends early when *stop is set. Any thread.
AiHttpReply AiHttpRequest(const std::wstring& url, const char* method, const char* path, const std::string& body,
                          unsigned receiveTimeoutMs, const std::atomic<bool>* stop = nullptr);

// Text escaped for the inside of a JSON string.
std::wstring EscapeAiJson(std::wstring_view text);
// Up to kAiMaxCandidates indices into tracks: those whose artist, title or genre holds a word of
// three or more letters of the description, then the analysed ones, then the rest.
std::vector<int32_t> SelectAiCandidates(const std::wstring& description, const std::vector<MixTrack>& tracks);
// The catalogue's lines for the candidates, numbered from 1.
std::wstring AiCatalogue(const std::vector<int32_t>& candidates, const std::vector<MixTrack>& tracks);
// The chat request's body (UTF-8), white space only inside the texts.
std::string AiChatBody(const std::wstring& model, const std::wstring& description, int32_t minutes,
                       const std::wstring& catalogue);
// Reads the model's answer text into the result: the set name and the picks, in order, until the
// picks run past minutes; an error when the text is not the expected JSON or picks nothing.
void ReadAiAnswer(const std::wstring& answer, const std::vector<int32_t>& candidates,
                  const std::vector<MixTrack>& tracks, int32_t minutes, AiSetResult* result);
// Asks the server for a set. Blocks until it has answered, a time-out passed or *stop is set;
// touches no global state.
AiSetResult BuildAiSet(std::wstring url, std::wstring model, const std::wstring& description, int32_t minutes,
                       const std::vector<MixTrack>& tracks, unsigned chatTimeoutMs = kAiChatTimeoutMs,
                       const std::atomic<bool>* stop = nullptr);
// Starts AiSetWorker on a detached thread. Owns args.
void StartAiWorker(AiWorkerArgs* args);
// The worker thread body: builds, fills the job, posts it as completion 13 (or frees it when the
// post fails or the program is ending). Owns args.
void AiSetWorker(AiWorkerArgs* args);
// At exit: stops a running request and waits up to about a second for its worker to leave.
void StopAiJobs();
