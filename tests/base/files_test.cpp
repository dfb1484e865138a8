#include <gtest/gtest.h>

#include <filesystem>

#include "base/files.h"
#include "platform/text.h"
#include "support/temp_home.h"

namespace fs = std::filesystem;

TEST(LibraryFolders, AreCreatedUnderTheDataAndMusicFolders) {
  TempHome home;
  EXPECT_EQ(AppDataDir(), home.wpath() + L"/data/Veldmix");
  EXPECT_TRUE(fs::is_directory(home.path() + "/data/Veldmix"));
  EXPECT_EQ(ListsDir(), home.wpath() + L"/data/Veldmix/Lists");
  EXPECT_TRUE(fs::is_directory(home.path() + "/data/Veldmix/Lists"));
  EXPECT_EQ(RecordingsDir(), home.wpath() + L"/Music/Veldmix Recordings");
  EXPECT_TRUE(fs::is_directory(home.path() + "/Music/Veldmix Recordings"));
}

TEST(LibraryFiles, ListFileNamesReplaceForbiddenCharacters) {
  TempHome home;
  EXPECT_EQ(ListFileName(L"A/B?"), ListsDir() + L"/A_B_.m3u8");
  EXPECT_EQ(ListFileName(L"a\tb\nc:d*e|f\"g<h>i\\j"), ListsDir() + L"/a_b_c_d_e_f_g_h_i_j.m3u8");
  EXPECT_EQ(ListFileName(L"Caf\u00e9"), ListsDir() + L"/Caf\u00e9.m3u8");
}

TEST(LibraryFiles, WritersMarkAndReadBack) {
  TempHome home;
  std::wstring db = AppDataDir() + L"/database.tsv";
  ASSERT_TRUE(WriteFileAtomic(db, L"caf\u00e9\t1\n"));
  EXPECT_EQ(ReadRaw(WideToUtf8(db)), "caf\xC3\xA9\t1\n");  // no byte-order mark
  std::wstring queue = AppDataDir() + L"/karaoke.tsv";
  ASSERT_TRUE(WriteUtf8File(queue, L"x"));
  EXPECT_EQ(ReadRaw(WideToUtf8(queue)), "\xEF\xBB\xBFx");
  EXPECT_EQ(LoadTextFile(queue), L"x");
  ASSERT_TRUE(WriteFileAtomic(db, L""));
  EXPECT_EQ(fs::file_size(WideToUtf8(db)), 0u);
  // A folder in the way: the write is reported as failed and the folder survives.
  fs::create_directories(WideToUtf8(AppDataDir() + L"/crates.tsv/x"));
  EXPECT_FALSE(WriteFileAtomic(AppDataDir() + L"/crates.tsv", L"data"));
  EXPECT_TRUE(fs::is_directory(WideToUtf8(AppDataDir() + L"/crates.tsv/x")));
  EXPECT_TRUE(WriteTemps(WideToUtf8(AppDataDir())).empty());
}

TEST(LibraryFiles, SplitKeepsEmptyPieces) {
  using V = std::vector<std::wstring>;
  EXPECT_EQ(SplitString(L"", L';'), V{L""});
  EXPECT_EQ(SplitString(L"a\tb", L'\t'), (V{L"a", L"b"}));
  EXPECT_EQ(SplitString(L"x;;y", L';'), (V{L"x", L"", L"y"}));
  EXPECT_EQ(SplitString(L"l1\r\nl2\n", L'\n'), (V{L"l1\r", L"l2", L""}));
}
