// The campaign's own parts: the invariant checks catch what they are for and
// pass a sound run, the scenarios cover the machines, flows and faults they
// claim and always load, and a plain run executes clean.
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/commands.h"
#include "core/state.h"
#include "campaign/campaign.h"
#include "engine/image.h"
#include "hw/hw.h"
#include "platform/run_lock.h"
#include "vcard/host/vcard_host.h"

bool CampaignVerbose;

namespace {

// A sound update: the part holds the image, success was shown.
struct SoundUpdate {
    std::vector<uint8_t> image = std::vector<uint8_t>(4096, 0x5A);
    std::vector<uint8_t> before = std::vector<uint8_t>(65536, 0xFF);
    std::vector<uint8_t> after = std::vector<uint8_t>(65536, 0xFF);
    RunFacts facts;
    char why[InvariantCount][FactTextSize];

    SoundUpdate()
    {
        memcpy(after.data(), image.data(), image.size());
        memset(&facts, 0, sizeof facts);
        facts.flow = FlowUpdate;
        facts.imageKind = ImageGood;
        facts.started = true;
        facts.flowRan = true;
        facts.successShown = true;
        facts.anyBox = true;
        SetBox("Please reboot the system to make the changes you make effective!");
        AddLine("New ROM BIOS version is :04.28.21.00");
        AddLine("Erase BIOS");
        AddLine("Writing Flash with file NEW.ROM");
        AddLine("Flash OK!!");
        facts.romOneSelected = true;
        facts.partBefore = before.data();
        facts.partAfter = after.data();
        facts.partSize = 65536;
        facts.erasesAfter = 1;
        facts.programsAfter = 4096;
        facts.image = image.data();
        facts.imageLength = 4096;
        facts.driverClosed = true;
    }
    void AddLine(const char* text) { snprintf(facts.lines[facts.lineCount++], FactTextSize, "%s", text); }
    void SetBox(const char* text) { snprintf(facts.lastBox, FactTextSize, "%s", text); }
    uint32_t Check() { return CheckRun(facts, why); }
};

TEST(CampaignInvariants, SoundRunsPass)
{
    SoundUpdate update;
    EXPECT_EQ(0u, update.Check()) << update.why[InvSuccessButDiffers];

    // A failed flash that names its step.
    SoundUpdate failed;
    failed.facts.successShown = false;
    failed.facts.lineCount = 2;
    failed.AddLine("Data isn't the same at 17");
    failed.SetBox("Flash faile!!");
    EXPECT_EQ(0u, failed.Check());

    // A save that left a verified file of the ROM's length.
    SoundUpdate save;
    save.facts.flow = FlowSave;
    save.facts.successShown = false;
    save.facts.saveSuccessShown = true;
    save.facts.partBefore = save.after.data();
    save.facts.rom = save.after.data();
    save.facts.romLength = 4096;
    save.facts.fileExists = true;
    save.facts.file = save.image.data();
    save.facts.fileSize = 4096;
    save.facts.erasesAfter = save.facts.erasesBefore;
    save.facts.programsAfter = save.facts.programsBefore;
    EXPECT_EQ(0u, save.Check()) << save.why[InvSaveFile] << save.why[InvRefusedTouched];
}

TEST(CampaignInvariants, EachBrokenPromiseIsCaught)
{
    struct Case {
        const char* name;
        void (*breakIt)(SoundUpdate&);
        Invariant expected;
    };
    const Case cases[] = {
        {"success over a differing byte", [](SoundUpdate& u) { u.after[100] ^= 1; }, InvSuccessButDiffers},
        {"success in ROM 2 of a dual board",
         [](SoundUpdate& u) {
             u.facts.dualBios = true;
             u.facts.romOneSelected = false;
         },
         InvSuccessButDiffers},
        {"a refused image erased the part", [](SoundUpdate& u) {
             u.facts.imageKind = ImageTruncated;
             u.facts.successShown = false;
             u.SetBox("");
             u.facts.lineCount = 0;
             u.AddLine("File open faile  NEW.ROM");
         }, InvRefusedTouched},
        {"a declined flash programmed", [](SoundUpdate& u) {
             u.facts.declined = true;
             u.facts.successShown = false;
         }, InvRefusedTouched},
        {"a flash failure after the programming line", [](SoundUpdate& u) {
             u.facts.successShown = false;
             u.facts.lineCount = 3;
             u.SetBox("Flash faile!!");
         }, InvUntold},
        {"a failure with no line or box", [](SoundUpdate& u) {
             u.facts.successShown = false;
             u.facts.lineCount = 0;
             u.SetBox("");
         }, InvUntold},
        {"a silent start-up failure", [](SoundUpdate& u) {
             u.facts.started = false;
             u.facts.flowRan = false;
             u.facts.successShown = false;
             u.facts.anyBox = false;
             u.after = u.before;
             u.facts.erasesAfter = u.facts.programsAfter = 0;
         }, InvUntold},
        {"ROM access left open", [](SoundUpdate& u) { u.facts.switchOpenAtEnd = true; }, InvSwitchOpen},
        {"a device context kept", [](SoundUpdate& u) { u.facts.openDcsAfterExit = 1; }, InvResources},
        {"the driver left open", [](SoundUpdate& u) { u.facts.driverClosed = false; }, InvResources},
    };
    for (const Case& c : cases) {
        SoundUpdate u;
        c.breakIt(u);
        uint32_t broken = u.Check();
        EXPECT_EQ(1u << c.expected, broken) << c.name << ": " << u.why[c.expected];
        EXPECT_NE(0, u.why[c.expected][0]) << c.name;
    }

    // An open switch is expected when requests failed on purpose.
    SoundUpdate faulty;
    faulty.facts.switchOpenAtEnd = true;
    faulty.facts.requestFaults = true;
    EXPECT_EQ(0u, faulty.Check());
}

TEST(CampaignInvariants, SaveFilesAreVerifiedWholeOrAbsent)
{
    std::vector<uint8_t> rom(4096, 0x33);
    auto save = [&](bool success, bool failure, const std::vector<uint8_t>* file) {
        SoundUpdate u;
        u.facts.flow = FlowSave;
        u.facts.successShown = false;
        u.facts.saveSuccessShown = success;
        u.facts.saveFailureShown = failure;
        u.facts.partBefore = u.facts.partAfter = rom.data();
        u.facts.partSize = 4096;
        u.facts.erasesAfter = u.facts.programsAfter = 0;
        u.facts.rom = rom.data();
        u.facts.romLength = 4096;
        u.facts.image = rom.data();
        u.facts.imageLength = 4096;
        u.facts.fileExists = file != nullptr;
        u.facts.file = file ? file->data() : nullptr;
        u.facts.fileSize = file ? static_cast<uint32_t>(file->size()) : 0;
        return u.Check();
    };
    std::vector<uint8_t> whole = rom;
    std::vector<uint8_t> shortFile(rom.begin(), rom.begin() + 1000);
    std::vector<uint8_t> other = rom;
    other[7] = 0;
    EXPECT_EQ(0u, save(true, false, &whole));
    EXPECT_EQ(0u, save(false, true, nullptr));
    EXPECT_EQ(0u, save(false, true, &whole));   // verify failure: the file stays
    EXPECT_EQ(1u << InvSaveFile, save(false, true, &shortFile));
    EXPECT_EQ(1u << InvSaveFile, save(true, false, &other));
    EXPECT_EQ(1u << InvSaveFile, save(true, false, nullptr));
    EXPECT_EQ(1u << InvSaveFile | 1u << InvUntold, save(false, false, &whole));
}

// Two runs on one dual-BIOS card, the second inside the first's write: ROM 1
// written by the first (which ended last), ROM 2 as it was.
struct SoundTwoRuns {
    std::vector<uint8_t> rom1Before = std::vector<uint8_t>(4096, 0x11);
    std::vector<uint8_t> rom2 = std::vector<uint8_t>(4096, 0x22);
    std::vector<uint8_t> first = std::vector<uint8_t>(2048, 0x5A);
    std::vector<uint8_t> second = std::vector<uint8_t>(2048, 0xA5);
    std::vector<uint8_t> rom1After = rom1Before;
    std::vector<uint8_t> rom2After = rom2;
    TwoRunFacts facts;
    char why[InvariantCount][FactTextSize];

