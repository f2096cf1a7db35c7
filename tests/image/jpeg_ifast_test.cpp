// With MMX switched off by the "DisableMMX" setting the JPEG decoder uses
// libjpeg's fast integer transform. A program of its own: the setting, once
// seen, keeps MMX off for the life of the process.
#include <cstdlib>

#include "jpeg_support.h"
#include "math/math.h"

namespace {

using namespace imagetest;

TEST(JpegDisableMmx, UsesTheFastIntegerTransform) {
  setenv("V3OD_DisableMMX", "1", 1);
  ASSERT_EQ(nerro::math::isMmxAvailable(), 0);
  auto file = encodeJpeg(testSamples(96, 64, 3), 96, 64, 3, false, 95);
  auto fast = referenceDecode(file, JDCT_IFAST), accurate = referenceDecode(file, JDCT_ISLOW);
  ASSERT_NE(fast.samples, accurate.samples) << "fixture does not tell the transforms apart";
  DecodedImage img;
  ASSERT_EQ(img.load(file.data(), static_cast<uint32_t>(file.size()), nullptr, true), S_OK);
  EXPECT_TRUE(sameAsReference(img, fast));
  unsetenv("V3OD_DisableMMX");
}

}  // namespace
