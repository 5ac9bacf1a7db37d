/* A stand-in program for the Windows launch tests: appends each argument as "[arg]" to args.txt in
 * its working directory, waits the milliseconds of "--sleep MS", exits with the N of "--exit N". */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

int main(int argc, char** argv) {
  int sleep = 0, status = 0;
  FILE* f = fopen("args.txt", "a");
  for (int i = 1; i < argc; ++i) {
    if (f != NULL) fprintf(f, "[%s]\n", argv[i]);
    if (i + 1 < argc && strcmp(argv[i], "--sleep") == 0) sleep = atoi(argv[i + 1]);
    if (i + 1 < argc && strcmp(argv[i], "--exit") == 0) status = atoi(argv[i + 1]);
  }
  if (f != NULL) fclose(f);
  if (sleep > 0) Sleep((DWORD)sleep);
  return status;
}
