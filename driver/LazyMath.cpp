// The mathematics functions that SQLite's SQL functions call (acos, pow,
// fmod and the others), for the programs that link SQLite's static archive.
// Defined here, they keep the C mathematics library out of the programs'
// start: loading it, with its symbols and pages, cost a few per cent of an
// empty script's run, and nothing but SQL arithmetic ever needs it. It is
// loaded the first time one of these functions is called (never, by the
// registry's own statements), and every call goes on to the library's own
// function, so results and errno are the library's.
//
// Not part of vslcore: CMake adds this file to vsl and vsltool where they
// link SQLite statically on Linux, and to the unit tests that check it.
#include <dlfcn.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

[[noreturn]] void Fail(const char* what) {
  const char* why = ::dlerror();
  const char* parts[] = {"vsl: cannot load the mathematics library: ", what, ": ", why ? why : "", "\n"};
  for (const char* p : parts) {
    const ssize_t ignored = ::write(2, p, std::strlen(p));
    (void)ignored;
  }
  ::_exit(1);
}

void* Library() {
  static void* const handle = [] {
    void* h = ::dlopen("libm.so.6", RTLD_NOW | RTLD_LOCAL);
    if (h == nullptr) Fail("libm.so.6");
    return h;
  }();
  return handle;
}

// The library's own function `name`, looked up in the library itself (not
// in the program, where it would find the definitions below). errno is as
// the caller left it.
template <typename F>
F Resolve(const char* name) {
  const int saved = errno;
  void* f = ::dlsym(Library(), name);
  if (f == nullptr) Fail(name);
  errno = saved;
  return reinterpret_cast<F>(f);
}

}  // namespace

#define VSL_MATH1(name)                                                         \
  extern "C" double name(double x) {                                            \
    static const auto library = Resolve<double (*)(double)>(#name);             \
    return library(x);                                                          \
  }
#define VSL_MATH2(name)                                                         \
  extern "C" double name(double x, double y) {                                  \
    static const auto library = Resolve<double (*)(double, double)>(#name);     \
    return library(x, y);                                                       \
  }

VSL_MATH1(acos)
VSL_MATH1(acosh)
VSL_MATH1(asin)
VSL_MATH1(asinh)
VSL_MATH1(atan)
VSL_MATH1(atanh)
VSL_MATH1(cos)
VSL_MATH1(cosh)
VSL_MATH1(exp)
VSL_MATH1(log)
VSL_MATH1(sin)
VSL_MATH1(sinh)
VSL_MATH1(sqrt)
VSL_MATH1(tan)
VSL_MATH1(tanh)
VSL_MATH1(trunc)
VSL_MATH2(atan2)
VSL_MATH2(fmod)
VSL_MATH2(pow)
