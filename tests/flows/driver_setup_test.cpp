// The driver service for the length of a run, and the driver file check.
#include <string.h>

#include "app/main_window.h"
#include "core/state.h"
#include "flow_fixture.h"
#include "hw/driver_setup.h"
#include "platform/recording/flow_recording.h"
#include "platform/recording/recording_ui.h"

namespace {

class DriverSetup : public FlowTest {
protected:
    void SetUp() override
    {
        FlowTest::SetUp();
        IsNtFamily = true;
        ASSERT_TRUE(SetProgramFolder());
    }
    // A service another folder registered, stopped or still running its
    // driver.
    void ForeignService(bool running)
    {
        ScriptedServices.callCount = 0;
        ScriptedServices.exists = true;
        ScriptedServices.running = running;
        strcpy(ScriptedServices.serviceName, "Norvik");
        strcpy(ScriptedServices.imagePath, "D:\\old\\QZF.SYS");
        if (running)
            DriverAlreadyRunning();
    }
    ServiceHandle manager = 0;
};

TEST_F(DriverSetup, ServiceStepsReportTheirTableResults)
{
    manager = SvcOpenManager();
    ASSERT_NE(manager, 0u);

    // Removing or stopping what is not there fails; so does a start.
    EXPECT_FALSE(StopDriverService(manager, "Norvik"));
    EXPECT_FALSE(RemoveDriverService(manager, "Norvik"));
    EXPECT_FALSE(StartDriverService(manager, "Norvik"));

    EXPECT_TRUE(InstallDriverService(manager, "Norvik", "C:\\QZ\\QZF.SYS"));
    EXPECT_TRUE(InstallDriverService(manager, "Norvik", "C:\\elsewhere\\QZF.SYS"));   // exists: counts as installed
    EXPECT_STREQ(ScriptedServices.imagePath, "C:\\QZ\\QZF.SYS");
    EXPECT_TRUE(StartDriverService(manager, "Norvik"));
    EXPECT_TRUE(StartDriverService(manager, "Norvik"));   // already running: counts as started
    EXPECT_EQ(ScriptedServices.calls[ScriptedServiceLastCall(SvcCallStart)].error, ServiceErrorAlreadyRunning);

    ScriptedServices.stopFails = true;
    EXPECT_FALSE(StopDriverService(manager, "Norvik"));
    ScriptedServices.stopFails = false;
    EXPECT_TRUE(StopDriverService(manager, "Norvik"));
    ScriptedServices.deleteFails = true;
    EXPECT_FALSE(RemoveDriverService(manager, "Norvik"));
    ScriptedServices.deleteFails = false;
    EXPECT_TRUE(RemoveDriverService(manager, "Norvik"));
    EXPECT_FALSE(ScriptedServices.exists);

    ScriptedServices.createError = 5;   // access denied
    EXPECT_FALSE(InstallDriverService(manager, "Norvik", "C:\\QZ\\QZF.SYS"));
    ScriptedServices.createError = 0;
    ASSERT_TRUE(InstallDriverService(manager, "Norvik", "C:\\QZ\\QZF.SYS"));
    ScriptedServices.startError = 2;   // file not found
    EXPECT_FALSE(StartDriverService(manager, "Norvik"));

    SvcClose(manager);
    EXPECT_EQ(ScriptedServices.openHandles, 0);
}

// The service manager is only asked what the running driver's service names.
void ExpectServiceUntouched()
{
    for (ScriptedServiceCallKind kind : {SvcCallCreate, SvcCallStart, SvcCallStop, SvcCallDelete, SvcCallSetImagePath})
        EXPECT_EQ(ScriptedServiceCallCount(kind), 0u) << "call kind " << int(kind);
    EXPECT_EQ(ScriptedServices.openHandles, 0);
}

TEST_F(DriverSetup, RunningDriverIsOpenedAndLeftAlone)
{
    ASSERT_TRUE(Machine(OneCardProfile));
    DriverAlreadyRunning();
    ASSERT_TRUE(OpenHardware());
    EXPECT_EQ(AccessMode, AccessDriver);
    EXPECT_TRUE(DriverWasRunning);
    EXPECT_NE(DeviceHandle, 0u);
    EXPECT_EQ(CardCount, 1);
    EXPECT_TRUE(CloseHardware());
    EXPECT_EQ(DeviceHandle, 0u);
    EXPECT_EQ(machine->deviceCloses, 1u);
    ExpectServiceUntouched();

    // The same when its service names this program's driver, in the form the
    // manager gives a driver's path.
    ScriptedServices.exists = true;
    ScriptedServices.running = true;
    strcpy(ScriptedServices.serviceName, "Norvik");
    std::string ours = "\\??\\" + folder + "qzf.sys";
    strcpy(ScriptedServices.imagePath, ours.c_str());
    ScriptedServices.callCount = 0;
    ASSERT_TRUE(OpenHardware());
    EXPECT_TRUE(DriverWasRunning);
    EXPECT_TRUE(CloseHardware());
    EXPECT_EQ(ScriptedServiceCallCount(SvcCallGetImagePath), 1u);
    ExpectServiceUntouched();
    EXPECT_TRUE(ScriptedServices.running);
}

TEST_F(DriverSetup, ServiceInstalledForTheRunIsRemovedAtTheEnd)
{
    ASSERT_TRUE(Machine(OneCardProfile));
    ASSERT_TRUE(OpenHardware());
    EXPECT_FALSE(DriverWasRunning);
    EXPECT_TRUE(ScriptedServices.running);
    EXPECT_STREQ(ScriptedServices.serviceName, "Norvik");
    EXPECT_EQ(std::string(ScriptedServices.imagePath), folder + "QZF.SYS");
    EXPECT_EQ(ScriptedServiceCallCount(SvcCallCreate), 1u);
    EXPECT_EQ(ScriptedServiceCallCount(SvcCallStart), 1u);
    EXPECT_EQ(ScriptedServiceCallCount(SvcCallStop), 0u);
    EXPECT_EQ(machine->deviceOpens, 1u);
    EXPECT_EQ(ScriptedServices.openHandles, 0);

    EXPECT_TRUE(CloseHardware());
    EXPECT_FALSE(ScriptedServices.running);
    EXPECT_FALSE(ScriptedServices.exists);
    EXPECT_EQ(machine->deviceCloses, 1u);
    EXPECT_EQ(ScriptedServices.openHandles, 0);
    // The device was closed before the service was stopped.
    EXPECT_LT(ScriptedServiceLastCall(SvcCallStart), ScriptedServiceLastCall(SvcCallStop));
    EXPECT_LT(ScriptedServiceLastCall(SvcCallStop), ScriptedServiceLastCall(SvcCallDelete));
}

// A service another folder registered (a run killed there leaves it behind),
// stopped or still running its driver, is pointed at this program's driver
// before anything is started or used; the run then removes it as its own.
TEST_F(DriverSetup, ServiceOfAnotherFolderIsPointedAtThisProgramsDriver)
{
    for (bool running : {false, true}) {
        SCOPED_TRACE(running ? "running" : "stopped");
        ASSERT_TRUE(Machine(OneCardProfile));
        ForeignService(running);
        ASSERT_TRUE(OpenHardware());
        EXPECT_EQ(std::string(ScriptedServices.imagePath), folder + "QZF.SYS");
        EXPECT_FALSE(DriverWasRunning);
        EXPECT_TRUE(ScriptedServices.running);
        EXPECT_LT(ScriptedServiceLastCall(SvcCallSetImagePath), ScriptedServiceLastCall(SvcCallStart));
        EXPECT_LT(ScriptedServiceLastCall(SvcCallStop), ScriptedServiceLastCall(SvcCallSetImagePath));
        EXPECT_EQ(machine->deviceOpens, running ? 2u : 1u);
        EXPECT_EQ(machine->deviceCloses, running ? 1u : 0u);  // the old driver's handle went first
        EXPECT_TRUE(CloseHardware());
        EXPECT_FALSE(ScriptedServices.exists);
        EXPECT_EQ(ScriptedServices.openHandles, 0);
        EXPECT_EQ(Recording.boxCount, 0u);
    }
}

// A driver that takes its time to stop is waited for, a hundred checks a
// tenth of a second apart; one that never stops is given up on, untouched.
uint32_t StopChecks;
uint32_t StoppedFromCheck;

void StopsSlowly(ScriptedServiceCallKind kind)
{
    if (kind == SvcCallStop)
        ScriptedServices.running = true;  // still stopping
    if (kind == SvcCallIsStopped && ++StopChecks >= StoppedFromCheck)
        ScriptedServices.running = false;
}

TEST_F(DriverSetup, ARunningServiceOfAnotherFolderIsWaitedForUntilItStops)
{
    const struct {
        uint32_t stoppedFromCheck;
        bool claimed;
        uint32_t checks;
    } rows[] = {
        {4, true, 4},
        {101, true, 101},
        {102, false, 101},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.stoppedFromCheck);
        ASSERT_TRUE(Machine(OneCardProfile));
        ForeignService(true);
        StopChecks = 0;
        StoppedFromCheck = row.stoppedFromCheck;
        ScriptedServices.afterCall = StopsSlowly;
        const VcTime start = machine->now;
        const bool opened = OpenHardware();
        ScriptedServices.afterCall = 0;
        EXPECT_EQ(opened, row.claimed);
        EXPECT_EQ(StopChecks, row.checks);
        EXPECT_GE(machine->now - start, (row.checks - 1) * 100000000ull);
        EXPECT_EQ(std::string(ScriptedServices.imagePath), row.claimed ? folder + "QZF.SYS" : "D:\\old\\QZF.SYS");
        if (opened) {
            EXPECT_TRUE(CloseHardware());
        }
    }
}

