// The setup program's installer command from hostile registry values: the
// INF class name and the Install verb's template come as raw bytes that may
// lack their terminator, and the Windows and setup folders may be as long as
// their buffers allow. The command must be what the template rule gives, or
// the fixed form when the template is unusable, and always fit its buffer.
// Input: family byte, then four texts (length byte + bytes): class name
// value, template value, Windows folder, setup folder.
#include <string.h>

#include <string>

#include "fuzz/fuzz_support.h"
#include "setup_logic.h"

namespace {

std::string FixedForm(uint16_t family, const std::string& setupFolder)
{
    std::string installer = family == SetupFamilyNt ? "rundll32.exe setupapi" : "rundll.exe setupx.dll";
    return installer + ",InstallHinfSection DefaultInstall 132 " + setupFolder + InfFileName(family);
}

// The template rule on strings; false when the template is not usable.
bool TemplateForm(std::string templ, const std::string& windowsFolder, uint16_t family,
                  const std::string& setupFolder, std::string* command)
{
    if (!templ.empty() && templ[0] == '%') {
        size_t second = templ.find('%', 1);
        if (second != std::string::npos) {
            std::string folder = windowsFolder;
            if (!folder.empty() && folder.back() == '\\')
                folder.pop_back();
            templ = folder + templ.substr(second + 1);
            if (templ.size() >= TemplateSize)
                return false;
        }
    }
    size_t marker = templ.find("%1");
    if (marker == std::string::npos)
        return false;
    *command = templ.substr(0, marker) + setupFolder + InfFileName(family) + templ.substr(marker + 2);
    return command->size() < CommandSize;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzInput in = MakeFuzzInput(data, size);
    uint16_t family = (TakeByte(in) & 1) ? SetupFamilyNt : SetupFamily9x;
    char classBytes[RegistryValueSize + 1];
    char templBytes[RegistryValueSize + 1];
    char windowsFolder[SetupPathSize];
    char setupFolder[SetupPathSize];
    size_t classLength = TakeText(in, classBytes, RegistryValueSize);
    size_t templLength = TakeText(in, templBytes, RegistryValueSize);
    TakeText(in, windowsFolder, SetupPathSize - 1);
    TakeText(in, setupFolder, SetupPathSize - 1);

    // The two registry reads as the program makes them.
    char className[RegistryValueSize];
    char templ[RegistryValueSize];
    bool haveClass = RegistryText(className, sizeof className, classBytes, classLength);
    std::string classExpected(classBytes, strnlen(classBytes, classLength));
    FuzzCheck(haveClass == (classExpected.size() < RegistryValueSize), "registry text accepted");
    if (haveClass)
        FuzzCheck(classExpected == className, "registry text copied");
    char keyName[RegistryValueSize + 32];
    if (haveClass && CopyText(keyName, sizeof keyName, className))
        FuzzCheck(AppendText(keyName, sizeof keyName, "\\shell\\install\\command"), "key name fits");
    bool haveTemplate = RegistryText(templ, sizeof templ, templBytes, templLength);

    char command[CommandSize];
    memset(command, '#', sizeof command);
    bool built = ComposeInstallCommand(command, sizeof command, haveTemplate ? templ : nullptr, windowsFolder,
                                       family, setupFolder);
    std::string expected;
    bool fromTemplate =
        haveTemplate && TemplateForm(templ, windowsFolder, family, setupFolder, &expected);
    if (!fromTemplate)
        expected = FixedForm(family, setupFolder);
    bool fits = expected.size() < CommandSize;
    FuzzCheck(built == fits, "command built exactly when it fits");
    FuzzCheck(memchr(command, 0, sizeof command) != nullptr, "command not ended inside its buffer");
    if (built)
        FuzzCheck(expected == command, "command text");
    else
        FuzzCheck(command[0] == 0, "a command that does not fit left text behind");

    // The fixed form alone, as the second attempt builds it.
    char fixed[CommandSize];
    bool fixedBuilt = FixedInstallCommand(fixed, sizeof fixed, family, setupFolder);
    FuzzCheck(fixedBuilt == (FixedForm(family, setupFolder).size() < CommandSize), "fixed form fits");
    if (fixedBuilt)
        FuzzCheck(FixedForm(family, setupFolder) == fixed, "fixed form text");
    return 0;
}
