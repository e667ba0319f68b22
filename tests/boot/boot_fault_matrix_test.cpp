// Boot-mode updates through the whole dialog (start-up, the update button, the update thread and
// its end notice) against the virtual boot loader in virtual time, one fault per row (one row pairs
// two): what goes wrong, the step it strikes, and what the user must then see. After every row that
// did not end in success, the controller (plugged back in if it was pulled) is updated once more
// and must then hold exactly the image. The table of outcomes goes to stdout.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "base/clock.h"
#include "base/local_text.h"
#include "base/trace.h"
#include "base/wide_string.h"
#include "emulator/dat_writer.h"
#include "emulator/virtual_boot_loader.h"
#include "emulator/virtual_hid.h"
#include "tests/support/fake_window_system.h"
#include "tests/support/held_file.h"
#include "update/update_dlg.h"

namespace {

const char kPath[] = "/dev/hidraw-boot";
constexpr uint32_t kImageSize = 1000;         // 21 chunks of 46 bytes and one of 34
constexpr uint32_t kNewVersion = 0x0002008A;  // 1.38 beta 2
const std::u16string kNewTitle = u"Tarvix Update v2.60(GamePad V1.38 beta2)";

const std::vector<uint8_t> kImage = MakeImage(kImageSize, 11);
const std::vector<uint8_t> kOldFirmware = MakeImage(48, 77);

// Where a fault strikes. Identification: before start-up; re-detection and erase: after start-up,
// before the click; selection: at the confirmation box; chunks and version area: at the progress
// step before them (step 1 follows the erase's acknowledgement, step n + 1 chunk n); finish: at the
// step before the version area too (the finish is the third report from there).
enum Where { kIdent, kReDetect, kSelect, kErase, kFirst, kMiddle, kLast, kVersion, kFinish, kNone };
const int kStepOf[] = {0, 0, 0, 0, 1, 11, 22, 23, 23};
const char* const kWhere[] = {"identification", "re-detection", "selection",
                              "erase",          "first chunk",  "middle chunk",
                              "last chunk",     "version area", "finish"};

// A window that tells the row where the update thread has got to: a confirmation box (kSelect) or
// a progress step (kFirst).
class Window : public FakeWindowSystem {
 public:
  int ShowBox(const std::u16string& text, const std::u16string& caption, unsigned type) override {
    if (type == MB_OKCANCEL)
      onStep(kSelect);
    return FakeWindowSystem::ShowBox(text, caption, type);
  }
  void SetProgressPos(int position) override {
    FakeWindowSystem::SetProgressPos(position);
    onStep(kFirst);
  }
  std::function<void(Where)> onStep = [](Where) {};
};

// One program run: the clock, the USB bus, the window, the controller and the dialog.
struct Rig {
  ~Rig() { dlg.reset(); }
  // Plugs a boot loader that holds an old firmware at its image base.
  void Plug(std::optional<uint32_t> deviceType = kDeviceType3009) {
    BootLoaderConfig config;
    config.deviceType = deviceType;
    loader = std::make_shared<VirtualBootLoader>(config);
    loader->Preload(loader->Layout().imageBase, kOldFirmware);
    hid.Plug(kPath, 0x7A3D, 0x3208, loader);
  }
  void StartUp() {
    dlg.reset();
    dlg = std::make_unique<CUpdateDlg>(Seams{&hid, QuietTraceSink(), LANG_EN_US});
    dlg->AttachWindow(&window);
    dlg->OnInitDialog();
  }
  // Hands the dialog the arrival and removal notices, as the window system does.
  void Pump() {
    for (IDeviceMonitor* monitor : window.WatchedMonitors())
      for (int event; (event = monitor->ReceiveEvent()) != IDeviceMonitor::kNone;)
        dlg->OnDeviceChange(event, 0);
  }
  // The user presses the button, picks path and confirms; the window system carries the worker's
  // end notice back. Answers false when the worker did not end.
  bool Update(const std::u16string& path) {
    file = path;
    window.QueueFilePath(path);
    window.QueueBoxAnswer(IDOK);
    dlg->OnBnClickedUsbUpdate();
    bool ended = window.WaitForWorkerEnd();
    window.onStep = [](Where) {};
    commandsAtEnd = loader->m_commands.size();
    if (ended)
      dlg->OnWorkerEnded();
    return ended;
  }
  // The image from the base, its version area (base + 0x34) erased again and holding the new
  // version word, and nothing written after it.
  bool FlashIsImage() {
    BootMemoryLayout layout = loader->Layout();
    std::vector<uint8_t> want = kImage;
    for (uint32_t i = 0; i < 32; ++i)
      want[layout.versionArea - layout.imageBase + i] =
          i < 4 ? static_cast<uint8_t>(kNewVersion >> (8 * i)) : 0xFF;
    want.insert(want.end(), 64, 0xFF);
    return loader->ReadFlash(layout.imageBase, kImageSize + 64) == want;
  }
  std::string Outcome() {
    std::string got = dlg->IsClosePending() ? "closed, no box" : "no box";
    for (const FakeWindowSystem::Box& box : window.Boxes()) {
      if (box.text == u"\n Firmware upgraded! \n")
        got = FlashIsImage() ? "success" : "success, flash differs";
      else if (box.text == u"Firmware update failure\n" && box.type == MB_OK &&
               box.caption == u"Tarvix Update v2.60")
        got = "failure box";
      else if (box.text == u"The Firmware not recognized!")
        got = "refused";
    }
    return got;
  }