// When it cannot be changed, the run says so, ends as a driver that cannot
// be opened ends, and leaves the service as it found it.
TEST_F(DriverSetup, ServiceOfAnotherFolderThatCannotBeChangedEndsTheStartUp)
{
    for (int failure = 0; failure < 2; ++failure) {
        SCOPED_TRACE(failure == 0 ? "stop fails" : "change fails");
        ASSERT_TRUE(Machine(OneCardProfile));
        Recording.boxCount = 0;
        ScriptedServices.callCount = 0;
        ScriptedServices.exists = true;
        ScriptedServices.running = true;
        strcpy(ScriptedServices.serviceName, "Norvik");
        strcpy(ScriptedServices.imagePath, "D:\\old\\QZF.SYS");
        ScriptedServices.stopFails = failure == 0;
        ScriptedServices.setImageFails = failure == 1;
        DriverAlreadyRunning();
        MainWindow = RecordedMainWindow;
        EXPECT_FALSE(OpenHardware());
        EXPECT_EQ(DeviceHandle, 0u);
        EXPECT_EQ(CardCount, 0);
        ASSERT_EQ(Recording.boxCount, 1u);
        EXPECT_STREQ(Recording.boxes[0].text, "The Norvik driver service uses another QZF.SYS and cannot be changed.");
        EXPECT_STREQ(Recording.boxes[0].caption, "Error");
        EXPECT_EQ(ScriptedServiceCallCount(SvcCallCreate), 0u);
        EXPECT_EQ(ScriptedServiceCallCount(SvcCallStart), 0u);
        EXPECT_TRUE(CloseHardware());
        EXPECT_TRUE(ScriptedServices.exists);
        EXPECT_EQ(ScriptedServiceCallCount(SvcCallDelete), 0u);
        EXPECT_STREQ(ScriptedServices.imagePath, "D:\\old\\QZF.SYS");
        EXPECT_EQ(ScriptedServices.openHandles, 0);
    }
    // Unattended, the same without a box.
    AutoMode = true;
    ScriptedServices.running = true;
    EXPECT_FALSE(OpenDriver());  // the driver alone says so as well
    EXPECT_FALSE(OpenHardware());
    EXPECT_EQ(Recording.boxCount, 1u);
}

