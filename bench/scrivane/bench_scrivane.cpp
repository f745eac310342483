// Scrivane against tesseract on the same rendered name images: the whole
// process per name as Korvex starts each program, the two runs alternating
// name by name, and how many names each reads exactly. Also the session
// creation and model run of one recognition in a fresh process (this program
// started again with --one). Goal: Scrivane's process time at most 0.6 of
// tesseract's. "--engine PATH" times another Scrivane (an older build, an
// installation) on the same names; the session lines are then left out.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <unistd.h>

#include "../../scrivane/tests/TestSupport.h"
#include "scrivane/CommandLine.h"
#include "scrivane/ProcessSetup.h"
#include "scrivane/Recognition.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

double Median(std::vector<double> v) {
  if (v.empty()) return 0.0;
  std::sort(v.begin(), v.end());
  const std::size_t n = v.size();
  return n % 2 == 1 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

double MsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// Blanks and control characters off both ends, as Korvex trims an answer.
std::string Trimmed(const std::string& s) {
  std::size_t b = 0, e = s.size();
  while (b < e && static_cast<unsigned char>(s[b]) <= 32) ++b;
  while (e > b && static_cast<unsigned char>(s[e - 1]) <= 32) --e;
  return s.substr(b, e - b);
}

std::string FindOnPath(const std::string& program) {
  const char* path = std::getenv("PATH");
  std::string dirs = path != nullptr ? path : "/usr/bin:/bin";
  for (std::size_t start = 0; start <= dirs.size();) {
    const std::size_t end = std::min(dirs.find(':', start), dirs.size());
    const fs::path candidate = fs::path(dirs.substr(start, end - start)) / program;
    if (end > start && ::access(candidate.c_str(), X_OK) == 0) return candidate.string();
    start = end + 1;
  }
  return "";
}

struct Outcome {
  double ms = 0;
  std::string text;
  bool ok = false;
};

Outcome RunScrivane(const fs::path& engine, const fs::path& image, const fs::path& result) {
  const std::string token = std::string("--token=") + scrivane::kAccessToken;
  const auto start = Clock::now();
  const scrivane::test::ProcessResult r =
      scrivane::test::RunProcess(engine.string(), {token, "--in=" + image.string(), "--out=" + result.string()});
  Outcome o{MsSince(start), "", r.exitStatus == 0};
  const std::size_t at = r.out.find("TEXT=");
  if (at != std::string::npos) o.text = r.out.substr(at + 5, r.out.find('\n', at) - at - 5);
  return o;
}

// The external default arguments: image, output base, "-l chi_sim --psm 7".
Outcome RunTesseract(const std::string& tesseract, const fs::path& image, const fs::path& outputBase) {
  fs::remove(outputBase.string() + ".txt");
  const auto start = Clock::now();
  const scrivane::test::ProcessResult r =
      scrivane::test::RunProcess(tesseract, {image.string(), outputBase.string(), "-l", "chi_sim", "--psm", "7"});
  Outcome o{MsSince(start), "", r.exitStatus == 0};
  if (o.ok) o.text = Trimmed(scrivane::test::ReadFile(outputBase.string() + ".txt"));
  return o;
}

}  // namespace

// Child mode: one recognition in this fresh process, printing its timings.
int RunOne(const char* folder, const char* image) {
  scrivane::PrepareEngineProcess();  // as the engine's own main does
  scrivane::RecognitionTimings timings;
  scrivane::RunRecognitionWith(scrivane::EngineFilesIn(folder), image, &timings);
  std::printf("%f %f\n", timings.sessionMs, timings.runMs);
  return 0;
}

