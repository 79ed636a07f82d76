// Service control manager calls for the kernel driver service.
#include <windows.h>

#include "platform/services.h"

static SC_HANDLE AsSc(ServiceHandle handle)
{
    return reinterpret_cast<SC_HANDLE>(handle);
}

// Looked up when called, not imported: the program must still load on
// Windows 9x, whose ADVAPI32 is not sure to have them (nor needs them there).
typedef void (*AnyCall)();

static AnyCall ServiceCall(const char* name)
{
    HMODULE advapi = GetModuleHandleA("advapi32.dll");
    return advapi ? reinterpret_cast<AnyCall>(GetProcAddress(advapi, name)) : NULL;
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

bool SvcGetImagePath(ServiceHandle service, char* path, uint32_t size)
{
    typedef BOOL(WINAPI * QueryConfig)(SC_HANDLE, LPQUERY_SERVICE_CONFIGA, DWORD, LPDWORD);
    QueryConfig query = reinterpret_cast<QueryConfig>(ServiceCall("QueryServiceConfigA"));
    // The configuration with its strings; a service of ours needs far less.
    union {
        QUERY_SERVICE_CONFIGA config;
        char space[8192];
    } buffer;
    DWORD needed = 0;
    if (!query || !query(AsSc(service), &buffer.config, sizeof buffer, &needed) || !buffer.config.lpBinaryPathName)
        return false;
    const char* image = buffer.config.lpBinaryPathName;
    size_t length = lstrlenA(image);
    if (length >= size)
        return false;
    CopyMemory(path, image, length + 1);
    return true;
}

bool SvcSetImagePath(ServiceHandle service, const char* imagePath)
{
    typedef BOOL(WINAPI * ChangeConfig)(SC_HANDLE, DWORD, DWORD, DWORD, LPCSTR, LPCSTR, LPDWORD, LPCSTR, LPCSTR, LPCSTR,
                                        LPCSTR);
    ChangeConfig change = reinterpret_cast<ChangeConfig>(ServiceCall("ChangeServiceConfigA"));
    return change &&
        change(AsSc(service), SERVICE_KERNEL_DRIVER, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, imagePath, NULL, NULL,
               NULL, NULL, NULL, NULL) != FALSE;
}

bool SvcIsStopped(ServiceHandle service)
{
    typedef BOOL(WINAPI * QueryStatus)(SC_HANDLE, LPSERVICE_STATUS);
    QueryStatus query = reinterpret_cast<QueryStatus>(ServiceCall("QueryServiceStatus"));
    SERVICE_STATUS status;
    return query && query(AsSc(service), &status) && status.dwCurrentState == SERVICE_STOPPED;
}
