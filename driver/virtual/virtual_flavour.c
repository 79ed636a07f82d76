/* The virtual flavour of QZF.SYS: the requests reach the virtual card model
 * compiled into the driver (virtual_machine.cpp) instead of the hardware,
 * which this driver never touches. The machine comes from the machine file
 * "QZF.vcm" beside the driver image, read when the driver loads and written
 * back, with its flash contents, request counts and log, when it unloads. */
#include <ntddk.h>

#include "driver/common/flavour.h"
#include "driver/virtual/virtual_machine.h"

#define MACHINE_PATH_CHARS 600
#define POOL_TAG 0x6D765A51 /* 'QZvm' */

static const WCHAR MachineFileName[] = L"QZF.vcm";

static LONGLONG CounterStart;
static WCHAR MachinePathText[MACHINE_PATH_CHARS];
static UNICODE_STRING MachinePath;
static int MachineLoaded;

uint64_t QzRealNs(void)
{
    LARGE_INTEGER frequency;
    LARGE_INTEGER counter = KeQueryPerformanceCounter(&frequency);
    uint64_t ticks, perSecond;
    if (frequency.QuadPart <= 0 || counter.QuadPart < CounterStart)
        return 0;
    ticks = (uint64_t)(counter.QuadPart - CounterStart);
    perSecond = (uint64_t)frequency.QuadPart;
    return ticks / perSecond * 1000000000u + ticks % perSecond * 1000000000u / perSecond;
}

static int Append(const WCHAR* text, uint32_t length, uint32_t* used)
{
    uint32_t i;
    if (*used + length >= MACHINE_PATH_CHARS)
        return 0;
    for (i = 0; i < length; ++i)
        MachinePathText[(*used)++] = text[i];
    MachinePathText[*used] = 0;
    return 1;
}

/* The machine file's path: the folder of the service's image path as an NT
 * path, then the file name. The image path is what the program registered
 * (a drive path), an NT path, or a path relative to the system folder. */
static NTSTATUS FindMachinePath(PUNICODE_STRING registryPath)
{
    OBJECT_ATTRIBUTES attributes;
    HANDLE key;
    UNICODE_STRING valueName;
    union {
        KEY_VALUE_PARTIAL_INFORMATION info;
        UCHAR space[sizeof(KEY_VALUE_PARTIAL_INFORMATION) + MACHINE_PATH_CHARS * sizeof(WCHAR)];
    } value;
    ULONG length = 0;
    const WCHAR* image;
    uint32_t chars, folder = 0, used = 0, i;
    int ok = 1;
    NTSTATUS status;

    InitializeObjectAttributes(&attributes, registryPath, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE, NULL, NULL);
    status = ZwOpenKey(&key, KEY_READ, &attributes);
    if (!NT_SUCCESS(status))
        return status;
    RtlInitUnicodeString(&valueName, L"ImagePath");
    status = ZwQueryValueKey(key, &valueName, KeyValuePartialInformation, &value, sizeof value, &length);
    ZwClose(key);
    if (!NT_SUCCESS(status))
        return status;
    if (value.info.Type != REG_SZ && value.info.Type != REG_EXPAND_SZ)
        return STATUS_OBJECT_TYPE_MISMATCH;

    image = (const WCHAR*)value.info.Data;
    chars = value.info.DataLength / sizeof(WCHAR);
    while (chars > 0 && image[chars - 1] == 0)
        --chars;
    if (chars > 0 && image[0] == L'"') {
        ++image;
        --chars;
        if (chars > 0 && image[chars - 1] == L'"')
            --chars;
    }
    for (i = 0; i < chars; ++i) {
        if (image[i] == L'\\')
            folder = i + 1;
    }

    MachinePathText[0] = 0;
    if (chars >= 2 && image[1] == L':')
        ok = Append(L"\\??\\", 4, &used);
    else if (chars == 0 || image[0] != L'\\')
        ok = Append(L"\\SystemRoot\\", 12, &used);
    ok = ok && Append(image, folder, &used) &&
         Append(MachineFileName, sizeof MachineFileName / sizeof(WCHAR) - 1, &used);
    if (!ok)
        return STATUS_NAME_TOO_LONG;
    RtlInitUnicodeString(&MachinePath, MachinePathText);
    return STATUS_SUCCESS;
}

