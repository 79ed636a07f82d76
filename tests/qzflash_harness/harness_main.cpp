// Entry of the QZFlash Wine harness: arguments, the prefix settings every run
// needs, a watchdog, and a first run that brings Wine's device host up
// before any test counts on it.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "harness_arguments.h"
#include "harness_fixture.h"

namespace {

DWORD WINAPI Watchdog(LPVOID seconds) {
  Sleep(DWORD(reinterpret_cast<uintptr_t>(seconds)) * 1000);
  fprintf(stderr, "qzflash harness: watchdog expired, giving up\n");
  fflush(stderr);
  ExitProcess(3);
}

void PrepareWine() {
  HKEY key;
  // Without a window manager every closing window would stall.
  if (RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Wine\\X11 Driver", 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key,
                      nullptr) == ERROR_SUCCESS) {
    RegSetValueExA(key, "Managed", 0, REG_SZ, reinterpret_cast<const BYTE*>("N"), 2);
    RegCloseKey(key);
  }
  // A crash must end the run, not wait in the debugger.
  for (REGSAM view : {KEY_WOW64_64KEY, KEY_WOW64_32KEY}) {
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows NT\\CurrentVersion\\AeDebug", 0,
                      KEY_SET_VALUE | view, &key) == ERROR_SUCCESS) {
      RegDeleteValueA(key, "Debugger");
      RegCloseKey(key);
    }
  }
}

// The first kernel driver a fresh Wine session starts can miss the service
// manager's start time-out while the device host comes up. An unattended run
// on a small machine, repeated until it works (three times at most), takes
// that hit here instead of in a test.
class DriverHostWarmUp : public ::testing::Environment {
 public:
  void SetUp() override {
    std::string folder = "C:\\qzflash test\\warm-up\\";
    CreateDirectoryA("C:\\qzflash test", nullptr);
    CreateDirectoryA(folder.c_str(), nullptr);
    std::string exe = folder + "QZFlash.exe";
    CopyFileA(ProgramExe.c_str(), exe.c_str(), FALSE);
    CopyFileA(DriverSys.c_str(), (folder + "QZF.SYS").c_str(), FALSE);
    Machine machine;
    std::string error;
    if (!LoadProfile(OneCardProfile, &machine, &error)) return;
    for (int attempt = 1; attempt <= 3; ++attempt) {
      RemoveNorvik(20000);
      WriteMachineFile(folder + "QZF.vcm", machine.m);
      ProgramRun run;
      if (!StartProgram(exe, "-A", &run)) return;
      int code = WaitExit(&run, ExitTimeout);
      Machine after;
      bool saved = WaitSavedMachine(folder + "QZF.vcm", 5000, after.m);
      printf("warm-up run %d: exit %d, driver %s\n", attempt, code, saved ? "ran" : "did not run");
      if (code == 0 && saved) break;
    }
    RemoveNorvik(20000);
  }
};

// --make-machine=PROFILE --out=FILE: the machine file of a profile, for a
// person who runs QZFlash.exe by hand.
int MakeMachine(const char* profile, const char* out) {
  Machine machine;
  char error[512] = "";
  if (!VcLoadProfile(ToWindowsPath(profile).c_str(), machine.m, error, sizeof error)) {
    fprintf(stderr, "%s\n", error);
    return 1;
  }
  if (!WriteMachineFile(ToWindowsPath(out), machine.m)) {
    fprintf(stderr, "cannot write %s\n", out);
    return 1;
  }
  return 0;
}