int main(int argc, char** argv) {
  using namespace scrivane;
  if (argc == 4 && std::string(argv[1]) == "--one") return RunOne(argv[2], argv[3]);
  const bool otherEngine = argc == 3 && std::string(argv[1]) == "--engine";
  if (argc != 1 && !otherEngine) {
    std::fprintf(stderr, "usage: bench_scrivane [--engine PATH]\n");
    return 2;
  }
  const std::string self = fs::canonical("/proc/self/exe").string();
  const std::string tesseract = FindOnPath("tesseract");
  if (tesseract.empty()) {
    std::fprintf(stderr, "bench_scrivane: tesseract is missing (packages tesseract-ocr, tesseract-ocr-chi-sim)\n");
    return 1;
  }
  const std::vector<std::string> names = {"张伟", "王小明", "欧阳娜娜", "李静",   "刘洋",   "陈建国", "赵丽",   "黄晓峰",
                                          "周杰", "吴敏",   "郑国强",   "孙丽华", "马超",   "朱婷婷", "胡军",   "林志远"};
  constexpr int kRounds = 3;
  const fs::path engine = otherEngine ? fs::path(argv[2]) : fs::path(SCRIVANE_EXE);
  const EngineFiles files = EngineFilesIn(engine.parent_path().string());
  test::ScratchFolder folder;
  // The engine's own cache goes into the scratch folder, so the first run
  // below starts from an empty cache.
  ::setenv("XDG_CACHE_HOME", (folder / "cache").c_str(), 1);
  std::vector<fs::path> images;
  for (std::size_t i = 0; i < names.size(); ++i) {
    images.push_back(folder / ("name" + std::to_string(i) + ".bmp"));
    test::WriteFile(images.back(), test::EncodeBmp24(test::RenderText(names[i], i % 2 == 0 ? 40 : 32)));
  }

  const fs::path result = folder / "r.dat", base = folder / "t";
  int failed = 0;
  const Outcome first = RunScrivane(engine, images[0], result);  // also fills the page cache
  failed += first.ok ? 0 : 1;
  failed += RunTesseract(tesseract, images[0], base).ok ? 0 : 1;

  std::vector<double> scrivaneMs, tesseractMs, session, run;
  int scrivaneExact = 0, tesseractExact = 0;
  for (int round = 0; round < kRounds; ++round)
    for (std::size_t i = 0; i < names.size(); ++i) {
      // Alternate which program goes first, so neither always follows the other.
      Outcome s, t;
      if ((round + i) % 2 == 0) {
        s = RunScrivane(engine, images[i], result);
        t = RunTesseract(tesseract, images[i], base);
      } else {
        t = RunTesseract(tesseract, images[i], base);
        s = RunScrivane(engine, images[i], result);
      }
      failed += (s.ok ? 0 : 1) + (t.ok ? 0 : 1);
      scrivaneMs.push_back(s.ms);
      tesseractMs.push_back(t.ms);
      if (round == 0) {
        scrivaneExact += s.ok && s.text == names[i];
        tesseractExact += t.ok && t.text == names[i];
      }
      if (otherEngine) continue;
      const test::ProcessResult one = test::RunProcess(self, {"--one", files.folder, images[i].string()});
      double sessionMs = 0, runMs = 0;
      if (one.exitStatus != 0 || std::sscanf(one.out.c_str(), "%lf %lf", &sessionMs, &runMs) != 2) {
        ++failed;
        continue;
      }
      session.push_back(sessionMs);
      run.push_back(runMs);
    }

  const double s = Median(scrivaneMs), t = Median(tesseractMs);
  std::printf("scrivane_first_run_empty_cache = %.1f ms\n", first.ms);
  std::printf("scrivane_process_per_name_median = %.1f ms\n", s);
  std::printf("tesseract_process_per_name_median = %.1f ms\n", t);
  std::printf("scrivane_vs_tesseract_ratio = %.2f x\n", t > 0 ? s / t : 0.0);
  std::printf("scrivane_vs_tesseract_ratio_goal = 0.60 x\n");
  if (!otherEngine) {
    std::printf("scrivane_session_create_median = %.1f ms\n", Median(session));
    std::printf("scrivane_run_median = %.1f ms\n", Median(run));
  }
  std::printf("scrivane_names_exact = %d of %zu\n", scrivaneExact, names.size());
  std::printf("tesseract_names_exact = %d of %zu\n", tesseractExact, names.size());
  std::printf("failed_processes = %d count\n", failed);
  double load[1] = {0.0};  // shared machines: the figures above depend on it
  if (getloadavg(load, 1) == 1) std::printf("machine_load_average_1min = %.2f load\n", load[0]);
  return failed == 0 ? 0 : 1;
}
