// The mapping table's files: the exact bytes written, what a damaged file still loads, imports that
// are not mapping files, the SHIFT-layer lookup, the ready-made layouts' backup rules, and a save
// killed at any moment never leaving a cut midi.tsv.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "base/settings.h"
#include "base/status_message.h"
#include "base/test_mode.h"
#include "control/controller_leds.h"
#include "control/controller_presets.h"
#include "control/mapping_table.h"
#include "control/midi_learn.h"
#include "engine/control_input.h"
#include "platform/files.h"
#include "platform/folders.h"
#include "platform/text.h"
#include "support/temp_home.h"

namespace {

class MappingFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    MappingTable.clear();
    Settings = SettingsRecord{};
    ControllerShiftHeld = false;
    Status = StatusLine{};
  }
  void TearDown() override {
    MappingTable.clear();
    RebuildMappedTargets();
    ControllerShiftHeld = false;
    TestMode = false;
  }
  std::string File(const std::string& name) const { return home.path() + "/" + name; }
  TempHome home;
};

TEST_F(MappingFiles, WritesTheExactLinesAndReadsBackWhatADamagedFileHolds) {
  MappingTable[0x80900024] = 5200;
  MappingTable[0x900024] = 5200;
  MappingTable[MappingKey('A')] = 1008;
  ASSERT_TRUE(WriteMidiMapFile(Utf8ToWide(File("a.vxmap"))));
  EXPECT_EQ(ReadRaw(File("a.vxmap")), "9437220\t5200\n15728705\t1008\n2156920868\t5200\n");

  WriteRaw(File("crlf.tsv"), "9437220\t5200\r\n15728705\t1008\r\n");
  LoadMidiMap(Utf8ToWide(File("crlf.tsv")));
  EXPECT_EQ(MappingTable, (MappingPairs{{9437220, 5200}, {15728705, 1008}}));
  EXPECT_EQ(mappedControlIds, (std::set<int32_t>{5200, 1008}));

  const std::pair<std::string, MappingPairs> damaged[] = {
      {"9437220 5200 9437221", {{9437220, 5200}}},                       // a dangling key
      {"1 2\n3 x4\n5 6", {{1, 2}, {5, 6}}},                              // an odd line is skipped
      {"1 2 -3 4", {{1, 2}}},                                            // a negative number
      {"1 2 4294967296 4", {{1, 2}}},                                    // beyond 32 bits
      {"4294967295 65537 1 2 1 3", {{1, 3}, {4294967295u, 65537}}},      // a later pair wins
      {"", {}},
  };
  for (const auto& [text, expected] : damaged) {
    WriteRaw(File("damaged.tsv"), text);
    LoadMidiMap(Utf8ToWide(File("damaged.tsv")));
    EXPECT_EQ(MappingTable, expected) << text;
  }
  LoadMidiMap(Utf8ToWide(File("missing.tsv")));
  EXPECT_TRUE(MappingTable.empty());
}

TEST_F(MappingFiles, AnImportThatIsNotAMappingFileChangesNothing) {
  MappingTable[0x900024] = 5200;
  const MappingPairs before = MappingTable;
  WriteRaw(File("notes.txt"), "my set list\n1. intro\n");
  EXPECT_FALSE(ImportMidiMap(Utf8ToWide(File("notes.txt"))));
  EXPECT_EQ(MappingTable, before);
  EXPECT_EQ(Status.text, L"That file isn't a controller mapping");
  EXPECT_FALSE(ImportMidiMap(Utf8ToWide(File("missing.vxmap"))));
  EXPECT_FALSE(ImportMidiMap(Utf8ToWide(home.path())));  // a folder
  EXPECT_EQ(MappingTable, before);

  WriteRaw(File("club.vxmap"), "9437221\t5400\n");
  EXPECT_TRUE(ImportMidiMap(Utf8ToWide(File("club.vxmap"))));
  EXPECT_EQ(MappingTable, (MappingPairs{{9437221, 5400}}));
  EXPECT_EQ(ReadRaw(WideToUtf8(MidiMapPath())), "9437221\t5400\n");  // saved at once
}

TEST_F(MappingFiles, SavingReportsFailuresAndTestModeWritesNothing) {
  MappingTable[0x900024] = 5200;
  TestMode = true;
  EXPECT_TRUE(SaveMidiMap());
  EXPECT_FALSE(FileExists(MidiMapPath()));
  TestMode = false;
  ASSERT_TRUE(SaveMidiMap());
  EXPECT_EQ(ReadRaw(WideToUtf8(MidiMapPath())), "9437220\t5200\n");

  EXPECT_FALSE(WriteMidiMapFile(Utf8ToWide(File("no/such/folder/x.vxmap"))));
  CreateFolderTree(Utf8ToWide(File("blocked")));
  EXPECT_FALSE(WriteMidiMapFile(Utf8ToWide(File("blocked"))));  // a folder in the way
}

