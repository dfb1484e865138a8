#include "settings/skin_editor.h"

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/settings.h"
#include "base/status_message.h"
#include "base/test_mode.h"
#include "platform/text.h"
#include "settings/pages/settings_pages.h"
#include "settings/skins.h"
#include "support/temp_home.h"
#include "ui/file_dialogs.h"

namespace {

namespace fs = std::filesystem;

class SkinEditorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    TestMode = false;
    Settings = SettingsRecord{};
    LoadSkin();
    Status = StatusLine{};
    skins_ = WideToUtf8(SkinsFolder());
  }
  void TearDown() override {
    unsetenv(kDialogAnswersVariable);
    Settings = SettingsRecord{};
    LoadSkin();
  }
  // The next file dialogs answer these lines.
  void Answer(const std::string& lines) {
    WriteRaw(home_.path() + "/answers", lines);
    setenv(kDialogAnswersVariable, (home_.path() + "/answers").c_str(), 1);
  }
  static std::vector<ModalField> Field(const std::wstring& value) { return {ModalField{.label = L"x", .value = value}}; }
  TempHome home_;
  std::string skins_;
};

TEST_F(SkinEditorTest, AColourTakesSixHexDigitsWithOrWithoutAHash) {
  EXPECT_TRUE(ApplyColourEntry(0, Field(L"#2a0b3c")));
  EXPECT_EQ(Pal.Background, 0x2A0B3Cu);
  EXPECT_TRUE(ApplyColourEntry(17, Field(L"1fa8ff")));
  EXPECT_EQ(Pal.DeckA, 0x1FA8FFu);
  for (const wchar_t* bad : {L"1FA8F", L"1FA8FFF", L"1FA8FG", L"##1FA8FF", L"", L" 1FA8FF"}) {
    Status = StatusLine{};
    EXPECT_FALSE(ApplyColourEntry(0, Field(bad))) << WideToUtf8(bad);
    EXPECT_EQ(Pal.Background, 0x2A0B3Cu) << WideToUtf8(bad);
    EXPECT_EQ(Status.text, L"Six hex digits, like 1FA8FF");
  }
}

TEST_F(SkinEditorTest, SaveAsNamesTheFileSafelySelectsItAndUndoGoesBackToIt) {
  ApplyColourEntry(5, Field(L"123456"));
  EXPECT_TRUE(SaveSkinAs(Field(L"a/b:c")));
  EXPECT_EQ(Settings.Skin, L"a_b_c");
  EXPECT_TRUE(fs::exists(skins_ + "/a_b_c.vxskin"));
  EXPECT_EQ(Status.text, L"Saved the skin \u201Ca_b_c\u201D");

  EXPECT_TRUE(SaveSkinAs(Field(L"sTuDiO")));
  EXPECT_EQ(Settings.Skin, L"sTuDiO (mine)");
  EXPECT_TRUE(fs::exists(skins_ + "/sTuDiO (mine).vxskin"));

  ApplyColourEntry(5, Field(L"FEDCBA"));
  LoadSkin();  // UNDO CHANGES
  EXPECT_EQ(Pal.Text, 0x123456u) << "the saved skin's colour, not the unsaved edit";

  Settings.Skin = L"Veldmix";
  EXPECT_FALSE(SaveSkinAs(Field(L"")));
  EXPECT_EQ(Settings.Skin, L"Veldmix");
}

TEST_F(SkinEditorTest, ASkinThatCannotBeWrittenSaysSoAndKeepsTheSkinAndTheColours) {
  Settings.Skin = L"Studio";
  LoadSkin();
  ApplyColourEntry(0, Field(L"2A0B3C"));
  // A folder where the file should go: the write cannot replace it.
  fs::create_directories(skins_ + "/Mine.vxskin");
  EXPECT_FALSE(SaveSkinAs(Field(L"Mine")));
  EXPECT_EQ(Status.text, L"Couldn't save Mine.vxskin: a folder stands there, not a file; nothing was written");
  EXPECT_EQ(Settings.Skin, L"Studio");
  EXPECT_EQ(Pal.Background, 0x2A0B3Cu);

  Answer(skins_ + "/Mine.vxskin\n");
  EXPECT_FALSE(ExportSkinDialog());
  EXPECT_EQ(Status.text, L"Couldn't save Mine.vxskin: a folder stands there, not a file; nothing was written");
  EXPECT_EQ(Pal.Background, 0x2A0B3Cu);
}

TEST_F(SkinEditorTest, ExportWritesTheSameBytesAsSaveAs) {
  Settings.Skin = L"Ember";
  LoadSkin();
  ASSERT_TRUE(SaveSkinAs(Field(L"Glow")));
  Answer(home_.path() + "/out.vxskin\n");
  ASSERT_TRUE(ExportSkinDialog());
  EXPECT_EQ(Status.text, L"Skin exported");
  EXPECT_EQ(ReadRaw(home_.path() + "/out.vxskin"), ReadRaw(skins_ + "/Glow.vxskin"));
}

TEST_F(SkinEditorTest, ImportCopiesASkinAsNameDotVxskinAndSelectsIt) {
  const std::string night = home_.path() + "/Night.VXSKIN";
  WriteRaw(night, "[Skin]\nName=Night\nBackground=010203\n");
  Answer(night + "\n");
  ASSERT_TRUE(ImportSkinDialog());
  EXPECT_EQ(Settings.Skin, L"Night");
  EXPECT_EQ(ReadRaw(skins_ + "/Night.vxskin"), ReadRaw(night));
  EXPECT_EQ(Pal.Background, 0x010203u);
  EXPECT_EQ(Status.text, L"Skin imported: Night");
  const auto names = ListSkins();
  EXPECT_NE(std::find(names.begin(), names.end(), L"Night"), names.end());

  // Chosen from the Skins folder itself: selected, not copied onto itself.
  Settings.Skin = L"Veldmix";
  Answer(skins_ + "/Night.vxskin\n");
  ASSERT_TRUE(ImportSkinDialog());
  EXPECT_EQ(Settings.Skin, L"Night");
  EXPECT_EQ(ReadRaw(skins_ + "/Night.vxskin"), ReadRaw(night));
}

TEST_F(SkinEditorTest, ImportRefusesWhatIsNotASkinAndChangesNothing) {
  const std::string notes = home_.path() + "/notes.vxskin";
  const std::string big = home_.path() + "/big.vxskin";
  WriteRaw(notes, "[Skin]\nName=Notes\nhello there\nText = FF0000\n");
  WriteRaw(big, "Background=010203\n" + std::string(64 * 1024, '#'));
  for (const std::string& file : {notes, big}) {
    Status = StatusLine{};
    Answer(file + "\n");
    EXPECT_FALSE(ImportSkinDialog()) << file;
    EXPECT_EQ(Status.text, L"That file isn't a skin") << file;
    EXPECT_EQ(Settings.Skin, L"Veldmix");
    EXPECT_EQ(Pal.Background, kDefaultPalette.Background);
  }
  EXPECT_TRUE(fs::is_empty(skins_));
  Answer("\n");  // cancelled
  EXPECT_FALSE(ImportSkinDialog());
}

}  // namespace
