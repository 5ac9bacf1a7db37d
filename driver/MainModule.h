// The program's start-up procedure.
#pragma once

#include <cstdint>
#include <string>

namespace MainModule {

// Where the status dialog opens, in twips; written at start-up and by the
// status dialog when it unloads.
extern std::int32_t StatusLeft;
extern std::int32_t StatusTop;

// Exit statuses of the interpreter.
constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitParseErrors = 2;
constexpr int kExitCancelled = 3;
constexpr int kExitNoScript = 4;

// Whether the path names an encrypted script: its last four characters (all
// of it when shorter) read ".EVS" without regard to case.
bool IsEncryptedName(const std::wstring& path);

// Computes the status dialog's position from the screen size, centred
// horizontally and 200 twips above the vertical centre, rounded half to even.
void ComputeStatusPosition(double screenWidth, double screenHeight, double dialogWidth, double dialogHeight,
                           std::int32_t& left, std::int32_t& top);

// Runs the script named by the platform's command line; returns the exit
// status. The platform must be installed.
int Main();

}  // namespace MainModule
