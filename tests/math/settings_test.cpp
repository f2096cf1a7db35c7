// The MMX answer and the debug-output mute with their settings.
#include <vector>

#include "math_test_util.h"

namespace {

using namespace mathtest;

using MmxAnswer = MathStateTest;

TEST_F(MmxAnswer, FollowsTheProcessorAndIsAskedOnce) {
  struct Case {
    const char* name;
    nerro::platform::CpuFeatures cpu;
    int32_t expected;
  } cases[] = {
      {"mmx", cpu(true, true), 1},
      {"no mmx", cpu(true, true, false, false), 0},
      {"level 4", [] { auto f = cpu(false, false); f.family = 4; return f; }(), 0},
      {"not x86", [] { auto f = cpu(false, false); f.isX86 = false; return f; }(), 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    clear();
    nerro::platform::overrideCpuFeatures(c.cpu);
    EXPECT_EQ(isMmxAvailable(), c.expected);
    // The answer is kept: a different processor report changes nothing.
    nerro::platform::overrideCpuFeatures(cpu(true, true, false, c.expected == 0));
    EXPECT_EQ(isMmxAvailable(), c.expected);
  }
}

TEST_F(MmxAnswer, DisableMmxTurnsItOffForTheRestOfTheProcess) {
  nerro::platform::overrideCpuFeatures(cpu(true, true));
  setSetting("DisableMMX", "0");
  EXPECT_EQ(isMmxAvailable(), 1);  // zero does not disable
  setSetting("DisableMMX", "1");
  EXPECT_EQ(isMmxAvailable(), 0);
  setSetting("DisableMMX", nullptr);
  EXPECT_EQ(isMmxAvailable(), 0);
}

// ---- Debug-output mute ------------------------------------------------------

std::vector<int32_t> gMuteCalls;
std::vector<int32_t> gDebugMuteCalls;
void recordMute(int32_t m) { gMuteCalls.push_back(m); }
void recordDebugMute(int32_t m) { gDebugMuteCalls.push_back(m); }

class DebugMute : public MathStateTest {
 protected:
  void SetUp() override {
    MathStateTest::SetUp();
    gMuteCalls.clear();
    gDebugMuteCalls.clear();
  }
  void TearDown() override {
    nerro::platform::unregisterModule("d3d9.dll");
    nerro::platform::unregisterModule("d3d9d.dll");
    MathStateTest::TearDown();
  }
  static void registerMute(const char* module, DebugSetMuteFunction fn) {
    nerro::platform::registerModuleExport(module, "DebugSetMute",
                                          reinterpret_cast<nerro::platform::ExportedFunction>(fn));
  }
};

TEST_F(DebugMute, CallsEveryEntryPointAndReturnsThePreviousValue) {
  registerMute("d3d9.dll", recordMute);
  registerMute("d3d9d.dll", recordDebugMute);
  EXPECT_EQ(setDebugMute(1), 0);
  EXPECT_EQ(setDebugMute(0), 1);
  EXPECT_EQ(setDebugMute(1), 0);
  EXPECT_EQ(gMuteCalls, (std::vector<int32_t>{1, 0, 1}));
  EXPECT_EQ(gDebugMuteCalls, (std::vector<int32_t>{1, 0, 1}));
}

TEST_F(DebugMute, LooksTheEntryPointsUpUntilOneIsFound) {
  EXPECT_EQ(setDebugMute(1), 0);  // no module loaded yet
  nerro::platform::registerModuleExport("d3d9.dll", "Other", nullptr);
  EXPECT_EQ(setDebugMute(0), 1);  // module without the export
  registerMute("d3d9.dll", recordMute);
  EXPECT_EQ(setDebugMute(1), 0);
  EXPECT_EQ(gMuteCalls, (std::vector<int32_t>{1}));
}

TEST_F(DebugMute, DoNotMuteSettingIsReadOnceAndKeepsTheOutput) {
  registerMute("d3d9.dll", recordMute);
  setSetting("V3ODDoNotMute", "1");
  EXPECT_EQ(setDebugMute(1), 0);
  EXPECT_EQ(setDebugMute(0), 1);  // the previous value is still reported
  setSetting("V3ODDoNotMute", nullptr);
  EXPECT_EQ(setDebugMute(1), 0);
  EXPECT_TRUE(gMuteCalls.empty());

  clear();
  setSetting("V3ODDoNotMute", "0");
  EXPECT_EQ(setDebugMute(1), 0);
  EXPECT_EQ(gMuteCalls, (std::vector<int32_t>{1}));
}

}  // namespace
