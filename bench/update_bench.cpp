// Benchmarks of whole updates against the virtual controller.
//
// Updates run in virtual time with a reply latency of 1 ms (a USB full-speed frame), so each
// benchmark reports two figures: the CPU time the updater spends per update (the benchmark's own
// time), and "virtual_s", how long the update would take a user on a real controller with that
// latency. Run with `make bench`.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <string>

#include "base/clock.h"
#include "base/trace.h"
#include "base/wide_string.h"
#include "boot/boot_packet.h"
#include "emulator/dat_writer.h"
#include "emulator/virtual_boot_loader.h"
#include "emulator/virtual_hid.h"
#include "emulator/virtual_running_firmware.h"
#include "tests/support/fake_window_system.h"
#include "update/update_dlg.h"

namespace {

constexpr char kPath[] = "/dev/hidraw-bench";

// A folder of this process for one benchmark's files, removed with everything in it at the end.
class BenchFolder {
 public:
  BenchFolder()
      : m_path(std::filesystem::temp_directory_path() /
               ("tarvix-bench-" + std::to_string(::getpid()))) {
    std::filesystem::create_directories(m_path);
  }
  ~BenchFolder() {
    std::error_code error;
    std::filesystem::remove_all(m_path, error);
  }
  BenchFolder(const BenchFolder&) = delete;
  BenchFolder& operator=(const BenchFolder&) = delete;

  // Writes a firmware file of the records; answers its path, or "" when it could not be written.
  std::string Write(const std::string& name, const std::vector<DatRecord>& records) const {
    std::string path = (m_path / name).string();
    return WriteFile(path, BuildDat(records)) ? path : std::string();
  }

 private:
  std::filesystem::path m_path;
};

struct BenchRig {
  BenchRig() {
    SetClock(&clock);
    SetHidPlatform(&platform);
    SetTraceSink([](const std::string&) {});
  }
  ~BenchRig() {
    SetTraceSink({});
    SetHidPlatform(nullptr);
    SetClock(nullptr);
  }
  VirtualClock clock;
  VirtualHidPlatform platform;
  FakeWindowSystem window;
};

// One whole update per iteration on a freshly plugged controller: the dialog starts up (detection
// and version query or identification), the link opens, the user picks the file and confirms.
template <typename Model>
void RunUpdateBenchmark(benchmark::State& state, uint16_t vendorId, uint16_t productId,
                        void (*entry)(void*)) {
  const uint32_t imageSize = static_cast<uint32_t>(state.range(0));
  DatRecord record;
  record.image = MakeImage(imageSize);
  BenchFolder folder;
  std::string file = folder.Write("update.dat", {record});
  if (file.empty()) {
    state.SkipWithError("the firmware file could not be written");
    return;
  }
  double virtualMs = 0;
  bool finished = true;
  for (auto _ : state) {
    state.PauseTiming();
    BenchRig rig;
    auto model = std::make_shared<Model>();
    rig.platform.Plug(kPath, vendorId, productId, model);
    rig.platform.Faults(kPath).latencyMs = 1;
    CUpdateDlg dlg;
    dlg.AttachWindow(&rig.window);
    dlg.OnInitDialog();
    dlg.m_Hid.OpenHid();
    rig.window.QueueFilePath(Utf8ToUtf16(file));
    g_bStop = 0;
    uint64_t start = rig.clock.NowMs();
    state.ResumeTiming();

    entry(nullptr);

    state.PauseTiming();
    virtualMs += static_cast<double>(rig.clock.NowMs() - start);
    finished = finished && model->m_bFinished;
    state.ResumeTiming();
  }
  if (!finished)
    state.SkipWithError("an update did not finish");
  state.counters["virtual_s"] =
      benchmark::Counter(virtualMs / 1000.0, benchmark::Counter::kAvgIterations);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * imageSize);
}

void BM_BootModeUpdate(benchmark::State& state) {
  RunUpdateBenchmark<VirtualBootLoader>(state, 0x7A3D, 0x3208, Boot_UpdateThread);
}
BENCHMARK(BM_BootModeUpdate)->Arg(4 * 1024)->Arg(64 * 1024)->Unit(benchmark::kMillisecond);

void BM_ApplicationModeUpdate(benchmark::State& state) {
  RunUpdateBenchmark<VirtualRunningFirmware>(state, 0x0483, 0x5750, Usb_UpdateThread);
}
BENCHMARK(BM_ApplicationModeUpdate)->Arg(4 * 1024)->Arg(64 * 1024)->Unit(benchmark::kMillisecond);

void BM_FindFirmwareRecord(benchmark::State& state) {
  // Many records before the one that fits: the scan reads headers only.
  std::vector<DatRecord> records(static_cast<size_t>(state.range(0)));
  for (size_t i = 0; i < records.size(); ++i) {
    records[i].deviceType = 0x1000 + static_cast<uint32_t>(i);
    records[i].image = MakeImage(4096, static_cast<uint32_t>(i));
  }
  records.back().deviceType = 0x3009;
  BenchFolder folder;
  std::u16string file = Utf8ToUtf16(folder.Write("scan.dat", records));
  // The record that fits follows all the others, each a 28-byte header and 4096 image bytes: a
  // scan that answers anything else is not worth timing.
  const int32_t expected = static_cast<int32_t>((records.size() - 1) * (28 + 4096));
  if (FindFirmwareRecord(file, 0x3009) != expected) {
    state.SkipWithError("the scan did not find the record at its offset");
    return;
  }
  for (auto _ : state)
    benchmark::DoNotOptimize(FindFirmwareRecord(file, 0x3009));
}
BENCHMARK(BM_FindFirmwareRecord)->Arg(16)->Arg(256);

void BM_BootCrc16(benchmark::State& state) {
  std::vector<uint8_t> chunk = MakeImage(46);
  for (auto _ : state)
    benchmark::DoNotOptimize(BootCrc16(chunk.data(), 46));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * 46);
}
BENCHMARK(BM_BootCrc16);

}  // namespace

BENCHMARK_MAIN();