    SoundTwoRuns()
    {
        memcpy(rom1After.data(), first.data(), first.size());
        memset(&facts, 0, sizeof facts);
        facts.firstSucceeded = true;
        facts.secondRefused = true;
        facts.partCount = 2;
        facts.before[0] = rom1Before.data();
        facts.before[1] = rom2.data();
        facts.after[0] = rom1After.data();
        facts.after[1] = rom2After.data();
        facts.partSize[0] = facts.partSize[1] = 4096;
        facts.firstPart = 0;
        facts.secondPart = -1;
        facts.firstImage = first.data();
        facts.firstLength = 2048;
        facts.secondImage = second.data();
        facts.secondLength = 2048;
    }
    uint32_t Check() { return CheckTwoRuns(facts, why); }
};

TEST(CampaignInvariants, TwoRunsOnOneMachine)
{
    struct Case {
        const char* name;
        void (*change)(SoundTwoRuns&);
        bool broken;
    };
    const Case cases[] = {
        {"the second refused at once", [](SoundTwoRuns&) {}, false},
        {"both succeeded, the last one's image in ROM 1",
         [](SoundTwoRuns& t) {
             t.facts.secondRefused = false;
             t.facts.secondSucceeded = true;
             t.facts.secondPart = 0;
         },
         false},
        {"the second failed and ROM 2 changed",
         [](SoundTwoRuns& t) {
             t.facts.secondRefused = false;
             t.rom2After[7] ^= 1;
         },
         false},
        {"the refused run sent requests", [](SoundTwoRuns& t) { t.facts.secondRequests = 3; }, true},
        {"both succeeded, ROM 1 holds the earlier success",
         [](SoundTwoRuns& t) {
             t.facts.secondRefused = false;
             t.facts.secondSucceeded = true;
             t.facts.secondPart = 0;
             memcpy(t.rom1After.data(), t.second.data(), t.second.size());
         },
         true},
        {"both succeeded, ROM 2 changed by neither success",
         [](SoundTwoRuns& t) {
             t.facts.secondRefused = false;
             t.facts.secondSucceeded = true;
             t.rom2After[4095] = 0xFF;
         },
         true},
    };
    for (const Case& c : cases) {
        SoundTwoRuns t;
        c.change(t);
        EXPECT_EQ(c.broken ? 1u << InvTwoRuns : 0u, t.Check()) << c.name << ": " << t.why[InvTwoRuns];
    }
}

// An old file at the save path is the old one byte for byte or the whole
// new image; anything else, gone included, breaks the promise.
TEST(CampaignInvariants, AnOldSaveFileIsKeptOrReplacedWhole)
{
    std::vector<uint8_t> rom(4096, 0x33), old(1000, 0x77);
    std::vector<uint8_t> part(rom.begin(), rom.begin() + 2000), longer = old;
    longer.push_back(0);
    auto save = [&](bool success, const std::vector<uint8_t>* file) {
        SoundUpdate u;
        u.facts.flow = FlowSave;
        u.facts.successShown = false;
        u.facts.saveSuccessShown = success;
        u.facts.saveFailureShown = !success;
        u.facts.partBefore = u.facts.partAfter = rom.data();
        u.facts.partSize = 4096;
        u.facts.erasesAfter = u.facts.programsAfter = 0;
        u.facts.rom = u.facts.image = rom.data();
        u.facts.romLength = u.facts.imageLength = 4096;
        u.facts.fileExists = file != nullptr;
        u.facts.file = file ? file->data() : nullptr;
        u.facts.fileSize = file ? static_cast<uint32_t>(file->size()) : 0;
        u.facts.oldFileExisted = true;
        u.facts.oldFile = old.data();
        u.facts.oldFileSize = static_cast<uint32_t>(old.size());
        return u.Check();
    };
    EXPECT_EQ(0u, save(true, &rom));
    EXPECT_EQ(0u, save(false, &old));
    EXPECT_EQ(1u << InvExistingFile, save(false, nullptr));
    EXPECT_EQ(1u << InvExistingFile | 1u << InvSaveFile, save(false, &part));
    EXPECT_EQ(1u << InvExistingFile | 1u << InvSaveFile, save(false, &longer));
}

// The part files written back as the process ends (here: ended by the file
// size limit in the middle of the first one) are the old ones or whole.
TEST(CampaignFiles, PartFilesEndedMidWriteStayWhole)
{
    std::string folder = ::testing::TempDir() + "qzcampaign_parts";
    ASSERT_EQ(0, system(("rm -rf '" + folder + "' && mkdir -p '" + folder + "'").c_str()));
    const std::string profile = "card 1:0 0x10DE:0x0281 bar0=0xE0000000 dual=rom1\n"
                                "part 29EE010 image=04.28.20.05 file=PART1.BIN\n"
                                "part 29EE010 image=04.28.20.06 file=PART2.BIN\n";
    VcMachine* machine = VcNewMachine();
    char error[512];
    ASSERT_TRUE(VcLoadProfileText(profile.c_str(), "p", folder.c_str(), machine, error, sizeof error)) << error;
    ASSERT_TRUE(VcSaveFlashFiles(machine, error, sizeof error)) << error;
    std::vector<CampaignBytes> old = ReadPartFiles(machine);
    ASSERT_EQ(old.size(), 2u);
    for (int i = 0; i < 2; ++i)
        memset(machine->cards[0].parts[i].data, 0x42 + i, machine->cards[0].parts[i].size);

    pid_t child = fork();
    if (child == 0) {
        LimitFileWrites(50000);
        VcSaveFlashFiles(machine, error, sizeof error);
        _exit(0);
    }
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGXFSZ) << status;
    uint32_t kept = 0, replaced = 0;
    char why[FactTextSize] = "";
    EXPECT_TRUE(PartFilesKeptOrWhole(machine, old, &kept, &replaced, why, sizeof why)) << why;
    EXPECT_EQ(kept, 2u);
    ASSERT_TRUE(VcSaveFlashFiles(machine, error, sizeof error)) << error;
    kept = replaced = 0;
    EXPECT_TRUE(PartFilesKeptOrWhole(machine, old, &kept, &replaced, why, sizeof why)) << why;
    EXPECT_EQ(replaced, 2u);

