#pragma once
// The karaoke panel: the DJ's column at the right of the library browser with the stage card (who
// is on, their song, the lyrics state, VOCALS, KEY, GO/END/NEXT, lyric nudges) above the rotation
// list (singers, their next song, SING on hover, the right-click menu, the drop target for library
// rows). Drawn and operated in one call per frame. UI thread.
#include <string>
#include <vector>

#include "ui/draw.h"

// Button and row ids: the ids that controller and keyboard mappings press.
inline constexpr int kKaraokeAddSingerId = 4001;
inline constexpr int kKaraokeBreakId = 4002;
inline constexpr int kKaraokeScreenId = 4003;
inline constexpr int kKaraokeTapSyncId = 4010;
inline constexpr int kKaraokeFindOnlineId = 4011;
inline constexpr int kKaraokeVocalsFirstId = 4020;  // OFF, GUIDE, ON: 4020..4022
inline constexpr int kKaraokeKeyDownId = 4024;
inline constexpr int kKaraokeKeyUpId = 4025;
inline constexpr int kKaraokeEarlierId = 4026;
inline constexpr int kKaraokeLaterId = 4027;
inline constexpr int kKaraokeActionId = 4030;       // LOADING, GO, END or NEXT
inline constexpr int kKaraokeSingFirstId = 4100;    // + (singer mod 800)
inline constexpr int kKaraokeSingIds = 800;

// A singer row registered while the karaoke panel draws.
struct SingerDropRow {
  Rc rect;
  int singer = 0;  // index into the rotation
};
// Emptied by the frame before the panels draw; filled by the karaoke panel with its visible rows.
extern std::vector<SingerDropRow> SingerRows;

// Where the panel's parts sit in a column r (DIPs); the VOCALS choice and the KEY group's place
// depend on whether the card shows the stage deck. A column too short for the card and a few
// rotation rows scrolls the card and every singer's row as one column under the header: then
// maxScroll is above 0 and every part below the header sits `scroll` higher.
struct KaraokePanelLayout {
  Rc addSinger, breakMusic, screen;
  Rc card;
  Rc tapSync;             // row 2's right end while the deck has lines
  Rc findOnline;          // without the tap sync button; findOnlineByTap beside it
  Rc findOnlineByTap;
  Rc vocals[3];           // OFF, GUIDE, ON (stage focus only)
  Rc keyDown, keyValue, keyUp;
  bool keyFits = false;   // the KEY group has room in its row
  bool keyOwnRow = false; // a narrow column: the KEY group sits in a row of its own, the card taller
  Rc action, upNext;
  Rc earlier, offset, later;
  Rc list;                // the rotation rows' area
  int rowsShown = 1;
  Rc body;                // below the header: where the card and the rotation are seen
  float scroll = 0;       // how far the body is scrolled, within 0..maxScroll
  float maxScroll = 0;    // 0 while the rotation keeps a list of its own
};
KaraokePanelLayout LayOutKaraokePanel(Rc r, bool stageFocus, int singers = 0, float scroll = 0);
// Rotation row k (0 = the first shown) of the layout.
Rc KaraokeRowRect(const KaraokePanelLayout& l, int k);

// Draws and operates the karaoke panel in r, the browser's right-hand column while it is shown.
void DrawKaraokePanel(Rc r);
// The deck the stage card shows: the stage deck, else the loudest audible deck (not the break
// deck), else the left then the right side's loaded deck; -1 for none.
int KaraokeFocusDeck();

// Opens the "New singer" form; on ADD the singer joins the rotation with the file (if any) queued.
void KaraokeNewSinger(const std::wstring& path);
// The right-click menu of a singer row, at the mouse.
void SingerMenu(int singer);
// Asks for the karaoke screen's background picture or video ([Karaoke] Background decides which).
void ChooseKaraokeBackground();
