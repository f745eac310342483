#pragma once
// An in-memory INI document with the text rules of template files and
// "Korvex.ini": UTF-8 (byte-order mark optional on read, written on save),
// CR LF on save, trimmed lines, ";" comments, names compared without regard to
// ASCII case, the first occurrence of a section wins, keys replaced in place.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace korvex {

class TIniDocument {
public:
    // Largest file the reader accepts; real template files are a few KiB.
    static constexpr std::size_t kMaxFileBytes = 16u * 1024u * 1024u;

    TIniDocument() = default;

    // Parses text (with or without a UTF-8 byte-order mark).
    static TIniDocument FromText(std::string_view text);
    // Reads a file; raises EFileError when it cannot be read or is too large.
    static TIniDocument LoadFile(const std::string& fileName);
    // Reads the file when it exists, else an empty document.
    static TIniDocument LoadFileIfExists(const std::string& fileName);

    bool HasSection(std::string_view section) const;
    // The value of a key, or nothing when the section or key is missing.
    std::optional<std::string> Find(std::string_view section, std::string_view key) const;
    std::string ReadString(std::string_view section, std::string_view key, std::string_view defaultValue) const;
    // Decimal, or hexadecimal after "0x"; a missing or invalid value gives the default.
    std::int32_t ReadInteger(std::string_view section, std::string_view key, std::int32_t defaultValue) const;

    // Replaces the value in place, or appends the key to its section, or
    // appends the section at the end.
    void WriteString(std::string_view section, std::string_view key, std::string_view value);
    void WriteInteger(std::string_view section, std::string_view key, std::int32_t value);

    // The document as written: byte-order mark, CR LF, an empty line after each section.
    std::string ToText() const;
    // Writes the whole document at once: a temporary file beside the target,
    // flushed, then renamed over it. Raises EFileError on failure.
    void SaveFile(const std::string& fileName) const;

    std::vector<std::string> SectionNames() const;

private:
    struct Line {
        std::string key;    // empty for a comment line
        std::string value;  // the raw text for a comment line
        bool comment = false;
    };
    struct Section {
        std::string name;
        std::vector<Line> lines;
    };

    const Section* FindSection(std::string_view name) const;
    Section* FindSection(std::string_view name);

    std::vector<Section> sections_;
};

}  // namespace korvex
