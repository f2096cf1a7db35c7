// Software devices for tests: one made on a chosen adapter profile and
// released when the holder goes, and a fixture that starts every test on a
// fresh adapter and checks that no adapter object outlives it.
#pragma once

#include <gtest/gtest.h>

#include "software_device.h"

namespace nerro::testing {

class TestDevice : public SoftwareDevice {
 public:
  explicit TestDevice(const d3d9::AdapterProfile& profile = d3d9::AdapterProfile::desktop(), uint32_t width = 64,
                      uint32_t height = 64) {
    d3d9::selectAdapterProfile(profile);
    EXPECT_EQ(create(windowedParameters(width, height)), S_OK) << "software device could not be made";
  }
};

// Resets the adapter before each test; after it, releases what the test
// holds (`releaseObjects`) and expects no adapter object left alive.
class AdapterStateTest : public ::testing::Test {
 protected:
  void SetUp() override { d3d9::resetAdapter(); }
  void TearDown() override {
    releaseObjects();
    EXPECT_EQ(d3d9::liveObjectCount(), 0u) << "an adapter object outlived the test";
    d3d9::resetAdapter();
  }
  virtual void releaseObjects() {}
};

}  // namespace nerro::testing