TEST_F(DriverSetup, FailedInstallIsRetriedOnceAfterStopAndRemove)
{
    ASSERT_TRUE(Machine(OneCardProfile));
    ScriptedServices.exists = true;   // a broken entry the install cannot replace
    strcpy(ScriptedServices.serviceName, "Norvik");
    strcpy(ScriptedServices.imagePath, (folder + "QZF.SYS").c_str());
    ScriptedServices.createError = 1072;   // marked for deletion
    ScriptedServices.createFailures = 1;
    ASSERT_TRUE(OpenHardware());
    const ScriptedServiceCallKind expected[] = {
        SvcCallOpenManager, SvcCallOpen,  SvcCallGetImagePath, SvcCallClose,  SvcCallCreate, SvcCallOpen,
        SvcCallStop,        SvcCallClose, SvcCallOpen,         SvcCallDelete, SvcCallClose,  SvcCallCreate,
        SvcCallClose,       SvcCallOpen,  SvcCallStart,        SvcCallClose,  SvcCallClose};
    ASSERT_EQ(ScriptedServices.callCount, sizeof expected / sizeof expected[0]);
    for (size_t i = 0; i < sizeof expected / sizeof expected[0]; ++i)
        EXPECT_EQ(ScriptedServices.calls[i].kind, expected[i]) << "call " << i;
    EXPECT_EQ(std::string(ScriptedServices.imagePath), folder + "QZF.SYS");
}

