// tarvix-demo-dat FILE: writes the sample firmware file of the virtual controller, which the build
// installs for tarvix-flash --virtual.
#include <cstdio>

#include "emulator/dat_writer.h"
#include "emulator/demo_sample.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: tarvix-demo-dat FILE\n");
    return 2;
  }
  if (!WriteFile(argv[1], DemoSampleDat())) {
    std::fprintf(stderr, "tarvix-demo-dat: %s: cannot be written\n", argv[1]);
    return 1;
  }
  return 0;
}
