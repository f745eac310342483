// ballot-forge: filled ballot scans with ground truth, for tests, benchmarks and the demo.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "ExternalBallot.h"
#include "ForgeRun.h"
#include "model/Errors.h"
#include "model/TextUtil.h"
#include "templates/uBallotDrawing.h"
#include "templates/uBallotFonts.h"
#include "templates/uBallotTemplate.h"
#include "templates/uStandardLayout.h"

using namespace korvex;
using namespace korvex::forge;

namespace {

const char* kUsage =
    "usage:\n"
    "  ballot-forge template --out DIR --candidates N [--slots K] [--max-select M] [--title T] [--id ID]\n"
    "      writes ID.ini and ID_preview.bmp (a standard template)\n"
    "  ballot-forge standard --template FILE.ini --out DIR (--marks FILE | --random N) [scan options]\n"
    "  ballot-forge external --out DIR --candidates N [--mode 1|2.x|3.x] [--slots K] (--marks FILE | --random N)\n"
    "      writes the reference image, the external template and filled scans\n"
    "scan options: --seed S --dpi 150|300|600 --rotate 0|90|180|270|random --skew MAXDEG --shift MAXMM\n"
    "              --noise SIGMA --blur 0..0.3 --format bmp|png|jpg --quality Q --hard SHARE\n"
    "marks file: one ballot per line, e.g. \"OX-O@ | 张三:O | :-\"\n"
    "  O circle, X cross, - blank, . specks, @ scribbled circle, + cross over the border, o/x faint\n";

using TArgs = std::map<std::string, std::string>;

TArgs ParseArgs(int argc, char** argv, int first) {
    TArgs args;
    for (int i = first; i < argc; ++i) {
        std::string key = argv[i];
        if (key.rfind("--", 0) != 0 || i + 1 >= argc) throw EKorvexError("无效的参数：" + key);
        args[key.substr(2)] = argv[++i];
    }
    return args;
}

std::string Need(const TArgs& args, const std::string& key) {
    auto it = args.find(key);
    if (it == args.end()) throw EKorvexError("缺少参数 --" + key);
    return it->second;
}

std::string Get(const TArgs& args, const std::string& key, const std::string& fallback) {
    auto it = args.find(key);
    return it == args.end() ? fallback : it->second;
}

int GetInt(const TArgs& args, const std::string& key, int fallback) {
    auto it = args.find(key);
    if (it == args.end()) return fallback;
    auto v = ParseDecimalInt32(it->second);
    if (!v) throw EKorvexError("参数 --" + key + " 不是整数：" + it->second);
    return *v;
}

double GetReal(const TArgs& args, const std::string& key, double fallback) {
    auto it = args.find(key);
    if (it == args.end()) return fallback;
    char* end = nullptr;
    const double v = std::strtod(it->second.c_str(), &end);
    if (end == it->second.c_str() || *end != '\0') throw EKorvexError("参数 --" + key + " 不是数：" + it->second);
    return v;
}

TForgeOptions ScanOptions(const TArgs& args) {
    TForgeOptions o;
    o.OutputFolder = Need(args, "out");
    o.Seed = std::strtoull(Get(args, "seed", "1").c_str(), nullptr, 10);
    o.Dpi = GetInt(args, "dpi", 300);
    const std::string rotate = Get(args, "rotate", "random");
    if (rotate == "random") o.QuarterTurns = -1;
    else {
        const int degrees = GetInt(args, "rotate", 0);
        if (degrees % 90 != 0) throw EKorvexError("--rotate 只允许 0、90、180、270 或 random");
        o.QuarterTurns = ((degrees / 90) % 4 + 4) % 4;
    }
    o.MaxSkewDegrees = GetReal(args, "skew", 1.5);
    o.MaxShiftMm = GetReal(args, "shift", 3.0);
    o.NoiseSigma = GetReal(args, "noise", 6.0);
    o.Blur = GetReal(args, "blur", 0.12);
    o.Format = Get(args, "format", "png");
    o.Quality = GetInt(args, "quality", 90);
    return o;
}

std::vector<TBallotFill> Fills(const TArgs& args, const TBallotTemplate& t, std::uint64_t seed) {
    if (args.count("marks")) return ReadFillFile(args.at("marks"), t);
    const int count = GetInt(args, "random", 0);
    if (count <= 0) throw EKorvexError("需要 --marks FILE 或 --random N（N > 0）");
    const double hard = GetReal(args, "hard", 0.1);
    std::vector<TBallotFill> fills;
    TForgeRandom rng(StreamSeed(seed, 0xF111));
    for (int i = 0; i < count; ++i) fills.push_back(RandomFill(t, rng, hard));
    return fills;
}

int CommandTemplate(const TArgs& args) {
    const std::string out = Need(args, "out");
    const auto candidates = ForgeCandidateNames(GetInt(args, "candidates", 12));
    const std::string id = Get(args, "id", NewStandardTemplateID());
    auto t = GenerateStandardTemplateWithID(candidates, Get(args, "title", "业主委员会选举选票"),
                                            GetInt(args, "max-select", 5), GetInt(args, "slots", 2), id);
    const std::string ini = (std::filesystem::path(out) / (t->TemplateID + ".ini")).string();
    SaveTemplate(*t, ini);
    SaveBallotPreview(*t, out);
    std::printf("%s\n", ini.c_str());
    return 0;
}

int CommandStandard(const TArgs& args) {
    const auto t = LoadTemplate(Need(args, "template"));
    if (t->TemplateKind != tkStandard) throw EKorvexError("不是标准模板：" + args.at("template"));
    const TForgeOptions o = ScanOptions(args);
    const auto scans = ForgeScans(*t, RenderBallotBitmap(*t), Fills(args, *t, o.Seed), o);
    std::printf("%zu scans and truth.json in %s\n", scans.size(), o.OutputFolder.c_str());
    return 0;
}

int CommandExternal(const TArgs& args) {
    TForgeOptions o = ScanOptions(args);
    if (!args.count("skew")) o.MaxSkewDegrees = 1.0;
    o.Perspective = GetReal(args, "perspective", 0.01);
    const TExternalBallot ballot = MakeExternalBallot(ForgeCandidateNames(GetInt(args, "candidates", 8)),
                                                      Get(args, "mode", "1"), GetInt(args, "slots", 1),
                                                      Get(args, "title", "村民委员会选举选票"),
                                                      Get(args, "id", "EXT-" + NewStandardTemplateID()));
    const std::string ini = SaveExternalBallot(ballot, o.OutputFolder);
    const auto scans = ForgeScans(ballot.Template, ballot.Reference, Fills(args, ballot.Template, o.Seed), o);
    std::printf("%s\n%zu scans and truth.json in %s\n", ini.c_str(), scans.size(), o.OutputFolder.c_str());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    try {
        EnsureGuiApplication();
        const std::string command = argv[1];
        const TArgs args = ParseArgs(argc, argv, 2);
        if (command == "template") return CommandTemplate(args);
        if (command == "standard") return CommandStandard(args);
        if (command == "external") return CommandExternal(args);
        std::fputs(kUsage, stderr);
        return 2;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "ballot-forge: %s\n", e.what());
        return 1;
    }
}
