// Service control manager calls for the kernel driver service.
#include <windows.h>

#include "platform/services.h"

static SC_HANDLE AsSc(ServiceHandle handle)
{
    return reinterpret_cast<SC_HANDLE>(handle);
}

ServiceHandle SvcOpenManager()
{
    return reinterpret_cast<ServiceHandle>(OpenSCManagerA(NULL, NULL, SC_MANAGER_ALL_ACCESS));
}

ServiceHandle SvcCreate(ServiceHandle manager, const char* name, const char* imagePath, uint32_t* error)
{
    SC_HANDLE service = CreateServiceA(AsSc(manager), name, name, SERVICE_ALL_ACCESS, SERVICE_KERNEL_DRIVER,
                                       SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, imagePath, NULL, NULL, NULL,
                                       NULL, NULL);
    *error = service ? 0 : GetLastError();
    return reinterpret_cast<ServiceHandle>(service);
}

ServiceHandle SvcOpen(ServiceHandle manager, const char* name)
{
    return reinterpret_cast<ServiceHandle>(OpenServiceA(AsSc(manager), name, SERVICE_ALL_ACCESS));
}

bool SvcStart(ServiceHandle service, uint32_t* error)
{
    BOOL ok = StartServiceA(AsSc(service), 0, NULL);
    *error = ok ? 0 : GetLastError();
    return ok != FALSE;
}

bool SvcStop(ServiceHandle service)
{
    SERVICE_STATUS status;
    return ControlService(AsSc(service), SERVICE_CONTROL_STOP, &status) != FALSE;
}

bool SvcDelete(ServiceHandle service)
{
    return DeleteService(AsSc(service)) != FALSE;
}

void SvcClose(ServiceHandle handle)
{
    CloseServiceHandle(AsSc(handle));
}
