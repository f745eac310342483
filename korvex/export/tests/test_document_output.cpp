#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>

#include "export/DocumentOutput.h"
#include "model/Errors.h"
#include "model/tests/TempFolder.h"

using namespace korvex;

namespace {

std::time_t LocalTime(int year, int month, int day, int hour, int minute, int second) {
    std::tm t{};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_sec = second;
    t.tm_isdst = -1;
    return std::mktime(&t);
}

std::string Script(const TempFolder& dir, const std::string& name, const std::string& body) {
    const std::string file = dir.Write(name, "#!/bin/sh\n" + body + "\n");
    chmod(file.c_str(), 0755);
    return file;
}

}  // namespace

TEST(DocumentOutput, NewNamesNeverReplaceAFile) {
    TempFolder dir;
    const std::string folder = dir.File("Documents");
    const std::time_t when = LocalTime(2026, 12, 1, 9, 5, 7);
    const std::string first = SaveNewDocument(folder, "选举报告单", "one", when);
    EXPECT_EQ(first, folder + "/选举报告单_20261201_090507.docx");
    const std::string second = SaveNewDocument(folder, "选举报告单", "two", when);
    EXPECT_EQ(second, folder + "/选举报告单_20261201_090507_2.docx");
    EXPECT_EQ(SaveNewDocument(folder, "选举报告单", "three", when), folder + "/选举报告单_20261201_090507_3.docx");
    EXPECT_EQ(TempFolder::Read(first), "one");
    EXPECT_EQ(TempFolder::Read(second), "two");
}

TEST(DocumentOutput, UnwritableFolderIsAnError) {
    TempFolder dir;
    const std::string blocker = dir.Write("Documents", "a file where the folder should be");
    EXPECT_THROW(SaveNewDocument(blocker, "选票", "x", std::time(nullptr)), EFileError);
    EXPECT_THROW(SaveNewDocument(blocker + "/sub", "选票", "x", std::time(nullptr)), EFileError);
}

TEST(DocumentOutput, OperatorIsToldWhereTheFileIsWhenNoViewerStarts) {
    TempFolder dir;
    std::string openedFile;
    const TSavedDocument opened =
        SaveAndOpenDocument(dir.File("Documents"), "选票", "doc", [&](const std::string& file, std::string&) {
            openedFile = file;
            return true;
        });
    EXPECT_EQ(openedFile, opened.FileName);
    EXPECT_TRUE(opened.Notice.empty());
    EXPECT_EQ(TempFolder::Read(opened.FileName), "doc");

    const TSavedDocument notOpened =
        SaveAndOpenDocument(dir.File("Documents"), "选票", "doc", [](const std::string&, std::string& error) {
            error = "no viewer";
            return false;
        });
    EXPECT_NE(notOpened.FileName, opened.FileName);
    EXPECT_EQ(notOpened.Notice,
              "文档已保存：" + notOpened.FileName + "\r\n无法用默认程序打开它（no viewer），请手动打开该文件。");
    EXPECT_TRUE(std::filesystem::exists(notOpened.FileName));
}

TEST(DocumentOutput, DesktopOpenerReportsTheViewersOutcome) {
    TempFolder dir;
    const std::string target = dir.File("文档 1.docx");
    std::string error;

    const std::string ok = Script(dir, "ok", "printf '%s' \"$1\" > " + dir.File("arg"));
    EXPECT_TRUE(OpenWithDesktop(target, error, ok)) << error;
    EXPECT_EQ(TempFolder::Read(dir.File("arg")), target);

    const std::string refuses = Script(dir, "refuses", "exit 3");
    EXPECT_FALSE(OpenWithDesktop(target, error, refuses));
    EXPECT_NE(error.find("未能打开"), std::string::npos) << error;

    EXPECT_FALSE(OpenWithDesktop(target, error, dir.File("no-such-viewer")));
    EXPECT_NE(error.find("找不到程序"), std::string::npos) << error;

    // A viewer that keeps running counts as started and is not waited for.
    const std::string stays = Script(dir, "stays", "sleep 20; touch " + dir.File("finished"));
    EXPECT_TRUE(OpenWithDesktop(target, error, stays)) << error;
    EXPECT_FALSE(std::filesystem::exists(dir.File("finished")));
}

TEST(DocumentOutput, DocumentsFolderIsInTheProgramFolder) {
    TempFolder dir;
    setenv("KORVEX_HOME", dir.Path().c_str(), 1);
    EXPECT_EQ(DefaultDocumentsFolder(), dir.File("Documents"));
    unsetenv("KORVEX_HOME");
}
