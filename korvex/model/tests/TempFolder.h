#pragma once
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "model/uBallotTypes.h"

// A fresh folder under the system temporary folder, removed with its contents.
class TempFolder {
public:
    TempFolder() : path_(std::filesystem::temp_directory_path() / ("korvex-test-" + korvex::NewGuidText())) {
        std::filesystem::create_directories(path_);
    }
    ~TempFolder() { std::filesystem::remove_all(path_); }
    std::string File(const std::string& name) const { return (path_ / name).string(); }
    std::string Write(const std::string& name, const std::string& bytes) const {
        std::ofstream(File(name), std::ios::binary) << bytes;
        return File(name);
    }
    static std::string Read(const std::string& file) {
        std::ifstream in(file, std::ios::binary);
        std::ostringstream s;
        s << in.rdbuf();
        return s.str();
    }
    const std::filesystem::path& Path() const { return path_; }

private:
    std::filesystem::path path_;
};
