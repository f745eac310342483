#include <gtest/gtest.h>

#include "model/tests/TempFolder.h"
#include "model/Errors.h"
#include "templates/IniDocument.h"

using korvex::TIniDocument;

TEST(IniDocument, ReadRules) {
    const auto doc = TIniDocument::FromText(
        "\xEF\xBB\xBF"
        "orphan=before any section\r\n"
        "  [ Template ]  \r\n"
        "; a comment=not a key\r\n"
        "  Title =  选票 一  \r\n"
        "Version=0x1A\n"
        "Bad=12abc\r\n"
        "Eq=a=b\r\n"
        "noequals\r\n"
        "[template]\r\n"
        "Title=second occurrence\r\n"
        "Extra=ignored\r\n"
        "[Other]\r\n"
        "TITLE=other\r\n");
    EXPECT_EQ(doc.ReadString("TEMPLATE", "title", "-"), "选票 一");
    EXPECT_EQ(doc.ReadInteger("Template", "Version", 1), 26);
    EXPECT_EQ(doc.ReadInteger("Template", "Bad", 7), 7);
    EXPECT_EQ(doc.ReadInteger("Template", "Missing", -3), -3);
    EXPECT_EQ(doc.ReadString("Template", "Eq", ""), "a=b");
    EXPECT_FALSE(doc.Find("Template", "Extra").has_value());
    EXPECT_FALSE(doc.Find("Template", "; a comment").has_value());
    EXPECT_FALSE(doc.Find("Template", "orphan").has_value());
    EXPECT_EQ(doc.ReadString("other", "Title", ""), "other");
    EXPECT_EQ(doc.SectionNames(), (std::vector<std::string>{"Template", "Other"}));
}

TEST(IniDocument, WritesBomCrLfAndEmptyLineAfterEachSection) {
    TIniDocument doc;
    doc.WriteInteger("Template", "Version", 1);
    doc.WriteString("Template", "Title", "选票");
    doc.WriteString("Layout", "GridLeft", "210");
    doc.WriteInteger("template", "VERSION", -1);  // replaced in place, case ignored
    EXPECT_EQ(doc.ToText(),
              "\xEF\xBB\xBF[Template]\r\nVersion=-1\r\nTitle=选票\r\n\r\n[Layout]\r\nGridLeft=210\r\n\r\n");
}

TEST(IniDocument, RewriteKeepsUnknownSectionsAndComments) {
    TempFolder dir;
    const std::string file = dir.Write("a.ini", "[Keep]\nx=1\n;note\n[Template]\nTitle=old\nOther=2\n");
    auto doc = TIniDocument::LoadFile(file);
    doc.WriteString("Template", "Title", "new");
    doc.WriteString("New", "k", "v");
    doc.SaveFile(file);
    EXPECT_EQ(TempFolder::Read(file), "\xEF\xBB\xBF[Keep]\r\nx=1\r\n;note\r\n\r\n[Template]\r\nTitle=new\r\nOther=2\r\n\r\n"
                                      "[New]\r\nk=v\r\n\r\n");
    EXPECT_EQ(std::filesystem::directory_iterator(dir.Path())->path().filename(), "a.ini");  // no temporary left
}

TEST(IniDocument, FileErrors) {
    TempFolder dir;
    EXPECT_THROW(TIniDocument::LoadFile(dir.File("missing.ini")), korvex::EFileError);
    EXPECT_NO_THROW(TIniDocument::LoadFileIfExists(dir.File("missing.ini")));
    TIniDocument doc;
    doc.WriteString("a", "b", "c");
    EXPECT_THROW(doc.SaveFile(dir.File("no/such/folder/x.ini")), korvex::EFileError);
}

TEST(IniDocument, RefusesOversizedFile) {
    TempFolder dir;
    const std::string file = dir.File("huge.ini");
    std::filesystem::resize_file(dir.Write("huge.ini", "[a]\n"), TIniDocument::kMaxFileBytes + 1);
    try {
        TIniDocument::LoadFile(file);
        FAIL() << "an oversized file must be refused";
    } catch (const korvex::EFileError& e) {
        EXPECT_NE(std::string(e.what()).find("huge.ini"), std::string::npos) << e.what();
    }
}
