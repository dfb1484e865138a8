// veldmix-tool layout: the main screen's rectangles in window pixels, computed by the screens' own
// layout functions, so scripts driving the real window with a mouse click what the frame draws.
#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/load_settings.h"
#include "base/settings.h"
#include "base/text_parse.h"
#include "control/control_ids.h"
#include "platform/text.h"
#include "screens/browser_screen.h"
#include "screens/deck_panel.h"
#include "screens/grid_editor.h"
#include "screens/karaoke_panel.h"
#include "screens/layout.h"
#include "screens/macros_panel_view.h"
#include "screens/mixer.h"
#include "screens/pads.h"
#include "screens/pitch_jog.h"
#include "screens/sidebar.h"
#include "screens/slim_layout.h"
#include "screens/top_bar.h"
#include "tools/veldmix-tool/commands.h"

namespace {

constexpr long long kMinSidePixels = 200, kMaxWidthPixels = 7680, kMaxHeightPixels = 4320;
constexpr double kMinScale = 0.5, kMaxScale = 4.0;
constexpr int kPanelDecks = 2;  // the side slots' default decks: A on the left, B on the right
constexpr int32_t kFirstGridButtonId = 3500, kLastGridButtonId = 3519;

constexpr const char kLayoutUsage[] =
    "usage: veldmix-tool layout WIDTH HEIGHT [--scale S] [--layout full|library|performance] [--decks 2|4]\n"
    "       [--tracks N] [--folders N] [--crates N] [--lists N] [--karaoke SINGERS]\n"
    "       [--settings TAB | --skin-editor] [--load-settings]\n"
    "Prints \"name x y w h\" per line in window pixels for a window WIDTH x HEIGHT pixels at UI scale S\n"
    "(the window's DPI / 96, default 1): lanes, panels and their parts for decks A (left) and B (right),\n"
    "the mixer, cross-fader, browser, the beat-grid editor's panel and buttons, and the macros panel's\n"
    "run and EDIT buttons and DONE, the top bar's buttons (topbar.NAME) and the two channel strips'\n"
    "controls (strip.SIDE.NAME, side 0 left) where a drawn frame puts them. The browser's toolbar,\n"
    "header cells, rows and sidebar rows are laid out for N tracks in view (default 0), N music folders\n"
    "(default 1), N smart crates (default 0) and N track lists (default 3, the built-in ones). With\n"
    "--karaoke, the karaoke panel in the browser's column, its controls and the rows of that many singers.\n"
    "With --settings TAB (0-9): the settings screen open on that tab, one \"id.N x y w h\" line per\n"
    "widget it draws (N is the widget's control id), in drawing order, after the settings button\n"
    "(id.2) that opens it, with the sound server's devices. With --skin-editor: the skin editor's widgets\n"
    "the same way. --load-settings lays the screen out for the data folder's settings (the rows that\n"
    "appear with a choice), not the defaults.\n";
constexpr long long kMaxCount = 100000000;

struct LayoutName {
  const char* name;
  int32_t layout;
};
constexpr LayoutName kLayoutNames[] = {
    {"full", kLayoutFull}, {"library", kLayoutLibrary}, {"performance", kLayoutPerformance}};

struct LayoutArgs {
  long long width = 0, height = 0;
  double scale = 1.0;
  int32_t layout = kLayoutFull;
  bool fourDecks = false;
  long long tracks = 0, folders = 1, crates = 0, lists = 3;
  int settingsTab = -1;  // >= 0: print the settings screen's widgets instead
  bool skinEditor = false;
  bool loadSettings = false;
  int64_t singers = -1;  // --karaoke: rows to print; -1 leaves the panel out
};
constexpr int64_t kMaxSingers = 100000;

bool ParseScale(const std::string& text, double* out) {
  return ParseNumber(text, out, kMinScale, kMaxScale);
}

// Fills args from the command line; on a bad one prints why and returns false.
bool ParseLayoutArgs(const std::vector<std::string>& args, LayoutArgs* out) {
  int64_t width = 0, height = 0;
  if (args.size() < 2 || !ParseInteger(args[0], &width, kMinSidePixels, kMaxWidthPixels) ||
      !ParseInteger(args[1], &height, kMinSidePixels, kMaxHeightPixels)) {
    std::fprintf(stderr, "layout: WIDTH and HEIGHT must be whole pixels, %lld..%lld x %lld..%lld\n%s",
                 kMinSidePixels, kMaxWidthPixels, kMinSidePixels, kMaxHeightPixels, kLayoutUsage);
    return false;
  }
  out->width = width;
  out->height = height;
  for (size_t i = 2; i < args.size(); ++i) {
    const std::string& option = args[i];
    if (option == "--skin-editor" || option == "--load-settings") {
      (option == "--skin-editor" ? out->skinEditor : out->loadSettings) = true;
      continue;
    }
    if (i + 1 >= args.size()) {
      std::fprintf(stderr, "layout: %s needs a value\n%s", option.c_str(), kLayoutUsage);
      return false;
    }
    const std::string& value = args[++i];
    bool ok = false;
    if (option == "--scale") {
      ok = ParseScale(value, &out->scale);
    } else if (option == "--layout") {
      for (const LayoutName& n : kLayoutNames)
        if (value == n.name) out->layout = n.layout, ok = true;
    } else if (option == "--settings") {
      int64_t tab = 0;
      ok = ParseInteger(value, &tab, 0, 9);
      out->settingsTab = static_cast<int>(tab);
    } else if (option == "--karaoke") {
      ok = ParseInteger(value, &out->singers, 0, kMaxSingers);
    } else if (option == "--tracks" || option == "--folders" || option == "--crates" || option == "--lists") {
      int64_t n = 0;
      ok = ParseInteger(value, &n, 0, kMaxCount);
      long long* field = option == "--tracks"    ? &out->tracks
                         : option == "--folders" ? &out->folders
                         : option == "--crates"  ? &out->crates
                                                 : &out->lists;
      *field = n;
    } else if (option == "--decks") {
      ok = value == "2" || value == "4";
      out->fourDecks = value == "4";
    } else {
      std::fprintf(stderr, "layout: unknown option %s\n%s", option.c_str(), kLayoutUsage);
      return false;
    }
    if (!ok) {
      std::fprintf(stderr, "layout: bad value \"%s\" for %s\n%s", value.c_str(), option.c_str(), kLayoutUsage);
      return false;
    }
  }
  return true;
}

// Prints DIP rectangles in pixels at one scale.
class Printer {
 public:
  explicit Printer(double scale) : scale_(scale) {}
  void Put(const std::string& name, Rc r) const { PrintRect(name, r, scale_); }

