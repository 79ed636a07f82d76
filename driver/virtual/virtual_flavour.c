/* The virtual flavour of QZF.SYS: the requests reach the virtual card model
 * compiled into the driver (virtual_machine.cpp) instead of the hardware,
 * which this driver never touches. The machine comes from the machine file
 * "QZF.vcm" beside the driver image, read when the driver loads and written
 * back, with its flash contents, request counts and log, when it unloads
 * (whole or not at all: see SaveMachine). */
#include <ntifs.h>

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

static NTSTATUS OpenFileAt(PUNICODE_STRING path, HANDLE* file, ACCESS_MASK access, ULONG disposition, ULONG options)
{
    OBJECT_ATTRIBUTES attributes;
    IO_STATUS_BLOCK io;
    InitializeObjectAttributes(&attributes, path, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE, NULL, NULL);
    return ZwCreateFile(file, access | SYNCHRONIZE, &attributes, &io, NULL, FILE_ATTRIBUTE_NORMAL, FILE_SHARE_READ,
                        disposition, FILE_SYNCHRONOUS_IO_NONALERT | FILE_NON_DIRECTORY_FILE | options, NULL, 0);
}

static NTSTATUS OpenMachineFile(HANDLE* file, ACCESS_MASK access, ULONG disposition)
{
    return OpenFileAt(&MachinePath, file, access, disposition, 0);
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

/* The machine file is written whole or not at all: the bytes go to
 * "QZF.vcm.new" beside it, written through to the disk, and only then does
 * that file take the machine file's name, in one step. A failure, or a stop
 * of the system in the middle, leaves the machine file as it was. */
static NTSTATUS WriteTemporary(PUNICODE_STRING temporary, const uint8_t* buffer, uint32_t length, HANDLE* file)
{
    IO_STATUS_BLOCK io;
    LARGE_INTEGER start;
    NTSTATUS status = OpenFileAt(temporary, file, GENERIC_WRITE | DELETE, FILE_SUPERSEDE, FILE_WRITE_THROUGH);
    if (!NT_SUCCESS(status))
        return status;
    start.QuadPart = 0;
    status = ZwWriteFile(*file, NULL, NULL, NULL, &io, (PVOID)buffer, length, &start, NULL);
    if (NT_SUCCESS(status) && io.Information != length)
        status = STATUS_DISK_FULL;
    return status;
}

/* Another program reading the machine file at that moment (a harness
 * waiting for it) keeps its name from being replaced: try again for a while. */
static NTSTATUS PutInPlace(HANDLE file)
{
    union {
        FILE_RENAME_INFORMATION info;
        UCHAR space[sizeof(FILE_RENAME_INFORMATION) + MACHINE_PATH_CHARS * sizeof(WCHAR)];
    } rename;
    IO_STATUS_BLOCK io;
    LARGE_INTEGER pause;
    NTSTATUS status;
    int attempt;
    RtlZeroMemory(&rename, sizeof rename);
    rename.info.ReplaceIfExists = TRUE;
    rename.info.RootDirectory = NULL;
    rename.info.FileNameLength = MachinePath.Length;
    RtlCopyMemory(rename.info.FileName, MachinePath.Buffer, MachinePath.Length);
    for (attempt = 0;; ++attempt) {
        status = ZwSetInformationFile(file, &io, &rename.info, sizeof rename, FileRenameInformation);
        if (NT_SUCCESS(status) || attempt == 100 ||
            (status != STATUS_SHARING_VIOLATION && status != STATUS_ACCESS_DENIED))
            return status;
        pause.QuadPart = -20 * 10000; /* 20 ms */
        KeDelayExecutionThread(KernelMode, FALSE, &pause);
    }
}

static void Discard(HANDLE file)
{
    FILE_DISPOSITION_INFORMATION disposition;
    IO_STATUS_BLOCK io;
    disposition.DeleteFile = TRUE;
    ZwSetInformationFile(file, &io, &disposition, sizeof disposition, FileDispositionInformation);
}

static void SaveMachine(void)
{
    static const WCHAR Suffix[] = L".new";
    static WCHAR TemporaryText[MACHINE_PATH_CHARS + 8];
    UNICODE_STRING temporary;
    uint32_t capacity = QzvMaxFileSize();
    uint32_t length, chars = MachinePath.Length / sizeof(WCHAR), i;
    HANDLE file = NULL;
    NTSTATUS status;
    uint8_t* buffer = (uint8_t*)ExAllocatePoolWithTag(PagedPool, capacity, POOL_TAG);
    if (!buffer)
        return;
    length = QzvSave(buffer, capacity);
    if (length != 0) {
        for (i = 0; i < chars; ++i)
            TemporaryText[i] = MachinePath.Buffer[i];
        for (i = 0; i < sizeof Suffix / sizeof(WCHAR); ++i)
            TemporaryText[chars + i] = Suffix[i];
        RtlInitUnicodeString(&temporary, TemporaryText);
        status = WriteTemporary(&temporary, buffer, length, &file);
        if (NT_SUCCESS(status))
            status = PutInPlace(file);
        if (!NT_SUCCESS(status) && file)
            Discard(file);
        if (file)
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
