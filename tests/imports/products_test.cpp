// The check on real programs: probes built by both Windows toolchains, the
// products of the Windows product tree, and the programs of the Windows test tree.
#include <gtest/gtest.h>
#include <stdio.h>
#include <string.h>
#include <strings.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "pe_imports.h"
#include "xp_imports.h"

namespace fs = std::filesystem;

namespace {

std::unique_ptr<PeImportTable> NewTable() { return std::unique_ptr<PeImportTable>(new PeImportTable()); }

bool HasImport(const PeImportTable& t, const char* name) {
    for (int i = 0; i < t.ImportCount; i++)
        if (!t.Imports[i].ByOrdinal && strcmp(t.Imports[i].Name, name) == 0) return true;
    return false;
}

// All problems of one file, one per line; empty when it is clean.
std::string Problems(const std::string& path, ImageKind kind) {
    auto t = NewTable();
    if (!ReadPeImportsFromFile(path.c_str(), t.get())) return path + ": " + t->Error + "\n";
    ImportFinding found[32];
    int count = CheckImports(*t, kind, found, 32);
    std::string s;
    for (int i = 0; i < count && i < 32; i++) s += path + ": " + found[i].Text + "\n";
    if (count > 32) s += path + ": " + std::to_string(count - 32) + " more\n";
    return s;
}

bool StartsWithMz(const std::string& path) {
    char magic[2] = {0, 0};
    FILE* f = fopen(path.c_str(), "rb");
    if (!f) return false;
    size_t n = fread(magic, 1, 2, f);
    fclose(f);
    return n == 2 && magic[0] == 'M' && magic[1] == 'Z';
}

bool HasSuffix(const std::string& name, const char* suffix) {
    size_t n = strlen(suffix);
    if (name.size() < n) return false;
    return strcasecmp(name.c_str() + name.size() - n, suffix) == 0;
}

std::vector<std::string> FilesIn(const char* dir, bool recursive, const std::vector<const char*>& suffixes) {
    std::vector<std::string> files;
    std::error_code ec;
    auto take = [&](const fs::directory_entry& e) {
        if (!e.is_regular_file(ec)) return;
        std::string name = e.path().filename().string();
        for (const char* s : suffixes)
            if (HasSuffix(name, s)) files.push_back(e.path().string());
    };
    if (recursive) {
        for (fs::recursive_directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
            // The Wine prefix holds Windows' own programs, CMakeFiles the compiler checks.
            if (it->is_directory(ec) && (it->path().filename() == "wineprefix" || it->path().filename() == "CMakeFiles"))
                it.disable_recursion_pending();
            take(*it);
        }
    } else {
        for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) take(*it);
    }
    std::sort(files.begin(), files.end());
    return files;
}

// The posix thread model pulls a Vista-only function into every program with
// a guarded static: the check must see it, or it sees nothing.
TEST(ToolchainProbe, PosixThreadModelProgramIsFlagged) {
    if (strlen(QZ_PROBE_POSIX) == 0) GTEST_SKIP() << "no i686-w64-mingw32-g++-posix at configure time";
    auto t = NewTable();
    ASSERT_TRUE(ReadPeImportsFromFile(QZ_PROBE_POSIX, t.get())) << t->Error;
    EXPECT_EQ(PeMachineI386, t->Machine);
    EXPECT_TRUE(HasImport(*t, "GetTickCount64"));
    std::string problems = Problems(QZ_PROBE_POSIX, ImageProduct);
    EXPECT_NE(std::string::npos, problems.find("KERNEL32.dll!GetTickCount64: not on Windows XP")) << problems;
}

TEST(ToolchainProbe, Win32ThreadModelProgramIsClean) {
    if (strlen(QZ_PROBE_WIN32) == 0) GTEST_SKIP() << "no i686-w64-mingw32-g++-win32 at configure time";
    auto t = NewTable();
    ASSERT_TRUE(ReadPeImportsFromFile(QZ_PROBE_WIN32, t.get())) << t->Error;
    EXPECT_TRUE(HasImport(*t, "GetModuleHandleA")) << "the probe should have imports to check";
    EXPECT_EQ("", Problems(QZ_PROBE_WIN32, ImageProduct));
}

TEST(Products, LoadOnWindowsXp) {
    if (strlen(QZ_PRODUCT_DIR) == 0) GTEST_SKIP() << "QZ_PRODUCT_DIR not set: no products were checked";
    std::vector<std::string> programs;
    std::vector<std::string> files = FilesIn(QZ_PRODUCT_DIR, false, {".exe", ".sys", ".dll"});
    // The virtual flavour of the driver ships apart, for demos.
    for (const std::string& f : FilesIn((std::string(QZ_PRODUCT_DIR) + "/virtual").c_str(), false, {".sys"}))
        files.push_back(f);
    for (const std::string& f : files) {
        // Setup ships a settings file in INI form under a .dll name.
        if (HasSuffix(f, ".dll") && !StartsWithMz(f)) continue;
        programs.push_back(f);
    }
    if (programs.empty())
        GTEST_SKIP() << "no programs or drivers in " << QZ_PRODUCT_DIR << ": no products were checked";
    std::string problems;
    for (const std::string& f : programs) {
        std::printf("checking %s\n", f.c_str());
        problems += Problems(f, ProductKind(fs::path(f).filename().string().c_str()));
    }
    EXPECT_EQ("", problems);
}

TEST(WindowsTestPrograms, NeedNoRuntimeDlls) {
    if (strlen(QZ_WINTEST_DIR) == 0) GTEST_SKIP() << "QZ_WINTEST_DIR not set: no test programs were checked";
    std::vector<std::string> files = FilesIn(QZ_WINTEST_DIR, true, {".exe"});
    if (files.empty()) GTEST_SKIP() << "no .exe below " << QZ_WINTEST_DIR << ": no test programs were checked";
    std::string problems;
    for (const std::string& f : files) problems += Problems(f, ImageTestProgram);
    std::printf("checked %zu programs below %s\n", files.size(), QZ_WINTEST_DIR);
    EXPECT_EQ("", problems);
}

// Both flavours of the driver as the test tree builds them for the harness.
TEST(WindowsTestPrograms, DriversImportOnlyTheKernelAndTheHal) {
    if (strlen(QZ_WINTEST_DIR) == 0) GTEST_SKIP() << "QZ_WINTEST_DIR not set: no test drivers were checked";
    std::string problems;
    int checked = 0;
    for (const char* folder : {"/qzflash", "/qzflash-hw"}) {
        for (const std::string& f : FilesIn((std::string(QZ_WINTEST_DIR) + folder).c_str(), false, {".sys"})) {
            problems += Problems(f, ImageDriver);
            checked++;
        }
    }
    if (checked == 0) GTEST_SKIP() << "no drivers below " << QZ_WINTEST_DIR << ": no test drivers were checked";
    EXPECT_EQ(checked, 2) << "one driver of each flavour";
    EXPECT_EQ("", problems);
}

}  // namespace