    // A part file cut short is caught.
    FILE* f = fopen((folder + "/PART2.BIN").c_str(), "r+b");
    ASSERT_NE(nullptr, f);
    ASSERT_EQ(0, ftruncate(fileno(f), 1000));
    fclose(f);
    EXPECT_FALSE(PartFilesKeptOrWhole(machine, old, &kept, &replaced, why, sizeof why));
    EXPECT_NE(nullptr, strstr(why, "PART2.BIN: 1000 bytes")) << why;
    VcFreeMachine(machine);
    EXPECT_EQ(0, system(("rm -rf '" + folder + "'").c_str()));
}

TEST(CampaignScenarios, CoverEveryPartFlowAndFaultAndLoad)
{
    std::set<std::string> parts;
    std::set<int> flows, buses, pages;
    uint32_t faults = 0;
    bool dual = false, manyCards = false, quick = false, refused = false;
    VcMachine* machine = VcNewMachine();
    ASSERT_NE(nullptr, machine);
    for (uint32_t run = 0; run < 1500; ++run) {
        Scenario s = DrawScenario(11, run);
        // Loading costs a machine's worth of memory: every tenth is enough
        // to catch a generator that writes what the loader refuses.
        char error[256];
        if (run % 10 == 0) {
            ASSERT_TRUE(VcLoadProfileText(s.profile.c_str(), "scenario", nullptr, machine, error, sizeof error))
                << error << "\n" << s.profile;
        }
        parts.insert(s.partName);
        flows.insert(s.flow);
        buses.insert(s.bus);
        pages.insert(s.pageSize);
        faults |= s.faults;
        dual = dual || s.dualBoard;
        manyCards = manyCards || s.cardCount > 1;
        quick = quick || s.ntMinor == 1;
        refused = refused || (s.flow == FlowUpdate && ImageMustBeRefused(s.image));
    }
    VcFreeMachine(machine);
    std::set<std::string> listed;
    for (int i = 0; i < VcPartTypeCount(); ++i)
        listed.insert(VcPartTypeName(VcPartTypeAt(i)));
    EXPECT_EQ(listed, parts);
    EXPECT_EQ(3u, flows.size());
    EXPECT_EQ(3u, buses.size());
    EXPECT_EQ((std::set<int>{1, 128, 256}), pages);
    EXPECT_EQ((1u << FaultKindCount) - 1, faults);
    EXPECT_TRUE(dual && manyCards && quick && refused);
}

