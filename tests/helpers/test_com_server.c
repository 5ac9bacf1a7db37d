/* A stand-in COM server library for the registration tests. Each entry point
 * appends its name to the file named by VSL_TEST_SERVER_LOG (when set) and
 * returns the number in VSL_TEST_REGISTER_RESULT / VSL_TEST_UNREGISTER_RESULT
 * (0 when unset). Build: cc -shared -fPIC -o server.so test_com_server.c */
#include <stdio.h>
#include <stdlib.h>

static void note(const char* what) {
  const char* log = getenv("VSL_TEST_SERVER_LOG");
  if (log == NULL || *log == '\0') return;
  FILE* f = fopen(log, "a");
  if (f == NULL) return;
  fprintf(f, "%s\n", what);
  fclose(f);
}

static int result(const char* name) {
  const char* v = getenv(name);
  return v != NULL ? atoi(v) : 0;
}

int DllRegisterServer(void) {
  note("DllRegisterServer");
  return result("VSL_TEST_REGISTER_RESULT");
}

int DllUnregisterServer(void) {
  note("DllUnregisterServer");
  return result("VSL_TEST_UNREGISTER_RESULT");
}
