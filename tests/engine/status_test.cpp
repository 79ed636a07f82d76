// The status store: line arithmetic, clearing, bounds and the draws it asks for.
#include <gtest/gtest.h>
#include <string.h>
#include <string>
#include "core/status.h"
#include "platform/recording/recording_ui.h"

namespace {

const std::string Blanks(127, ' ');

class StatusStore : public ::testing::Test {
protected:
    void SetUp() override
    {
        memset(StatusLines, 0, sizeof StatusLines);
        LastStatusLine = 0;
        StatusText[0] = 0;
        ProgressVisible = false;
        RecordingReset();
    }
};

TEST_F(StatusStore, HeaderThenCommandLinesLandWhereTheWindowExpectsThem)
{
    ClearAllStatus();
    EXPECT_EQ(Blanks, StatusLines[0]);
    for (const char* header : {"h1", "h2", "h3", "h4"})
        EXPECT_TRUE(AddStatusText(header, 0));
    EXPECT_EQ(4, LastStatusLine);
    EXPECT_STREQ("h4", StatusLines[4]);

    AddStatusText("old 5", 0);
    AddStatusText("old 6", 0);
    AddStatusText("old 7", 0);
    strcpy(StatusText, "pending");
    ClearCommandStatus();
    EXPECT_EQ(4, LastStatusLine);
    EXPECT_EQ('\0', StatusText[0]);
    EXPECT_STREQ("h4", StatusLines[4]);
    EXPECT_EQ(Blanks, StatusLines[7]);

    AddStatusText("first", 0);
    AddStatusText("second", 0);
    EXPECT_STREQ("first", StatusLines[5]);
    EXPECT_STREQ("second", StatusLines[6]);
    DrawStatusLines(reinterpret_cast<DcHandle>(0x77));
    const RecordedStatusDraw* draw = RecordingLastStatusDraw();
    ASSERT_NE(nullptr, draw);
    EXPECT_EQ(8, draw->lineCount);   // lines 0 to 7
    EXPECT_EQ(reinterpret_cast<DcHandle>(0x77), draw->dc);
    EXPECT_STREQ("second", draw->lines[6]);
}

TEST_F(StatusStore, ModesAndAppending)
{
    ClearAllStatus();
    EXPECT_FALSE(AddStatusText("x", 2));
    EXPECT_FALSE(AddStatusText("x", -1));
    EXPECT_EQ(0, LastStatusLine);

    AddStatusText("New ", 0);
    EXPECT_TRUE(AddStatusText(" read BIOS faile", 1));
    EXPECT_STREQ("New  read BIOS faile", StatusLines[1]);

    std::string longText(200, 'a');
    AddStatusText(longText.c_str(), 1);
    EXPECT_EQ(127u, strlen(StatusLines[1]));
    AddStatusText(longText.c_str(), 0);
    EXPECT_EQ(127u, strlen(StatusLines[2]));
}

TEST_F(StatusStore, LinesPastNineteenAreCountedButNeverStored)
{
    ClearAllStatus();
    for (int i = 1; i <= 25; ++i)
        AddStatusText(std::to_string(i).c_str(), 0);
    EXPECT_EQ(25, LastStatusLine);
    EXPECT_STREQ("19", StatusLines[19]);
    AddStatusText("more", 1);   // line 25 does not exist
    EXPECT_STREQ("19", StatusLines[19]);

    DrawStatusLines(nullptr);
    EXPECT_EQ(20, RecordingLastStatusDraw()->lineCount);

    ClearCommandStatus();
    EXPECT_EQ(Blanks, StatusLines[19]);
    EXPECT_STREQ("4", StatusLines[4]);
    ClearAllStatus();
    EXPECT_EQ(Blanks, StatusLines[1]);
}

TEST_F(StatusStore, ComposedTextsAreCutToTheBuffer)
{
    std::string path(259, 'p');
    SetStatusText("Writing Flash with file ");
    AppendStatusText(path.c_str());
    EXPECT_EQ(127u, strlen(StatusText));
    EXPECT_EQ(0, strncmp(StatusText, "Writing Flash with file ppp", 27));

    SetStatusText("at ");
    AppendStatusDecimal(4294967295u);
    EXPECT_STREQ("at 4294967295", StatusText);
    SetStatusText("");
    AppendStatusHex(0x25A, false);
    AppendStatusHex(0x10DE, true);
    AppendStatusHex(0, true);
    EXPECT_STREQ("25a10DE0", StatusText);
}

TEST_F(StatusStore, ProgressIsDrawnOnlyWhileVisible)
{
    DrawProgress(nullptr, 0, 32);
    EXPECT_EQ(0u, Recording.progressDrawCount);
    ProgressVisible = true;
    DrawProgress(nullptr, 3, 32);
    ASSERT_EQ(1u, Recording.progressDrawCount);
    EXPECT_EQ(3, Recording.progressDraws[0].done);
    EXPECT_EQ(32, Recording.progressDraws[0].total);
}

} // namespace
