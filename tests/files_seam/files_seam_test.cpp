// The files seam of the shipped programs (Win32 under Wine, the console one
// on Linux) writes a file whole or not at all: nothing at the path changes
// before the commit, a failure or an abandoned write leaves the old file
// byte for byte and no temporary file behind, and what is no regular file is
// refused untouched.
#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#if defined(_WIN32)
#include <windows.h>
#else
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "platform/files.h"
#include "platform/replace/replace.h"

#if !defined(_WIN32)
#include "platform/console/console.h"

// The names of the program's own that the console seam reads and writes.
extern const char DriverImageName[] = "QZF.SYS";
bool ConsoleDriverBuiltIn;
FILE* ConsoleErr;
ConsoleRecord ConsoleSeen;
ConsoleHandedImage ConsoleImageChoice;
#endif

namespace {

namespace fs = std::filesystem;

class FilesSeam : public ::testing::Test {
protected:
    void SetUp() override
    {
#if !defined(_WIN32)
        ConsoleErr = tmpfile();
        unsigned long process = static_cast<unsigned long>(getpid());
#else
        unsigned long process = GetCurrentProcessId();
#endif
        folder = fs::temp_directory_path() / ("qz-files-" + std::to_string(process));
        fs::remove_all(folder);
        ASSERT_TRUE(fs::create_directories(folder));
    }
    void TearDown() override
    {
#if !defined(_WIN32)
        if (ConsoleErr)
            fclose(ConsoleErr);
        ConsoleErr = nullptr;
#else
        ReplaceWindowsFamily = ReplaceFamilyUnknown;
#endif
        std::error_code error;
        fs::remove_all(folder, error);
    }

    std::string Path(const char* name) const
    {
        return (folder / name).string();
    }

    static void Put(const std::string& path, const std::string& bytes)
    {
        FILE* f = fopen(path.c_str(), "wb");
        ASSERT_NE(f, nullptr) << path;
        ASSERT_EQ(fwrite(bytes.data(), 1, bytes.size(), f), bytes.size());
        ASSERT_EQ(fclose(f), 0);
    }
    static std::string Get(const std::string& path)
    {
        std::string bytes;
        FILE* f = fopen(path.c_str(), "rb");
        if (!f)
            return "<none>";
        char chunk[4096];
        size_t n;
        while ((n = fread(chunk, 1, sizeof chunk, f)) > 0)
            bytes.append(chunk, n);
        fclose(f);
        return bytes;
    }
    static std::vector<std::string> Entries(const fs::path& where)
    {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(where))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
    std::vector<std::string> Entries() const
    {
        return Entries(folder);
    }

#if !defined(_WIN32)
    // What the console seam told on stderr.
    static std::string Told()
    {
        std::string text(4096, 0);
        rewind(ConsoleErr);
        text.resize(fread(&text[0], 1, text.size(), ConsoleErr));
        return text;
    }
#endif

    FileHandle Begin(const std::string& path, const std::string& bytes)
    {
        FileHandle file = FileCreate(path.c_str());
        uint32_t done = 0;
        EXPECT_NE(file, 0u);
        if (file) {
            EXPECT_TRUE(FileWrite(file, bytes.data(), static_cast<uint32_t>(bytes.size()), &done));
            EXPECT_EQ(done, bytes.size());
        }
        return file;
    }