VcMachine* StartWatch;

void DeviceAppearsAfterStart(ScriptedServiceCallKind kind)
{
    if (kind == SvcCallStart)
        StartWatch->deviceOpenFails = false;
}

TEST_F(DriverSetup, DeviceThatOpensAfterAFailedStartIsKeptButReportedAsFailure)
{
    ASSERT_TRUE(Machine(OneCardProfile));
    ScriptedServices.startError = 577;   // the system refuses the driver's signature
    StartWatch = machine;
    ScriptedServices.afterCall = DeviceAppearsAfterStart;
    EXPECT_FALSE(OpenDriver());
    ScriptedServices.afterCall = 0;
    EXPECT_FALSE(DriverWasRunning);
    EXPECT_NE(DeviceHandle, 0u);
    AccessMode = AccessDriver;
    EXPECT_TRUE(CloseHardware());
    EXPECT_EQ(DeviceHandle, 0u);
    EXPECT_EQ(machine->deviceCloses, 1u);
}

TEST_F(DriverSetup, NoServiceManagerMeansNoDevice)
{
    ASSERT_TRUE(Machine(OneCardProfile));
    ScriptedServices.managerUnavailable = true;
    EXPECT_FALSE(OpenHardware());
    EXPECT_EQ(DeviceHandle, 0u);
    EXPECT_EQ(CardCount, 0);   // no discovery without the driver
    // Every step is tried and fails: the look at an old entry, install, stop,
    // remove, install again, start.
    EXPECT_EQ(ScriptedServiceCallCount(SvcCallCreate), 2u);
    EXPECT_EQ(ScriptedServiceCallCount(SvcCallOpen), 4u);
    for (uint32_t i = 0; i < ScriptedServices.callCount; ++i)
        EXPECT_FALSE(ScriptedServices.calls[i].ok) << "call " << i;
    EXPECT_EQ(ScriptedServiceCallCount(SvcCallClose), 0u);
}