 private:
  double scale_;
};

struct WidgetName {
  int32_t id;
  const char* name;
};
// The top bar's widgets, drawn as "topbar.NAME".
constexpr WidgetName kTopBarWidgets[] = {
    {kHelpButtonId, "help"},        {kSettingsButtonId, "settings"},   {kRecButtonId, "rec"},
    {kAutomixButtonId, "automix"},  {kSkipButtonId, "skip"},           {kMidiButtonId, "midi"},
    {kMicButtonId, "mic"},          {kShiftWidget, "shift"},           {kSandboxButtonId, "sandbox"},
    {kLoadMeterId, "load"},         {kGoLiveButtonId, "golive"},       {kKaraokeButtonId, "karaoke"},
    {kMasterFxPrevId, "masterfx.prev"}, {kMasterFxNameId, "masterfx.name"}, {kMasterFxNextId, "masterfx.next"},
    {kMasterFxBeatsId, "masterfx.beats"}, {kMasterFxOnId, "masterfx.on"}, {kMasterFxAmountId, "masterfx.amount"},
};
// A channel strip's controls (StripControlId offsets), drawn as "strip.SIDE.NAME"; the filter's
// colour-effect label is "strip.SIDE.fxmode".
constexpr WidgetName kStripWidgets[] = {
    {kStripGain, "gain"},     {kStripHigh, "high"},     {kStripMid, "mid"}, {kStripLow, "low"},
    {kStripColorFx, "filter"}, {kStripFader, "volume"}, {kStripCue, "cue"}, {kStripVox, "vox"},
    {kStripInst, "inst"},
};

// The top bar's and the two channel strips' widgets where one drawn frame of the main window put
// them (they are laid out while drawn).
void PutDrawnControls(const Printer& p, const LayoutArgs& a) {
  Settings.Layout = a.layout;
  Settings.FourDecks = a.fourDecks;
  const std::vector<std::pair<int, Rc>> drawn =
      DrawnFrameWidgets(static_cast<int>(a.width), static_cast<int>(a.height), a.scale);
  for (const auto& [id, r] : drawn) {
    for (const WidgetName& w : kTopBarWidgets)
      if (w.id == id) p.Put(std::string("topbar.") + w.name, r);
    for (int side = 0; side < kPanelDecks; ++side) {
      for (const WidgetName& w : kStripWidgets)
        if (StripControlId(side, w.id) == id) p.Put("strip." + std::to_string(side) + "." + w.name, r);
      if (ColorFxLabelId(side) == id) p.Put("strip." + std::to_string(side) + ".fxmode", r);
    }
  }
}

std::string Lower(const wchar_t* label) {
  std::string out;
  for (const wchar_t* c = label; *c; ++c) out += static_cast<char>(std::tolower(static_cast<unsigned char>(*c)));
  return out;
}

void PutTransportAndLoops(const Printer& p, const std::string& d, Rc transport, Rc loops) {
  const TransportLayout t = LayOutTransport(transport);
  p.Put("cue" + d, t.cue);
  p.Put("play" + d, t.play);
  p.Put("sync" + d, t.sync);
  const LoopControlsLayout l = LayOutLoopControls(loops);
  p.Put("loop.halve" + d, l.halve);
  p.Put("loop.size" + d, l.size);
  p.Put("loop.double" + d, l.twice);
  p.Put("loop.auto" + d, l.loop);
}

void PutFullPanel(const Printer& p, int deck, Rc panel, bool performance) {
  const std::string d = "." + std::to_string(deck);
  const DeckPanelLayout l = LayOutDeckPanel(deck, panel, performance);
  p.Put("header" + d, l.header);
  p.Put("overview" + d, l.overview);
  p.Put("tools" + d, l.tools);
  Rc tools[kDeckTools];
  LayOutDeckTools(l.tools, tools);
  for (int i = 0; i < kDeckTools; ++i) {
    p.Put("tool" + d + "." + DeckToolName(i), tools[i]);
    // A right-click on SET 1 opens the beat-grid editor.
    if (std::string(DeckToolName(i)) == "set1") p.Put("gridedit" + d, tools[i]);
  }
  p.Put("pitch" + d, l.pitch);
  const PitchColumnLayout pc = LayOutPitchColumn(l.pitch);
  p.Put("pitch.range" + d, pc.range);
  p.Put("pitch.fader" + d, pc.fader);
  p.Put("pitch.nudgedown" + d, pc.nudgeDown);
  p.Put("pitch.nudgeup" + d, pc.nudgeUp);
  p.Put("jog" + d, Rc{l.jogX - l.jogRadius, l.jogY - l.jogRadius, 2 * l.jogRadius, 2 * l.jogRadius});
  p.Put("padsection" + d, l.pads);
  for (uint32_t mode = 0; mode < kPadModes; ++mode)
    p.Put("tab" + d + "." + Lower(PadTabLabel(mode)), PadTabRect(l.pads, mode));
  for (int i = 0; i < kPerformancePads; ++i) {
    p.Put("pads" + d + "." + std::to_string(i), PadRect(l.pads, kPadModeCues, i));
    p.Put("sampler" + d + "." + std::to_string(i), PadRect(l.pads, kPadModeSampler, i));
  }
  // The LOOP pad mode's IN and OUT pads.
  p.Put("loop.in" + d, PadRect(l.pads, kPadModeLoop, 0));
  p.Put("loop.out" + d, PadRect(l.pads, kPadModeLoop, 1));
  p.Put("transport" + d, l.transport);
  p.Put("loops" + d, l.loops);
  PutTransportAndLoops(p, d, l.transport, l.loops);
}

// The karaoke panel in the browser's column: the header buttons, the card's controls (the VOCALS
// choice and the KEY group where a stage deck puts them) and the first rows of `singers` singers.
void PutKaraokePanel(const Printer& p, Rc browser, int singers) {
  const BrowserLayout b = LayOutBrowser(browser, 0.0f, true, false);
  const Rc column = b.karaoke;
  // The browser's first track row beside the panel: a row to drag onto a singer.
  p.Put("karaoke.browserrow", Rc{b.list.x, b.list.y, b.list.w, kBrowserRowDip});
  const KaraokePanelLayout l = LayOutKaraokePanel(column, false, singers), stage = LayOutKaraokePanel(column, true, singers);
  p.Put("karaoke.panel", column);
  p.Put("karaoke.addsinger", l.addSinger);
  p.Put("karaoke.break", l.breakMusic);
  p.Put("karaoke.screen", l.screen);
  p.Put("karaoke.card", l.card);
  p.Put("karaoke.tapsync", l.tapSync);
  p.Put("karaoke.findonline", l.findOnline);
  p.Put("karaoke.findonline.bytap", l.findOnlineByTap);
  p.Put("karaoke.action", l.action);
  p.Put("karaoke.upnext", l.upNext);
  const char* vocals[] = {"off", "guide", "on"};
  for (int i = 0; i < 3; ++i) p.Put(std::string("karaoke.vocals.") + vocals[i], stage.vocals[i]);
  if (l.keyFits) p.Put("karaoke.keydown", l.keyDown), p.Put("karaoke.keyup", l.keyUp);
  if (stage.keyFits) p.Put("karaoke.stage.keydown", stage.keyDown), p.Put("karaoke.stage.keyup", stage.keyUp);
  p.Put("karaoke.earlier", l.earlier);
  p.Put("karaoke.offset", l.offset);
  p.Put("karaoke.later", l.later);
  p.Put("karaoke.list", l.list);
  p.Put("karaoke.body", l.body);
  // The rows seen whole with the panel at its top; a short panel scrolls to the others.
  for (int k = 0; k < std::min(singers, l.rowsShown); ++k) {
    const Rc row = KaraokeRowRect(l, k);
    if (row.y >= l.body.y && row.Bottom() <= l.body.Bottom()) p.Put("karaoke.row." + std::to_string(k), row);
  }
}

// The browser's toolbar, header cells, the rows that fit, the scrollbar and the sidebar's rows.
void PutBrowser(const Printer& p, Rc browser, const LayoutArgs& a) {
  if (!(browser.w > 0 && browser.h > 0)) return;
  const std::wstring count = std::to_wstring(a.tracks) + (a.tracks == 1 ? L" track" : L" tracks");
  const BrowserLayout l = LayOutBrowser(browser, TextWidth(count, kBrowserCountTextSize, false, kFontSegoeUi), false,
                                        false);
  p.Put("search", l.searchBox);
  p.Put("load.left", l.loadLeft);
  p.Put("load.right", l.loadRight);
  p.Put("analyze", l.analyze);
  p.Put("match", l.match);
  p.Put("ai", l.ai);
  p.Put("macros", l.macros);
  p.Put("count", l.countLine);
  p.Put("header", l.header);
  const char* columns[kBrowserColumns] = {"title", "artist", "bpm", "key", "energy", "rating", "time"};
  for (int c = 0; c < kBrowserColumns; ++c) p.Put(std::string("header.") + columns[c], l.headerCells[c]);
  p.Put("list", l.list);
  p.Put("scrollbar", l.scrollTrack);
  const long long rows = std::min<long long>(a.tracks, l.visibleRows);
  for (int i = 0; i < rows; ++i) {
    const std::string r = "row." + std::to_string(i);
    const Rc row = BrowserRowRect(l, i);
    p.Put(r, row);
    p.Put(r + ".play", BrowserPlayCell(l, row));
    p.Put(r + ".stars", BrowserStarsRect(l, row));
  }
  const SidebarLayout s = LayOutSidebar(l.sidebar, static_cast<size_t>(a.folders), static_cast<size_t>(a.crates),
                                        static_cast<size_t>(a.lists));
  p.Put("sidebar", l.sidebar);
  p.Put("folders.plus", s.foldersPlus);
  p.Put("crates.plus", s.cratesPlus);
  p.Put("lists.plus", s.listsPlus);
  p.Put("crates.hint", s.crateHint);
  for (size_t i = 0; i < s.folders.size(); ++i) p.Put("folder." + std::to_string(i), s.folders[i]);
  for (size_t i = 0; i < s.crates.size(); ++i) p.Put("crate." + std::to_string(i), s.crates[i]);
  for (size_t i = 0; i < s.lists.size(); ++i) p.Put("list." + std::to_string(i), s.lists[i]);
}

int RunLayout(const std::vector<std::string>& args) {
  LayoutArgs a;
  if (!ParseLayoutArgs(args, &a)) return 2;
  if (a.settingsTab >= 0 || a.skinEditor) {
    if (a.loadSettings) LoadSettings();
    const bool drawn = PrintOverlayWidgets(static_cast<int>(a.width), static_cast<int>(a.height), a.scale,
                                           std::max(a.settingsTab, 0), a.skinEditor);
    return drawn ? 0 : 1;
  }
  const float width = static_cast<float>(a.width / a.scale), height = static_cast<float>(a.height / a.scale);
  const ScreenLayout s = ComputeLayout(width, height, a.layout, false, a.fourDecks);
  const Printer p(a.scale);

  p.Put("topbar", Rc{0, 0, width, kTopBarHeight});
  PutDrawnControls(p, a);
  for (int deck = 0; deck < kEngineDecks; ++deck) p.Put("lane." + std::to_string(deck), s.lanes[deck]);
  const Rc panels[kPanelDecks] = {s.leftPanel, s.rightPanel};
  const bool slim = VariantOf(s.layout).slimPanels;
  for (int deck = 0; deck < kPanelDecks; ++deck) {
    const std::string d = "." + std::to_string(deck);
    p.Put("panel" + d, panels[deck]);
    if (slim) {
      const SlimControlRow row = SlimControlRowOf(deck, panels[deck]);
      PutTransportAndLoops(p, d, row.transport, row.loops);
    } else {
      PutFullPanel(p, deck, panels[deck], s.layout == kLayoutPerformance);
    }
  }
  p.Put("mixer", s.mixer);
  if (!slim) {
    const MixerBottomRow row = LayOutMixerBottom(s.mixer);
    p.Put("crossfader", row.crossfader);
    p.Put("glide.a", row.glideA);
    p.Put("glide.b", row.glideB);
  }
  p.Put("browser", s.browser);
  PutBrowser(p, s.browser, a);
  const MacrosPanelLayout m = LayoutMacrosPanel(width, height);
  p.Put("macros.panel", m.panel);
  for (int i = 0; i < 8; ++i) {
    p.Put("macros.run." + std::to_string(i), m.run[i]);
    p.Put("macros.edit." + std::to_string(i), m.edit[i]);
  }
  p.Put("macros.done", m.done);

  if (a.singers >= 0 && s.browser.w > 0) PutKaraokePanel(p, s.browser, static_cast<int>(a.singers));

  const GridEditorLayout g = LayoutGridEditor(GridEditorPanel(width, height));
  p.Put("grideditor.panel", g.panel);
  p.Put("grideditor.strip", g.strip);
  p.Put("grideditor.done", g.done);
  for (int32_t id = kFirstGridButtonId; id <= kLastGridButtonId; ++id)
    p.Put("grideditor." + std::to_string(id), GridEditorButtonRect(g, id));
  return 0;
}

}  // namespace

const ToolCommand kLayoutCommands[] = {
    {"layout", "WIDTH HEIGHT [--scale S] [--layout L] [--decks N] [--tracks N]... [--settings TAB|--skin-editor]",
     "print the main screen's (or the settings screen's) rectangles in pixels",
     RunLayout},
};
const int kLayoutCommandCount = static_cast<int>(sizeof(kLayoutCommands) / sizeof(kLayoutCommands[0]));
