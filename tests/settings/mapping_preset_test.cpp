// Mapping presets: the name is cleaned into a file name in the Controllers folder, the file reads
// back as the table, and a write that fails says so instead of claiming success.
#include <gtest/gtest.h>

#include <filesystem>

#include "base/status_message.h"
#include "base/ui_text.h"
#include "control/mapping_table.h"
#include "platform/files.h"
#include "settings/mapping_preset.h"
#include "support/temp_home.h"

namespace {

std::string Utf8(const std::wstring& w) { return std::filesystem::path(w).string(); }

TEST(MappingPreset, SavesCleanedNameAndReportsOnlyWritesThatWorked) {
  TempHome home;
  MappingTable = {{0x90000B, 5200}, {0xB00013, 5208 | kInvertedMapping}};
  EXPECT_EQ(CleanPresetName(L"a<b>c:d\"e/f\\g|h?i*j\tk"), L"a_b_c_d_e_f_g_h_i_j_k");
  EXPECT_FALSE(SaveMappingPreset(L""));

  ASSERT_TRUE(SaveMappingPreset(L"DDJ/FLX4: mine"));
  EXPECT_EQ(EnglishText(Status.message), L"Saved preset \u201cDDJ_FLX4_ mine\u201d");
  const std::string file = Utf8(ControllersFolder()) + "/DDJ_FLX4_ mine.vxmap";
  EXPECT_EQ(ReadRaw(file), "9437195\t5200\n11534355\t70744\n");

  // A folder where the file should go: the write fails and nothing claims success.
  std::filesystem::create_directory(Utf8(ControllersFolder()) + "/Blocked.vxmap");
  Status = {};
  EXPECT_FALSE(SaveMappingPreset(L"Blocked"));
  EXPECT_EQ(EnglishText(Status.message), L"Could not save preset \u201cBlocked\u201d");
  MappingTable.clear();
}

}  // namespace
