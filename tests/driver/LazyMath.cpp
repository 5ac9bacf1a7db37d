// The mathematics functions that stand in for the library's where SQLite is linked statically: the program's own
// definitions are the ones called, and each gives the library's result for its arguments in their order, with
// errno as the library sets it.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <cmath>
#include <functional>
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

  // Called through volatile pointers, so that the compiler cannot work the results out itself.
  volatile Math2 pow = ::pow, atan2 = ::atan2, fmod = ::fmod;
  volatile Math1 trunc = ::trunc, acos = ::acos, cosh = ::cosh, sqrt = ::sqrt, log = ::log, exp = ::exp;
  const struct { std::function<double()> call; double want; int error; } rows[] = {
      {[&] { return pow(2, 10); }, 1024, 0}, {[&] { return pow(10, -1); }, 0.1, 0},
      {[&] { return atan2(1, 0); }, std::numbers::pi / 2, 0}, {[&] { return atan2(0, 1); }, 0, 0},
      {[&] { return fmod(7, 3); }, 1, 0}, {[&] { return fmod(-7, 3); }, -1, 0}, {[&] { return trunc(-2.7); }, -2, 0},
      {[&] { return acos(1); }, 0, 0}, {[&] { return cosh(0); }, 1, 0}, {[&] { return sqrt(6.25); }, 2.5, 0},
      {[&] { return log(-1); }, NAN, EDOM}, {[&] { return sqrt(-4); }, NAN, EDOM},
      {[&] { return exp(1000); }, HUGE_VAL, ERANGE}, {[&] { return exp(0); }, 1, 0}};
  for (std::size_t i = 0; i < std::size(rows); ++i) {
    errno = 0;
    const double got = rows[i].call();
    EXPECT_EQ(errno, rows[i].error) << i;
    if (std::isnan(rows[i].want)) EXPECT_TRUE(std::isnan(got)) << i;
    else EXPECT_DOUBLE_EQ(got, rows[i].want) << i;
  }
}