// The image files the campaign writes must be what it claims: the bad kinds
// refused by the load or the checks before an erase, the good ones taken.
TEST(CampaignScenarios, ImageFilesAreRefusedExactlyWhenTheyShouldBe)
{
    CardTable[0] = CardRecord{0x10DE, 0x0281, 0, 0, 1, 0, 0xE0000000};
    CurrentCard = 0;
    std::string path = ::testing::TempDir() + "qzcampaign_image.rom";
    for (uint16_t page : {1, 128, 256}) {
        for (int k = 0; k < ImageKindCount; ++k) {
            if (k == ImageMissing)
                continue;
            Scenario s = {};
            s.run = static_cast<uint32_t>(k) * 7 + page;
            s.image = static_cast<ImageKind>(k);
            s.imageLength = (k == ImageLongFile || k == Image65535) ? 65536 : 4096;
            s.longFileBytes = 65537;
            std::vector<uint8_t> file = CampaignImageFile(s, 0x10DE, 0x0281);
            FILE* f = fopen(path.c_str(), "wb");
            ASSERT_NE(nullptr, f);
            ASSERT_TRUE(file.empty() || fwrite(file.data(), 1, file.size(), f) == file.size());
            ASSERT_EQ(0, fclose(f));

            bool accepted = LoadImageFile(ImageBuffer, path.c_str()) && CheckImageIds() &&
                            CheckImageFit(page, 0, ImageLength);
            bool refused = ImageMustBeRefused(s.image) && !(s.image == ImagePageMisfit && page == 1);
            EXPECT_EQ(!refused, accepted) << ImageKindName(s.image) << ", page " << page;
        }
    }
    remove(path.c_str());
}

