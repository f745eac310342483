// Scrivane: reads the handwriting in one name image, or runs its self-test.
#include <cstdio>
#include <string>
#include <vector>

#include "scrivane/CommandLine.h"
#include "scrivane/ProcessSetup.h"

int main(int argc, char** argv) {
  scrivane::PrepareEngineProcess();
  std::setvbuf(stderr, nullptr, _IONBF, 0);
  std::vector<std::string> args(argv + 1, argv + argc);
  return scrivane::ScrivaneMain(args, {stdout, stderr});
}
