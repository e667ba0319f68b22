// Whole updates of 1, 2, 4 and 8 virtual controllers at once, all boot loaders or all running
// firmware, through tarvix-flash's own entry (flash --all --yes) with the demo's sample file (48
// KiB) and 1 ms per report each way, in real time as over USB. Each controller has its own session
// and worker, so the wall time of 8 should stay near the wall time of 1.
//   wall_s   the real time of the whole run
//   cpu_%    the process's CPU time (updater, virtual controllers, their waits) per update, as a
//            share of the wall time
#include <benchmark/benchmark.h>

#include <chrono>
#include <ctime>
#include <sstream>
#include <string>
#include <vector>

#include "base/wide_string.h"
#include "bench/bench_rig.h"
#include "emulator/demo_sample.h"
#include "ui/cli/flash_main.h"

namespace {

double ProcessCpuSeconds() {
  timespec now{};
  ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

void RunParallelUpdates(benchmark::State& state, const char* mode) {
  const int controllers = static_cast<int>(state.range(0));
  BenchFolder folder;
  const std::string file = Utf16ToUtf8(folder.WriteBytes("sample.dat", DemoSampleDat()));
  if (file.empty()) {
    state.SkipWithError("the sample file could not be written");
    return;
  }
  std::string modes = mode;
  for (int i = 1; i < controllers; ++i)
    modes += std::string(",") + mode;
  std::vector<std::string> args = {"tarvix-flash", "--virtual", modes,  "flash",
                                   file,           "--all",     "--yes"};
  std::vector<char*> argv;
  for (std::string& arg : args)
    argv.push_back(arg.data());
  double wallS = 0, cpuS = 0;
  for (auto _ : state) {
    std::ostringstream out, err;
    FlashEnv env;
    env.out = &out;
    env.err = &err;
    const double cpuBefore = ProcessCpuSeconds();
    const auto begin = std::chrono::steady_clock::now();
    int exitCode = FlashMain(static_cast<int>(argv.size()), argv.data(), env);
    const std::chrono::duration<double> wall = std::chrono::steady_clock::now() - begin;
    state.SetIterationTime(wall.count());
    wallS += wall.count();
    cpuS += ProcessCpuSeconds() - cpuBefore;
    if (exitCode != 0) {
      state.SkipWithError(("an update failed: " + err.str()).c_str());
      return;
    }
  }
  const double n = static_cast<double>(state.iterations());
  state.counters["wall_s"] = wallS / n;
  state.counters["cpu_%"] = 100.0 * cpuS / controllers / wallS;
}

void ControllerCounts(benchmark::internal::Benchmark* runs) {
  runs->ArgName("controllers")
      ->Arg(1)
      ->Arg(2)
      ->Arg(4)
      ->Arg(8)
      ->Iterations(1)
      ->UseManualTime()
      ->Unit(benchmark::kMillisecond);
}

void BM_BootLoadersAtOnce(benchmark::State& state) {
  RunParallelUpdates(state, "boot");
}
BENCHMARK(BM_BootLoadersAtOnce)->Apply(ControllerCounts);

void BM_RunningFirmwareAtOnce(benchmark::State& state) {
  RunParallelUpdates(state, "app");
}
BENCHMARK(BM_RunningFirmwareAtOnce)->Apply(ControllerCounts);

}  // namespace
