#include "templates/IniDocument.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

#include "model/Errors.h"
#include "model/TextUtil.h"

namespace korvex {
namespace {

constexpr std::string_view kBom = "\xEF\xBB\xBF";

std::string ReadWholeFile(const std::string& fileName) {
    const int fd = ::open(fileName.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) RaiseFileError("无法打开文件", fileName, errno);
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) &&
        static_cast<std::uint64_t>(st.st_size) > TIniDocument::kMaxFileBytes) {
        ::close(fd);
        throw EFileError(Format("文件过大（超过 %zu 字节）：%s", TIniDocument::kMaxFileBytes, fileName.c_str()));
    }
    std::string data;
    char buffer[65536];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0) {
            if (errno == EINTR) continue;
            const int err = errno;
            ::close(fd);
            RaiseFileError("无法读取文件", fileName, err);
        }
        if (got == 0) break;
        data.append(buffer, static_cast<std::size_t>(got));
        if (data.size() > TIniDocument::kMaxFileBytes) {
            ::close(fd);
            throw EFileError(Format("文件过大（超过 %zu 字节）：%s", TIniDocument::kMaxFileBytes, fileName.c_str()));
        }
    }
    ::close(fd);
    return data;
}

void WriteAll(int fd, const std::string& data, const std::string& fileName) {
    std::size_t done = 0;
    while (done < data.size()) {
        const ssize_t put = ::write(fd, data.data() + done, data.size() - done);
        if (put < 0) {
            if (errno == EINTR) continue;
            RaiseFileError("无法写入文件", fileName, errno);
        }
        done += static_cast<std::size_t>(put);
    }
}

}  // namespace

TIniDocument TIniDocument::FromText(std::string_view text) {
    if (text.substr(0, kBom.size()) == kBom) text.remove_prefix(kBom.size());
    TIniDocument doc;
    Section* current = nullptr;  // null before the first section and inside a repeated one
    std::size_t pos = 0;
    while (pos <= text.size()) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string_view::npos) end = text.size();
        const std::string_view line = TrimBlanks(text.substr(pos, end - pos));
        pos = end + 1;
        if (line.empty()) continue;
        if (line.front() == '[' && line.back() == ']') {
            const std::string name = TrimmedCopy(line.substr(1, line.size() - 2));
            if (doc.FindSection(name)) {
                current = nullptr;  // the first occurrence of a section wins
            } else {
                doc.sections_.push_back(Section{name, {}});
                current = &doc.sections_.back();
            }
            continue;
        }
        if (!current) continue;
        if (line.front() == ';') {
            current->lines.push_back(Line{"", std::string(line), true});
            continue;
        }
        const std::size_t eq = line.find('=');
        if (eq == std::string_view::npos || eq == 0) continue;
        current->lines.push_back(
            Line{TrimmedCopy(line.substr(0, eq)), TrimmedCopy(line.substr(eq + 1)), false});
    }
    return doc;
}

TIniDocument TIniDocument::LoadFile(const std::string& fileName) { return FromText(ReadWholeFile(fileName)); }

TIniDocument TIniDocument::LoadFileIfExists(const std::string& fileName) {
    std::error_code ec;
    if (!std::filesystem::exists(fileName, ec)) return TIniDocument{};
    return LoadFile(fileName);
}

const TIniDocument::Section* TIniDocument::FindSection(std::string_view name) const {
    for (const Section& s : sections_)
        if (SameText(s.name, name)) return &s;
    return nullptr;
}

TIniDocument::Section* TIniDocument::FindSection(std::string_view name) {
    return const_cast<Section*>(static_cast<const TIniDocument*>(this)->FindSection(name));
}

bool TIniDocument::HasSection(std::string_view section) const { return FindSection(section) != nullptr; }

std::optional<std::string> TIniDocument::Find(std::string_view section, std::string_view key) const {
    const Section* s = FindSection(section);
    if (!s) return std::nullopt;
    for (const Line& l : s->lines)
        if (!l.comment && SameText(l.key, key)) return l.value;
    return std::nullopt;
}

std::string TIniDocument::ReadString(std::string_view section, std::string_view key,
                                     std::string_view defaultValue) const {
    auto value = Find(section, key);
    return value ? *value : std::string(defaultValue);
}

std::int32_t TIniDocument::ReadInteger(std::string_view section, std::string_view key,
                                       std::int32_t defaultValue) const {
    const auto value = Find(section, key);
    if (!value) return defaultValue;
    return ParseInt32(*value).value_or(defaultValue);
}

void TIniDocument::WriteString(std::string_view section, std::string_view key, std::string_view value) {
    Section* s = FindSection(section);
    if (!s) {
        sections_.push_back(Section{std::string(section), {}});
        s = &sections_.back();
    }
    for (Line& l : s->lines) {
        if (!l.comment && SameText(l.key, key)) {
            l.value = std::string(value);
            return;
        }
    }
    s->lines.push_back(Line{std::string(key), std::string(value), false});
}

void TIniDocument::WriteInteger(std::string_view section, std::string_view key, std::int32_t value) {
    WriteString(section, key, std::to_string(value));
}

std::string TIniDocument::ToText() const {
    std::string out(kBom);
    for (const Section& s : sections_) {
        out += "[" + s.name + "]\r\n";
        for (const Line& l : s.lines) out += l.comment ? l.value + "\r\n" : l.key + "=" + l.value + "\r\n";
        out += "\r\n";
    }
    return out;
}

std::vector<std::string> TIniDocument::SectionNames() const {
    std::vector<std::string> names;
    names.reserve(sections_.size());
    for (const Section& s : sections_) names.push_back(s.name);
    return names;
}

void TIniDocument::SaveFile(const std::string& fileName) const {
    // Write beside the target and rename, so a crash never leaves half a file.
    const std::string temp = fileName + ".tmp-" + std::to_string(::getpid());
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) RaiseFileError("无法创建文件", fileName, errno);
    try {
        WriteAll(fd, ToText(), fileName);
        if (::fsync(fd) != 0) RaiseFileError("无法写入文件", fileName, errno);
    } catch (...) {
        ::close(fd);
        ::unlink(temp.c_str());
        throw;
    }
    ::close(fd);
    if (::rename(temp.c_str(), fileName.c_str()) != 0) {
        const int err = errno;
        ::unlink(temp.c_str());
        RaiseFileError("无法写入文件", fileName, err);
    }
}

}  // namespace korvex