TEST(CampaignScenarios, AreReplayedFromSeedAndRun)
{
    Scenario a = DrawScenario(5, 42);
    Scenario b = DrawScenario(5, 42);
    Scenario c = DrawScenario(6, 42);
    EXPECT_EQ(a.profile, b.profile);
    EXPECT_EQ(DescribeScenario(a), DescribeScenario(b));
    EXPECT_NE(DescribeScenario(a) + a.profile, DescribeScenario(c) + c.profile);
}

TEST(CampaignRun, AGoodUpdateWithoutFaultsRunsClean)
{
    // The first faultless update of a good image on one card.
    Scenario s = {};
    uint32_t run = 0;
    for (; run < 500; ++run) {
        s = DrawScenario(3, run);
        if (s.flow == FlowUpdate && s.image == ImageGood && s.faults == 0 && s.confirm && s.cardCount == 1 &&
            !s.reserved && !s.longPath)
            break;
    }
    ASSERT_LT(run, 500u);
    std::string folder = ::testing::TempDir() + "qzcampaign_test";
    ASSERT_EQ(0, system(("mkdir -p '" + folder + "' && echo x > '" + folder + "/QZF.sys'").c_str()));
    VcMachine* machine = VcNewMachine();
    char error[256];
    ASSERT_TRUE(VcLoadProfileText(s.profile.c_str(), "scenario", folder.c_str(), machine, error, sizeof error))
        << error;
    RunVerdict verdict;
    ExecuteRun(s, machine, folder.c_str(), &verdict);
    EXPECT_EQ(0u, verdict.violations) << DescribeScenario(s);
    EXPECT_EQ(ResultSucceeded, verdict.result) << DescribeScenario(s);
    EXPECT_GT(verdict.requests, s.imageLength);
    EXPECT_EQ(0, verdict.wrotePart);
    EXPECT_EQ(s.imageLength, verdict.wroteLength);

    // While another run holds the machine a run is refused before any request.
    RunLock held;
    long holder = 0;
    int lockError = 0;
    ASSERT_EQ(RunLockTaken, RunLockTake((folder + "/machine.lock").c_str(), true, &held, &holder, &lockError));
    uint64_t requests = machine->requestCount;
    ExecuteRun(s, machine, folder.c_str(), &verdict);
    RunLockRelease(&held);
    EXPECT_TRUE(verdict.lockRefused);
    EXPECT_EQ(static_cast<long>(getpid()), verdict.lockHolder);
    EXPECT_EQ(ResultNoFlow, verdict.result);
    EXPECT_EQ(requests, machine->requestCount);
    VcFreeMachine(machine);
    EXPECT_EQ(0, system(("rm -rf '" + folder + "'").c_str()));
}

} // namespace
