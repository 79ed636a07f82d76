#include "hw/driver_setup.h"

#include <string.h>

#include "core/state.h"
#include "hw/hw.h"
#include "platform/driver_io.h"
#include "platform/files.h"
#include "platform/system.h"
#include "platform/timing.h"
#include "platform/ui.h"

const char KernelDevicePath[] = "\\\\.\\Norvik";
const char DriverServiceName[] = "Norvik";
const char DriverImageName[] = "QZF.SYS";

bool DriverWasRunning;

static bool AppendText(char* out, uint32_t size, const char* folder, const char* name)
{
    size_t folderLength = strlen(folder);
    size_t nameLength = strlen(name);
    if (folderLength + nameLength + 1 > size) {
        out[0] = 0;
        return false;
    }
    memcpy(out, folder, folderLength);
    memcpy(out + folderLength, name, nameLength + 1);
    return true;
}

void CutToFolder(char* path)
{
    char* last = 0;
    for (char* c = path; *c; ++c) {
        if (*c == '\\' || *c == '/')
            last = c;
    }
    if (last)
        last[1] = 0;
    else
        path[0] = 0;
}

bool ProgramFilePath(const char* name, char* out, uint32_t size)
{
    char modulePath[PathBufferSize];
    uint32_t length = SysGetModulePath(modulePath, sizeof modulePath);
    if (length == 0 || length >= sizeof modulePath) {
        out[0] = 0;
        return false;
    }
    modulePath[length] = 0;
    CutToFolder(modulePath);
    return AppendText(out, size, modulePath, name);
}

bool CheckDriverFile()
{
    const char* name = IsNtFamily ? "QZF.sys" : "QZF.vxd";
    // A folder too deep for the name cannot hold the file for the system's
    // path calls either, so it counts as missing rather than being cut.
    char path[PathBufferSize];
    if (AppendText(path, sizeof path, ProgramFolder, name) && FileExists(path))
        return true;
    if (!AutoMode)
        UiMessageBox(MainWindow, IsNtFamily ? "QZF.sys not exist!" : "QZF.vxd not exist!", "Error", UiMbOk);
    return false;
}

bool InstallDriverService(ServiceHandle manager, const char* serviceName, const char* imagePath)
{
    uint32_t error = 0;
    ServiceHandle service = SvcCreate(manager, serviceName, imagePath, &error);
    if (service) {
        SvcClose(service);
        return true;
    }
    // A service entry left from an earlier run is used as it is.
    return error == ServiceErrorExists;
}

bool StartDriverService(ServiceHandle manager, const char* serviceName)
{
    ServiceHandle service = SvcOpen(manager, serviceName);
    if (!service)
        return false;
    uint32_t error = 0;
    bool started = SvcStart(service, &error) || error == ServiceErrorAlreadyRunning;
    SvcClose(service);
    return started;
}

bool StopDriverService(ServiceHandle manager, const char* serviceName)
{
    ServiceHandle service = SvcOpen(manager, serviceName);
    if (!service)
        return false;
    bool stopped = SvcStop(service);
    SvcClose(service);
    return stopped;
}

bool RemoveDriverService(ServiceHandle manager, const char* serviceName)
{
    ServiceHandle service = SvcOpen(manager, serviceName);
    if (!service)
        return false;
    bool removed = SvcDelete(service);
    SvcClose(service);
    return removed;
}

// The manager may give a driver's path with the object manager's "\??\"
// before it; case and separators do not tell files apart either.
static bool SameImagePath(const char* configured, const char* ours)
{
    if (strncmp(configured, "\\??\\", 4) == 0)
        configured += 4;
    for (;; ++configured, ++ours) {
        char a = *configured == '/' ? '\\' : *configured;
        char b = *ours == '/' ? '\\' : *ours;
        if (a >= 'a' && a <= 'z')
            a = static_cast<char>(a - 'a' + 'A');
        if (b >= 'a' && b <= 'z')
            b = static_cast<char>(b - 'a' + 'A');
        if (a != b)
            return false;
        if (a == 0)
            return true;
    }
}

