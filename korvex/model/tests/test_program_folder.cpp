#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "model/ProgramFolder.h"

using namespace korvex;

TEST(ProgramFolder, ExecutableFolderOrKorvexHome) {
    ::unsetenv("KORVEX_HOME");
    const std::string exeFolder = ExecutableFolder();
    EXPECT_TRUE(std::filesystem::exists(std::filesystem::path(exeFolder) / "korvex_model_tests"));
    EXPECT_EQ(ProgramFolder(), exeFolder);
    ::setenv("KORVEX_HOME", "", 1);  // empty counts as unset
    EXPECT_EQ(ProgramFolder(), exeFolder);
    ::setenv("KORVEX_HOME", "/tmp/korvex-home/./x/..", 1);
    EXPECT_EQ(ProgramFolder(), "/tmp/korvex-home");
    EXPECT_EQ(ProgramPath("qm.mdb"), "/tmp/korvex-home/qm.mdb");
    ::unsetenv("KORVEX_HOME");
}
