#include <gtest/gtest.h>
#include <string.h>

#include <memory>
#include <string>

#include "pe_builder.h"
#include "pe_imports.h"
#include "xp_imports.h"

namespace {

std::unique_ptr<PeImportTable> NewTable() { return std::unique_ptr<PeImportTable>(new PeImportTable()); }

std::string Dump(const PeImportTable& t) {
    std::string s;
    for (int i = 0; i < t.ImportCount; i++) {
        const PeImport& imp = t.Imports[i];
        s += t.Dlls[imp.Dll];
        s += t.DllDelayed[imp.Dll] ? "~" : "!";
        s += imp.ByOrdinal ? "#" + std::to_string(imp.Ordinal) : std::string(imp.Name);
        s += " ";
    }
    return s;
}

std::string Findings(const PeImportTable& t, ImageKind kind, int* count) {
    ImportFinding found[16];
    *count = CheckImports(t, kind, found, 16);
    std::string s;
    for (int i = 0; i < *count && i < 16; i++) s += std::string(found[i].Text) + "\n";
    return s;
}

class ImportReader : public ::testing::TestWithParam<bool> {};

TEST_P(ImportReader, ReadsNamesOrdinalsAndDelayLoadsInOrder) {
    const bool pe32plus = GetParam();
    FakePe pe = BuildPe(pe32plus,
                        {{"KERNEL32.dll", {"GetModuleHandleA", "ExitProcess"}, false},
                         {"LZ32.dll", {"LZCopy"}, true},
                         {"USER32.dll", {"#17", "MessageBoxA"}, false}},
                        2);
    auto t = NewTable();
    ASSERT_TRUE(ReadPeImports(pe.Bytes.data(), pe.Bytes.size(), t.get())) << t->Error;
    EXPECT_EQ(pe32plus, t->Pe32Plus);
    EXPECT_EQ(pe32plus ? PeMachineAmd64 : PeMachineI386, t->Machine);
    EXPECT_EQ(2, t->Subsystem);
    ASSERT_EQ(3, t->DllCount);
    // Bound imports come first, then the delay-loaded ones.
    EXPECT_STREQ("KERNEL32.dll", t->Dlls[0]);
    EXPECT_STREQ("USER32.dll", t->Dlls[1]);
    EXPECT_STREQ("LZ32.dll", t->Dlls[2]);
    EXPECT_EQ("KERNEL32.dll!GetModuleHandleA KERNEL32.dll!ExitProcess USER32.dll!#17 USER32.dll!MessageBoxA "
              "LZ32.dll~LZCopy ",
              Dump(*t));
}

INSTANTIATE_TEST_SUITE_P(Pe32AndPe32Plus, ImportReader, ::testing::Bool());

TEST(ImportReader, NoImportsAtAllIsAnEmptyTable) {
    FakePe pe = BuildPe(false, {});
    auto t = NewTable();
    ASSERT_TRUE(ReadPeImports(pe.Bytes.data(), pe.Bytes.size(), t.get())) << t->Error;
    EXPECT_EQ(0, t->DllCount);
    EXPECT_EQ(0, t->ImportCount);
}

TEST(ImportReader, OverlongNamesAreCutNotOverrun) {
    std::string longName(PeNameSize + 40, 'A');
    FakePe pe = BuildPe(false, {{"KERNEL32.dll", {longName.c_str(), "Sleep"}, false}});
    auto t = NewTable();
    ASSERT_TRUE(ReadPeImports(pe.Bytes.data(), pe.Bytes.size(), t.get())) << t->Error;
    ASSERT_EQ(2, t->ImportCount);
    EXPECT_EQ(std::string(PeNameSize - 1, 'A'), t->Imports[0].Name);
    EXPECT_STREQ("Sleep", t->Imports[1].Name);
}

// Every way of cutting the file short must be reported, never read past the end.
TEST(ImportReader, EveryTruncationIsRefused) {
    FakePe pe = BuildPe(false, {{"KERNEL32.dll", {"Sleep"}, false}, {"LZ32.dll", {"LZCopy"}, true}});
    auto t = NewTable();
    for (size_t size = 0; size < pe.Bytes.size(); size++) {
        std::vector<uint8_t> cut(pe.Bytes.begin(), pe.Bytes.begin() + size);
        EXPECT_FALSE(ReadPeImports(cut.data(), cut.size(), t.get())) << "cut at " << size;
        EXPECT_NE(0, t->Error[0]) << "cut at " << size;
    }
}

TEST(ImportReader, RefusesDamagedHeadersAndDirectories) {
    const FakePe good = BuildPe(false, {{"KERNEL32.dll", {"Sleep"}, false}});
    struct Damage {
        const char* What;
        size_t At;
        uint8_t Value;
        const char* Expected;
    };
    const size_t opt = 0x40 + 24;
    const Damage damages[] = {
        {"MZ", 0, 'X', "no MZ header"},
        {"PE signature", 0x40, 'Q', "no PE signature"},
        {"e_lfanew far out", 0x3E, 0x7F, "no PE signature"},
        {"optional magic", opt, 0x07, "unknown optional header magic"},
        {"import RVA outside sections", opt + 96 + 8 + 2, 0x40, "import directory runs outside"},
        {"DLL name RVA", good.ImportDirectoryOffset + 12 + 2, 0x30, "DLL name at RVA"},
        {"lookup table RVA", good.ImportDirectoryOffset + 2, 0x30, "lookup table of KERNEL32.dll"},
    };
    auto t = NewTable();
    for (const Damage& d : damages) {
        std::vector<uint8_t> bytes = good.Bytes;
        bytes[d.At] = d.Value;
        EXPECT_FALSE(ReadPeImports(bytes.data(), bytes.size(), t.get())) << d.What;
        EXPECT_NE(nullptr, strstr(t->Error, d.Expected)) << d.What << ": " << t->Error;
    }
}

TEST(ImportReader, MissingFileIsAnError) {
    auto t = NewTable();
    EXPECT_FALSE(ReadPeImportsFromFile("/nonexistent/QZFlash.exe", t.get()));
    EXPECT_NE(nullptr, strstr(t->Error, "cannot open"));
}

TEST(XpRules, KnowsWhichFunctionsXpLacks) {
    const char* postXp[] = {"GetTickCount64",       "InitOnceExecuteOnce",      "AcquireSRWLockExclusive",
                            "TryAcquireSRWLockShared", "WakeAllConditionVariable", "FlsAlloc",
                            "CreateEventExW",       "RegGetValueA",             "K32GetModuleBaseNameA",
                            "SetProcessDPIAware"};
    const char* onXp[] = {"GetTickCount",    "FlushFileBuffers", "CreateEventW", "CreateEventA",
                          "RegQueryValueExA", "Sleep",            "InitializeCriticalSection",
                          "DeviceIoControl", "KillTimer"};
    for (const char* name : postXp) EXPECT_TRUE(IsPostXpFunction(name)) << name;
    for (const char* name : onXp) EXPECT_FALSE(IsPostXpFunction(name)) << name;
}

TEST(XpRules, ProductsMayImportOnlyXpSystemFunctions) {
    FakePe pe = BuildPe(false, {{"KERNEL32.dll", {"Sleep", "GetTickCount64", "AcquireSRWLockExclusive"}, false},
                                {"libwinpthread-1.dll", {"pthread_mutex_lock"}, false},
                                {"msvcrt.dll", {"printf"}, false},
                                {"user32.dll", {"#5"}, true}});
    auto t = NewTable();
    ASSERT_TRUE(ReadPeImports(pe.Bytes.data(), pe.Bytes.size(), t.get())) << t->Error;
    int count = 0;
    EXPECT_EQ("libwinpthread-1.dll: not a system DLL of Windows XP\n"
              "KERNEL32.dll!GetTickCount64: not on Windows XP\n"
              "KERNEL32.dll!AcquireSRWLockExclusive: not on Windows XP\n",
              Findings(*t, ImageProduct, &count));
    EXPECT_EQ(3, count);
    // Test programs run under Wine: only the DLLs matter there.
    EXPECT_EQ("libwinpthread-1.dll: not a system DLL of Windows XP\n", Findings(*t, ImageTestProgram, &count));
}

TEST(XpRules, DriversImportOnlyFromTheKernelAndTheHal) {
    EXPECT_EQ(ImageDriver, ProductKind("QZF.SYS"));
    EXPECT_EQ(ImageDriver, ProductKind("qzf.sys"));
    EXPECT_EQ(ImageProduct, ProductKind("QZFlash.exe"));
    EXPECT_EQ(ImageProduct, ProductKind("sys"));

    FakePe pe = BuildPe(false, {{"ntoskrnl.exe", {"IoCreateDevice", "ExAllocatePool2"}, false},
                                {"HAL.dll", {"READ_PORT_UCHAR"}, false},
                                {"USER32.dll", {"MessageBoxA"}, false}},
                        1);
    auto t = NewTable();
    ASSERT_TRUE(ReadPeImports(pe.Bytes.data(), pe.Bytes.size(), t.get())) << t->Error;
    int count = 0;
    EXPECT_EQ("USER32.dll (driver): not a system DLL of Windows XP\n"
              "ntoskrnl.exe!ExAllocatePool2: not on Windows XP\n",
              Findings(*t, ImageDriver, &count));
}

TEST(XpRules, CountsFindingsBeyondTheRoomGiven) {
    FakePe pe = BuildPe(false, {{"a.dll", {}, false}, {"b.dll", {}, false}, {"c.dll", {}, false}});
    auto t = NewTable();
    ASSERT_TRUE(ReadPeImports(pe.Bytes.data(), pe.Bytes.size(), t.get())) << t->Error;
    ImportFinding found[2];
    memset(found, 0, sizeof found);
    EXPECT_EQ(3, CheckImports(*t, ImageProduct, found, 1));
    EXPECT_NE(nullptr, strstr(found[0].Text, "a.dll"));
    EXPECT_EQ(0, found[1].Text[0]);
}

}  // namespace
