#pragma once
// The shared vocabulary of Korvex: mark states, templates, recognition results,
// the text forms of a mark and the identity functions.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace korvex {

enum TMarkState { msBlank = 0, msApprove = 1, msReject = 2, msUnknown = 3 };

enum TBallotTemplateKind { tkStandard = 0, tkExternal = 1 };

// The standard page grid: A4 at 300 units per inch, origin top left, y downwards.
constexpr int kPageWidth = 2480;
constexpr int kPageHeight = 3508;

// The ballot types stored with each ballot.
inline constexpr const char* kValidBallot = "有效票";         // valid
inline constexpr const char* kInvalidBallot = "废票";         // more approvals than allowed
inline constexpr const char* kAbstentionBallot = "弃权票";    // no approval at all

// Left, Top, Right, Bottom; Right and Bottom are the far edges.
struct TRect {
    std::int32_t Left = 0;
    std::int32_t Top = 0;
    std::int32_t Right = 0;
    std::int32_t Bottom = 0;
    std::int32_t Width() const { return Right - Left; }
    std::int32_t Height() const { return Bottom - Top; }
    friend bool operator==(const TRect&, const TRect&) = default;
};

// One candidate row of the counting database.
struct TCandidateInfo {
    int ID = 0;
    std::string Name;
    bool IsWriteIn = false;
    friend bool operator==(const TCandidateInfo&, const TCandidateInfo&) = default;
};

// One printed candidate on a template.
struct TCandidateTemplate {
    int ID = 0;
    std::string Name;
    TRect NameRect;
    TRect MarkRect;
    friend bool operator==(const TCandidateTemplate&, const TCandidateTemplate&) = default;
};

// One write-in slot on a template.
struct TWriteInTemplate {
    int SlotNo = 0;
    TRect NameRect;
    TRect MarkRect;
    friend bool operator==(const TWriteInTemplate&, const TWriteInTemplate&) = default;
};

// The recognition template of one ballot layout. The two lists own their items.
struct TBallotTemplate {
    std::vector<TCandidateTemplate> Candidates;  // ballot order
    std::vector<TWriteInTemplate> WriteIns;      // slot order
    int Version = 1;
    std::string TemplateID;
    std::uint32_t TemplateCode = 0;
    std::string Title;
    int MaxSelect = 0;
    int WriteInSlots = 4;
    TBallotTemplateKind TemplateKind = tkStandard;
    int ExternalReferenceWidth = 0;
    int ExternalReferenceHeight = 0;
    TRect ExternalFrameRect;
    std::string ExternalReferenceImage;
    std::string ExternalOptionMode = "1";
    int GridLeft = 0;
    int GridRight = 0;
    int LabelWidth = 0;
    int CandidateCols = 0;
    int CandidateStartY = 0;
    int CandidateNameHeight = 0;
    int CandidateMarkHeight = 0;
    int CandidateGroupCount = 0;
    int WriteInStartY = 0;
    int WriteInLabelWidth = 0;
    int WriteInNameHeight = 0;
    int WriteInMarkHeight = 0;
    friend bool operator==(const TBallotTemplate&, const TBallotTemplate&) = default;
};

struct TCandidateVoteResult {
    int CandidateID = 0;
    std::string CandidateName;
    TMarkState Mark = msBlank;
    double Confidence = 0.0;
};

struct TWriteInVoteResult {
    std::string Name;
    TMarkState Mark = msBlank;
    double MarkConfidence = 0.0;
    double NameConfidence = 0.0;
    bool HasNameInk = false;
    bool NameOCRAttempted = false;
    std::string NameOCRBackend;
    std::string NameOCRError;
};

// The recognition result of one scanned ballot, corrected in place in review.
struct TBallotRecognition {
    std::string ScanUID;
    std::string ImageFile;
    std::string TemplateID;
    std::uint32_t TemplateCode = 0;
    std::vector<TCandidateVoteResult> Candidates;
    std::vector<TWriteInVoteResult> WriteIns;
    int Rotation = 0;
    double DeskewAngle = 0.0;
    bool NeedReview = false;
};

// Review-grid text: "空白", "O", "X", "?".
std::string MarkStateToText(TMarkState state);
// Parse of a typed or cycled grid text; anything unrecognised is msUnknown.
TMarkState TextToMarkState(std::string_view text);
// One-character database code; msUnknown raises "存在未确认的符号，不能入库。".
std::string MarkStateToDbCode(TMarkState state);

// 16 upper-case hexadecimal digits from the file's bytes; raises EFileError
// when the file cannot be opened or read.
std::string ComputeScanUID(const std::string& fileName);
// The same identity over bytes already in memory.
std::string ComputeScanUIDOfBytes(std::string_view bytes);
// The running hash behind ComputeScanUID, fed piece by piece: two FNV-style
// accumulators and the byte count.
class TScanUIDHash {
public:
    void Feed(const void* data, std::size_t count);
    std::string Finish() const;

private:
    std::uint32_t h1_ = 0x811C9DC5u;
    std::uint32_t h2_ = 0x9E3779B9u;
    std::uint64_t size_ = 0;
};
// 32-bit FNV-1a of the UTF-8 identifier, never 0.
std::uint32_t TemplateCodeOf(std::string_view templateID);
// Exclusive-or of the eight nibbles of the code.
std::uint8_t CodeCheckNibble(std::uint32_t code);
// A new random GUID as 8-4-4-4-12 upper-case hexadecimal digits, no braces.
std::string NewGuidText();

}  // namespace korvex
