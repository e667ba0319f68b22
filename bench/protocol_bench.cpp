// Benchmarks of the host's own work per packet: building a boot-loader request and a firmware data
// packet, the boot loader's CRC over a full chunk, serving one data request from the firmware file,
// and the record scan of a file with many records.
#include <benchmark/benchmark.h>

#include <vector>

#include "appmode/app_packet.h"
#include "base/trace.h"
#include "bench/bench_rig.h"
#include "boot/boot_packet.h"
#include "emulator/dat_writer.h"
#include "firmware/firmware_record.h"
#include "update/update_dlg.h"

namespace {

void BM_BuildBootRequest(benchmark::State& state) {
  std::vector<uint8_t> chunk = MakeImage(kBootChunkSize);
  uint8_t packet[kBootRequestSize];
  for (auto _ : state) {
    benchmark::DoNotOptimize(BuildBootRequest(packet, chunk.data(), kBootChunkSize, 0x08003400,
                                              0x40000, BOOT_CMD_WRITE_IMAGE, 1));
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_BuildBootRequest);

// A data packet of a full chunk, built in place in a report's payload: one piece of 39 bytes.
void BM_BuildFirmwareDataPacket(benchmark::State& state) {
  std::vector<uint8_t> chunk = MakeImage(kAppChunkSize);
  uint8_t report[kPayloadLength];
  for (auto _ : state) {
    FirmwarePacket packet;
    BuildFirmwarePacket(FW_DATA, chunk.data(), kAppChunkSize, &packet);
    benchmark::DoNotOptimize(BuildPacketPiece(report, packet, 0, kDataPieceLength));
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_BuildFirmwareDataPacket);

void BM_BootCrc16(benchmark::State& state) {
  std::vector<uint8_t> chunk = MakeImage(kBootChunkSize);
  for (auto _ : state)
    benchmark::DoNotOptimize(BootCrc16(chunk.data(), kBootChunkSize));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kBootChunkSize);
}
BENCHMARK(BM_BootCrc16);

// One data request from the controller, served from the image read at the confirmation: copy 32
// bytes, write the packet.
void BM_DispatchDataRequest(benchmark::State& state) {
  const uint32_t imageSize = 256 * 1024;
  const std::vector<uint8_t> image = MakeImage(imageSize);
  SinkHidPlatform link;
  CUpdateDlg dlg({&link, QuietTraceSink(), {}});
  dlg.Run().m_Hid.DetectDevice();
  dlg.Run().m_Hid.OpenHid();
  dlg.Run().m_imageSize = imageSize;
  uint8_t request[63] = {0x00, MSG_FIRMWARE, 0x01, 0x00, FW_DATA_REQUEST};
  dlg.Run().m_app.m_nUpdateState = STATE_IDLE;  // a transfer of an earlier run is not this dialog's
  for (auto _ : state) {
    if (dlg.Run().m_app.m_nUpdateState != STATE_SENDING) {  // a transfer completed: start the next
      state.PauseTiming();
      dlg.Run().m_image = image;
      dlg.Run().m_bytesDone = 0;
      dlg.Run().m_app.m_bTransferComplete = 0;
      dlg.Run().m_app.m_nUpdateState = STATE_FILE_CHOSEN;
      state.ResumeTiming();
    }
    dlg.Run().m_app.DispatchReport(request);
    if (dlg.Run().m_image.empty() && dlg.Run().m_app.m_nUpdateState == STATE_SENDING) {
      state.SkipWithError("a data request was not served");
      break;
    }
  }
}
BENCHMARK(BM_DispatchDataRequest);

// The record that fits is the last of 64, each a header and 4 KiB of image: the scan reads headers.
void BM_FindFirmwareRecord(benchmark::State& state) {
  std::vector<DatRecord> records(64);
  for (size_t i = 0; i < records.size(); ++i) {
    records[i].deviceType = 0x1000 + static_cast<uint32_t>(i);
    records[i].image = MakeImage(4096, static_cast<uint32_t>(i));
  }
  records.back().deviceType = kBootDeviceType3009;
  BenchFolder folder;
  std::u16string file = folder.Write("scan.dat", records);
  const int32_t expected = static_cast<int32_t>((records.size() - 1) * (kRecordHeaderSize + 4096));
  if (FindFirmwareRecord(file, kBootDeviceType3009) != expected) {
    state.SkipWithError("the scan did not find the record at its offset");
    return;
  }
  for (auto _ : state)
    benchmark::DoNotOptimize(FindFirmwareRecord(file, kBootDeviceType3009));
}
BENCHMARK(BM_FindFirmwareRecord);

}  // namespace
