// The program under test as a Wine harness drives it, and the screen it
// draws on.
#ifndef QZ_TESTS_WIN_SUPPORT_PROGRAM_RUN_H
#define QZ_TESTS_WIN_SUPPORT_PROGRAM_RUN_H

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

struct ProgramRun {
  PROCESS_INFORMATION process = {};
  DWORD startTick = 0;  // GetTickCount when it was started
};

// Starts exe with arguments (may be empty) from another folder than its own.
bool StartProgram(const std::string& exe, const std::string& arguments, ProgramRun* run);
// Exit code, or -1 when it did not end in time (it is then killed). With
// endTick: GetTickCount when the end was seen.
int WaitExit(ProgramRun* run, DWORD timeoutMs, DWORD* endTick = nullptr);
bool HasEnded(const ProgramRun& run);
void KillRun(ProgramRun* run);

// Pixels of the screen, top-down, 0x00RRGGBB.
std::vector<uint32_t> CaptureScreen(int left, int top, int width, int height);

#endif