// --flash-back=FILE --profile=PROFILE: the flash contents of a machine file
// the driver wrote back, into the files the profile names for its parts.
int FlashBack(const char* file, const char* profile) {
  Machine named, saved;
  char error[512] = "";
  if (!VcLoadProfile(ToWindowsPath(profile).c_str(), named.m, error, sizeof error)) {
    fprintf(stderr, "%s\n", error);
    return 1;
  }
  // The driver writes the file as it unloads, which may trail the program.
  if (!WaitSavedMachine(ToWindowsPath(file), 30000, saved.m)) {
    fprintf(stderr, "%s is not a machine the driver wrote back\n", file);
    return 1;
  }
  if (saved.m->cardCount != named.m->cardCount) {
    fprintf(stderr, "%s holds another machine than %s\n", file, profile);
    return 1;
  }
  for (int c = 0; c < named.m->cardCount; ++c) {
    for (int p = 0; p < VcMaxPartsPerCard; ++p) {
      VcFlashPart& to = named.m->cards[c].parts[p];
      const VcFlashPart& from = saved.m->cards[c].parts[p];
      if (to.type != from.type) {
        fprintf(stderr, "%s holds another machine than %s\n", file, profile);
        return 1;
      }
      memcpy(to.data, from.data, sizeof to.data);
    }
  }
  if (!VcSaveFlashFiles(named.m, error, sizeof error)) {
    fprintf(stderr, "%s\n", error);
    return 1;
  }
  return 0;
}

const char* Option(int argc, char** argv, const char* name) {
  size_t length = strlen(name);
  for (int i = 1; i < argc; ++i)
    if (strncmp(argv[i], name, length) == 0) return argv[i] + length;
  return nullptr;
}

}  // namespace

const char Usage[] =
    "usage: qzflash_harness --program=<QZFlash.exe> --driver=<QZF.SYS> [--hardware-driver=<QZF.SYS>] "
    "[--shots=<folder>] [--watchdog=<seconds>]\n"
    "       qzflash_harness --make-machine=<profile> --out=<QZF.vcm>\n"
    "       qzflash_harness --flash-back=<QZF.vcm> --profile=<profile>\n";

int main(int argc, char** argv) {
  std::string makeMachine, out, flashBack, profile;
  if (Option(argc, argv, "--make-machine=") || Option(argc, argv, "--flash-back=")) {
    const HarnessOption tools[] = {{"--make-machine=", &makeMachine},
                                   {"--out=", &out},
                                   {"--flash-back=", &flashBack},
                                   {"--profile=", &profile}};
    if (!ReadHarnessOptions(argc, argv, tools, 4) || makeMachine.empty() == flashBack.empty() ||
        (!makeMachine.empty() && (out.empty() || !profile.empty())) ||
        (!flashBack.empty() && (profile.empty() || !out.empty()))) {
      fputs(Usage, stderr);
      return 2;
    }
    return makeMachine.empty() ? FlashBack(flashBack.c_str(), profile.c_str())
                               : MakeMachine(makeMachine.c_str(), out.c_str());
  }
  ::testing::InitGoogleTest(&argc, argv);
  std::string program, driver, hardware, shots, watchdog = "1440";
  const HarnessOption options[] = {{"--program=", &program},
                                   {"--driver=", &driver},
                                   {"--hardware-driver=", &hardware},
                                   {"--shots=", &shots},
                                   {"--watchdog=", &watchdog}};
  unsigned watchdogSeconds = 0;
  if (!ReadHarnessOptions(argc, argv, options, 5) || program.empty() || driver.empty() ||
      !HarnessSeconds(watchdog, &watchdogSeconds)) {
    fputs(Usage, stderr);
    return 2;
  }
  ProgramExe = ToWindowsPath(program);
  DriverSys = ToWindowsPath(driver);
  if (!hardware.empty()) HardwareSys = ToWindowsPath(hardware);
  if (!shots.empty()) ShotFolder = ToWindowsPath(shots);
  if (!ShotFolder.empty()) {
    if (ShotFolder.back() != '\\') ShotFolder += '\\';
    CreateDirectoryA(ShotFolder.c_str(), nullptr);
  }
  PrepareWine();
  CreateThread(nullptr, 0, Watchdog, reinterpret_cast<LPVOID>(uintptr_t(watchdogSeconds)), 0, nullptr);
  ::testing::AddGlobalTestEnvironment(new DriverHostWarmUp);
  int result = HarnessResult(RUN_ALL_TESTS());
  fflush(stdout);
  ExitProcess(UINT(result));
}
