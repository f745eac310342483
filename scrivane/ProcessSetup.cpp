#include "scrivane/ProcessSetup.h"

#include <malloc.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>

namespace scrivane {

namespace {

constexpr std::size_t kHeapStep = 96u << 20;       // more than one job ever uses
constexpr int kLargestHeapBlock = 32 << 20;        // glibc's limit for M_MMAP_THRESHOLD
constexpr std::uintptr_t kHugePage = 2u << 20;

void PrepareHeap() {
  mallopt(M_MMAP_THRESHOLD, kLargestHeapBlock);  // model buffers come from the heap too
  mallopt(M_TRIM_THRESHOLD, int(2 * kHeapStep));
  mallopt(M_TOP_PAD, int(kHeapStep));
  const auto before = reinterpret_cast<std::uintptr_t>(::sbrk(0));
  void* volatile grow = std::malloc(1u << 20);  // extends the heap by the step now
  std::free(grow);
  const auto after = reinterpret_cast<std::uintptr_t>(::sbrk(0));
  const std::uintptr_t first = (before + kHugePage - 1) & ~(kHugePage - 1), last = after & ~(kHugePage - 1);
  // Only advice: without transparent huge pages the heap works as before.
  if (before != std::uintptr_t(-1) && last > first)
    ::madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
}

}  // namespace

void KeepRuntimeTelemetryOff() { ::setenv("ORT_DISABLE_TELEMETRY", "1", 0); }

void PrepareEngineProcess() {
  KeepRuntimeTelemetryOff();
  PrepareHeap();
}

}  // namespace scrivane
