// Whole-hundredths build arithmetic in each of the forms the call sites write.
#include "datamanager/BuildNumber.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

using RUZLib::BuildHundredths;

TEST(BuildHundredths, ProductTypeAndBiasDecideTheEdges) {
  const float belowTwoNine = std::nextafter(2.9f, 0.0f);
  struct FloatCase {
    float build;
    double bias;
    int expected;
  };
  const FloatCase floats[] = {
      {2.9f, RUZLib::kBuildBiasNone, 290},      {3.1f, RUZLib::kBuildBiasNone, 310},
      {1.3f, RUZLib::kBuildBiasNone, 130},      {2.35f, RUZLib::kBuildBiasNone, 234},
      {2.35f, RUZLib::kBuildBiasDouble, 235},   {2.35f, RUZLib::kBuildBiasFloat, 235},
      {2.8999f, RUZLib::kBuildBiasNone, 289},   {2.8999f, RUZLib::kBuildBiasDouble, 290},
      {2.899f, RUZLib::kBuildBiasDouble, 289},  {2.8999f, RUZLib::kBuildBiasFloat, 290},
      {belowTwoNine, RUZLib::kBuildBiasNone, 290}, {0.0f, RUZLib::kBuildBiasNone, 0},
      {-0.004f, RUZLib::kBuildBiasDouble, 0},
  };
  for (const FloatCase& c : floats) {
    EXPECT_EQ(BuildHundredths(c.build, c.bias), c.expected) << c.build << " + " << c.bias;
  }
  struct DoubleCase {
    double build;
    int expected;
  };
  // A double product rounds differently: the float 3.1 times 100 stays below 310.
  const DoubleCase doubles[] = {
      {static_cast<double>(3.1f), 309},
      {static_cast<double>(belowTwoNine), 289},
      {static_cast<double>(2.899f) + 0.001, 289},
      {static_cast<double>(2.9f) + 0.001, 290},
      {static_cast<double>(1.3f) + 0.001, 130},
      // A config can give any build; none may overflow the int.
      {7.7e24, INT32_MAX},
      {-7.7e24, INT32_MIN},
      {std::nan(""), 0},
  };
  for (const DoubleCase& c : doubles) {
    EXPECT_EQ(BuildHundredths(c.build, RUZLib::kBuildBiasNone), c.expected) << c.build;
  }
  // The same sum narrowed to float first lands on the other side of 290.
  EXPECT_EQ(BuildHundredths(2.899f + 0.001f, RUZLib::kBuildBiasNone), 290);
}

} // namespace
