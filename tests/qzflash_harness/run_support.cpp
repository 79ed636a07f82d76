#include "run_support.h"

#include <cstdio>
#include <cstring>

#include "driver/virtual/machine_file.h"
#include "platform/replace/replace.h"

std::string ProgramExe;
std::string DriverSys;
std::string HardwareSys;
std::string ShotFolder;

namespace {

const char NorvikName[] = "Norvik";
const char AppDefaultsKey[] = "Software\\Wine\\AppDefaults\\QZFlash.exe";

}  // namespace

std::string ToWindowsPath(const std::string& path) {
  if (path.empty() || path[0] != '/') return path;
  // Wine maps the Unix root to drive Z:.
  std::string result = "Z:" + path;
  for (char& c : result)
    if (c == '/') c = '\\';
  return result;
}

Machine::Machine() : m(VcNewMachine()) {}
Machine::~Machine() { VcFreeMachine(m); }

bool LoadProfile(const std::string& text, Machine* machine, std::string* error) {
  char message[512] = "";
  bool ok = VcLoadProfileText(text.c_str(), "harness.profile", "", machine->m, message, sizeof message);
  *error = message;
  return ok;
}

bool WriteMachineFile(const std::string& path, const VcMachine* machine) {
  std::vector<uint8_t> bytes(VcmMaxSize());
  uint32_t length = VcmWrite(machine, VcmStateFresh, bytes.data(), uint32_t(bytes.size()));
  if (length == 0) return false;
  // Whole or not at all: a person may point --make-machine at the file a
  // driver is about to read.
  static FileReplacement replacement;
  return ReplaceWholeFile(&replacement, path.c_str(), bytes.data(), length);
}

bool WaitSavedMachine(const std::string& path, DWORD timeoutMs, VcMachine* machine) {
  return PollUntil(timeoutMs, [&] {
    std::vector<uint8_t> bytes;
    uint32_t state = VcmStateFresh;
    // The driver renames a whole new file over the old one: the file read
    // is either the one written here or the one the driver gave back.
    return ReadWholeFile(path, &bytes) && !bytes.empty() &&
           VcmRead(bytes.data(), uint32_t(bytes.size()), machine, &state) && state == VcmStateSaved;
  });
}

ServiceState QueryNorvik() {
  ServiceState result = {false, 0, ""};
  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
  if (!manager) return result;
  SC_HANDLE service = OpenServiceA(manager, NorvikName, SERVICE_QUERY_STATUS | SERVICE_QUERY_CONFIG);
  if (service) {
    result.exists = true;
    SERVICE_STATUS status;
    if (QueryServiceStatus(service, &status)) result.state = status.dwCurrentState;
    union {
      QUERY_SERVICE_CONFIGA config;
      char space[8192];
    } buffer;
    DWORD needed = 0;
    if (QueryServiceConfigA(service, &buffer.config, sizeof buffer, &needed) && buffer.config.lpBinaryPathName)
      result.binary = buffer.config.lpBinaryPathName;
    CloseServiceHandle(service);
  }
  CloseServiceHandle(manager);
  return result;
}

bool WaitNorvikGone(DWORD timeoutMs) {
  return PollUntil(timeoutMs, [] { return !QueryNorvik().exists; });
}

bool RemoveNorvik(DWORD timeoutMs) {
  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  if (!manager) return false;
  SC_HANDLE service = OpenServiceA(manager, NorvikName, SERVICE_ALL_ACCESS);
  if (service) {
    SERVICE_STATUS status;
    ControlService(service, SERVICE_CONTROL_STOP, &status);
    DeleteService(service);
    CloseServiceHandle(service);
  }
  CloseServiceHandle(manager);
  return WaitNorvikGone(timeoutMs);
}

bool SetProgramVersion(const char* version) {
  HKEY key;
  if (RegCreateKeyExA(HKEY_CURRENT_USER, AppDefaultsKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) !=
      ERROR_SUCCESS)
    return false;
  LONG result;
  if (version) {
    result = RegSetValueExA(key, "Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(version), DWORD(strlen(version) + 1));
  } else {
    result = RegDeleteValueA(key, "Version");
    if (result == ERROR_FILE_NOT_FOUND) result = ERROR_SUCCESS;
  }
  RegCloseKey(key);
  return result == ERROR_SUCCESS;
}

