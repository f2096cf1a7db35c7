// The routine table, its first-use entries and the one-time selection of the
// routines for the processor; the MMX answer, the debug-output mute and the
// allocation-operator check.
#include <cstddef>
#include <new>

#if defined(__x86_64__) || defined(__i386__)
#include <mmintrin.h>
#endif

#include "math/math_testing.h"
#include "math/routines.h"
#include "platform/platform.h"

namespace nerro::math {

namespace detail {
uint32_t gMathTier = MathTierUnselected;
}  // namespace detail

namespace {

// Each slot's first-use entry: make the selection, then forward the call to
// the routine now in the slot.
#define NERRO_FIRST_USE(slot, name, R, P, A) \
  R firstUse_##name P {                      \
    selectMathRoutines(1);                   \
    return detail::gMathDispatch.name A;     \
  }
NERRO_MATH_SLOTS(NERRO_FIRST_USE)
#undef NERRO_FIRST_USE

constexpr MathDispatch kFirstUseTable = {
#define NERRO_FIRST_USE_ENTRY(slot, name, R, P, A) &firstUse_##name,
    NERRO_MATH_SLOTS(NERRO_FIRST_USE_ENTRY)
#undef NERRO_FIRST_USE_ENTRY
};

// MMX answer: -1 not yet asked, then 0 or 1.
int32_t gMmxFlag = -1;

// Debug-output mute.
int32_t gMuteValue = 0;
DebugSetMuteFunction gMuteD3d9 = nullptr;
DebugSetMuteFunction gMuteD3d9Debug = nullptr;
int32_t gDoNotMute = -1;  // -1 not yet read

bool gNewDeleteChecked = false;

DebugSetMuteFunction lookUpMute(const char* module) {
  if (!platform::isModuleLoaded(module)) return nullptr;
  return reinterpret_cast<DebugSetMuteFunction>(platform::findModuleExport(module, "DebugSetMute"));
}

}  // namespace

namespace detail {
constinit MathDispatch gMathDispatch = kFirstUseTable;
}  // namespace detail

uint32_t selectMathRoutines(int32_t /*reserved*/) {
  checkNewDelete();
  if (detail::gMathTier != MathTierUnselected) return detail::gMathTier;

  MathDispatch table = detail::genericRoutines();
  detail::installTunedRoutines(table);
  uint32_t tier = MathTierGeneric;

  uint32_t setting = platform::readSetting("DisablePSGP").value_or(0);
  if (const auto v = platform::readSetting("DisableV3ODPSGP")) setting = *v;

  if (setting != 1) {
#if defined(__x86_64__) || defined(__i386__)
    const platform::CpuFeatures cpu = platform::cpuFeatures();
    if (setting != 2 && cpu.amd3dnow) {
      // The 3DNow! routines themselves are served by the generic set; the
      // SSE array routines of this tier are installed when SSE is there.
      if (cpu.sse) detail::installSseArrayRoutines(table);
      tier = MathTier3DNow;
    } else if (cpu.cpuid && cpu.sse2) {
      detail::installSse2Routines(table);
      tier = MathTierSse2;
    } else if (cpu.sse) {
      detail::installSseRoutines(table);
      tier = MathTierSse;
    }
#endif
  }
  detail::gMathDispatch = table;
  detail::gMathTier = tier;
  return tier;
}

uint32_t mathTier() { return detail::gMathTier; }

int32_t isMmxAvailable() {
  if (const auto v = platform::readSetting("DisableMMX"); v && *v != 0) {
    gMmxFlag = 0;
    return 0;
  }
  if (gMmxFlag < 0) {
    gMmxFlag = 0;
    const platform::CpuFeatures cpu = platform::cpuFeatures();
    if (cpu.isX86 && cpu.family >= 5 && cpu.mmx) {
#if defined(__x86_64__) || defined(__i386__)
      _mm_empty();
#endif
      gMmxFlag = 1;
    }
  }
  return gMmxFlag;
}

int32_t setDebugMute(int32_t mute) {
  const int32_t previous = gMuteValue;
  gMuteValue = mute;
  if (gMuteD3d9 == nullptr && gMuteD3d9Debug == nullptr) {
    gMuteD3d9 = lookUpMute("d3d9.dll");
    gMuteD3d9Debug = lookUpMute("d3d9d.dll");
  }
  if (gDoNotMute == -1) {
    const auto v = platform::readSetting("V3ODDoNotMute");
    gDoNotMute = (v && *v != 0) ? 1 : 0;
  }
  if (gDoNotMute == 1) return previous;
  if (gMuteD3d9 != nullptr) gMuteD3d9(mute);
  if (gMuteD3d9Debug != nullptr) gMuteD3d9Debug(mute);
  return previous;
}

void checkNewDelete() {
  if (gNewDeleteChecked) return;
  gNewDeleteChecked = true;
  // Called through pointers the compiler cannot see through, so that a
  // replaced operator returning null is observed rather than assumed away.
  using Allocate = void* (*)(std::size_t);
  using Release = void (*)(void*);
  static Allocate volatile allocate = static_cast<Allocate>(&::operator new);
  static Release volatile release = static_cast<Release>(&::operator delete);
  void* first = nullptr;
  void* second = nullptr;
  try {
    first = allocate(0);
    second = allocate(0);
  } catch (...) {
    // An operator that throws for zero bytes does not conform either.
  }
  const bool conforms = first != nullptr && second != nullptr && first != second;
  if (first != nullptr) release(first);
  if (second != nullptr && second != first) release(second);
  release(nullptr);
  if (!conforms) {
    platform::debugOutput("V3OD: (WARN) Overloaded ::new and ::delete operators do not conform to C++ standards:\r\n");
    platform::debugOutput(
        "V3OD: (WARN) An allocation of zero bytes should return a unique non-null pointer to at\r\n");
    platform::debugOutput(
        "V3OD: (WARN) least zero bytes. Deletion of a null pointer should quietly do nothing.\r\n");
    platform::debugOutput("V3OD: (WARN) V3OD relies upon this behavior.\r\n");
  }
}

namespace testing {

void resetMathState() {
  detail::gMathDispatch = kFirstUseTable;
  detail::gMathTier = MathTierUnselected;
  gMmxFlag = -1;
  gMuteValue = 0;
  gMuteD3d9 = nullptr;
  gMuteD3d9Debug = nullptr;
  gDoNotMute = -1;
  gNewDeleteChecked = false;
}

const MathDispatch& genericRoutines() { return detail::genericRoutines(); }
const MathDispatch& liveRoutines() { return detail::gMathDispatch; }

}  // namespace testing

}  // namespace nerro::math
