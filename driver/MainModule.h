// The program's start-up procedure.
#pragma once

#include <string>

#include "forms/Forms.h"

namespace MainModule {

// Exit statuses of the interpreter.
constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitParseErrors = 2;
constexpr int kExitCancelled = 3;
constexpr int kExitNoScript = 4;

// Whether the path names an encrypted script: its last four characters (all
// of it when shorter) read ".EVS" without regard to case.
bool IsEncryptedName(const std::wstring& path);

// The status dialog's position from the screen size, centred horizontally
// and 200 twips above the vertical centre, rounded half to even.
FormPosition StatusPosition(double screenWidth, double screenHeight, double dialogWidth, double dialogHeight);

// Runs the script named by the platform's command line; returns the exit
// status. The platform must be installed.
int Main();

}  // namespace MainModule
