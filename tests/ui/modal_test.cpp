#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/settings.h"
#include "library/track_view.h"
#include "platform/clock.h"
#include "platform/ini.h"
#include "platform/keymap.h"
#include "support/temp_home.h"
#include "tests/ui/widget_frames.h"
#include "ui/modal.h"
#include "ui/status_line.h"

namespace {

constexpr int kVkTab = 0x09, kVkReturn = 0x0D, kVkEscape = 0x1B;
constexpr wchar_t kBackspace = 8, kTab = 9, kEnter = 13, kPaste = 22, kEsc = 27;

std::wstring Clipboard;
bool ReadTestClipboard(std::wstring* text) {
  *text = Clipboard;
  return true;
}

void Type(std::wstring_view text) {
  for (wchar_t c : text) ModalCharacter(c);
}

class ModalTest : public WidgetFrames {
 protected:
  void TearDown() override {
    CloseModal(false), AnswerConfirmPrompt(false), RunDeferredActions();
    ClipboardReadHook = nullptr;
    WidgetFrames::TearDown();
  }
  void OpenTwoFields() {
    OpenModal(L"Stream", {{L"Server", L"", false}, {L"Password", L"", true}}, L"CONNECT",
              [this](const std::vector<ModalField>& fields) { received.push_back(fields); });
  }
  std::vector<std::vector<ModalField>> received;  // one entry per callback run
};
using QuestionTest = ModalTest;
using StatusTest = ModalTest;

TEST_F(ModalTest, DeferredActionsRunInOrderAndTheirOwnQueueWaitsAFrame) {
  std::vector<int> order;
  QueueDeferredAction([&] { order.push_back(1), QueueDeferredAction([&] { order.push_back(3); }); });
  QueueDeferredAction([&] { order.push_back(2); });
  RunDeferredActions();
  EXPECT_EQ(order, (std::vector<int>{1, 2}));
  RunDeferredActions();
  EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
}

TEST_F(ModalTest, TypingTabEnterAndEscDriveTheForm) {
  SearchFocused = true;
  OpenTwoFields();
  EXPECT_FALSE(SearchFocused) << "a form takes the keyboard from the search box";
  Type(L"radio.example");
  EXPECT_TRUE(ModalKeyDown(kVkTab, false));
  Type(L"pw\t ");
  ModalKeyDown(kVkTab, true), ModalKeyDown(kVkTab, true);
  EXPECT_EQ(Modal.focused, 1) << "Shift+Tab wraps backwards";
  EXPECT_TRUE(ModalKeyDown('L', false)) << "every key stops at an open form";
  ModalCharacter(kEnter);
  EXPECT_FALSE(Modal.open);
  ASSERT_EQ(received.size(), 1u) << "Enter accepts at once";
  EXPECT_EQ(received[0][0].value, L"radio.example");
  EXPECT_EQ(received[0][1].value, L"pw ");
  EXPECT_EQ(Modal.fields[1].value, L"pw ") << "the fields stay until the next form";
  EXPECT_FALSE(ModalCharacter(L'x')) << "closed: characters go elsewhere";
  OpenTwoFields();
  ModalCharacter(kEsc);
  EXPECT_FALSE(Modal.open);
  EXPECT_EQ(received.size(), 1u) << "Esc runs no callback";
}

TEST_F(ModalTest, ButtonsActAfterTheFrameAndBoxesTakeTheFocus) {
  OpenTwoFields();
  const float w = 560, h = 58 * 2 + 110, x = kWidth / 2 - w / 2, y = kHeight / 2 - h / 2;
  Press(x + 40, y + 50 + 58 + 18 + 15);  // the second box
  Frame([] { DrawModalAt(0); });
  EXPECT_EQ(Modal.focused, 1);
  EXPECT_EQ(ActiveControlId, kModalFirstBoxId + 1);
  Type(L"a");
  Release(), Frame([] { DrawModalAt(0); });
  Press(x + w - 20 - 43, y + h - 30);  // the confirm button
  Frame([] { DrawModalAt(0); });
  EXPECT_TRUE(Modal.open) << "the click only queues the close";
  RunDeferredActions();
  EXPECT_FALSE(Modal.open);
  ASSERT_EQ(received.size(), 1u);
  EXPECT_EQ(received[0][1].value, L"a");
}

TEST_F(ModalTest, ACallbackMayOpenTheNextFormAndStillReadsItsOwnFields) {
  std::wstring seen;
  OpenModal(L"First", {{L"Name", L"one", false}}, L"NEXT", [&](const std::vector<ModalField>& fields) {
    OpenModal(L"Second", {{L"Name", L"two", false}}, L"OK", nullptr);
    seen = fields[0].value;
  });
  ModalCharacter(kEnter);
  EXPECT_EQ(seen, L"one");
  EXPECT_EQ(Modal.title, L"Second");
  EXPECT_EQ(Modal.fields[0].value, L"two");
  OpenTwoFields();  // replaces the open form without running its callback
  EXPECT_TRUE(received.empty());
}

TEST_F(ModalTest, EditFieldSavesOnlyTheDigits) {
  TempHome home;
  Settings.Pin = L"1234";
  EditField(L"Remote PIN", &Settings.Pin, false, true);
  EXPECT_EQ(Modal.okLabel, L"SAVE");
  for (int i = 0; i < 4; ++i) ModalCharacter(kBackspace);
  Type(L"8 000a");
  ModalCharacter(kEnter);
  EXPECT_EQ(Settings.Pin, L"8000");
  EXPECT_EQ(IniString(ParseIni(ReadRaw(home.path() + "/data/Veldmix/settings.ini")), L"Remote", L"Pin", L""), L"8000");
}

// Mend: pasted text loses its control characters, as typed text does.
TEST_F(ModalTest, TypingAndPastingKeepOnlyPrintableTextUpToTheFirstLineBreak) {
  std::wstring text;
  for (wchar_t c : std::wstring(L"a\u00e9\x02 b\x1f")) TypeIntoField(&text, c);
  TypeIntoField(&text, kBackspace);
  EXPECT_EQ(text, L"a\u00e9 ");
  TypeIntoField(&text, kPaste);
  EXPECT_EQ(text, L"a\u00e9 ") << "no clipboard: nothing";
  ClipboardReadHook = ReadTestClipboard;
  Clipboard = L"Deep\tHouse\x1b[0m\r\nsecond line";
  TypeIntoField(&text, kPaste);
  EXPECT_EQ(text, L"a\u00e9 DeepHouse[0m");
  Clipboard = std::wstring(kMaxFieldChars * 2, L'x');
  TypeIntoField(&text, kPaste);
  EXPECT_EQ(text.size(), kMaxFieldChars) << "a huge paste stops at the field limit";
}

TEST_F(QuestionTest, EnterSaysYesAndEscSaysNoOrYesWithoutANoButton) {
  std::vector<std::string> answers;
  auto ask = [&](std::wstring no) {
    ShowConfirmPrompt(L"Delete?", L"", L"DELETE", std::move(no), [&] { answers.push_back("yes"); },
                      [&] { answers.push_back("no"); }, L"!", 0);
  };
  ask(L"KEEP");
  EXPECT_TRUE(PromptKeyDown(kVkReturn, true)) << "a repeat is taken but answers nothing";
  EXPECT_TRUE(PromptKeyDown('L', false));
  EXPECT_TRUE(Prompt.pending);
  PromptKeyDown(kVkReturn, false);
  ask(L"KEEP"), PromptKeyDown(kVkEscape, false);
  ask(L""), PromptKeyDown(kVkEscape, false);
  EXPECT_EQ(answers, (std::vector<std::string>{"yes", "no", "yes"}));
  EXPECT_FALSE(PromptKeyDown(kVkReturn, false)) << "nothing pending: the key goes on";
}

TEST_F(QuestionTest, ANewQuestionDropsTheOldActionsAndAnActionMayAskAgain) {
  int old = 0;
  ShowConfirmPrompt(L"One", L"", L"YES", L"NO", [&] { ++old; }, [&] { ++old; });
  ShowConfirmPrompt(L"Two", L"", L"YES", L"NO", [] { ShowConfirmPrompt(L"Three", L"", L"OK", L"", {}, {}); }, {});
  AnswerConfirmPrompt(true);
  EXPECT_EQ(old, 0);
  EXPECT_TRUE(Prompt.pending);
  EXPECT_EQ(Prompt.title, L"Three");
}

TEST_F(QuestionTest, TheKeyThatAnswersIsNotTypedIntoAFormBehind) {
  OpenTwoFields();
  ShowConfirmPrompt(L"Replace?", L"", L"REPLACE", L"CANCEL", [] {}, [] {});
  EXPECT_TRUE(ModalCharacter(L'q')) << "characters stop at a pending question";
  PromptKeyDown(kVkReturn, false);
  ModalCharacter(kEnter);  // the same key's character
  EXPECT_TRUE(Modal.open);
  EXPECT_EQ(Modal.fields[0].value, L"");
  ModalCharacter(kEnter);
  EXPECT_EQ(received.size(), 1u) << "the next Enter is the form's";
}

TEST_F(QuestionTest, OneButtonWithoutANoLabelAndAnEmptyLineLeavesTenDips) {
  int yes = 0;
  ShowConfirmPrompt(L"Saved", L"First line\n\nThird line", L"OK", L"", [&] { ++yes; }, nullptr, L"\u2713", 0x2BF59A);
  // 150 + 21 + 10 + 21: a panel 202 high; the yes button 58 above its bottom, 130 wide, 28 in.
  const float w = 580, h = 202, right = kWidth / 2 + w / 2, bottom = kHeight / 2 + h / 2;
  Press(right - 28 - 65, bottom - 58 + 1);  // just inside the button's top edge
  Frame([] { DrawAskAt(0); });
  EXPECT_EQ(controlKinds.count(kPromptNoId), 0u) << "no label, no button";
  RunDeferredActions();
  EXPECT_EQ(yes, 1);
}

TEST_F(QuestionTest, WordWrapKeepsLinesWithinTheLimit) {
  const float limit = std::max(TextWidth(L"alpha beta", 13.5f, false, 0), TextWidth(L"gamma delta", 13.5f, false, 0));
  ASSERT_GT(TextWidth(L"alpha beta gamma", 13.5f, false, 0), limit);
  using Lines = std::vector<std::wstring>;
  EXPECT_EQ(WrapText(L"alpha beta gamma delta", 13.5f, limit), (Lines{L"alpha beta", L"gamma delta"}));
  EXPECT_EQ(WrapText(L"alpha\n\nbeta  x", 13.5f, limit), (Lines{L"alpha", L"", L"beta  x"}));
  EXPECT_EQ(WrapText(L"x supercalifragilistic y", 13.5f, limit), (Lines{L"x", L"supercalifragilistic", L"y"}));
}

TEST_F(StatusTest, ANewerMessageReplacesTheShownOneForItsFullTime) {
  const uint64_t before = MonotonicMs();
  ShowStatus(L"Sync lock off");
  const uint64_t first = Status.expiresAtMs;
  EXPECT_GE(first, before + 2800);
  Frame([before] { DrawStatusLineAt(kWidth, before); });  // drawn at once: the time stands
  EXPECT_EQ(Status.expiresAtMs, first);
  EXPECT_TRUE(StatusShowing(first - 1));
  EXPECT_FALSE(StatusShowing(first));
  SleepMs(20);
  ShowStatus(L"Automix is on");
  EXPECT_EQ(Status.text, L"Automix is on");
  EXPECT_GE(Status.expiresAtMs, first + 20);
  Frame([] { DrawStatusLineAt(kWidth, Status.expiresAtMs - 1); });
  EXPECT_GT(Channel(Pixel(kWidth / 2, 100), 16), 150) << "a yellow-edged pill at y 100";
  Frame([] { DrawStatusLineAt(kWidth, Status.expiresAtMs); });
  EXPECT_LT(Brightness(Pixel(kWidth / 2, 100)), 25) << "gone once expired";
}

// A message set before the first frame, or while a busy machine holds the frames back, is seen
// for its full time from the frame that first draws it.
TEST_F(StatusTest, AMessageNoFrameDrewYetShowsItsFullTimeFromTheFirstFrame) {
  ShowStatus(L"Today's backup couldn't be made");
  const uint64_t late = Status.expiresAtMs + 10'000;
  EXPECT_TRUE(StatusShowing(late));
  Frame([late] { DrawStatusLineAt(kWidth, late); });
  EXPECT_GT(Channel(Pixel(kWidth / 2, 100), 16), 150) << "drawn though its time from the call is over";
  Frame([late] { DrawStatusLineAt(kWidth, late + kStatusDefaultMs - 1); });
  EXPECT_GT(Channel(Pixel(kWidth / 2, 100), 16), 150) << "still there just before its time from the frame";
  Frame([late] { DrawStatusLineAt(kWidth, late + kStatusDefaultMs); });
  EXPECT_LT(Brightness(Pixel(kWidth / 2, 100)), 25) << "gone after its time from the frame";

  ShowStatus(L"Audio output lost");
  HideStatus();
  EXPECT_FALSE(StatusShowing(late)) << "taken away before any frame drew it";
}

}  // namespace

