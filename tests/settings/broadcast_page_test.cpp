// The Broadcast page's port form and speed verdicts at their edges.
#include <gtest/gtest.h>

#include <string>

#include "settings/pages/broadcast_page.h"

TEST(BroadcastPage, PortFormTakesOnlyUsablePorts) {
  for (const wchar_t* refused : {L"0", L"65535", L"99999999999999999999", L"18446744073709617534", L"", L"port",
                                 L"-8000"}) {
    int32_t port = 8000;
    EXPECT_FALSE(PortFromText(refused, &port)) << refused;
    EXPECT_EQ(port, 8000) << refused << " changed the port";
  }
  int32_t port = 0;
  EXPECT_TRUE(PortFromText(L" 65534", &port));
  EXPECT_EQ(port, 65534);
  EXPECT_TRUE(PortFromText(L"8010abc", &port)) << "leading digits count";
  EXPECT_EQ(port, 8010);
}

TEST(BroadcastPage, UploadVerdicts) {
  const auto audio = [](double upload) { return std::wstring(JudgeUpload(upload, 0.32, 0.128, L"lower").text); };
  const auto video = [](double upload, double required) {
    return std::wstring(JudgeUpload(upload, required, 3.7, L"720p").text);
  };
  EXPECT_EQ(audio(0.96), L"Plenty of room");
  EXPECT_EQ(audio(0.5), L"Should be fine");
  EXPECT_EQ(audio(0.32), L"Tight \u2014 it may stutter");
  EXPECT_EQ(audio(0.25), L"lower");
  EXPECT_EQ(audio(0.19), L"Too slow to stream");
  EXPECT_EQ(video(5.6, 6.2), L"720p");
  EXPECT_EQ(video(4.0, 6.2), L"Too slow to stream");
  EXPECT_EQ(video(3.6, 3.7), L"Too slow to stream") << "720p below its need has nothing lower";
  EXPECT_EQ(JudgeUpload(0.3, 0.32, 0.128, L"x").tone, VerdictTone::Bad);
  EXPECT_EQ(JudgeUpload(0.33, 0.32, 0.128, L"x").tone, VerdictTone::Tight);
}
