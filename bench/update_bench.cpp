// Whole 256 KiB updates in both modes, through the Qt window system (offscreen) and the dialog, on
// the virtual controller with 1 ms per report each way.
//
// The controller runs in virtual time: its waits cost nothing here, so the real time a run takes is
// the host's own work (the updater's, the window system's and the virtual controller's, which
// counts against the host). What a user would wait for is that plus the virtual time:
//   wall_s   = virtual_s + host time
//   limit_s  = round trips x 2 ms + the prescribed pauses (the boot loader's two erase waits)
//   host_%   = host time / wall_s
// With "blocking" the worker waits for every progress position as the UI thread applies it, as
// a window system without posted updates makes it do (for comparison).
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QMetaObject>
#include <QPushButton>
#include <QThread>
#include <chrono>
#include <memory>

#include "base/clock.h"
#include "base/trace.h"
#include "bench/bench_rig.h"
#include "emulator/virtual_boot_loader.h"
#include "emulator/virtual_hid.h"
#include "emulator/virtual_running_firmware.h"
#include "ui/qt/update_window.h"
#include "update/update_dlg.h"

namespace {

constexpr char kPath[] = "/dev/hidraw-bench";
constexpr uint32_t kImageSize = 256 * 1024;
constexpr uint32_t kRoundTripMs = 2;          // 1 ms out, 1 ms back
constexpr uint64_t kBootPausesMs = 2 * 1000;  // the image erase and the version-area erase

// The Qt window system with the user's answers given at once: the file, OK to every box.
class BenchWindowSystem : public QtWindowSystem {
 public:
  BenchWindowSystem(std::u16string file, bool blockingProgress)
      : m_file(std::move(file)), m_bBlockingProgress(blockingProgress) {}
  void SetProgressPos(int position) override {
    QtWindowSystem::SetProgressPos(position);
    if (m_bBlockingProgress && QThread::currentThread() != thread())
      QMetaObject::invokeMethod(
          this, [] {}, Qt::BlockingQueuedConnection);
  }

 protected:
  int ExecBox(const std::u16string&, const std::u16string&, unsigned, bool) override {
    return IDOK;
  }
  bool ExecFileDialog(const QString&, const std::u16string&, std::u16string* path, bool) override {
    *path = m_file;
    return true;
  }

 private:
  std::u16string m_file;
  bool m_bBlockingProgress;
};

template <typename Model>
void RunWholeUpdate(benchmark::State& state, uint16_t vendorId, uint16_t productId,
                    uint64_t pausesMs) {
  const bool blocking = state.range(0) != 0;
  BenchFolder folder;
  DatRecord record;
  record.image = MakeImage(kImageSize);
  std::u16string file = folder.Write("update.dat", {record});
  double hostS = 0, virtualS = 0, limitS = 0;
  bool finished = true;
  for (auto _ : state) {
    VirtualClock clock;
    VirtualHidPlatform platform(&clock);
    auto model = std::make_shared<Model>();
    platform.Plug(kPath, vendorId, productId, model);
    platform.Faults(kPath).latencyMs = kRoundTripMs;
    {
      CUpdateDlg dlg({&platform, QuietTraceSink(), {}});
      CUpdateWindow window(&dlg, std::make_unique<BenchWindowSystem>(file, blocking));
      window.Open();
      platform.ClearTranscript();
      const uint64_t startMs = clock.NowMs();
      const auto begin = std::chrono::steady_clock::now();
      window.UpdateButton()->click();
      while (dlg.IsUpdateRunning())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
      const std::chrono::duration<double> host = std::chrono::steady_clock::now() - begin;
      state.SetIterationTime(host.count());
      hostS += host.count();
      virtualS += static_cast<double>(clock.NowMs() - startMs) / 1000.0;
      size_t roundTrips = 0;
      for (const TranscriptEntry& entry : platform.Transcript())
        roundTrips += entry.fromHost ? 1 : 0;
      limitS += static_cast<double>(roundTrips * kRoundTripMs + pausesMs) / 1000.0;
      finished = finished && model->m_bFinished;
      window.close();
      window.Shutdown();
    }
  }
  if (!finished)
    state.SkipWithError("an update did not finish");
  const double n = static_cast<double>(state.iterations());
  state.counters["wall_s"] = (virtualS + hostS) / n;
  state.counters["limit_s"] = limitS / n;
  state.counters["host_%"] = 100.0 * hostS / (virtualS + hostS);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kImageSize);
}

// Both modes: with progress posted (blocking/0) and waited for (blocking/1), three runs each, timed
// by the virtual controller's clock and the host's work.
void WholeUpdateRuns(benchmark::internal::Benchmark* runs) {
  runs->ArgName("blocking")
      ->Arg(0)
      ->Arg(1)
      ->Iterations(3)
      ->UseManualTime()
      ->Unit(benchmark::kMillisecond);
}

void BM_BootModeUpdate256K(benchmark::State& state) {
  RunWholeUpdate<VirtualBootLoader>(state, 0x7A3D, 0x3208, kBootPausesMs);
}
BENCHMARK(BM_BootModeUpdate256K)->Apply(WholeUpdateRuns);

void BM_ApplicationModeUpdate256K(benchmark::State& state) {
  RunWholeUpdate<VirtualRunningFirmware>(state, 0x0483, 0x5750, 0);
}
BENCHMARK(BM_ApplicationModeUpdate256K)->Apply(WholeUpdateRuns);

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
    qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
