// Installer command, paths and registry text of QZSetup.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "setup_logic.h"

namespace {

std::string Command(const char* templ, const char* windowsFolder, uint16_t family, const char* setupFolder) {
  char out[CommandSize];
  memset(out, 'x', sizeof out);
  EXPECT_TRUE(ComposeInstallCommand(out, sizeof out, templ, windowsFolder, family, setupFolder));
  EXPECT_LT(strnlen(out, sizeof out), sizeof out);
  return out;
}

std::string Repeat(char c, size_t count) { return std::string(count, c); }

const char SystemRootTemplate[] =
    "%SystemRoot%\\System32\\rundll32.exe setupapi,InstallHinfSection DefaultInstall 132 %1";

TEST(InstallCommand, TemplateWithLeadingVariableNamesTheWindowsFolder) {
  EXPECT_EQ(Command(SystemRootTemplate, "D:\\WINNT", SetupFamilyNt, "E:\\DRIVER\\"),
            "D:\\WINNT\\System32\\rundll32.exe setupapi,InstallHinfSection DefaultInstall 132 E:\\DRIVER\\QZFNT.inf");
  // Any variable name stands for the Windows folder; a root folder loses its
  // backslash so that exactly one separates it from the rest.
  EXPECT_EQ(Command("%WINDIR%\\rundll32.exe setupapi,X %1", "C:\\", SetupFamilyNt, "C:\\QZ\\"),
            "C:\\rundll32.exe setupapi,X C:\\QZ\\QZFNT.inf");
  // The Windows 9x family puts its own INF into the same template.
  EXPECT_EQ(Command("%a%\\run %1", "C:\\WINDOWS", SetupFamily9x, "A:\\"), "C:\\WINDOWS\\run A:\\QZF9x.inf");
}

TEST(InstallCommand, TemplateWithoutLeadingVariableIsUsedAsItIs) {
  EXPECT_EQ(Command("C:\\windows\\system32\\rundll32.exe setupapi,InstallHinfSection DefaultInstall 132 %1",
                    "C:\\windows", SetupFamilyNt, "C:\\qz setup\\"),
            "C:\\windows\\system32\\rundll32.exe setupapi,InstallHinfSection DefaultInstall 132 C:\\qz setup\\QZFNT.inf");
  // A single "%" at the start is no variable; only the first "%1" is filled
  // and the text after it is kept.
  EXPECT_EQ(Command("%1 then tail", "C:\\W", SetupFamilyNt, "F:\\"), "F:\\QZFNT.inf then tail");
  EXPECT_EQ(Command("x%1 y %1", "C:\\W", SetupFamilyNt, "F:\\"), "xF:\\QZFNT.inf y %1");
  // Two "%" make a leading variable whatever lies between them: here it eats
  // the first "%1", none is left and the fixed form follows.
  EXPECT_EQ(Command("%1 then %1 tail", "C:\\W", SetupFamilyNt, "F:\\"),
            "rundll32.exe setupapi,InstallHinfSection DefaultInstall 132 F:\\QZFNT.inf");
  EXPECT_EQ(Command("x%1", "C:\\W", SetupFamily9x, "F:\\a b\\"), "xF:\\a b\\QZF9x.inf");
}

TEST(InstallCommand, FixedFormWhenThereIsNoUsableTemplate) {
  const char fixed9x[] = "rundll.exe setupx.dll,InstallHinfSection DefaultInstall 132 A:\\QZF9x.inf";
  const char fixedNt[] = "rundll32.exe setupapi,InstallHinfSection DefaultInstall 132 A:\\QZFNT.inf";
  EXPECT_EQ(Command(nullptr, "C:\\WINDOWS", SetupFamily9x, "A:\\"), fixed9x);
  EXPECT_EQ(Command(nullptr, "C:\\WINDOWS", SetupFamilyNt, "A:\\"), fixedNt);
  EXPECT_EQ(Command("rundll32.exe setupapi,InstallHinfSection DefaultInstall 132", "C:\\W", SetupFamilyNt, "A:\\"),
            fixedNt);
  EXPECT_EQ(Command("%SystemRoot%\\no marker", "C:\\W", SetupFamily9x, "A:\\"), fixed9x);
  EXPECT_EQ(Command("", "C:\\W", SetupFamily9x, "A:\\"), fixed9x);
}

TEST(InstallCommand, LongInputsFallBackInsteadOfOverflowing) {
  // Longest setup folder: 127 characters with its backslash.
  std::string folder = "C:\\" + Repeat('d', 123) + "\\";
  ASSERT_EQ(folder.size(), 127u);
  std::string fixed = Command(nullptr, "C:\\W", SetupFamilyNt, folder.c_str());
  EXPECT_EQ(fixed, "rundll32.exe setupapi,InstallHinfSection DefaultInstall 132 " + folder + "QZFNT.inf");

  // 127-character template with the longest folder: the command would pass
  // 255 characters, so the fixed form is used.
  std::string templ = Repeat('t', 125) + "%1";
  EXPECT_EQ(Command(templ.c_str(), "C:\\W", SetupFamilyNt, folder.c_str()), fixed);
  // The same template with a short folder fits.
  EXPECT_EQ(Command(templ.c_str(), "C:\\W", SetupFamilyNt, "A:\\"), Repeat('t', 125) + "A:\\QZFNT.inf");

  // A leading variable that grows the template past 155 characters.
  std::string windows = "C:\\" + Repeat('w', 100);
  std::string grown = "%v%" + Repeat('r', 60) + "%1";
  EXPECT_EQ(Command(grown.c_str(), windows.c_str(), SetupFamily9x, "A:\\"),
            "rundll.exe setupx.dll,InstallHinfSection DefaultInstall 132 A:\\QZF9x.inf");
  std::string fits = "%v%" + Repeat('r', 50) + "%1";
  EXPECT_EQ(Command(fits.c_str(), windows.c_str(), SetupFamily9x, "A:\\"),
            windows + Repeat('r', 50) + "A:\\QZF9x.inf");
}

TEST(InstallCommand, SmallOutputBufferIsNeverOverrun) {
  char out[32];
  memset(out, 'x', sizeof out);
  EXPECT_FALSE(FixedInstallCommand(out, 20, SetupFamilyNt, "A:\\"));
  EXPECT_STREQ(out, "");
  EXPECT_EQ(out[20], 'x');
  EXPECT_FALSE(ComposeTemplateCommand(out, 8, "abc %1 def", "A:\\", "QZFNT.inf"));
  EXPECT_EQ(out[8], 'x');
}

TEST(RegistryValue, UnterminatedOrOversizedValuesAreRefused) {
  char out[RegistryValueSize];
  char data[RegistryValueSize];
  memset(data, 'v', sizeof data);
  // All 128 bytes used and no terminator: no room left for one.
  EXPECT_FALSE(RegistryText(out, sizeof out, data, sizeof data));
  EXPECT_STREQ(out, "");
  // 127 characters without a terminator still fit.
  ASSERT_TRUE(RegistryText(out, sizeof out, data, 127));
  EXPECT_EQ(std::string(out), Repeat('v', 127));
  // A terminator inside the value ends it; the byte count is not trusted further.
  memcpy(data, "inffile\0junk", 12);
  ASSERT_TRUE(RegistryText(out, sizeof out, data, 12));
  EXPECT_STREQ(out, "inffile");
  ASSERT_TRUE(RegistryText(out, sizeof out, data, 0));
  EXPECT_STREQ(out, "");
}

TEST(SetupPaths, FolderAndFileJoinWithOneBackslash) {
  char out[SetupPathSize];
  ASSERT_TRUE(FolderFilePath(out, sizeof out, "C:\\WINDOWS", "nrvk2.ini"));
  EXPECT_STREQ(out, "C:\\WINDOWS\\nrvk2.ini");
  ASSERT_TRUE(FolderFilePath(out, sizeof out, "D:\\", "Nrvk3.ini"));
  EXPECT_STREQ(out, "D:\\Nrvk3.ini");
  std::string longFolder = "C:\\" + Repeat('f', 120);
  EXPECT_FALSE(FolderFilePath(out, sizeof out, longFolder.c_str(), "DARadid.avi"));
  EXPECT_STREQ(out, "");

  ASSERT_TRUE(FolderOfModulePath(out, sizeof out, "C:\\qz setup\\QZSetup.exe"));
  EXPECT_STREQ(out, "C:\\qz setup\\");
  ASSERT_TRUE(FolderOfModulePath(out, sizeof out, "QZSetup.exe"));
  EXPECT_STREQ(out, "");
  std::string deep = "C:\\" + Repeat('p', 130) + "\\QZSetup.exe";
  EXPECT_FALSE(FolderOfModulePath(out, sizeof out, deep.c_str()));
}

TEST(SetupPaths, AppendKeepsTheOldTextOnOverflow) {
  char out[8] = "abc";
  EXPECT_TRUE(AppendText(out, sizeof out, "defg"));
  EXPECT_STREQ(out, "abcdefg");
  EXPECT_FALSE(AppendText(out, sizeof out, "h"));
  EXPECT_STREQ(out, "abcdefg");
}

TEST(SetupPlatform, OnlyPlatformIdTwoIsTheNtFamily) {
  EXPECT_EQ(PlatformFamily(2), SetupFamilyNt);
  EXPECT_EQ(PlatformFamily(1), SetupFamily9x);
  EXPECT_EQ(PlatformFamily(0), SetupFamily9x);
  EXPECT_EQ(PlatformFamily(3), SetupFamily9x);
  EXPECT_STREQ(InfFileName(SetupFamilyNt), "QZFNT.inf");
  EXPECT_STREQ(InfFileName(SetupFamily9x), "QZF9x.inf");
}

TEST(IdleWaitTicks, ElapsedTimeSurvivesTheCounterWrap) {
  EXPECT_FALSE(WaitElapsed(1000, 1500, 1000));
  EXPECT_FALSE(WaitElapsed(1000, 2000, 1000));
  EXPECT_TRUE(WaitElapsed(1000, 2001, 1000));
  // Started 0x100 ticks before the wrap: neither done at once nor never.
  EXPECT_FALSE(WaitElapsed(0xFFFFFF00u, 0xFFFFFFFFu, 1000));
  EXPECT_FALSE(WaitElapsed(0xFFFFFF00u, 0x00000100u, 1000));
  EXPECT_TRUE(WaitElapsed(0xFFFFFF00u, 0x000002E9u, 1000));
}

}  // namespace