namespace {

std::wstring Copied;
bool WriteTestClipboard(const std::wstring& text) {
  Copied = text;
  return true;
}

}  // namespace

// The fields edit as a standard single-line edit control: select all and type replaces, Home and
// End, Shift+arrows select, Ctrl+C/X/V copy, cut and paste, Delete; a masked field gives nothing
// away. The selection is drawn.
TEST_F(ModalTest, AFieldEditsLikeAnEditControl) {
  // Bluish pixels (the selection's highlight) inside the first of two fields' box in a 640 x 400
  // frame (the box spans x 60..600, y 155..185).
  auto highlightPixels = [] {
    int count = 0;
    for (int y = 163; y < 178; ++y)
      for (int x = 62; x < 300; ++x) {
        const uint32_t p = Pixel(x, y);
        if (Channel(p, 0) > 80 && Channel(p, 0) > Channel(p, 16) + 40 && Brightness(p) < 200) ++count;
      }
    return count;
  };
  ClipboardReadHook = ReadTestClipboard;
  ClipboardWriteHook = WriteTestClipboard;
  Copied = L"untouched";
  OpenTwoFields();
  Type(L"deep house");
  ModalCharacter(kFieldSelectAll);
  Frame([] { DrawModalAt(1); });
  EXPECT_GT(highlightPixels(), 200) << "the selection is drawn";
  Type(L"techno");
  EXPECT_EQ(Modal.fields[0].value, L"techno") << "typing replaces the selection";
  Frame([] { DrawModalAt(1); });
  EXPECT_EQ(highlightPixels(), 0);

  ModalKeyDown(KeyCode::Home, false);
  Type(L"A ");
  EXPECT_EQ(Modal.fields[0].value, L"A techno");
  ModalKeyDown(KeyCode::End, false);
  ModalKeyDown(KeyCode::Left, true), ModalKeyDown(KeyCode::Left, true);
  ModalCharacter(kFieldCopy);
  EXPECT_EQ(Copied, L"no");
  ModalCharacter(kFieldCut);
  EXPECT_EQ(Modal.fields[0].value, L"A tech");
  ModalKeyDown(KeyCode::Left, false);
  ModalKeyDown(KeyCode::Delete, false);
  EXPECT_EQ(Modal.fields[0].value, L"A tec");
  ModalKeyDown(KeyCode::Home, false);
  ModalKeyDown(KeyCode::Right, true), ModalKeyDown(KeyCode::Right, true);
  Clipboard = Copied;
  ModalCharacter(kPaste);
  EXPECT_EQ(Modal.fields[0].value, L"notec") << "a paste replaces the selection";
  ModalKeyDown(KeyCode::Right, true);
  ModalKeyDown(KeyCode::Left, false);  // an arrow drops the selection at its side
  ModalCharacter(kBackspace);
  EXPECT_EQ(Modal.fields[0].value, L"ntec") << "Backspace takes the character before the caret";

  ModalKeyDown(KeyCode::Tab, false);
  Type(L"secret");
  Copied = L"untouched";
  ModalCharacter(kFieldSelectAll), ModalCharacter(kFieldCopy), ModalCharacter(kFieldCut);
  EXPECT_EQ(Copied, L"untouched") << "a password is never copied";
  EXPECT_EQ(Modal.fields[1].value, L"secret");
  ModalCharacter(kBackspace);
  EXPECT_EQ(Modal.fields[1].value, L"") << "the selection is still there to delete";
  ClipboardWriteHook = nullptr;
}
