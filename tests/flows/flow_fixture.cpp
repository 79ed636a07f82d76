#include "flow_fixture.h"

#include <stdio.h>
#include <string.h>

#include <filesystem>

#include "app/commands.h"
#include "app/main_window.h"
#include "core/state.h"
#include "core/status.h"
#include "engine/image.h"
#include "engine/parts.h"
#include "hw/driver_setup.h"
#include "platform/recording/flow_recording.h"
#include "platform/recording/recording_ui.h"

const char OneCardProfile[] =
    "card 1:0 0x10DE:0x0281 subsystem=0x1043:0x80A1 bar0=0xFD000000 interface=parallel\n"
    "part 39VF010 image=04.28.20.05\n";

const char DualBiosProfile[] =
    "card 1:0 0x10DE:0x0253 bar0=0xE4000000 dual=rom2\n"
    "part 39VF010 image=04.25.00.28\n"
    "part 39VF010 image=04.25.00.31\n";

namespace {

VcMachine* Running;

void TieDeviceToService(bool running)
{
    if (Running)
        Running->deviceOpenFails = !running;
}

void ResetProgramState()
{
    MainWindow = 0;
    WindowDC = 0;
    AutoMode = false;
    IsNtFamily = false;
    NtNot2000 = false;
    memset(ProgramFolder, 0, sizeof ProgramFolder);
    FlashBusy = false;
    DualBios = false;
    SelectedCard = 0;
    memset(ImageBuffer, 0, sizeof ImageBuffer);
    memset(SpareImageBuffer, 0, sizeof SpareImageBuffer);
    ImageLength = 0;
    ImageLoaded = false;
    memset(FilePath, 0, sizeof FilePath);
    memset(FileTitle, 0, sizeof FileTitle);
    memset(StatusLines, 0, sizeof StatusLines);
    LastStatusLine = 0;
    StatusText[0] = 0;
    ProgressDone = 0;
    ProgressTotal = 0;
    ProgressVisible = false;
    FlashInterface = 0;
    FlashMakerId = 0;
    FlashDeviceId = 0;
    CurrentPart = 0;
    CardVendorId = 0;
    CardDeviceId = 0;
    DriverWasRunning = false;
    MainWindowAlive = false;
}

} // namespace

void FlowTest::SetUp()
{
    VcardTest::SetUp();
    ResetProgramState();
    FlowRecordingReset();
    Running = machine;
    ScriptedServices.runningChanged = TieDeviceToService;

    const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::filesystem::path base = std::filesystem::path(::testing::TempDir()) /
                                 (std::string("qzflows_") + info->test_suite_name() + "_" + info->name());
    std::string name = base.string();
    for (char& c : name) {
        if (c == '/' && std::filesystem::path::preferred_separator == '\\')
            c = '\\';
    }
    std::error_code error;
    std::filesystem::remove_all(name, error);
    std::filesystem::create_directories(name, error);
    folder = name + static_cast<char>(std::filesystem::path::preferred_separator);
    std::string module = folder + "QZFlash.exe";
    ASSERT_LT(module.size(), sizeof ScriptedSys.modulePath);
    strcpy(ScriptedSys.modulePath, module.c_str());
    const uint8_t driver[] = "driver";
    ASSERT_TRUE(WriteFile(PathOf("QZF.sys"), driver, sizeof driver));
    ASSERT_TRUE(WriteFile(PathOf("QZF.vxd"), driver, sizeof driver));
}

void FlowTest::TearDown()
{
    ScriptedServices.runningChanged = 0;
    Running = 0;
    std::error_code error;
    std::filesystem::remove_all(folder, error);
    VcardTest::TearDown();
}

bool FlowTest::Machine(const char* profileText)
{
    if (!LoadMachine(profileText))
        return false;
    machine->deviceOpenFails = !ScriptedServices.running;
    return true;
}

void FlowTest::DriverAlreadyRunning()
{
    machine->deviceOpenFails = false;
}

std::string FlowTest::PathOf(const char* name) const
{
    return folder + name;
}

bool FlowTest::WriteFile(const std::string& path, const uint8_t* data, size_t bytes)
{
    FILE* file = fopen(path.c_str(), "wb");
    if (!file)
        return false;
    bool ok = bytes == 0 || fwrite(data, 1, bytes, file) == bytes;
    return fclose(file) == 0 && ok;
}

std::string FlowTest::ReadWholeFile(const std::string& path)
{
    std::string content;
    FILE* file = fopen(path.c_str(), "rb");
    if (!file)
        return content;
    char chunk[4096];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, file)) > 0)
        content.append(chunk, n);
    fclose(file);
    return content;
}

bool FlowTest::Exists(const std::string& path)
{
    std::error_code error;
    return std::filesystem::exists(path, error);
}

void FlowTest::MakeImage(uint8_t* out, uint32_t length, uint16_t vendorId, uint16_t deviceId, const char* version)
{
    VcBiosImageSpec spec;
    memset(&spec, 0, sizeof spec);
    ASSERT_TRUE(VcParseBiosVersion(version, &spec));
    spec.vendorId = vendorId;
    spec.deviceId = deviceId;
    spec.length = length;
    ASSERT_TRUE(VcMakeBiosImage(spec, out, ImageBufferSize));
}

std::string FlowTest::Line(int index) const
{
    std::string line = StatusLines[index];
    while (!line.empty() && line.back() == ' ')
        line.pop_back();
    return line;
}

std::string FlowTest::LastBox() const
{
    if (Recording.boxCount == 0 || Recording.boxCount > RecordedBoxCapacity)
        return "";
    return Recording.boxes[Recording.boxCount - 1].text;
}