  VirtualClock clock;
  VirtualHidPlatform hid{&clock};
  Window window;
  std::shared_ptr<VirtualBootLoader> loader;
  std::unique_ptr<CUpdateDlg> dlg;
  std::function<void(Rig&)> next;  // the second half of a fault, at the next progress step
  std::u16string file;             // the firmware file of the update
  std::unique_ptr<HeldFile> held;  // another program's hold on it
  int notices = 0;                 // device-change events handed to the dialog during the update
  size_t commandsAtEnd = 0;
};

using Strike = std::function<void(Rig&)>;
using W = WireFaults;
using L = VirtualBootLoader;
// Sets a fault knob of the wire or of the boot loader.
template <typename T, typename Of>
Strike Set(T Of::*knob, T value) {
  if constexpr (std::is_same_v<Of, WireFaults>)
    return [=](Rig& r) { r.hid.Faults(kPath).*knob = value; };
  else
    return [=](Rig& r) { (*r.loader).*knob = value; };
}
Strike Notices(std::vector<uint32_t> events) {
  return [events](Rig& r) {
    for (uint32_t event : events)
      r.dlg->OnDeviceChange(event, 0);
    ++r.notices;
  };
}
// The user closes the window and answers OK: the update is to stop.
Strike Close() {
  return [](Rig& r) {
    r.window.QueueBoxAnswer(IDOK);
    r.dlg->OnCloseRequested();
  };
}

struct Row {
  const char* fault;
  Where where;
  const char* want;  // "success", "failure box", "no box", "refused" or "closed, no box"
  uint64_t boundMs;  // virtual time from start-up to the worker's end
  Strike strike;
  bool misplaced = false;  // the file's 0x3009 record targets 0x08014000
  bool replug = false;     // the user pulls and plugs the controller before trying again
  Strike after = nullptr;  // the fault's second half, at the following progress step
};

TEST(BootFaultMatrix, EveryFaultEndsAsTheUserMustSeeIt) {
  std::filesystem::path folder =
      std::filesystem::temp_directory_path() / ("tarvix-boot-matrix-" + std::to_string(::getpid()));
  std::filesystem::create_directories(folder);
  auto dat = [&](const char* name, std::vector<std::pair<uint32_t, uint32_t>> records) {
    std::vector<DatRecord> list;
    for (auto [type, address] : records)
      list.push_back({138, 2, address, type, {}, kImage});
    EXPECT_TRUE(WriteFile((folder / name).string(), BuildDat(list)));
    return Utf8ToUtf16((folder / name).string());
  };
  const std::u16string good = dat("good.dat", {{0x1234, 0x01018000}, {0x3009, 0x08003400}});
  const std::u16string misplaced =
      dat("misplaced.dat", {{0x1234, 0x01018000}, {0x3009, 0x08014000}});
  const std::u16string every =
      dat("every.dat", {{0x1234, 0x01018000}, {0x3009, 0x08003400}, {0, 0x08014000}});

  // Bounds, virtual ms from start-up to the worker's end. Each erase pauses 1000 ms before its
  // first read, so an update without faults takes 2000; an answered read costs nothing; an erase
  // read that brings nothing costs 10 + 500, one that brings another report 500; a chunk or the
  // version word left unanswered costs 20 x 10 before it is sent again or given up; a start-up
  // read that brings nothing costs 200.
  const std::vector<Row> rows = {
      {"none: the title shows the written version", kFinish, "success", 2000, [](Rig&) {}},
      {"device-type reply lost", kIdent, "success", 2200, Set(&W::dropNextReplies, 1)},
      {"device type never answered (6 sendings)", kIdent, "refused", 1000,
       Set(&W::dropNextReplies, 6), false, true},
      {"replaced by a loader without device type", kReDetect, "refused", 1000,
       [](Rig& r) {
         r.hid.Unplug(kPath);
         r.Plug(std::nullopt);
         r.Pump();
       },
       true},
      {"record for another address", kSelect, "refused", 0, [](Rig&) {}, true},
      {"unplugged before the erase", kSelect, "no box", 0, [](Rig& r) { r.hid.Unplug(kPath); }},
      {"reply lost", kErase, "failure box", 11200, Set(&W::dropNextReplies, 1)},
      {"reply corrupted", kErase, "failure box", 11200, Set(&W::corruptNextReplies, 1)},
      {"reply 1500 ms late", kErase, "success", 2510, Set(&W::latencyMs, 1500u)},
      {"reply sent twice", kErase, "success", 2000, Set(&L::m_nRepeatedReplies, 1)},
      {"unplugged during the erase", kErase, "failure box", 1000, Set(&W::unplugAfterReports, 1)},
      {"reply lost", kFirst, "success", 2200, Set(&W::dropNextReplies, 1)},
      {"data damaged, CRC rejected once", kFirst, "success", 2200, Set(&L::m_nDamagedWrites, 1)},
      {"reply sent twice", kFirst, "success", 2500, Set(&L::m_nRepeatedReplies, 1)},
      {"file held by another update", kFirst, "success", 2000,
       [](Rig& r) { r.held = std::make_unique<HeldFile>(Utf16ToUtf8(r.file)); }},
      {"reply 150 ms late", kMiddle, "success", 2150, Set(&W::latencyMs, 150u)},
      {"reply 300 ms late", kMiddle, "success", 3000, Set(&W::latencyMs, 300u)},
      {"reply corrupted", kMiddle, "success", 2200, Set(&W::corruptNextReplies, 1)},
      {"reply 300 ms late, next chunk CRC rejected", kMiddle, "success", 3200,
       Set(&W::latencyMs, 300u), false, false, Set(&L::m_nDamagedWrites, 1)},
      {"unplugged", kMiddle, "failure box", 1000, Set(&W::unplugAfterReports, 1)},
      {"removal and arrival notices", kMiddle, "success", 2000, Notices({0x8004, 0x8000})},
      {"close confirmed", kMiddle, "closed, no box", 1000, Close()},
      {"reply for another command", kLast, "success", 2200, Set(&L::m_nWrongCommandReplies, 1)},
      {"CRC rejected at all 11 sendings", kLast, "failure box", 3200,
       Set(&L::m_nDamagedWrites, 11)},
      {"erase reply lost", kVersion, "failure box", 12200, Set(&W::dropNextReplies, 1)},
      {"version word CRC rejected", kVersion, "success", 2200, Set(&L::m_nDamagedWrites, 1)},
      {"erase and version word replies 300 ms late", kVersion, "success", 2400,
       Set(&W::latencyMs, 300u)},
      {"unplugged", kVersion, "failure box", 2000, Set(&W::unplugAfterReports, 1)},
      {"devnodes-changed notice", kVersion, "success", 2000, Notices({7})},
      {"arrival notice", kSelect, "success", 2000, Notices({0x8000})},
      {"never answered", kFinish, "success", 2010,
       Set(&L::m_ignoreCommand, std::optional<uint16_t>(7))},
      {"unplugged", kFinish, "success", 2000, Set(&W::unplugAfterReports, 3)},
  };

  // What the failure says it was, for each row that ends with the failure box.
  const std::map<std::string, std::string> causes = {
      {"reply lost/erase", "no answer to the erase at 0x08003400 (20 reads)"},
      {"reply corrupted/erase", "no answer to the erase at 0x08003400 (20 reads)"},
      {"unplugged during the erase/erase",
       "the controller went away during the erase at 0x08003400"},
      {"unplugged/middle chunk", "the controller went away during a write at 0x080035cc"},
      {"CRC rejected at all 11 sendings/last chunk",
       "the image chunk at 0x080037c6 was not acknowledged (11 sendings)"},
      {"erase reply lost/version area", "no answer to the erase at 0x08003434 (20 reads)"},
      {"unplugged/version area", "the controller went away during the erase at 0x08003434"},
  };
  std::printf("%-44s %-14s %-14s %-22s %6s %-5s %s\n", "fault", "where", "expected", "got", "ms",
              "then", "cause");
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.fault) + " at " + kWhere[row.where]);
    auto rig = std::make_unique<Rig>();
    Rig& r = *rig;
    r.Plug();
    if (row.where == kIdent)
      row.strike(r);
    r.StartUp();
    if (row.where == kReDetect || row.where == kErase)
      row.strike(r);
    int step = -1;  // step 0: the click resets the progress bar
    bool struck = false;
    r.window.onStep = [&](Where at) {
      if (at == kFirst) {
        if (++step > 0)
          r.hid.Faults(kPath).latencyMs = 0;  // lateness lasts one step
        if (Strike then = std::exchange(r.next, nullptr))
          then(r);
        at = step > 0 && step == kStepOf[row.where] ? row.where : kNone;
      }
      if (at == row.where && !std::exchange(struck, true)) {
        row.strike(r);
        r.next = row.after;
      }
    };
    size_t commandsBefore = r.loader->m_commands.size();
    ASSERT_TRUE(r.Update(row.misplaced ? misplaced : good)) << "the update thread did not end";
    uint64_t elapsed = r.clock.NowMs();
    std::string got = r.Outcome();

    EXPECT_EQ(got, row.want);
    EXPECT_LE(elapsed, row.boundMs);
    const std::string cause = r.dlg->Run().m_failureCause;
    // The outcome the update reports to a front end is the one the user saw.
    const std::map<std::string, UpdateOutcome> outcomes = {
        {"success", UpdateOutcome::kDone},
        {"failure box", UpdateOutcome::kFailed},
        {"refused", UpdateOutcome::kRefused},
        {"no box", UpdateOutcome::kFailed},
        {"closed, no box", UpdateOutcome::kStopped}};
    EXPECT_EQ(UpdateOutcomeText(r.dlg->Run().m_lastResult.outcome),
              std::string(UpdateOutcomeText(outcomes.at(row.want))));
    if (got == "failure box") {
      auto expected = causes.find(std::string(row.fault) + "/" + kWhere[row.where]);
      EXPECT_EQ(cause, expected == causes.end() ? "(a cause in the table)" : expected->second);
    }
    EXPECT_FALSE(r.dlg->IsUpdateRunning());
    EXPECT_FALSE(r.dlg->Run().m_worker.joinable());
    EXPECT_EQ(r.window.IsEnabled(IDC_USB_UPDATE), r.hid.IsPlugged(kPath));
    EXPECT_TRUE(r.dlg->Run().m_image.empty());
    // Nobody identifies the controller during the update; one re-detection follows it when a
    // device-change event came meanwhile.
    const std::vector<uint16_t>& commands = r.loader->m_commands;
    EXPECT_EQ(std::count(commands.begin() + commandsBefore, commands.begin() + r.commandsAtEnd, 8),
              0);
    EXPECT_EQ(std::count(commands.begin() + r.commandsAtEnd, commands.end(), 8), r.notices ? 1 : 0);
    if (got == "success") {
      EXPECT_EQ(r.window.Title(), kNewTitle);
      EXPECT_TRUE(r.window.IsVisible(IDC_DONE_LABEL));
    }
    if (got.rfind("success", 0) != 0) {
      EXPECT_FALSE(r.loader->m_bFinished);
    }
    if (got == "refused" || got == "no box") {
      EXPECT_TRUE(r.loader->m_erases.empty());
      EXPECT_EQ(r.loader->ReadFlash(r.loader->Layout().imageBase, 48), kOldFirmware);
    }
    if (got == "closed, no box") {
      EXPECT_EQ(r.window.m_nEndDialogs, 1);  // the dialog let the window go
    }

    std::string then = "-";
    if (std::string(row.want) != "success") {
      if (row.replug)
        r.hid.Unplug(kPath);
      if (got == "closed, no box")
        r.StartUp();  // the window was closed: the program is started again
      if (!r.hid.IsPlugged(kPath))
        r.hid.Plug(kPath, 0x7A3D, 0x3208, r.loader);
      r.Pump();
      r.window.ClearRecords();
      ASSERT_TRUE(r.Update(every)) << "the second update did not end";
      then = r.Outcome();
      EXPECT_EQ(then, "success") << "second update";
    }
    EXPECT_EQ(r.loader->m_nWriteFaults, 0);  // nothing was written over bytes not erased since
    std::printf("%-44s %-14s %-14s %-22s %6llu %-5s %s\n", row.fault, kWhere[row.where], row.want,
                got.c_str(), static_cast<unsigned long long>(elapsed), then.c_str(),
                got == "failure box" ? cause.c_str() : "");
  }
  std::fflush(stdout);
  std::error_code error;
  std::filesystem::remove_all(folder, error);
}

}  // namespace