static NTSTATUS OpenMachineFile(HANDLE* file, ACCESS_MASK access, ULONG disposition)
{
    OBJECT_ATTRIBUTES attributes;
    IO_STATUS_BLOCK io;
    InitializeObjectAttributes(&attributes, &MachinePath, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE, NULL, NULL);
    return ZwCreateFile(file, access | SYNCHRONIZE, &attributes, &io, NULL, FILE_ATTRIBUTE_NORMAL, FILE_SHARE_READ,
                        disposition, FILE_SYNCHRONOUS_IO_NONALERT | FILE_NON_DIRECTORY_FILE, NULL, 0);
}

static NTSTATUS LoadMachine(void)
{
    HANDLE file;
    IO_STATUS_BLOCK io;
    FILE_STANDARD_INFORMATION standard;
    LARGE_INTEGER start;
    uint32_t size = 0;
    uint8_t* buffer = NULL;
    NTSTATUS status = OpenMachineFile(&file, GENERIC_READ, FILE_OPEN);
    if (!NT_SUCCESS(status))
        return status;
    status = ZwQueryInformationFile(file, &io, &standard, sizeof standard, FileStandardInformation);
    if (NT_SUCCESS(status)) {
        if (standard.EndOfFile.QuadPart <= 0 || standard.EndOfFile.QuadPart > QzvMaxFileSize())
            status = STATUS_INVALID_IMAGE_FORMAT;
        else
            size = (uint32_t)standard.EndOfFile.QuadPart;
    }
    if (NT_SUCCESS(status)) {
        buffer = (uint8_t*)ExAllocatePoolWithTag(PagedPool, size, POOL_TAG);
        if (!buffer)
            status = STATUS_INSUFFICIENT_RESOURCES;
    }
    if (NT_SUCCESS(status)) {
        start.QuadPart = 0;
        status = ZwReadFile(file, NULL, NULL, NULL, &io, buffer, size, &start, NULL);
        if (NT_SUCCESS(status) && io.Information != size)
            status = STATUS_END_OF_FILE;
    }
    ZwClose(file);
    if (NT_SUCCESS(status) && !QzvLoad(buffer, size))
        status = STATUS_INVALID_IMAGE_FORMAT;
    if (buffer)
        ExFreePoolWithTag(buffer, POOL_TAG);
    return status;
}

static void SaveMachine(void)
{
    uint32_t capacity = QzvMaxFileSize();
    uint32_t length;
    HANDLE file;
    IO_STATUS_BLOCK io;
    LARGE_INTEGER start;
    uint8_t* buffer = (uint8_t*)ExAllocatePoolWithTag(PagedPool, capacity, POOL_TAG);
    if (!buffer)
        return;
    length = QzvSave(buffer, capacity);
    if (length != 0 && NT_SUCCESS(OpenMachineFile(&file, GENERIC_WRITE, FILE_OVERWRITE_IF))) {
        start.QuadPart = 0;
        ZwWriteFile(file, NULL, NULL, NULL, &io, buffer, length, &start, NULL);
        ZwClose(file);
    }
    ExFreePoolWithTag(buffer, POOL_TAG);
}

long QzFlavourStart(struct _UNICODE_STRING* registryPath)
{
    LARGE_INTEGER frequency;
    NTSTATUS status;
    MachineLoaded = 0;
    CounterStart = KeQueryPerformanceCounter(&frequency).QuadPart;
    status = FindMachinePath(registryPath);
    if (NT_SUCCESS(status))
        status = LoadMachine();
    if (!NT_SUCCESS(status))
        return status;
    MachineLoaded = 1;
    return STATUS_SUCCESS;
}

void QzFlavourStop(void)
{
    if (MachineLoaded)
        SaveMachine();
    MachineLoaded = 0;
}

int QzFlavourOpen(void)
{
    return QzvOpen();
}

void QzFlavourClose(void)
{
    QzvClose();
}
