#include "platform/platform.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace nerro::platform {
namespace {

TEST(Settings, ParsesDecimalAndHexAndRejectsTheRest) {
  struct Case {
    const char* text;
    std::optional<uint32_t> value;
  } cases[] = {
      {"1", 1u},          {"0", 0u},        {"4294967295", 0xFFFFFFFFu}, {"0x10", 16u}, {"0XfF", 255u},
      {"4294967296", {}}, {"", {}},         {"abc", {}},                 {"0x", {}},    {"12 ", {}},
      {"-1", {}},         {"0x1FFFFFFFF", {}},
  };
  for (const auto& c : cases) {
    ::setenv("V3OD_TestValue", c.text, 1);
    EXPECT_EQ(readSetting("TestValue"), c.value) << "text '" << c.text << "'";
  }
  ::unsetenv("V3OD_TestValue");
  EXPECT_EQ(readSetting("TestValue"), std::nullopt);
}

TEST(ForegroundWindow, CanBeTakenAwayAndGivenBack) {
  EXPECT_NE(foregroundWindow(), nullptr);
  setForegroundWindowAvailable(false);
  EXPECT_EQ(foregroundWindow(), nullptr);
  setForegroundWindowAvailable(true);
  EXPECT_NE(foregroundWindow(), nullptr);
}

TEST(CpuFeatures, OverrideReplacesAndClears) {
  const CpuFeatures real = cpuFeatures();
  CpuFeatures none;
  overrideCpuFeatures(none);
  EXPECT_FALSE(cpuFeatures().sse2);
  EXPECT_FALSE(cpuFeatures().isX86);
  overrideCpuFeatures(std::nullopt);
  EXPECT_EQ(cpuFeatures().sse2, real.sse2);
#if defined(__x86_64__)
  EXPECT_TRUE(real.sse2);  // part of every x86-64 processor
#endif
}

void exportedA() {}

TEST(Modules, RegisterLookUpAndUnload) {
  EXPECT_FALSE(isModuleLoaded("test.dll"));
  registerModuleExport("test.dll", "A", &exportedA);
  EXPECT_TRUE(isModuleLoaded("test.dll"));
  EXPECT_EQ(findModuleExport("test.dll", "A"), &exportedA);
  EXPECT_EQ(findModuleExport("test.dll", "B"), nullptr);
  unregisterModule("test.dll");
  EXPECT_FALSE(isModuleLoaded("test.dll"));
  EXPECT_EQ(findModuleExport("test.dll", "A"), nullptr);
}

TEST(DebugOutput, SinkCapturesText) {
  std::string seen;
  auto previous = setDebugSink([&](std::string_view t) { seen += t; });
  debugOutput("one\r\n");
  debugOutput("two\r\n");
  setDebugSink(std::move(previous));
  EXPECT_EQ(seen, "one\r\ntwo\r\n");
}

TEST(TempFile, WritesAndReadsBackWithoutAName) {
  std::FILE* f = openPrivateTempFile();
  ASSERT_NE(f, nullptr);
  const char text[] = "backing store";
  ASSERT_EQ(std::fwrite(text, 1, sizeof text, f), sizeof text);
  ASSERT_EQ(std::fseek(f, 0, SEEK_SET), 0);
  char back[sizeof text] = {};
  ASSERT_EQ(std::fread(back, 1, sizeof back, f), sizeof back);
  EXPECT_STREQ(back, text);
  std::fclose(f);
}

}  // namespace
}  // namespace nerro::platform
