// The QZFlash harness's side of a run: test folders, the program's process,
// the driver service, the machine file handed to the virtual driver, and the
// platform Wine reports to the program.
#ifndef QZ_TESTS_QZFLASH_RUN_SUPPORT_H
#define QZ_TESTS_QZFLASH_RUN_SUPPORT_H

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "program_run.h"
#include "win_files.h"
#include "vcard/host/vcard_host.h"

// Set by main from the command line (Windows paths).
extern std::string ProgramExe;   // QZFlash.exe under test
extern std::string DriverSys;    // the virtual QZF.SYS built with it
extern std::string HardwareSys;  // the hardware QZF.SYS; empty when not given
extern std::string ShotFolder;   // where screenshots go, with a trailing backslash

std::string ToWindowsPath(const std::string& path);

// A machine of the virtual card, owned (it is a few MB).
struct Machine {
  VcMachine* m = nullptr;
  Machine();
  ~Machine();
  Machine(const Machine&) = delete;
  Machine& operator=(const Machine&) = delete;
};

// Builds a machine from profile text; fails the test with the loader's message.
bool LoadProfile(const std::string& text, Machine* machine, std::string* error);

// The machine file beside the driver, as the driver reads it.
bool WriteMachineFile(const std::string& path, const VcMachine* machine);
// Waits until the driver has written the machine back as it unloaded, and
// reads it. False when that does not happen in time.
bool WaitSavedMachine(const std::string& path, DWORD timeoutMs, VcMachine* machine);

// The driver service "Norvik" as the service manager sees it.
struct ServiceState {
  bool exists;
  DWORD state;   // SERVICE_RUNNING, SERVICE_STOPPED, ... (0 when it does not exist)
  std::string binary;
};
ServiceState QueryNorvik();
// Stops and deletes the service if it is there, and waits until it is gone.
bool RemoveNorvik(DWORD timeoutMs);
// Waits until the service no longer exists.
bool WaitNorvikGone(DWORD timeoutMs);

// The Windows version Wine reports to QZFlash.exe: "win98", "win2k",
// "winxp", or nullptr for the prefix default.
bool SetProgramVersion(const char* version);


// A bounded poll: calls `done` every 10 ms until it is true or the time is up.
template <typename Done>
bool PollUntil(DWORD timeoutMs, Done done) {
  DWORD start = GetTickCount();
  for (;;) {
    if (done()) return true;
    if (GetTickCount() - start >= timeoutMs) return false;
    Sleep(10);
  }
}

#endif
