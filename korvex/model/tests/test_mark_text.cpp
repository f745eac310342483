#include <gtest/gtest.h>

#include "model/Errors.h"
#include "model/uBallotTypes.h"

using namespace korvex;

TEST(MarkText, GridTextOfEachState) {
    EXPECT_EQ(MarkStateToText(msBlank), "空白");
    EXPECT_EQ(MarkStateToText(msApprove), "O");
    EXPECT_EQ(MarkStateToText(msReject), "X");
    EXPECT_EQ(MarkStateToText(msUnknown), "?");
}

TEST(MarkText, ParseOfTypedTexts) {
    const struct {
        const char* text;
        TMarkState expected;
    } cases[] = {
        {"", msBlank},          {"   ", msBlank},      {"\t \r\n", msBlank}, {"空白", msBlank},
        {" 空白 ", msBlank},    {"O", msApprove},      {"o", msApprove},     {" o ", msApprove},
        {"○", msApprove},       {"〇", msApprove},     {"X", msReject},      {" x ", msReject},
        {"×", msReject},        {"0", msUnknown},      {"?", msUnknown},     {"OX", msUnknown},
        {"空", msUnknown},      {"Ｏ", msUnknown},     {"o\x01", msApprove},
    };
    for (const auto& c : cases) EXPECT_EQ(TextToMarkState(c.text), c.expected) << "text: '" << c.text << "'";
}

TEST(MarkText, AcceptedFormsRoundTripToCanonicalText) {
    const struct {
        const char* typed;
        const char* canonical;
    } cases[] = {{"○", "O"}, {"〇", "O"}, {"o", "O"}, {"×", "X"}, {" x", "X"}, {"", "空白"}, {"空白", "空白"}};
    for (const auto& c : cases) EXPECT_EQ(MarkStateToText(TextToMarkState(c.typed)), c.canonical) << c.typed;
}

TEST(MarkText, DatabaseCodes) {
    EXPECT_EQ(MarkStateToDbCode(msBlank), " ");
    EXPECT_EQ(MarkStateToDbCode(msApprove), "O");
    EXPECT_EQ(MarkStateToDbCode(msReject), "X");
    try {
        MarkStateToDbCode(msUnknown);
        FAIL() << "an undecided mark must not get a database code";
    } catch (const EKorvexError& e) {
        EXPECT_STREQ(e.what(), "存在未确认的符号，不能入库。");
    }
}

TEST(BallotTypes, ConstructorValues) {
    const TBallotTemplate t;
    EXPECT_EQ(t.Version, 1);
    EXPECT_EQ(t.WriteInSlots, 4);
    EXPECT_EQ(t.ExternalOptionMode, "1");
    EXPECT_EQ(t.TemplateKind, tkStandard);
    EXPECT_EQ(t.TemplateCode, 0u);
    EXPECT_EQ(t.MaxSelect, 0);
    EXPECT_TRUE(t.Title.empty());
    EXPECT_TRUE(t.Candidates.empty());
    EXPECT_TRUE(t.WriteIns.empty());
    const TBallotRecognition r;
    EXPECT_FALSE(r.NeedReview);
    EXPECT_EQ(r.Rotation, 0);
    EXPECT_EQ(r.DeskewAngle, 0.0);
    EXPECT_TRUE(r.Candidates.empty());
}