TEST_F(DriverSetup, NoCardRemovesTheServiceAtOnceAndASecondCloseFindsNothing)
{
    ASSERT_TRUE(Machine("device 0:0 0x8086:0x2570 class=0x060000\n"));
    EXPECT_FALSE(OpenHardware());
    EXPECT_FALSE(ScriptedServices.exists);
    EXPECT_EQ(DeviceHandle, 0u);
    uint32_t callsAfterOpen = ScriptedServices.callCount;

    EXPECT_TRUE(CloseHardware());
    // Stop and remove are tried again and find no service.
    ASSERT_GT(ScriptedServices.callCount, callsAfterOpen);
    for (uint32_t i = callsAfterOpen; i < ScriptedServices.callCount; ++i) {
        if (ScriptedServices.calls[i].kind == SvcCallOpen) {
            EXPECT_FALSE(ScriptedServices.calls[i].ok);
        }
        EXPECT_NE(ScriptedServices.calls[i].kind, SvcCallStop);
        EXPECT_NE(ScriptedServices.calls[i].kind, SvcCallDelete);
    }
    EXPECT_EQ(machine->deviceCloses, 1u);
    EXPECT_EQ(ScriptedServices.openHandles, 0);
}

TEST_F(DriverSetup, DriverFileOfThePlatformMustBeBesideTheProgram)
{
    MainWindow = RecordedMainWindow;
    EXPECT_TRUE(CheckDriverFile());
    IsNtFamily = false;
    EXPECT_TRUE(CheckDriverFile());
    EXPECT_EQ(Recording.boxCount, 0u);

    remove(PathOf("QZF.vxd").c_str());
    EXPECT_FALSE(CheckDriverFile());
    ASSERT_EQ(Recording.boxCount, 1u);
    EXPECT_STREQ(Recording.boxes[0].text, "QZF.vxd not exist!");
    EXPECT_STREQ(Recording.boxes[0].caption, "Error");
    EXPECT_EQ(Recording.boxes[0].owner, RecordedMainWindow);

    IsNtFamily = true;
    remove(PathOf("QZF.sys").c_str());
    EXPECT_FALSE(CheckDriverFile());
    EXPECT_EQ(LastBox(), "QZF.sys not exist!");

    AutoMode = true;
    EXPECT_FALSE(CheckDriverFile());
    EXPECT_EQ(Recording.boxCount, 2u);
}

TEST_F(DriverSetup, OverlongProgramPathBuildsNoDriverPath)
{
    std::string deep = "C:\\" + std::string(250, 'd') + "\\QZFlash.exe";
    strcpy(ScriptedSys.modulePath, deep.c_str());
    char path[PathBufferSize];
    EXPECT_FALSE(ProgramFilePath(DriverImageName, path, sizeof path));
    EXPECT_STREQ(path, "");
    // A program path without a folder gives the name alone.
    strcpy(ScriptedSys.modulePath, "QZFlash.exe");
    EXPECT_TRUE(ProgramFilePath(DriverImageName, path, sizeof path));
    EXPECT_STREQ(path, DriverImageName);
    // A program path that fits, in a folder that leaves no room for the name.
    std::string full = "C:\\" + std::string(PathBufferSize - 11, 'f') + "\\Q.exe";
    strcpy(ScriptedSys.modulePath, full.c_str());
    memset(path, 'X', sizeof path);
    EXPECT_FALSE(ProgramFilePath(DriverImageName, path, sizeof path));
    EXPECT_STREQ(path, "");
    ScriptedSys.modulePath[0] = 0;  // the system call failed
    EXPECT_FALSE(ProgramFilePath(DriverImageName, path, sizeof path));
    EXPECT_STREQ(path, "");
    strcpy(ScriptedSys.modulePath, deep.c_str());

    ASSERT_TRUE(Machine(OneCardProfile));
    EXPECT_FALSE(OpenDriver());
    EXPECT_EQ(DeviceHandle, 0u);  // nothing for the close to act on
    EXPECT_EQ(ScriptedServiceCallCount(SvcCallCreate), 0u);

    // A path the system had to cut is not taken as the program folder.
    std::string cut = "C:\\" + std::string(300, 'e');
    strcpy(ScriptedSys.modulePath, cut.c_str());
    EXPECT_FALSE(SetProgramFolder());
    EXPECT_EQ(LastBox(), "The program folder path is too long.");
    ScriptedSys.modulePath[0] = 0;  // the system call failed
    EXPECT_FALSE(SetProgramFolder());
    EXPECT_STREQ(ProgramFolder, "");
}

} // namespace
