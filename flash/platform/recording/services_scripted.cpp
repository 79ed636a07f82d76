// A service control manager holding one kernel driver service, with
// scriptable failures; every call is recorded.
#include <string.h>

#include "platform/recording/flow_recording.h"
#include "platform/recording/recording_ui.h"

ScriptedServiceManager ScriptedServices;

namespace {

const ServiceHandle ManagerHandle = 0x5C00;
const ServiceHandle ServiceHandleValue = 0x5C01;
const uint32_t ErrorInvalidHandle = 6;
const uint32_t ErrorServiceNotActive = 1062;

void Copy(char* dst, size_t size, const char* src)
{
    size_t n = 0;
    while (src && n + 1 < size && src[n]) {
        dst[n] = src[n];
        ++n;
    }
    dst[n] = 0;
}

ScriptedServiceCall Spare;   // calls past the capacity are counted, not kept

ScriptedServiceCall* Record(ScriptedServiceCallKind kind, bool ok, uint32_t error, const char* name = 0,
                            const char* imagePath = 0)
{
    ScriptedServiceManager& m = ScriptedServices;
    uint32_t index = m.callCount++;
    ScriptedServiceCall& call = index < ScriptedServiceCallCapacity ? m.calls[index] : Spare;
    memset(&call, 0, sizeof call);
    call.kind = kind;
    call.ok = ok;
    call.error = error;
    Copy(call.name, sizeof call.name, name);
    Copy(call.imagePath, sizeof call.imagePath, imagePath);
    call.boxesBefore = Recording.boxCount;
    if (m.afterCall)
        m.afterCall(kind);
    return &call;
}

void SetRunning(bool running)
{
    if (ScriptedServices.running == running)
        return;
    ScriptedServices.running = running;
    if (ScriptedServices.runningChanged)
        ScriptedServices.runningChanged(running);
}

bool IsOurService(const char* name)
{
    return ScriptedServices.exists && strcmp(name, ScriptedServices.serviceName) == 0;
}

} // namespace

uint32_t ScriptedServiceCallCount(ScriptedServiceCallKind kind)
{
    uint32_t count = 0;
    uint32_t kept = ScriptedServices.callCount < ScriptedServiceCallCapacity ? ScriptedServices.callCount
                                                                             : ScriptedServiceCallCapacity;
    for (uint32_t i = 0; i < kept; ++i)
        count += ScriptedServices.calls[i].kind == kind;
    return count;
}

int32_t ScriptedServiceFirstCall(ScriptedServiceCallKind kind)
{
    uint32_t kept = ScriptedServices.callCount < ScriptedServiceCallCapacity ? ScriptedServices.callCount
                                                                             : ScriptedServiceCallCapacity;
    for (uint32_t i = 0; i < kept; ++i) {
        if (ScriptedServices.calls[i].kind == kind)
            return static_cast<int32_t>(i);
    }
    return -1;
}

int32_t ScriptedServiceLastCall(ScriptedServiceCallKind kind)
{
    uint32_t kept = ScriptedServices.callCount < ScriptedServiceCallCapacity ? ScriptedServices.callCount
                                                                             : ScriptedServiceCallCapacity;
    for (uint32_t i = kept; i > 0; --i) {
        if (ScriptedServices.calls[i - 1].kind == kind)
            return static_cast<int32_t>(i - 1);
    }
    return -1;
}

ServiceHandle SvcOpenManager()
{
    bool ok = !ScriptedServices.managerUnavailable;
    Record(SvcCallOpenManager, ok, ok ? 0 : 5);
    if (!ok)
        return 0;
    ++ScriptedServices.openHandles;
    return ManagerHandle;
}

ServiceHandle SvcCreate(ServiceHandle manager, const char* name, const char* imagePath, uint32_t* error)
{
    ScriptedServiceManager& m = ScriptedServices;
    if (manager != ManagerHandle) {
        *error = ErrorInvalidHandle;
    } else if (m.createError) {
        *error = m.createError;
        if (m.createFailures > 0 && --m.createFailures == 0)
            m.createError = 0;
    } else if (m.exists) {
        *error = ServiceErrorExists;
    } else {
        *error = 0;
        m.exists = true;
        Copy(m.serviceName, sizeof m.serviceName, name);
        Copy(m.imagePath, sizeof m.imagePath, imagePath);
    }
    Record(SvcCallCreate, *error == 0, *error, name, imagePath);
    if (*error)
        return 0;
    ++m.openHandles;
    return ServiceHandleValue;
}

ServiceHandle SvcOpen(ServiceHandle manager, const char* name)
{
    bool ok = manager == ManagerHandle && IsOurService(name);
    Record(SvcCallOpen, ok, ok ? 0 : 1060, name);
    if (!ok)
        return 0;
    ++ScriptedServices.openHandles;
    return ServiceHandleValue;
}

bool SvcStart(ServiceHandle service, uint32_t* error)
{
    ScriptedServiceManager& m = ScriptedServices;
    if (service != ServiceHandleValue)
        *error = ErrorInvalidHandle;
    else if (m.startError)
        *error = m.startError;
    else if (m.running)
        *error = ServiceErrorAlreadyRunning;
    else
        *error = 0;
    if (*error == 0)
        SetRunning(true);
    Record(SvcCallStart, *error == 0, *error);
    return *error == 0;
}

bool SvcStop(ServiceHandle service)
{
    ScriptedServiceManager& m = ScriptedServices;
    uint32_t error = 0;
    if (service != ServiceHandleValue)
        error = ErrorInvalidHandle;
    else if (m.stopFails)
        error = 1051;
    else if (!m.running)
        error = ErrorServiceNotActive;
    if (error == 0)
        SetRunning(false);
    Record(SvcCallStop, error == 0, error);
    return error == 0;
}

bool SvcDelete(ServiceHandle service)
{
    ScriptedServiceManager& m = ScriptedServices;
    uint32_t error = 0;
    if (service != ServiceHandleValue)
        error = ErrorInvalidHandle;
    else if (m.deleteFails)
        error = 5;
    if (error == 0) {
        m.exists = false;
        m.imagePath[0] = 0;
    }
    Record(SvcCallDelete, error == 0, error);
    return error == 0;
}

void SvcClose(ServiceHandle handle)
{
    bool ok = handle == ManagerHandle || handle == ServiceHandleValue;
    if (ok)
        --ScriptedServices.openHandles;
    Record(SvcCallClose, ok, ok ? 0 : ErrorInvalidHandle);
}

bool SvcGetImagePath(ServiceHandle service, char* path, uint32_t size)
{
    ScriptedServiceManager& m = ScriptedServices;
    bool ok = service == ServiceHandleValue && strlen(m.imagePath) < size;
    if (ok)
        Copy(path, size, m.imagePath);
    Record(SvcCallGetImagePath, ok, ok ? 0 : ErrorInvalidHandle, 0, ok ? m.imagePath : 0);
    return ok;
}

bool SvcSetImagePath(ServiceHandle service, const char* imagePath)
{
    ScriptedServiceManager& m = ScriptedServices;
    uint32_t error = 0;
    if (service != ServiceHandleValue)
        error = ErrorInvalidHandle;
    else if (m.setImageFails)
        error = 5;
    if (error == 0)
        Copy(m.imagePath, sizeof m.imagePath, imagePath);
    Record(SvcCallSetImagePath, error == 0, error, 0, imagePath);
    return error == 0;
}

bool SvcIsStopped(ServiceHandle service)
{
    bool ok = service == ServiceHandleValue;
    Record(SvcCallIsStopped, ok, ok ? 0 : ErrorInvalidHandle);
    return ok && !ScriptedServices.running;
}
