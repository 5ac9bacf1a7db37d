// The mathematics functions that stand in for the library's where SQLite is linked statically: the program's own
// definitions are the ones called, and each gives the library's result for its arguments in their order, with
// errno as the library sets it.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <cmath>
#include <numbers>
#include <string>

namespace {

using Math1 = double (*)(double);
using Math2 = double (*)(double, double);

// The file that defines a function: the test program for a stand-in, libm for the library's own.
std::string DefinedIn(const void* f) {
  Dl_info info{};
  return ::dladdr(f, &info) != 0 && info.dli_fname != nullptr ? info.dli_fname : "";
}

}  // namespace

TEST(LazyMath, StandsInAndForwards) {
  const Math1 one[] = {::acos, ::acosh, ::asin, ::asinh, ::atan, ::atanh, ::cos, ::cosh,
                       ::exp, ::log, ::sin, ::sinh, ::sqrt, ::tan, ::tanh, ::trunc};
  const Math2 two[] = {::atan2, ::fmod, ::pow};
  for (Math1 f : one) EXPECT_EQ(DefinedIn(reinterpret_cast<const void*>(f)).find("libm"), std::string::npos);
  for (Math2 f : two) EXPECT_EQ(DefinedIn(reinterpret_cast<const void*>(f)).find("libm"), std::string::npos);

  volatile Math2 pow = ::pow, atan2 = ::atan2, fmod = ::fmod;
  volatile Math1 trunc = ::trunc, acos = ::acos, cosh = ::cosh, sqrt = ::sqrt;
  EXPECT_EQ(pow(2, 10), 1024);
  EXPECT_EQ(pow(10, -1), 0.1);
  EXPECT_DOUBLE_EQ(atan2(1, 0), std::numbers::pi / 2);
  EXPECT_EQ(atan2(0, 1), 0);
  EXPECT_EQ(fmod(7, 3), 1);
  EXPECT_EQ(fmod(-7, 3), -1);
  EXPECT_EQ(trunc(-2.7), -2);
  EXPECT_EQ(acos(1), 0);
  EXPECT_EQ(cosh(0), 1);
  EXPECT_EQ(sqrt(6.25), 2.5);
}

TEST(LazyMath, ErrnoIsTheLibrarys) {
  volatile Math1 log = ::log, sqrt = ::sqrt, exp = ::exp;
  errno = 0;
  EXPECT_TRUE(std::isnan(log(-1)));
  EXPECT_EQ(errno, EDOM);
  errno = 0;
  EXPECT_TRUE(std::isnan(sqrt(-4)));
  EXPECT_EQ(errno, EDOM);
  errno = 0;
  EXPECT_TRUE(std::isinf(exp(1000)));
  EXPECT_EQ(errno, ERANGE);
  errno = 0;
  EXPECT_EQ(exp(0), 1);
  EXPECT_EQ(errno, 0);
}