// The service is registered for another image than `imagePath`.
static bool ForeignImage(ServiceHandle service, const char* imagePath, bool unreadableIsForeign)
{
    char configured[PathBufferSize];
    if (!SvcGetImagePath(service, configured, sizeof configured))
        return unreadableIsForeign;
    return !SameImagePath(configured, imagePath);
}

// A driver already running from the service another folder registered (a
// run killed there leaves it behind) is not this program's.
static bool ForeignDriverRunning(const char* imagePath)
{
    ServiceHandle manager = SvcOpenManager();
    ServiceHandle service = SvcOpen(manager, DriverServiceName);
    bool foreign = service && ForeignImage(service, imagePath, false);
    if (service)
        SvcClose(service);
    if (manager)
        SvcClose(manager);
    return foreign;
}

// A driver unloads at once on Windows; Wine's device host may take a few seconds.
enum { StopPolls = 100, StopPollMs = 100 };

// A registered service that names another image would load that driver,
// not the one beside this program: it is stopped and pointed at ours. True
// when there is no service yet or it is ours now.
static bool ClaimDriverService(ServiceHandle manager, const char* imagePath)
{
    ServiceHandle service = SvcOpen(manager, DriverServiceName);
    if (!service)
        return true;
    bool ours = !ForeignImage(service, imagePath, true);
    if (!ours) {
        // A stop is refused when it is not running; what counts is the state.
        SvcStop(service);
        bool stopped = SvcIsStopped(service);
        for (int i = 0; !stopped && i < StopPolls; ++i) {
            PlatformSleep(StopPollMs);
            stopped = SvcIsStopped(service);
        }
        ours = stopped && SvcSetImagePath(service, imagePath);
    }
    SvcClose(service);
    return ours;
}

bool OpenDriver()
{
    // Without a whole image path nothing is registered: a cut path would
    // point the service at the wrong file.
    char imagePath[PathBufferSize];
    bool havePath = ProgramFilePath(DriverImageName, imagePath, sizeof imagePath);

    DriverHandle handle = 0;
    if (DeviceOpen(KernelDevicePath, &handle)) {
        if (!havePath || !ForeignDriverRunning(imagePath)) {
            DriverWasRunning = true;
            DeviceHandle = handle;
            return true;
        }
        DeviceClose(handle);
    }
    DriverWasRunning = false;
    if (!havePath) {
        DeviceHandle = 0;
        return false;
    }

    ServiceHandle manager = SvcOpenManager();
    if (!ClaimDriverService(manager, imagePath)) {
        if (manager)
            SvcClose(manager);
        // Not this run's service: it is left as it was found.
        DriverWasRunning = true;
        DeviceHandle = 0;
        if (!AutoMode)
            UiMessageBox(MainWindow, "The Norvik driver service uses another QZF.SYS and cannot be changed.", "Error",
                         UiMbOk);
        return false;
    }
    if (!InstallDriverService(manager, DriverServiceName, imagePath)) {
        StopDriverService(manager, DriverServiceName);
        RemoveDriverService(manager, DriverServiceName);
        InstallDriverService(manager, DriverServiceName, imagePath);
    }
    bool started = StartDriverService(manager, DriverServiceName);

    handle = 0;
    bool opened = DeviceOpen(KernelDevicePath, &handle);
    DeviceHandle = opened ? handle : 0;
    if (manager)
        SvcClose(manager);
    if (!opened)
        return false;
    return started;
}

bool CloseDriver()
{
    if (DeviceHandle) {
        DeviceClose(DeviceHandle);
        DeviceHandle = 0;
    }
    if (DriverWasRunning)
        return true;
    ServiceHandle manager = SvcOpenManager();
    StopDriverService(manager, DriverServiceName);
    bool removed = RemoveDriverService(manager, DriverServiceName);
    if (manager)
        SvcClose(manager);
    return removed;
}

bool OpenHardware()
{
    SysVersion version = {};
    bool nt = SysGetVersion(&version) && version.PlatformId == SysPlatformNt;
    AccessMode = nt ? AccessDriver : AccessDirect;
    if (AccessMode == AccessDriver && !OpenDriver())
        return false;
    DiscoverCards();
    if (CardCount > 0)
        return true;
    CloseHardware();
    return false;
}

bool CloseHardware()
{
    if (AccessMode == AccessDriver)
        CloseDriver();
    return true;
}