    fs::path folder;
};

const std::string OldBytes = std::string(30000, 'o') + "the only copy";
const std::string NewBytes(65536, 'n');

TEST_F(FilesSeam, ANewFileAppearsWholeAtTheCommit)
{
    std::string target = Path("BACKUP.ROM");
    FileHandle file = Begin(target, NewBytes);
    EXPECT_FALSE(fs::exists(target));
    ASSERT_TRUE(FileCommit(file));
    EXPECT_TRUE(Get(target) == NewBytes);
    EXPECT_EQ(Entries(), std::vector<std::string>{"BACKUP.ROM"});
}

// The new file takes the old one's place: a second name of the old file
// still shows the old bytes, so they were never written over.
TEST_F(FilesSeam, AnOldFileIsReplacedInOneStepNeverWrittenInto)
{
    std::string target = Path("BACKUP.ROM"), second = Path("SECOND.NAME");
    Put(target, OldBytes);
#if defined(_WIN32)
    ASSERT_TRUE(CreateHardLinkA(second.c_str(), target.c_str(), nullptr));
#else
    ASSERT_EQ(chmod(target.c_str(), 0640), 0);
    ASSERT_EQ(link(target.c_str(), second.c_str()), 0);
#endif
    FileHandle file = Begin(target, NewBytes);
    EXPECT_TRUE(Get(target) == OldBytes) << "the old file changed before the commit";
    ASSERT_TRUE(FileCommit(file));
    EXPECT_TRUE(Get(target) == NewBytes);
    EXPECT_TRUE(Get(second) == OldBytes);
    EXPECT_EQ(Entries(), (std::vector<std::string>{"BACKUP.ROM", "SECOND.NAME"}));
#if !defined(_WIN32)
    struct stat info;
    ASSERT_EQ(stat(target.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u);
#endif
}

TEST_F(FilesSeam, AWriteGivenUpOrNotPutInPlaceLeavesTheOldFileByteForByte)
{
    std::string target = Path("BACKUP.ROM");
    Put(target, OldBytes);
    FileHandle file = Begin(target, NewBytes.substr(0, 1000));
    FileAbort(file);
    EXPECT_TRUE(Get(target) == OldBytes);
    EXPECT_EQ(Entries(), std::vector<std::string>{"BACKUP.ROM"});

#if defined(_WIN32)
    // Held open by another program that does not let it be replaced, on
    // either road to the target's place.
    for (ReplaceFamily family : {ReplaceFamilyNt, ReplaceFamily9x}) {
        SCOPED_TRACE(family == ReplaceFamilyNt ? "MoveFileExA" : "moved aside and back");
        ReplaceWindowsFamily = family;
        HANDLE holder = CreateFileA(target.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(holder, INVALID_HANDLE_VALUE);
        file = Begin(target, NewBytes);
        EXPECT_FALSE(FileCommit(file));
        CloseHandle(holder);
        EXPECT_TRUE(Get(target) == OldBytes);
        EXPECT_EQ(Entries(), std::vector<std::string>{"BACKUP.ROM"});
        // And with nothing in the way it goes through.
        file = Begin(target, NewBytes);
        EXPECT_TRUE(FileCommit(file));
        EXPECT_TRUE(Get(target) == NewBytes);
        EXPECT_EQ(Entries(), std::vector<std::string>{"BACKUP.ROM"});
        Put(target, OldBytes);
    }
#endif
}

TEST_F(FilesSeam, WhatIsNoRegularFileIsRefusedUntouched)
{
    fs::create_directory(folder / "ROMS");
    Put(Path("ROMS/A.ROM"), "a");
    struct Target {
        std::string path;
        const char* says;
    };
    std::vector<Target> targets = {{Path("ROMS"), "is not a regular file"}};
#if defined(_WIN32)
    targets.push_back({"NUL", ""});
    targets.push_back({"\\\\.\\NUL", ""});
#else
    ASSERT_EQ(mkfifo(Path("PIPE").c_str(), 0600), 0);
    ASSERT_EQ(symlink("PIPE", Path("TO-PIPE").c_str()), 0);
    ASSERT_EQ(symlink("NOWHERE", Path("TO-NOTHING").c_str()), 0);
    targets.push_back({"/dev/null", "is not a regular file"});
    targets.push_back({Path("PIPE"), "is not a regular file"});
    targets.push_back({Path("TO-PIPE"), "is not a regular file"});
    targets.push_back({Path("TO-NOTHING"), "is a symbolic link that leads to no file"});
#endif
    std::vector<std::string> before = Entries();
    for (const Target& t : targets) {
        SCOPED_TRACE(t.path.c_str());
        EXPECT_EQ(FileCreate(t.path.c_str()), 0u);
        EXPECT_EQ(Entries(), before);
#if !defined(_WIN32)
        EXPECT_NE(Told().find(t.path + " " + t.says), std::string::npos) << Told();
#endif
    }
    EXPECT_TRUE(fs::is_directory(folder / "ROMS"));
    EXPECT_TRUE(Get(Path("ROMS/A.ROM")) == "a");
#if !defined(_WIN32)
    EXPECT_TRUE(fs::is_fifo(Path("PIPE")));
    EXPECT_TRUE(fs::is_symlink(Path("TO-NOTHING")));
    EXPECT_FALSE(fs::exists(folder / "NOWHERE"));
#endif
}

#if !defined(_WIN32)
// A link is followed: the file it leads to is replaced in its own folder.
TEST_F(FilesSeam, ALinkKeepsLeadingToTheReplacedFile)
{
    fs::create_directory(folder / "kept");
    Put(Path("kept/BIOS.ROM"), OldBytes);
    ASSERT_EQ(symlink("kept/BIOS.ROM", Path("LINK.ROM").c_str()), 0);
    FileHandle file = Begin(Path("LINK.ROM"), NewBytes);
    ASSERT_TRUE(FileCommit(file));
    EXPECT_TRUE(fs::is_symlink(Path("LINK.ROM")));
    EXPECT_TRUE(Get(Path("kept/BIOS.ROM")) == NewBytes);
    EXPECT_EQ(Entries(), (std::vector<std::string>{"LINK.ROM", "kept"}));
    EXPECT_EQ(Entries(folder / "kept"), std::vector<std::string>{"BIOS.ROM"});
}

// The system refuses the bytes (a file size limit stands in for a full
// disk), or ends the process in the middle of the write: the old file stays.
TEST_F(FilesSeam, AWriteTheSystemStopsLeavesTheOldFile)
{
    std::string target = Path("BACKUP.ROM");
    for (bool killed : {false, true}) {
        SCOPED_TRACE(killed ? "killed mid-write" : "write refused");
        Put(target, OldBytes);
        pid_t child = fork();
        if (child == 0) {
            struct rlimit limit = {4096, RLIM_INFINITY};
            setrlimit(RLIMIT_FSIZE, &limit);
            signal(SIGXFSZ, killed ? SIG_DFL : SIG_IGN);
            FileHandle file = FileCreate(target.c_str());
            uint32_t done = 0;
            if (!file || FileWrite(file, NewBytes.data(), static_cast<uint32_t>(NewBytes.size()), &done))
                _exit(1);
            FileAbort(file);
            _exit(done == 4096 ? 0 : 2);
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        if (killed) {
            EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGXFSZ) << status;
        } else {
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
            EXPECT_EQ(Entries(), std::vector<std::string>{"BACKUP.ROM"});
        }
        EXPECT_TRUE(Get(target) == OldBytes);
    }
}
#endif

}  // namespace
