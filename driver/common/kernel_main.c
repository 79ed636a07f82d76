/* The kernel side of QZF.SYS common to every flavour: the device
 * "\Device\Norvik" with its link "\DosDevices\Norvik", open and close, and
 * the buffered device control requests handed to requests.cpp. */
#include <ntddk.h>

#include "driver/common/flavour.h"

/* Values of QzRequestStatus (requests.h). */
enum {
    RequestOk = 0,
    RequestUnknownCode = 1,
    RequestBadParameter = 2,
    RequestBufferTooSmall = 3,
    RequestDeviceFailure = 4,
    RequestOutsideWindow = 5
};

static PDEVICE_OBJECT Device;
static UNICODE_STRING DeviceName;
static UNICODE_STRING LinkName;
/* One request at a time reaches the flavour, whatever the callers do. */
static KMUTEX RequestLock;

static NTSTATUS Complete(PIRP irp, NTSTATUS status, ULONG_PTR information)
{
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = information;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

static void Lock(void)
{
    KeWaitForSingleObject(&RequestLock, Executive, KernelMode, FALSE, NULL);
}

static void Unlock(void)
{
    KeReleaseMutex(&RequestLock, FALSE);
}

static NTSTATUS ToNtStatus(int status)
{
    switch (status) {
    case RequestOk:
        return STATUS_SUCCESS;
    case RequestUnknownCode:
        return STATUS_INVALID_DEVICE_REQUEST;
    case RequestBadParameter:
        return STATUS_INVALID_PARAMETER;
    case RequestBufferTooSmall:
        return STATUS_BUFFER_TOO_SMALL;
    case RequestOutsideWindow:
        return STATUS_ACCESS_DENIED;
    default:
        return STATUS_NO_SUCH_DEVICE;
    }
}

static NTSTATUS NTAPI DispatchCreate(PDEVICE_OBJECT device, PIRP irp)
{
    int allowed;
    (void)device;
    Lock();
    allowed = QzFlavourOpen();
    Unlock();
    return Complete(irp, allowed ? STATUS_SUCCESS : STATUS_DEVICE_NOT_READY, 0);
}

static NTSTATUS NTAPI DispatchClose(PDEVICE_OBJECT device, PIRP irp)
{
    (void)device;
    Lock();
    QzFlavourClose();
    Unlock();
    return Complete(irp, STATUS_SUCCESS, 0);
}

static NTSTATUS NTAPI DispatchControl(PDEVICE_OBJECT device, PIRP irp)
{
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    ULONG code = stack->Parameters.DeviceIoControl.IoControlCode;
    uint32_t returned = 0;
    int status;
    (void)device;
    /* Only buffered requests are ours: the others would hand over user addresses. */
    if ((code & 3) != METHOD_BUFFERED)
        return Complete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
    Lock();
    status = QzDispatchRequest(code, irp->AssociatedIrp.SystemBuffer,
                               stack->Parameters.DeviceIoControl.InputBufferLength,
                               stack->Parameters.DeviceIoControl.OutputBufferLength, &returned);
    Unlock();
    return Complete(irp, ToNtStatus(status), status == RequestOk ? returned : 0);
}

static void NTAPI Unload(PDRIVER_OBJECT driver)
{
    (void)driver;
    IoDeleteSymbolicLink(&LinkName);
    IoDeleteDevice(Device);
    Device = NULL;
    Lock();
    QzFlavourStop();
    Unlock();
}

NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath)
{
    NTSTATUS status;
    KeInitializeMutex(&RequestLock, 0);
    RtlInitUnicodeString(&DeviceName, L"\\Device\\Norvik");
    RtlInitUnicodeString(&LinkName, L"\\DosDevices\\Norvik");

    status = QzFlavourStart(registryPath);
    if (!NT_SUCCESS(status))
        return status;
    QzFindCardWindows();
    status = IoCreateDevice(driver, 0, &DeviceName, FILE_DEVICE_UNKNOWN, 0, FALSE, &Device);
    if (!NT_SUCCESS(status)) {
        QzFlavourStop();
        return status;
    }
    status = IoCreateSymbolicLink(&LinkName, &DeviceName);
    if (!NT_SUCCESS(status)) {
        IoDeleteDevice(Device);
        QzFlavourStop();
        return status;
    }
    driver->MajorFunction[IRP_MJ_CREATE] = DispatchCreate;
    driver->MajorFunction[IRP_MJ_CLOSE] = DispatchClose;
    driver->MajorFunction[IRP_MJ_DEVICE_CONTROL] = DispatchControl;
    driver->DriverUnload = Unload;
    return STATUS_SUCCESS;
}
