#include "library/ai_set.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// The texts of the tracks made here, kept for the whole run.
MixTrackSet& Texts() {
  static MixTrackSet texts;
  return texts;
}

MixTrack Track(std::wstring_view title, double seconds, double bpm = 0, std::wstring_view genre = L"House") {
  MixTrack t;
  t.path = Texts().Keep(L"/music/" + std::wstring(title) + L".mp3");
  t.title = Texts().Keep(title);
  t.genre = Texts().Keep(genre);
  t.duration = seconds;
  t.bpm = bpm;
  return t;
}

std::vector<int32_t> Identity(size_t n) {
  std::vector<int32_t> v;
  for (size_t i = 0; i < n; ++i) v.push_back(static_cast<int32_t>(i));
  return v;
}

}  // namespace

TEST(AiSet, EscapesEachControlCharacterQuoteAndBackslashAndKeepsTheRest) {
  EXPECT_EQ(EscapeAiJson(L"a\tb\nc\rd\"e\\f\x01g\x1fh é 😀"), L"a\\tb\\nc\\rd\\\"e\\\\f\\u0001g\\u001fh é 😀");
}

// Matches first, then analysed, then the rest, each in track order; words under three letters
// never match; at most 250.
TEST(AiSet, CandidatesComeMatchesThenAnalysedThenTheRest) {
  std::vector<MixTrack> tracks = {Track(L"Alpha", 60), Track(L"Beta", 60, 120), Track(L"Deep One", 60),
                                  Track(L"Gamma", 60, 124, L"Techno"), Track(L"Deeper", 60, 128)};
  EXPECT_EQ(SelectAiCandidates(L"DEEP, then techno!", tracks), (std::vector<int32_t>{2, 3, 4, 1, 0}));
  EXPECT_EQ(SelectAiCandidates(L"a de up go", tracks), (std::vector<int32_t>{1, 3, 4, 0, 2}));
  std::vector<MixTrack> many(300, Track(L"x", 60));
  EXPECT_EQ(SelectAiCandidates(L"", many).size(), 250u);
}

// One line per candidate, tags with line breaks kept on it; unknown values as "?".
TEST(AiSet, CatalogueLinesKeepOneTrackPerLine) {
  MixTrack a = Track(L"Two\nLines", 245.9, 127.6);
  a.artist = L"Tab\tArtist";
  a.key = 21;  // A minor
  a.energy = 7;
  const MixTrack b = Track(L"Plain", 59, 0, L"");
  EXPECT_EQ(AiCatalogue({0, 1}, {a, b}),
            L"1 | Tab Artist - Two Lines | House | 128 | 8A | 7 | 4:05\n"
            L"2 | Plain |  | ? | ? | ? | 0:59\n");
}

// The Part's example: "3", {"id": 1}, 3 and 99 over ten candidates give 3 then 1; absurd numbers
// (huge, negative, fractions below 1, other kinds) are dropped without undefined conversions.
TEST(AiSet, AnswerPicksInOrderDroppingRepeatsUnknownsAndAbsurdNumbers) {
  std::vector<MixTrack> tracks(10, Track(L"t", 60));
  AiSetResult r;
  ReadAiAnswer(L"{\"name\":\"Set\",\"tracks\":[\"3\",{\"id\":1},3,99,1e300,-1e300,0.5,true,null,[2],{\"id\":\"4x\"}]}",
               Identity(10), tracks, 60, &r);
  EXPECT_TRUE(r.error.empty());
  EXPECT_EQ(r.name, L"Set");
  EXPECT_EQ(r.picks, (std::vector<int32_t>{2, 0, 3}));

  AiSetResult none;
  ReadAiAnswer(L"{\"tracks\":[0,11,\"x\"]}", Identity(10), tracks, 60, &none);
  EXPECT_EQ(none.error, UiText(L"The AI didn't pick any tracks from your library — try describing the set differently"));
  AiSetResult prose;
  ReadAiAnswer(L"Here: {\"tracks\":[1]}", Identity(10), tracks, 60, &prose);
  EXPECT_EQ(prose.error, UiText(L"The AI's answer wasn't in the expected form — try again, or a larger model"));
}

// Five minutes of four-minute tracks take two: the second goes in while 4 min is not past 5.
// Candidates map back to track indices.
TEST(AiSet, ReadingStopsOncePastTheLength) {
  std::vector<MixTrack> tracks(5, Track(L"t", 240));
  AiSetResult r;
  ReadAiAnswer(L"{\"tracks\":[1,2,3,4]}", {4, 3, 2, 1}, tracks, 5, &r);
  EXPECT_EQ(r.picks, (std::vector<int32_t>{4, 3}));
}

// Cut to 60 UTF-16 units: a character outside the BMP counts two and is never split.
TEST(AiSet, SetNameIsCutToSixtyUnitsWithoutSplittingACharacter) {
  std::vector<MixTrack> tracks(1, Track(L"t", 60));
  const std::wstring name = std::wstring(59, L'a') + L"😀b";
  AiSetResult r;
  ReadAiAnswer(L"{\"name\":\"" + name + L"\",\"tracks\":[1]}", Identity(1), tracks, 60, &r);
  EXPECT_EQ(r.name, std::wstring(59, L'a'));
}

// The body is the compact JSON the server reads: members in order, texts escaped.
TEST(AiSet, ChatBodyIsCompactWithMembersInOrder) {
  const std::string body = AiChatBody(L"llama3.2", L"say \"hi\"\n", 45, L"1 | a | b | ? | ? | ? | 1:00\n");
  EXPECT_EQ(body.rfind("{\"model\":\"llama3.2\",\"stream\":false,\"format\":\"json\",\"options\":{\"temperature\":0.3,"
                       "\"num_ctx\":16384},\"messages\":[{\"role\":\"system\",\"content\":\"",
                       0),
            0u);
  EXPECT_NE(body.find("},{\"role\":\"user\",\"content\":\"Request: say \\\"hi\\\"\\n\\nLength: about 45 minutes\\n\\n"
                      "Library (id | artist - title | genre | BPM | key | energy | length):\\n1 | a | b | ? | ? | ? | "
                      "1:00\\n\"}]}"),
            std::string::npos);
}

// Bad addresses and an empty view never reach the network.
TEST(AiSet, BadAddressAndNoTracksFailBeforeAnyRequest) {
  EXPECT_EQ(BuildAiSet(L"not a url", L"", L"x", 60, {Track(L"t", 60)}).error,
            UiText(L"The AI server address isn't a valid URL"));
  EXPECT_EQ(BuildAiSet(L"ftp://127.0.0.1:21", L"", L"x", 60, {Track(L"t", 60)}).error,
            UiText(L"The AI server address isn't a valid URL"));
  EXPECT_EQ(BuildAiSet(L"", L"", L"x", 60, {}).error, UiText(L"There are no tracks in this view to build a set from"));
}
