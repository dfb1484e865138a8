#include "platform/secret.h"

#include <sys/stat.h>
#include <cstdlib>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "platform/text.h"
#include "support/temp_home.h"

namespace {

namespace fs = std::filesystem;

class SecretTest : public ::testing::Test {
 protected:
  std::string KeyFile() const { return home.path() + "/config/Veldmix/secret.key"; }
  TempHome home;
};

TEST_F(SecretTest, SealedBlobsOpenWithTheSameKeyOnly) {
  std::string plain;
  EXPECT_FALSE(OpenForUser(std::string(40, 'x'), &plain));
  EXPECT_FALSE(fs::exists(KeyFile())) << "opening must never make a key";

  for (const std::string& text : {std::string(), std::string("p"), std::string("p\xC3\xA4ss w\0rd", 10)}) {
    std::string blob;
    ASSERT_TRUE(SealForUser(text, &blob));
    EXPECT_EQ(blob.size(), text.size() + kSealOverheadBytes);
    ASSERT_TRUE(OpenForUser(blob, &plain));
    EXPECT_EQ(plain, text);
  }
  std::string first, second;
  ASSERT_TRUE(SealForUser("same", &first));
  ASSERT_TRUE(SealForUser("same", &second));
  EXPECT_NE(first, second) << "every seal needs a fresh nonce";

  struct stat st;
  ASSERT_EQ(::stat(KeyFile().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_EQ(st.st_size, 32);
  EXPECT_FALSE(fs::exists(home.path() + "/data/Veldmix/secret.key"));

  setenv("XDG_CONFIG_HOME", (home.path() + "/other").c_str(), 1);
  EXPECT_FALSE(OpenForUser(first, &plain));
  ASSERT_TRUE(SealForUser("same", &second));  // the other user gets a key of their own
  EXPECT_NE(ReadRaw(home.path() + "/other/Veldmix/secret.key"), ReadRaw(KeyFile()));
}

TEST_F(SecretTest, DamagedBlobsAndKeysAreRefused) {
  std::string blob;
  ASSERT_TRUE(SealForUser("stream password", &blob));
  std::string plain;
  // A flipped bit in the nonce, the ciphertext or the tag.
  for (size_t at : {size_t(0), size_t(12), blob.size() - 1}) {
    std::string bad = blob;
    bad[at] ^= 0x01;
    EXPECT_FALSE(OpenForUser(bad, &plain)) << "byte " << at;
    EXPECT_TRUE(plain.empty());
  }
  EXPECT_FALSE(OpenForUser(blob.substr(0, blob.size() - 1), &plain));
  EXPECT_FALSE(OpenForUser(blob.substr(0, kSealOverheadBytes - 1), &plain));

  const std::string key = ReadRaw(KeyFile());
  WriteRaw(KeyFile(), key.substr(0, 31));
  EXPECT_FALSE(OpenForUser(blob, &plain));
  std::wstring error;
  EXPECT_FALSE(SealForUser("x", &blob, &error));
  EXPECT_FALSE(error.empty());
  EXPECT_EQ(ReadRaw(KeyFile()), key.substr(0, 31)) << "a damaged key must not be replaced";
}

}  // namespace