TEST_F(MappingFiles, ShiftLayerWinsOnlyWhileShiftIsHeld) {
  MappingTable[0x900024] = 5200;
  MappingTable[0x80900024] = 5232;
  EXPECT_EQ(FindMapping(0x900024), 5200u);
  ControllerShiftHeld = true;
  EXPECT_EQ(FindMapping(0x900024), 5232u);
  MappingTable.erase(0x80900024);
  EXPECT_EQ(FindMapping(0x900024), 5200u);
  ControllerShiftHeld = false;
  MappingTable[0x80900025] = 5233;
  EXPECT_FALSE(FindMapping(0x900025).has_value());
}

TEST_F(MappingFiles, ControllerMapsListOnlyVxmapFiles) {
  const std::wstring folder = ControllersFolder();
  for (const char* name : {"Club.vxmap", "Club.vxmap.bak", "notes.txt", "Home.VXMAP"})
    WriteRaw(WideToUtf8(JoinPath(folder, Utf8ToWide(name))), "1 2\n");
  CreateFolderTree(JoinPath(folder, L"sub.vxmap.d"));
  EXPECT_EQ(ListControllerMaps(), std::vector<std::wstring>{L"Club"});
}

TEST_F(MappingFiles, LayoutsBackUpTheUsersOwnRowsAndLeaveLargeMappingsAlone) {
  const std::wstring backup = JoinPath(ControllersFolder(), kLayoutBackupName);
  const ControllerPreset& pioneer = *FindControllerPreset(L"DDJ-FLX4");
  MappingTable[MappingKey('Q')] = 1008;
  for (uint32_t i = 0; i < 5; ++i) MappingTable[0x900100 + i] = 5200 + i;
  const std::string own = MappingFileText(MappingTable);
  ApplyPresetForDevices(true, {L"Midi Thing", L"DDJ-FLX4:DDJ-FLX4"});
  EXPECT_EQ(Settings.MidiLayout, pioneer.name);
  EXPECT_EQ(ReadRaw(WideToUtf8(backup)), own);
  EXPECT_EQ(MappingTable.count(0x900100), 0u);
  EXPECT_EQ(MappingTable[MappingKey('Q')], 1008u);
  EXPECT_EQ(ReadRaw(WideToUtf8(MidiMapPath())), MappingFileText(MappingTable));

  // Connecting it again with its layout in use changes nothing.
  DeleteFileAt(backup);
  ApplyPresetForDevices(true, {L"DDJ-FLX4:DDJ-FLX4"});
  EXPECT_EQ(Status.text, L"DDJ-FLX4:DDJ-FLX4 connected \u2014 ready to play");
  EXPECT_FALSE(FileExists(backup));

  // Rows learned on top of a layout are the user's too: another layout backs them up first.
  MappingTable[0x900A00] = 5210;
  const std::string learned = MappingFileText(MappingTable);
  ApplyPresetForDevices(true, {L"Party Mix"});
  EXPECT_NE(Settings.MidiLayout.find(L"Numark"), std::wstring::npos);
  EXPECT_EQ(ReadRaw(WideToUtf8(backup)), learned);
  // An untouched layout is not backed up over the user's earlier backup.
  ApplyPresetForDevices(true, {L"DJControl Inpulse"});
  EXPECT_EQ(ReadRaw(WideToUtf8(backup)), learned);
  EXPECT_EQ(Settings.JogTicks, 248);

  // Six rows of the user's own stay.
  Settings.MidiLayout.clear();
  MappingTable.clear();
  for (uint32_t i = 0; i < 6; ++i) MappingTable[0x900100 + i] = 5200 + i;
  const MappingPairs six = MappingTable;
  ApplyPresetForDevices(true, {L"DDJ-FLX4"});
  EXPECT_EQ(MappingTable, six);
  EXPECT_EQ(Status.text, L"DDJ-FLX4 connected \u2014 its ready-made layout is in Settings \u25B8 CONTROLLERS");
}

// A child process saves two different tables in turn and is killed at random moments; what is
// left must always be one whole table.
TEST_F(MappingFiles, KillingASaveNeverLeavesACutFile) {
  MappingPairs small, large;
  for (uint32_t i = 0; i < 40; ++i) small[0x900000 + i] = 5200 + i;
  for (uint32_t i = 0; i < 4000; ++i) large[0xB00000 + i] = 5400 + (i % 200);
  const std::string a = MappingFileText(small), b = MappingFileText(large);
  MappingTable = small;
  ASSERT_TRUE(SaveMidiMap());
  const std::string path = WideToUtf8(MidiMapPath());
  for (int round = 0; round < 20; ++round) {
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      for (int i = 0;; ++i) {
        MappingTable = i % 2 ? small : large;
        WriteMidiMapFile(MidiMapPath());
      }
    }
    usleep(static_cast<useconds_t>(2000 + round * 1500));
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    const std::string left = ReadRaw(path);
    EXPECT_TRUE(left == a || left == b) << "round " << round << ": " << left.size() << " bytes";
  }
}

}  // namespace
