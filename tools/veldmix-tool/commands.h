#pragma once
// The headless harness: one table row per subcommand, each over the program's real code.
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

struct ToolCommand {
  const char* name;
  const char* usage;    // arguments, as --help prints them
  const char* summary;  // one line
  int (*run)(const std::vector<std::string>& args);  // args after the subcommand; exit code
};

// Loads tracks onto decks A-D as the window does (LoadTrack, then its completion drained here);
// false, with each failure printed, when any deck ends without its track.
bool LoadDecks(const std::vector<std::string>& tracks);

// Draws the settings screen open on the tab (or the skin editor) in a window of that many pixels
// at the UI scale and prints "id.N x y w h" in pixels for every widget it draws, after the settings
// button (id.2) that opens it; false when nothing could be drawn.
bool PrintOverlayWidgets(int pixelWidth, int pixelHeight, double scale, int tab, bool skinEditor);

// Each subcommand file defines one table and registers it in main.cpp's list.
extern const ToolCommand kFoundationCommands[];
extern const int kFoundationCommandCount;
extern const ToolCommand kSoundCommands[];
extern const int kSoundCommandCount;
extern const ToolCommand kRenderCommands[];
extern const int kRenderCommandCount;
extern const ToolCommand kAnalysisCommands[];
extern const int kAnalysisCommandCount;
extern const ToolCommand kMediaCommands[];
extern const int kMediaCommandCount;
extern const ToolCommand kLibraryScanCommands[];
extern const int kLibraryScanCommandCount;
extern const ToolCommand kStreamCommands[];
extern const int kStreamCommandCount;
extern const ToolCommand kPublishCommands[];
extern const int kPublishCommandCount;
extern const ToolCommand kStemCommands[];
extern const int kStemCommandCount;
extern const ToolCommand kAudioCommands[];
extern const int kAudioCommandCount;
extern const ToolCommand kLyricsCommands[];
extern const int kLyricsCommandCount;
extern const ToolCommand kCdgCommands[];
extern const int kCdgCommandCount;
extern const ToolCommand kKaraokeScreenCommands[];
extern const int kKaraokeScreenCommandCount;
extern const ToolCommand kScreenCommands[];
extern const int kScreenCommandCount;
extern const ToolCommand kDemoCommands[];
extern const int kDemoCommandCount;
extern const ToolCommand kMenuCommands[];
extern const int kMenuCommandCount;
extern const ToolCommand kLayoutCommands[];
extern const int kLayoutCommandCount;
extern const ToolCommand kVideoCommands[];
extern const int kVideoCommandCount;
extern const ToolCommand kLibraryViewCommands[];
extern const int kLibraryViewCommandCount;
extern const ToolCommand kVisualCommands[];
extern const int kVisualCommandCount;
extern const ToolCommand kAiCommands[];
extern const int kAiCommandCount;
extern const ToolCommand kArtCommands[];
extern const int kArtCommandCount;
extern const ToolCommand kVideoRecordCommands[];
extern const int kVideoRecordCommandCount;
extern const ToolCommand kImportCommands[];
extern const int kImportCommandCount;
extern const ToolCommand kUpdateCommands[];
extern const int kUpdateCommandCount;

// Renders the engine's mix period by period at real-time pace until `stop`, standing in for the
// output thread (after PublishOutputStarted at `rate`).
void RenderPaced(int32_t rate, const std::atomic<bool>& stop);
