// Stand-ins for the operating-system services the library relies on:
// the foreground window, the settings store, processor features, module
// lookup, the debugger-output channel and private temporary files.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace nerro::platform {

// ---- Foreground window -------------------------------------------------
// An opaque, non-null handle by default: the library works headless.
using WindowHandle = void*;
WindowHandle foregroundWindow();
// Tests: make foregroundWindow() return null (false) or a handle (true).
void setForegroundWindowAvailable(bool available);

// ---- Settings store ----------------------------------------------------
// The four 32-bit values of the "Software\V3OD" key, read from environment
// variables named V3OD_<name> at the moment of the call. A decimal or 0x-hex
// 32-bit number is a value; unset or anything else is absent.
std::optional<uint32_t> readSetting(std::string_view name);

// ---- Processor features ------------------------------------------------
struct CpuFeatures {
  bool isX86 = false;     // the processor is an x86 (architecture "Intel")
  uint32_t family = 0;    // processor level (CPUID family)
  bool cpuid = false;     // the identification instruction exists
  bool mmx = false;
  bool sse = false;
  bool sse2 = false;
  bool amd3dnow = false;
  bool avx2 = false;
};
// What the processor reports, or the override when one is set.
CpuFeatures cpuFeatures();
// Tests: report these features instead of the processor's (nullopt clears).
void overrideCpuFeatures(std::optional<CpuFeatures> features);

// ---- Module lookup -----------------------------------------------------
// A small registry standing in for loaded dynamic libraries and their
// exported functions ("DebugSetMute" of "d3d9.dll", for example).
using ExportedFunction = void (*)();
void registerModuleExport(std::string_view module, std::string_view name, ExportedFunction fn);
void unregisterModule(std::string_view module);
bool isModuleLoaded(std::string_view module);
ExportedFunction findModuleExport(std::string_view module, std::string_view name);

// ---- Debugger output ---------------------------------------------------
// Text written for an attached debugger. Goes to standard error unless a
// sink is installed (tests capture it this way).
void debugOutput(std::string_view text);
using DebugSink = std::function<void(std::string_view)>;
// Installs a sink and returns the previous one (empty: standard error).
DebugSink setDebugSink(DebugSink sink);

// ---- Temporary files ---------------------------------------------------
// A private file in $TMPDIR (default /tmp) whose name starts with "v3od";
// it has no name once open and vanishes when closed. Null on failure.
std::FILE* openPrivateTempFile();

}  // namespace nerro::platform
