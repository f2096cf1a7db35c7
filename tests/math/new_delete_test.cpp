// The allocation-operator check, with this program's operator new made to
// return null for zero bytes on demand.
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include "math_test_util.h"

namespace {
bool gZeroGivesNull = false;
void* volatile gNull = nullptr;  // a null the compiler does not see as a constant
}  // namespace

void* operator new(std::size_t size) {
  if (size == 0 && gZeroGivesNull) return gNull;
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace {

using namespace mathtest;

class NewDeleteCheck : public MathStateTest {
 protected:
  void SetUp() override {
    MathStateTest::SetUp();
    lines_.clear();
    previous_ = nerro::platform::setDebugSink([this](std::string_view t) { lines_.emplace_back(t); });
  }
  void TearDown() override {
    gZeroGivesNull = false;
    nerro::platform::setDebugSink(previous_);
    MathStateTest::TearDown();
  }
  std::vector<std::string> lines_;
  nerro::platform::DebugSink previous_;
};

TEST_F(NewDeleteCheck, NullForZeroBytesWritesFourLinesOnceAtTheFirstMathCall) {
  gZeroGivesNull = true;
  EXPECT_TRUE(lines_.empty());
  D3DVECTOR v{0, 0, 2}, r;
  vec3Normalize(&r, &v);
  gZeroGivesNull = false;
  const std::vector<std::string> expected = {
      "V3OD: (WARN) Overloaded ::new and ::delete operators do not conform to C++ standards:\r\n",
      "V3OD: (WARN) An allocation of zero bytes should return a unique non-null pointer to at\r\n",
      "V3OD: (WARN) least zero bytes. Deletion of a null pointer should quietly do nothing.\r\n",
      "V3OD: (WARN) V3OD relies upon this behavior.\r\n"};
  EXPECT_EQ(lines_, expected);
  EXPECT_FLOAT_EQ(r.z, 1.0f);  // the library carries on
  gZeroGivesNull = true;
  vec3Normalize(&r, &v);
  selectMathRoutines(1);
  EXPECT_EQ(lines_.size(), 4u);
}

TEST_F(NewDeleteCheck, ConformingOperatorsWriteNothing) {
  D3DVECTOR v{0, 0, 2}, r;
  vec3Normalize(&r, &v);
  EXPECT_TRUE(lines_.empty());
}

}  // namespace
