// Seam to the service control manager: one function per system call, so the
// install / start / stop / remove steps above it are the same code on every
// platform. Win32: OpenSCManagerA, CreateServiceA, OpenServiceA,
// StartServiceA, ControlService, DeleteService, QueryServiceConfigA,
// ChangeServiceConfigA, QueryServiceStatus, CloseServiceHandle. Tests use a
// scripted manager that records every call.
#pragma once
#include <stdint.h>

typedef uintptr_t ServiceHandle;   // SC_HANDLE on Windows; 0 = none

// Error codes of the platform that the steps above look at.
enum : uint32_t {
    ServiceErrorExists = 1073,           // ERROR_SERVICE_EXISTS
    ServiceErrorAlreadyRunning = 1056,   // ERROR_SERVICE_ALREADY_RUNNING
};

// The manager of the local machine, active database, full access. 0 on failure.
ServiceHandle SvcOpenManager();

// A demand-start kernel driver service with normal error control, full
// access, no group, tag, dependencies, account or password; name and display
// name are both `name`. 0 on failure, with the system's error in *error.
ServiceHandle SvcCreate(ServiceHandle manager, const char* name, const char* imagePath, uint32_t* error);

// Opens an existing service with full access. 0 on failure.
ServiceHandle SvcOpen(ServiceHandle manager, const char* name);

// Starts it without arguments. False on failure, with the error in *error.
bool SvcStart(ServiceHandle service, uint32_t* error);

// Sends the stop control.
bool SvcStop(ServiceHandle service);

// Marks it for deletion.
bool SvcDelete(ServiceHandle service);

// The image path the service is configured with, as the manager gives it.
// False when it cannot be read or does not fit `size`.
bool SvcGetImagePath(ServiceHandle service, char* path, uint32_t size);

// Points the service at another image, with the parameters SvcCreate uses.
bool SvcSetImagePath(ServiceHandle service, const char* imagePath);

// The service is stopped (not running, starting or stopping).
bool SvcIsStopped(ServiceHandle service);

// Closes a manager or service handle.
void SvcClose(ServiceHandle handle);
