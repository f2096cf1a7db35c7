#include "platform/platform.h"

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <map>
#include <mutex>
#include <string>
#include <unistd.h>

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#endif

namespace nerro::platform {

// ---- Foreground window -------------------------------------------------
namespace {
std::atomic<bool> gWindowAvailable{true};
int gWindowToken = 0;  // its address is the handle
}  // namespace

WindowHandle foregroundWindow() { return gWindowAvailable ? &gWindowToken : nullptr; }
void setForegroundWindowAvailable(bool available) { gWindowAvailable = available; }

// ---- Settings store ----------------------------------------------------
std::optional<uint32_t> readSetting(std::string_view name) {
  const std::string var = "V3OD_" + std::string(name);
  const char* text = std::getenv(var.c_str());
  if (text == nullptr || *text == '\0') return std::nullopt;
  int base = 10;
  const char* digits = text;
  if (digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
    base = 16;
    digits += 2;
  }
  if (*digits == '\0') return std::nullopt;
  uint64_t value = 0;
  for (const char* p = digits; *p != '\0'; ++p) {
    int d;
    if (*p >= '0' && *p <= '9') d = *p - '0';
    else if (base == 16 && *p >= 'a' && *p <= 'f') d = *p - 'a' + 10;
    else if (base == 16 && *p >= 'A' && *p <= 'F') d = *p - 'A' + 10;
    else return std::nullopt;
    value = value * base + d;
    if (value > 0xFFFFFFFFull) return std::nullopt;
  }
  return static_cast<uint32_t>(value);
}

// ---- Processor features ------------------------------------------------
namespace {
std::mutex gCpuMutex;
std::optional<CpuFeatures> gCpuOverride;

CpuFeatures queryProcessor() {
  CpuFeatures f;
#if defined(__x86_64__) || defined(__i386__)
  unsigned a = 0, b = 0, c = 0, d = 0;
  f.isX86 = true;
  if (__get_cpuid(1, &a, &b, &c, &d)) {
    f.cpuid = true;
    f.family = (a >> 8) & 0xF;
    if (f.family == 0xF) f.family += (a >> 20) & 0xFF;
    f.mmx = (d >> 23) & 1;
    f.sse = (d >> 25) & 1;
    f.sse2 = (d >> 26) & 1;
    const bool osxsave = (c >> 27) & 1;
    const bool avx = (c >> 28) & 1;
    if (osxsave && avx) {
      unsigned lo = 0, hi = 0;
      __asm__ volatile("xgetbv" : "=a"(lo), "=d"(hi) : "c"(0));
      if ((lo & 6) == 6 && __get_cpuid_max(0, nullptr) >= 7) {
        __cpuid_count(7, 0, a, b, c, d);
        f.avx2 = (b >> 5) & 1;
      }
    }
  }
  if (__get_cpuid(0x80000000u, &a, &b, &c, &d) && a >= 0x80000001u) {
    __get_cpuid(0x80000001u, &a, &b, &c, &d);
    f.amd3dnow = (d >> 31) & 1;
  }
#endif
  return f;
}
}  // namespace

CpuFeatures cpuFeatures() {
  std::lock_guard lock(gCpuMutex);
  if (gCpuOverride) return *gCpuOverride;
  static const CpuFeatures real = queryProcessor();
  return real;
}

void overrideCpuFeatures(std::optional<CpuFeatures> features) {
  std::lock_guard lock(gCpuMutex);
  gCpuOverride = features;
}

// ---- Module lookup -----------------------------------------------------
namespace {
struct ModuleRegistry {
  std::mutex mutex;
  std::map<std::string, std::map<std::string, ExportedFunction, std::less<>>, std::less<>> modules;
};
ModuleRegistry& registry() {
  static ModuleRegistry r;
  return r;
}
}  // namespace

void registerModuleExport(std::string_view module, std::string_view name, ExportedFunction fn) {
  auto& r = registry();
  std::lock_guard lock(r.mutex);
  r.modules[std::string(module)][std::string(name)] = fn;
}

void unregisterModule(std::string_view module) {
  auto& r = registry();
  std::lock_guard lock(r.mutex);
  if (auto it = r.modules.find(module); it != r.modules.end()) r.modules.erase(it);
}

bool isModuleLoaded(std::string_view module) {
  auto& r = registry();
  std::lock_guard lock(r.mutex);
  return r.modules.find(module) != r.modules.end();
}

ExportedFunction findModuleExport(std::string_view module, std::string_view name) {
  auto& r = registry();
  std::lock_guard lock(r.mutex);
  auto m = r.modules.find(module);
  if (m == r.modules.end()) return nullptr;
  auto e = m->second.find(name);
  return e == m->second.end() ? nullptr : e->second;
}

// ---- Debugger output ---------------------------------------------------
namespace {
std::mutex gSinkMutex;
DebugSink gSink;
}  // namespace

void debugOutput(std::string_view text) {
  std::lock_guard lock(gSinkMutex);
  if (gSink) {
    gSink(text);
  } else {
    std::fwrite(text.data(), 1, text.size(), stderr);
  }
}

DebugSink setDebugSink(DebugSink sink) {
  std::lock_guard lock(gSinkMutex);
  DebugSink previous = std::move(gSink);
  gSink = std::move(sink);
  return previous;
}

// ---- Temporary files ---------------------------------------------------
std::FILE* openPrivateTempFile() {
  const char* dir = std::getenv("TMPDIR");
  std::string path = (dir != nullptr && *dir != '\0') ? dir : "/tmp";
  path += "/v3odXXXXXX";
  const int fd = ::mkstemp(path.data());
  if (fd < 0) return nullptr;
  ::unlink(path.c_str());  // private from here on; gone when closed
  std::FILE* file = ::fdopen(fd, "w+b");
  if (file == nullptr) ::close(fd);
  return file;
}

}  // namespace nerro::platform
