// The desktop program's command line: files to queue and the automation options.
#include <gtest/gtest.h>

#include <QImage>
#include <QLabel>
#include <QListWidget>

#include "ForgeBallot.h"
#include "ForgedProgramFolder.h"
#include "database/uBallotDB.h"
#include "model/Errors.h"
#include "templates/uBallotDrawing.h"
#include "templates/uBallotTemplate.h"
#include "templates/uStandardLayout.h"
#include "ui/StartupOptions.h"

using namespace korvex;
using namespace korvex::testing;

TEST(StartupOptions, ParsesFilesAndOptions) {
    const TStartupOptions o = ParseStartupOptions(
        {"Korvex", "a.png", "--recognize-all", "--select", "2", "b.bmp", "--screenshot", "shot.png"});
    EXPECT_EQ(o.Error, "");
    EXPECT_EQ(o.Images, (std::vector<std::string>{"a.png", "b.bmp"}));
    EXPECT_TRUE(o.RecognizeAll);
    EXPECT_EQ(o.Select, 2);
    EXPECT_EQ(o.Screenshot, "shot.png");
    EXPECT_FALSE(o.Help);
    EXPECT_TRUE(ParseStartupOptions({"Korvex", "--help"}).Help);

    const struct {
        QStringList args;
        const char* error;
    } refused[] = {{{"Korvex", "--select", "0"}, "--select 需要正整数：0"},
                   {{"Korvex", "--select", "x"}, "--select 需要正整数：x"},
                   {{"Korvex", "a.png", "--screenshot"}, "缺少参数值：--screenshot"},
                   {{"Korvex", "--recognise"}, "未知选项：--recognise"}};
    for (const auto& c : refused) EXPECT_EQ(ParseStartupOptions(c.args).Error, c.error) << c.error;
}

class StartupWindow : public ForgedProgramFolder {};

TEST_F(StartupWindow, QueuesRecognisesSelectsAndSavesTheWindow) {
    MakeDatabase({"甲", "乙", "丙"});
    auto window = Open();
    const auto t = GenerateStandardTemplate(window->Database().LoadCandidates(false), "选票", 2, 0);
    SaveTemplate(*t, home_.File("Templates/" + t->TemplateID + ".ini"));
    const auto scans = Forge(*t, RenderBallotBitmap(*t),
                             {forge::ParseFillLine("OX-", *t), forge::ParseFillLine("-XO", *t)}, "Scans/cli");
    TStartupOptions o;
    o.Images = scans;
    EXPECT_FALSE(ApplyStartupOptions(*window, o));  // queued only
    ASSERT_EQ(window->Items().size(), 2u);
    EXPECT_EQ(window->Items()[0]->Status, "待识别");

    o.Images.clear();
    o.RecognizeAll = true;
    o.Select = 2;
    o.Screenshot = home_.File("window.png");
    window->resize(1380, 860);
    ASSERT_TRUE(ApplyStartupOptions(*window, o));
    EXPECT_EQ(window->Items()[1]->Status, "已识别");
    EXPECT_EQ(window->QueueList()->currentRow(), 1);
    EXPECT_EQ(window->Items()[1]->Recognition->Candidates[2].Mark, msApprove);
    const QImage shot(QString::fromStdString(o.Screenshot));
    EXPECT_EQ(shot.size(), window->size());
    // The shown picture is the scan with the recognised cells drawn over it.
    EXPECT_NE(window->Picture()->pixmap().toImage(), window->ScanPicture().toImage());

    o.Screenshot = home_.File("no-such-folder/window.png");
    EXPECT_THROW(ApplyStartupOptions(*window, o), EFileError);
}
