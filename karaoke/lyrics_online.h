#pragma once
// The online lyrics lookup: asks the public lyrics service LRCLIB over HTTPS for a track's words
// by artist, title and duration, and turns its JSON answer (synced LRC, plain text or an
// instrumental flag) into Lyrics. Every failure ends in one message for the user.
// Runs on the lyrics worker thread; never on the UI or audio thread.
#include <cstddef>
#include <string>
#include <string_view>

#include "base/ui_text.h"
#include "karaoke/lyrics.h"

// The service: its address, and the host name its messages show.
inline constexpr const char* kLrclibDefaultServer = "https://lrclib.net";
// Reading an answer stops once the body holds more than this.
inline constexpr size_t kMaxLrclibBodyBytes = 2097152;
inline constexpr unsigned kLrclibResolveTimeoutMs = 8000;
inline constexpr unsigned kLrclibConnectTimeoutMs = 8000;
inline constexpr unsigned kLrclibSendTimeoutMs = 10000;
inline constexpr unsigned kLrclibReceiveTimeoutMs = 15000;

// Lower-case substrings that mark the noise in titles ("(Karaoke Version)", "- Remastered").
inline constexpr const wchar_t* kTitleNoiseWords[] = {
    L"karaoke", L"instrumental", L"backing", L"version", L"remaster", L"in the style of",
    L"lyric",   L"official",     L"audio",   L"video",   L"edit",     L"explicit",
    L"clean",   L"mono",         L"stereo",  L"vocal",   L"mp3",      L"cdg",
};

// --- The service's address ---
// The base address requests go to ("https://host[:port]", no trailing slash): the one last set,
// else $VELDMIX_LRCLIB_SERVER (tests point it at a loopback stand-in), else kLrclibDefaultServer.
std::string LrclibServer();
// Sets the base address for the whole process; an empty text goes back to the default. Any thread.
void SetLrclibServer(std::string_view base);
// The host name of the base address (no scheme, port or path), as the messages show it.
std::wstring LrclibHostName();

// --- Lookup ---
// The track's words from the service: kind Synced (or Estimated) for synced text, Plain for
// plain text, with source "LRCLIB (host)". On failure kind None and *message says why (translated,
// then filled, when shown). At most
// two requests.
Lyrics LookUpLrclib(const std::wstring& artist, const std::wstring& title, double durationSeconds,
                    UiText* message);
// One HTTPS GET of `path` (which starts with "/") on the service. True when a response arrived,
// with its status and body (cut soon after kMaxLrclibBodyBytes); false with status 0 when the
// request could not be made or answered.
bool LrclibGet(const std::string& path, long* status, std::string* body);

// --- Text ---
// The title without a bracketed part, or a " - " tail, that holds a noise word; trimmed.
std::wstring CleanTitle(std::wstring_view title);
// True when the lower-cased text contains one of kTitleNoiseWords.
bool HasNoiseWord(std::wstring_view text);
