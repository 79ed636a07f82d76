/* The kernel side of QZF.SYS common to every flavour: the device
 * "\Device\Norvik" with its link "\DosDevices\Norvik", open and close, and
 * the buffered device control requests handed to requests.cpp.
 *
 * The device is locked down: only Administrators and LocalSystem may open
 * it, and nothing below its name can be opened. A driver that cannot lock
 * its device does not load. */
#include <ntifs.h>

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

/* Well-known SIDs laid out in place: S-1-5-32-544 and S-1-5-18. */
typedef struct {
    UCHAR Revision;
    UCHAR SubAuthorityCount;
    UCHAR IdentifierAuthority[6];
    ULONG SubAuthority[2];
} FixedSid;

static const FixedSid AdministratorsSid = {1, 2, {0, 0, 0, 0, 0, 5}, {32, 544}};
static const FixedSid LocalSystemSid = {1, 1, {0, 0, 0, 0, 0, 5}, {18, 0}};

/* The device's DACL: room for the header and two allow entries. */
static ULONG AclSpace[32];
static SECURITY_DESCRIPTOR DeviceSecurity;

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

static void LockRequests(void)
{
    KeWaitForSingleObject(&RequestLock, Executive, KernelMode, FALSE, NULL);
}

static void UnlockRequests(void)
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
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    int allowed;
    (void)device;
    /* "\Device\Norvik\x" would be checked against no descriptor on a
     * system that ignores FILE_DEVICE_SECURE_OPEN: only the device itself opens. */
    if (stack->FileObject && stack->FileObject->FileName.Length != 0)
        return Complete(irp, STATUS_ACCESS_DENIED, 0);
    LockRequests();
    allowed = QzFlavourOpen();
    UnlockRequests();
    return Complete(irp, allowed ? STATUS_SUCCESS : STATUS_DEVICE_NOT_READY, 0);
}

static NTSTATUS NTAPI DispatchClose(PDEVICE_OBJECT device, PIRP irp)
{
    (void)device;
    LockRequests();
    QzFlavourClose();
    UnlockRequests();
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
    LockRequests();
    status = QzDispatchRequest(code, irp->AssociatedIrp.SystemBuffer,
                               stack->Parameters.DeviceIoControl.InputBufferLength,
                               stack->Parameters.DeviceIoControl.OutputBufferLength, &returned);
    UnlockRequests();
    return Complete(irp, ToNtStatus(status), status == RequestOk ? returned : 0);
}

static void NTAPI Unload(PDRIVER_OBJECT driver)
{
    (void)driver;
    IoDeleteSymbolicLink(&LinkName);
    IoDeleteDevice(Device);
    Device = NULL;
    LockRequests();
    QzFlavourStop();
    UnlockRequests();
}

/* Administrators and LocalSystem get every right, nobody else any. */
static NTSTATUS LockDevice(PDEVICE_OBJECT device)
{
    PACL acl = (PACL)AclSpace;
    HANDLE handle;
    NTSTATUS status = RtlCreateAcl(acl, sizeof AclSpace, ACL_REVISION);
    if (NT_SUCCESS(status))
        status = RtlAddAccessAllowedAce(acl, ACL_REVISION, FILE_ALL_ACCESS, (PSID)&AdministratorsSid);
    if (NT_SUCCESS(status))
        status = RtlAddAccessAllowedAce(acl, ACL_REVISION, FILE_ALL_ACCESS, (PSID)&LocalSystemSid);
    if (NT_SUCCESS(status))
        status = RtlCreateSecurityDescriptor(&DeviceSecurity, SECURITY_DESCRIPTOR_REVISION);
    if (NT_SUCCESS(status))
        status = RtlSetDaclSecurityDescriptor(&DeviceSecurity, TRUE, acl, FALSE);
    if (!NT_SUCCESS(status))
        return status;
    status = ObOpenObjectByPointer(device, OBJ_KERNEL_HANDLE, NULL, WRITE_DAC, NULL, KernelMode, &handle);
    if (!NT_SUCCESS(status))
        return status;
    status = ZwSetSecurityObject(handle, DACL_SECURITY_INFORMATION, &DeviceSecurity);
    ZwClose(handle);
    return status;
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
    status = IoCreateDevice(driver, 0, &DeviceName, FILE_DEVICE_UNKNOWN, FILE_DEVICE_SECURE_OPEN, FALSE, &Device);
    if (!NT_SUCCESS(status)) {
        QzFlavourStop();
        return status;
    }
    /* Locked before the link makes it reachable by name. */
    status = LockDevice(Device);
    if (NT_SUCCESS(status))
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
