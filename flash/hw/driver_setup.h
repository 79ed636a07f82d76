// Bringing the hardware path up and down: the driver file check, the kernel
// driver service (installed and started for this run only when it was not
// already running), the device open and card discovery.
#pragma once
#include <stdint.h>
#include "platform/services.h"

extern const char KernelDevicePath[];   // "\\.\Norvik"
extern const char DriverServiceName[];  // "Norvik"
extern const char DriverImageName[];    // "QZF.SYS"

// True when the device opened at once, without touching the service: the
// service is then left alone at exit.
extern bool DriverWasRunning;

// The driver file of this platform exists beside the program; otherwise says
// so (unless AutoMode) and returns false.
bool CheckDriverFile();

// Access mode, driver open (NT family), discovery. False when the driver
// cannot be opened or no supported card was found.
bool OpenHardware();

// Closes the driver and removes the service this run installed. Always true.
bool CloseHardware();

bool OpenDriver();
bool CloseDriver();

// The four service steps, each on an open manager handle (0 makes every
// step fail) and a service name.
bool InstallDriverService(ServiceHandle manager, const char* serviceName, const char* imagePath);
bool StartDriverService(ServiceHandle manager, const char* serviceName);
bool StopDriverService(ServiceHandle manager, const char* serviceName);
bool RemoveDriverService(ServiceHandle manager, const char* serviceName);

// Cuts a path after its last separator ("\\", or "/" where the platform
// uses it), leaving the folder with its trailing separator, or "" for none.
void CutToFolder(char* path);

// Folder of the running program followed by `name`. False, with `out`
// emptied, when the program path did not fit or the result would not fit.
bool ProgramFilePath(const char* name, char* out, uint32_t size);
