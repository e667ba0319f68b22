// tarvix-flash end to end: the real program (FlashMain) on virtual controllers in virtual time.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <mutex>
#include <regex>
#include <set>
#include <sstream>
#include <thread>
#include <utility>

#include <unistd.h>

#include "appmode/serial_mask.h"
#include "base/clock.h"
#include "base/local_text.h"
#include "boot/boot_packet.h"
#include "emulator/dat_writer.h"
#include "emulator/demo_sample.h"
#include "emulator/virtual_boot_loader.h"
#include "emulator/virtual_running_firmware.h"
#include "tests/support/english_words.h"
#include "tests/support/held_file.h"
#include "tests/support/temp_folder.h"
#include "ui/cli/cli.h"
#include "ui/cli/flash_main.h"
#include "ui/cli/options.h"
#include "ui/cli/terminal_view.h"

namespace {

// A boot loader with a hook that runs before each report it takes: the report's number and command.
class HookedLoader : public VirtualBootLoader {
 public:
  using VirtualBootLoader::VirtualBootLoader;
  void OnReport(const uint8_t* report, const ReplyFn& reply) override {
    if (m_hook)
      m_hook(*this, ++m_reports, static_cast<uint16_t>(report[2] | report[3] << 8));
    VirtualBootLoader::OnReport(report, reply);
  }
  std::function<void(HookedLoader&, int, uint16_t)> m_hook;
  int m_reports = 0;
};

// What a controller's hook leaves to be done once the report it takes has gone out, by the
// worker that sent it, outside the bus's lock: other controllers' workers go on meanwhile.
thread_local std::function<void()> t_afterReport;

// The virtual bus, running t_afterReport after each report. Once stuck, its reads do not return
// (a system call that hangs): the first presses Ctrl-C, and the virtual clock goes on meanwhile.
class TestBus : public VirtualHidPlatform {
 public:
  explicit TestBus(VirtualClock& clock) : VirtualHidPlatform(&clock), m_clock(clock) {}
  // Runs m_onEnumerate (when set) with the number of this enumeration, before it: a controller
  // plugged in or out there is seen by it.
  std::vector<HidInterfaceInfo> Enumerate() override {
    {
      std::lock_guard lock(m_hookMutex);
      if (m_onEnumerate)
        m_onEnumerate(++m_enumerations);
    }
    return VirtualHidPlatform::Enumerate();
  }
  // Whether the host has sent the boot loader at path its finishing command.
  bool Finished(const std::string& path) {
    for (const TranscriptEntry& entry : Transcript())
      if (entry.fromHost && entry.path == path && entry.bytes.size() > 3 && entry.bytes[1] == 5 &&
          entry.bytes[2] == 7)
        return true;
    return false;
  }
  std::mutex m_hookMutex;
  std::function<void(int)> m_onEnumerate;
  int m_enumerations = 0;
  bool Write(HidHandle handle, const uint8_t* report, size_t length) override {
    bool written = VirtualHidPlatform::Write(handle, report, length);
    if (auto after = std::exchange(t_afterReport, nullptr))
      after();
    return written;
  }
  HidReadResult Read(HidHandle handle, uint8_t* payload64, uint32_t timeoutMs) override {
    std::unique_lock lock(m_mutex);
    if (m_stuck && !std::exchange(m_interrupted, true))
      RequestInterrupt();
    while (m_stuck &&
           !m_changed.wait_for(lock, std::chrono::milliseconds(5), [&] { return !m_stuck; }))
      m_clock.SleepMs(100);
    lock.unlock();
    return VirtualHidPlatform::Read(handle, payload64, timeoutMs);
  }
  void Stick(bool stuck) {
    std::lock_guard lock(m_mutex);
    m_stuck = stuck;
    m_changed.notify_all();
  }

 private:
  VirtualClock& m_clock;
  std::mutex m_mutex;
  std::condition_variable m_changed;
  bool m_stuck = false;
  bool m_interrupted = false;
};

// Sends the signal (0: Ctrl-C as the terminal sees it) from the controller's side at a known
// point, and lets the controller go on only once the front end has asked the updates of that many
// sessions to stop.
std::atomic<int> g_stopsAsked{0};
// What the workers left behind keep, never destroyed (a worker may still touch it when the test
// program ends), as main keeps it until its _Exit.
LeftBehindWorkers& g_leftBehind = *new LeftBehindWorkers;
void StopHere(int signal, int sessions = 1) {
  const int before = g_stopsAsked.load();
  if (signal == 0)
    RequestInterrupt();
  else
    std::raise(signal);
  if (signal == SIGPIPE)
    return;  // ignored: nothing is to stop
  for (int i = 0; i < 30000 && g_stopsAsked.load() < before + sessions; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

class FlashCliTest : public ::testing::Test {
 protected:
  int Run(std::vector<std::string> args, const std::string& input = "") {
    args.insert(args.begin(), "tarvix-flash");
    std::vector<char*> argv;
    for (std::string& arg : args)
      argv.push_back(arg.data());
    m_in.str(input);
    FlashEnv env;
    env.platform = &m_platform;
    env.clock = &m_clock;
    env.out = &m_out;
    env.err = &m_err;
    env.in = &m_in;
    env.language = m_language;
    env.inIsTerminal = m_bTerminal;
    env.outIsTerminal = m_bTerminal;
    env.columns = m_columns;
    env.stopsAsked = &g_stopsAsked;
    env.leftBehind = &g_leftBehind;
    return FlashMain(static_cast<int>(argv.size()), argv.data(), env);
  }
  std::shared_ptr<VirtualBootLoader> PlugBoot(
      const std::string& path,
      std::shared_ptr<VirtualBootLoader> loader = std::make_shared<VirtualBootLoader>()) {
    m_platform.Plug(path, 0x7A3D, 0x3208, loader);
    return loader;
  }
  std::shared_ptr<VirtualRunningFirmware> PlugApp(const std::string& path,
                                                  RunningFirmwareConfig config = {}) {
    auto firmware = std::make_shared<VirtualRunningFirmware>(config);
    m_platform.Plug(path, 0x0483, 0x5750, firmware);
    return firmware;
  }
  std::string Sample() { return Utf16ToUtf8(m_folder.Write("sample.dat", DemoSampleDat())); }
  std::string Out() { return m_out.str(); }
  std::string Err() { return m_err.str(); }

  VirtualClock m_clock;
  std::optional<uint16_t> m_language = LANG_EN_US;  // of the dialog's texts
  TestBus m_platform{m_clock};
  TempFolder m_folder;
  std::ostringstream m_out, m_err;
  std::istringstream m_in;
  bool m_bTerminal = false;
  int m_columns = 0;
};

constexpr char kBoot0[] = "/dev/hidraw-virtual0";
constexpr char kApp1[] = "/dev/hidraw-virtual1";

TEST_F(FlashCliTest, UsageAndHelp) {
  struct Row {
    std::vector<std::string> args;
    int exitCode;
    bool onStdout;
    std::string says;
  };
  const Row rows[] = {
      {{}, 2, false, "usage: tarvix-flash"},
      {{"-h"}, 0, true, "verify      read a boot loader's image back"},
      {{"flash", "--help"}, 0, true, "usage: tarvix-flash flash FILE.dat [OPTIONS]"},
      {{"help", "flash"}, 0, true, "      --allow-reinstall   write the version"},
      {{"list", "--help"}, 0, true, "  -j, --json"},
      {{"--version"}, 0, true, "tarvix-flash (Tarvix Update) 2."},
      {{"bogus"}, 2, false, "unknown command 'bogus'"},
      {{"help", "bogus"}, 2, false, "unknown command 'bogus'"},
      {{"list", "--frobnicate"}, 2, false, "unknown option --frobnicate"},
      {{"list", "-jx"}, 2, false, "unknown option -x"},
      {{"list", "--json=yes"}, 2, false, "--json takes no value"},
      {{"list", "--ver"}, 2, false, "option --ver is ambiguous: --verify, --verbose, --version"},
      {{"info", "-y", "x.dat"}, 2, false, "--yes is not an option of info"},
      {{"info", "--", "--json"}, 2, false, "--json: cannot be opened: No such file or directory"},
      {{"flash", "x.dat", "--device"}, 2, false, "--device needs a value"},
      {{"info"}, 2, false, "info: give one firmware file"},
      {{"--virtual", "toaster", "list"}, 2, false, "--virtual takes boot, app"},
      // Numbers are digits only, within range; the parse refuses them before anything happens.
      {{"watch", "x.dat", "--count= 1"}, 2, false, "--count takes a number of controllers"},
      {{"watch", "x.dat", "--count=-1"}, 2, false, "--count takes a number of controllers"},
      {{"watch", "x.dat", "--count=99999999999999999999999"}, 2, false, "--count takes a number"},
      {{"watch", "x.dat", "--count="}, 2, false, "--count takes a number of controllers"},
      {{"verify", "x.dat", "--wait="}, 2, false, "--wait takes a number of seconds"},
      {{"verify", "x.dat", "--wait=+3"}, 2, false, "--wait takes a number of seconds"},
  };
  for (const Row& row : rows) {
    m_out.str("");
    m_err.str("");
    EXPECT_EQ(Run(row.args), row.exitCode) << row.says;
    EXPECT_NE((row.onStdout ? Out() : Err()).find(row.says), std::string::npos) << Out() << Err();
  }
  EXPECT_EQ(Run({"flash", Sample(), "--device", "x", "--all", "--yes"}), 2);
}

TEST_F(FlashCliTest, ListTellsModeVersionAndLayoutAndWhoMayNotBeOpened) {
  EXPECT_EQ(Run({"list"}), 3);
  EXPECT_NE(Err().find("no controller found"), std::string::npos);

  m_err.str("");
  // An erased version area reads "erased" in both forms; a controller that fails to open for
  // another reason than permission is named once, and the others still list.
  PlugBoot(kBoot0,
           std::make_shared<VirtualBootLoader>(BootLoaderConfig{.versionWord = 0xFFFFFFFF}));
  m_platform.Plug("/dev/hidraw7", 0x7A3D, 0x3208, nullptr);
  m_platform.Faults("/dev/hidraw7").refuseOpens = 2;
  EXPECT_EQ(Run({"list"}), 0) << Err();
  EXPECT_NE(Out().find("  version      erased (0xffffffff)\n"), std::string::npos) << Out();
  EXPECT_NE(Out().find("/dev/hidraw7  7a3d:3208  boot loader\n  cannot be opened\n"),
            std::string::npos);
  EXPECT_EQ(Err(), "tarvix-flash: /dev/hidraw7: cannot be opened\n");
  EXPECT_EQ(Run({"list", "--json"}), 0);
  EXPECT_NE(Out().find("\"version\": \"erased\", \"versionWord\": \"0xffffffff\""),
            std::string::npos);
  // A controller another program is talking to is shown busy and is not updated.
  {
    std::unique_ptr<IControllerLock> otherProgram = m_platform.LockController(kBoot0);
    m_out.str("");
    EXPECT_EQ(Run({"list"}), 0);
    EXPECT_NE(Out().find("/dev/hidraw-virtual0  7a3d:3208  boot loader\n  busy: another program "
                         "is talking to it\n"),
              std::string::npos)
        << Out();
    EXPECT_EQ(Run({"flash", Sample(), "--yes", "--device", kBoot0}), 1);
  }
  m_platform.Unplug("/dev/hidraw7");
  m_platform.Unplug(kBoot0);
  m_out.str("");
  m_err.str("");

  PlugBoot(kBoot0);
  PlugApp(kApp1, {.versionWord = 0x00030089});
  m_platform.SetLocation(kApp1, "A1B2", "1-2.3");
  ASSERT_EQ(Run({"list"}), 0) << Err();
  EXPECT_EQ(Out(),
            "/dev/hidraw-virtual0  7a3d:3208  boot loader\n"
            "  version      1.37 (0x00000089)\n"
            "  device type  0x3009\n"
            "  layout       image 0x08003400, version area 0x08003434, identity 0x0800001c\n"
            "/dev/hidraw-virtual1  0483:5750  running firmware\n"
            "  port         1-2.3\n"
            "  serial       A1B2\n"
            "  version      1.37 beta3 (0x00030089)\n");
  // --device takes the serial number or the port path for the path; one two controllers share
  // names neither.
  for (const char* id : {"A1B2", "1-2.3"}) {
    m_err.str("");
    EXPECT_EQ(Run({"verify", Sample(), "--device", id}), 1);
    EXPECT_NE(Err().find("/dev/hidraw-virtual1: a controller running"), std::string::npos) << Err();
  }
  m_platform.SetLocation(kBoot0, "A1B2", "1-4");
  EXPECT_EQ(Run({"verify", Sample(), "--device", "A1B2"}), 3);

  m_platform.Plug("/dev/hidraw9", 0x7A3D, 0x3208, nullptr, /*openable=*/false);
  m_out.str("");
  EXPECT_EQ(Run({"list", "--json"}), 4);
  EXPECT_NE(Out().find("{\"path\": \"/dev/hidraw-virtual1\", \"identity\": \"0483:5750\", "
                       "\"mode\": \"app\", \"port\": \"1-2.3\", \"serial\": \"A1B2\", "
                       "\"version\": \"1.37 beta3\", \"versionWord\": \"0x00030089\"}"),
            std::string::npos)
      << Out();
  EXPECT_NE(Out().find("\"deviceType\": \"0x3009\", \"layout\": {\"image\": \"0x08003400\""),
            std::string::npos);
  EXPECT_NE(Err().find("/dev/hidraw9: access denied; install the udev rule"), std::string::npos);
  // Updating it fails the same way, and names it.
  EXPECT_EQ(Run({"flash", Sample(), "--device", "/dev/hidraw9", "--yes"}), 4);
  EXPECT_EQ(Run({"flash", Sample(), "--device", "/dev/hidraw5", "--yes"}), 3);
}

TEST_F(FlashCliTest, InfoShowsRecordsChecksAndTheChoiceOfEachController) {
  DatRecord floor137{.version = 137, .beta = 2, .image = MakeImage(100)};
  DatRecord other{
      .version = 300, .targetAddress = 0x01018000, .deviceType = 0x4000, .image = MakeImage(50)};
  struct Row {
    std::string name;
    std::vector<uint8_t> bytes;
    int exitCode;
    std::vector<std::string> says;
  };
  const Row rows[] = {
      {"sample",
       DemoSampleDat(),
       0,
       {"record 0 at offset 0: version 2.00, target 0x08003400, image 49152 bytes, device type "
        "0x3009\n  checks: image inside the file; below the version floor of 0x0105 variant 2 "
        "(5.02)\n  SHA-256 c4c11edfbbca7effae9d4cfe20a8d0803d929eda146eb43904ddfcb183b390f1\n",
        "1 record, chain whole\n  SHA-256 "
        "5676c981e691e4e45ff4fb2626bb89a4e56fc5c607b2e9da689fd11e0cf1a4a1\n",
        "  boot loader, device type 0x3009           record 0\n",
        "  boot loader giving no device type         none: no record for this controller\n",
        "  running firmware 0x0105, variant 2        none: below the version floor\n"}},
      {"two",
       BuildDat({floor137, other}),
       0,
       {"record 1 at offset 128: version 3.00",
        "1.37 beta2, target 0x08003400, image 100 bytes, device type 0x3009\n  checks: image "
        "inside "
        "the file; below the version floor of 0x0105 variant 0 (1.37)",
        "  boot loader, device type 0x4000           record 1\n",
        "  running firmware 0x0105, variant 0 or 1   none: below the version floor\n"}},
      {"cut", DatCutInsideHeader(floor137, 20), 2, {"chain a header cut short", "none: cut short"}},
      // Taken by a running firmware only: no boot loader writes at 0x12345678.
      {"text",
       BuildDat({DatRecord{.version = 8227, .targetAddress = 0x12345678, .image = MakeImage(9)}}),
       0,
       {"  running firmware                          record 0\n"}},
      {"empty", BuildDat({DatRecord{}}), 2, {"  checks: empty image;"}},
      {"past",
       DatImageRunsPastEnd(floor137, 3),
       2,
       {"  checks: image runs past the end of the file", "none: image runs past the end"}},
  };
  for (const Row& row : rows) {
    m_out.str("");
    EXPECT_EQ(Run({"info", Utf16ToUtf8(m_folder.Write(row.name, row.bytes))}), row.exitCode)
        << row.name;
    for (const std::string& says : row.says)
      EXPECT_NE(Out().find(says), std::string::npos) << row.name << ": " << says << "\n" << Out();
    EXPECT_EQ(Err().find("it may not be a firmware file") != std::string::npos, row.name == "text")
        << row.name << ": " << Err();
    m_err.str("");
  }
  m_out.str("");
  EXPECT_EQ(Run({"info", Sample(), "--json"}), 0);
  EXPECT_NE(Out().find("\"sha256\": "
                       "\"5676c981e691e4e45ff4fb2626bb89a4e56fc5c607b2e9da689fd11e0cf1a4a1\""),
            std::string::npos)
      << Out();
  EXPECT_NE(Out().find("{\"controller\": \"boot-3009\", \"description\": \"boot loader, device "
                       "type 0x3009\", \"record\": 0, \"refused\": null}"),
            std::string::npos)
      << Out();
  EXPECT_EQ(Run({"info", m_folder.m_path.string() + "/missing.dat"}), 2);
}

TEST_F(FlashCliTest, FlashRefusesEveryFileTheDialogRefuses) {
  DatRecord record{.image = MakeImage(100)};
  DatRecord old{.version = 136, .image = MakeImage(100)};
  DatRecord elsewhere{.targetAddress = 0x08014000, .image = MakeImage(100)};
  struct Row {
    std::string name;
    std::vector<uint8_t> bytes;
    bool boot;
    std::string says;
  };
  const Row rows[] = {
      {"cut", DatCutInsideHeader(record, 20), false, "cut short"},
      {"empty", BuildDat({DatRecord{}}), true, "empty image"},
      {"past", DatImageRunsPastEnd(record, 1), false, "image runs past the end of the file"},
      {"old", BuildDat({old}), false, "below the version floor"},
      {"elsewhere", BuildDat({elsewhere}), true, "meant for another address"},
  };
  for (const Row& row : rows) {
    m_platform.Unplug(kBoot0);
    if (row.boot)
      PlugBoot(kBoot0);
    else
      PlugApp(kBoot0);
    m_err.str("");
    std::string file = Utf16ToUtf8(m_folder.Write(row.name, row.bytes));
    EXPECT_EQ(Run({"flash", file, "--yes"}), 2) << row.name;
    EXPECT_EQ(Err(), "tarvix-flash: /dev/hidraw-virtual0: file refused (" + row.says +
                         "): The Firmware not recognized!\n");
  }
  EXPECT_EQ(Run({"flash", m_folder.m_path.string() + "/missing.dat", "--yes"}), 2);

  // A file name that is not UTF-8 opens as the bytes it is; a file another program holds is a
  // failure that says so, not a refused file.
  const std::string odd = m_folder.m_path.string() + "/bad\xff.dat";
  ASSERT_TRUE(WriteFile(odd, DemoSampleDat()));
  EXPECT_EQ(Run({"flash", odd, "--yes"}), 0) << Err();
  // In JSON its byte that is no UTF-8 is U+10FE00 + the byte, so that the line stays JSON.
  m_out.str("");
  EXPECT_EQ(Run({"flash", odd + ".missing", "--yes", "--json"}), 2) << Err();
  EXPECT_EQ(Out().find('\xff'), std::string::npos);
  EXPECT_NE(Out().find("/bad\\udbff\\udeff.dat.missing: cannot be opened"), std::string::npos)
      << Out();
  HeldFile held(odd);
  m_err.str("");
  EXPECT_EQ(Run({"flash", odd, "--yes"}), 1);
  EXPECT_EQ(Err(), "tarvix-flash: " + odd + ": cannot be opened: held by another program\n");

  // A file another program takes after the start-up is a failure with its cause, never the
  // start-up's instructions box (a boot loader with an erased version area shows one).
  const std::string late = Sample();
  std::unique_ptr<HeldFile> heldLate;
  auto erased = std::make_shared<HookedLoader>(BootLoaderConfig{.versionWord = 0xFFFFFFFF});
  erased->m_hook = [&](HookedLoader&, int report, uint16_t) {
    if (report == 4)  // the last read of the identification
      heldLate = std::make_unique<HeldFile>(late);
  };
  m_platform.Unplug(kBoot0);
  PlugBoot(kBoot0, erased);
  m_err.str("");
  EXPECT_EQ(Run({"flash", late, "--yes"}), 1);
  EXPECT_EQ(Err(),
            "tarvix-flash: /dev/hidraw-virtual0: update failed: the update did not complete (the "
            "firmware file cannot be opened: held by another program)\n");
}

TEST_F(FlashCliTest, FlashOnTheVirtualControllersWithProgressLinesOrABar) {
  struct Row {
    std::string mode;
    bool terminal;
    int columns;
    std::string says;
  };
  const std::string bar = "[" + std::string(20, '#') + std::string(21, '.') + "] 50%";
  const Row rows[] = {
      {"boot", false, 0, "virtual0: erasing\n/dev/hidraw-virtual0: writing 10%\n"},
      {"boot", false, 0, "virtual0: writing 100%\n/dev/hidraw-virtual0: version\n"},
      {"boot", false, 0, "virtual0: version\n/dev/hidraw-virtual0: finishing\n"},
      {"app", false, 0, "/dev/hidraw-virtual0: writing 100%\n"},
      // The bar takes the width less one column; a narrow terminal drops the path.
      {"boot", true, 0, "\r/dev/hidraw-virtual0 erasing   ..."},
      {"boot", true, 80, "\r/dev/hidraw-virtual0 writing   " + bar},
      {"boot", true, 40, "\rwriting   [###########...........] 50%"},
  };
  for (const Row& row : rows) {
    m_bTerminal = row.terminal;
    m_columns = row.columns;
    m_out.str("");
    std::vector<std::string> args = {"--virtual", row.mode, "flash", Sample()};
    if (!row.terminal)
      args.push_back("--yes");
    ASSERT_EQ(Run(args, row.terminal ? "y\n" : ""), 0) << Err();
    EXPECT_NE(Out().find(row.says), std::string::npos) << Out();
    // The question is asked on the terminal (stderr); with --yes the answer is a line of output.
    EXPECT_NE((row.terminal ? Err() : Out())
                  .find("/dev/hidraw-virtual0: New firmware 2.00 and current is 1.37"),
              std::string::npos);
    EXPECT_NE(Out().find("/dev/hidraw-virtual0: Firmware upgraded! ("), std::string::npos);
    if (!row.terminal) {
      std::string out = Out();
      EXPECT_EQ(std::count(out.begin(), out.end(), '%'), 10) << out;
    }
  }
}

TEST_F(FlashCliTest, TheConfirmationIsAskedOnTheTerminalAndNeverGuessedWithoutOne) {
  auto loader = PlugBoot(kBoot0);
  EXPECT_EQ(Run({"flash", Sample()}), 2);
  EXPECT_NE(Err().find("no terminal to ask for the confirmation on; add --yes"), std::string::npos);
  EXPECT_TRUE(m_platform.Transcript().empty());

  m_bTerminal = true;
  EXPECT_EQ(Run({"flash", Sample()}, "n\n"), 5);
  EXPECT_NE(Err().find("New firmware 2.00 and current is 1.37 Update? [y/N] "), std::string::npos);
  EXPECT_EQ(Out().find("[y/N]"), std::string::npos);  // the output may be redirected
  EXPECT_NE(Err().find("virtual0: not updated: the new version was not confirmed"),
            std::string::npos);
  EXPECT_TRUE(loader->m_erases.empty());
  EXPECT_EQ(Run({"flash", Sample()}, "y\n"), 0) << Err();
  EXPECT_EQ(loader->VersionWord(), 200u);
}

// The exit code of each way a run ends, the option forms a technician types, and the version
// guard: an older or the same version goes on only when asked, as the confirmation compares them.
TEST_F(FlashCliTest, ExitCodesOptionFormsAndTheVersionGuard) {
  struct Row {
    uint32_t versionWord;  // of the boot loader; 0: none attached
    std::vector<std::string> args;
    int exitCode;
    std::string says;  // on stdout when done, else on stderr
  };
  const Row rows[] = {
      {0, {"-y"}, 3, "no controller found"},
      {137, {}, 2, "no terminal to ask for the confirmation on"},
      {137, {"--yes", "--device=/dev/hidraw-virtual0"}, 0, "virtual0: Firmware upgraded!"},
      {137, {"-yd", kBoot0}, 0, "virtual0: Firmware upgraded!"},
      {200,
       {"-y"},
       5,
       "virtual0: not updated: the controller has 2.00 already; add --allow-reinstall"},
      {200, {"-y", "--allow-older"}, 5, "has 2.00 already"},
      {200, {"-y", "--allow-reinstall"}, 0, "Firmware upgraded!"},
      {201, {"-y"}, 5, "not updated: 2.00 is older than the controller's 2.01; add --allow-older"},
      {201, {"-y", "--allow-older"}, 0, "Firmware upgraded!"},
      {0x000100C8, {"-y"}, 0, "Firmware upgraded!"},  // 2.00 beta1: the release is newer
      {0x000300C9, {"-y"}, 5, "2.00 is older than the controller's 2.01 beta3"},
      {kErasedVersionWord, {"-y"}, 0, "Firmware upgraded!"},
  };
  for (const Row& row : rows) {
    m_platform.Unplug(kBoot0);
    if (row.versionWord)
      PlugBoot(kBoot0, std::make_shared<VirtualBootLoader>(
                           BootLoaderConfig{.versionWord = row.versionWord}));
    m_out.str("");
    m_err.str("");
    std::vector<std::string> args = {"flash", Sample()};
    args.insert(args.end(), row.args.begin(), row.args.end());
    EXPECT_EQ(Run(args), row.exitCode) << row.says;
    EXPECT_NE((row.exitCode ? Err() : Out()).find(row.says), std::string::npos) << Out() << Err();
  }
}

// --json: one event a line in stable words: the controller, each phase, and how it ended.
TEST_F(FlashCliTest, JsonEventsNameEachPhaseAndTheOutcome) {
  struct Row {
    bool boot;
    uint32_t versionWord;
    std::vector<std::string> args;
    std::string events;
  };
  const Row rows[] = {
      {true,
       137,
       {"flash", "-y", "--verify"},
       "controller erasing writing version verifying finishing "
       "result:done:null:0:49152B/2000ms/24576Bps"},
      // The virtual running firmware asks for its data without a pause: no time, no rate.
      {false, 137, {"flash", "-y"}, "controller writing result:done:null:0:49152B/0ms/nullBps"},
      {true, 200, {"flash", "-y"}, "controller result:nothing-done:same-version:5"},
      {true, 137, {"verify"}, "verifying result:failed:verify-differs:1"},
      {false, 137, {"verify"}, "result:failed:no-read-back:1"},
  };
  auto field = [](const std::string& line, const std::string& key) {
    size_t at = line.find("\"" + key + "\":");
    if (at == std::string::npos)
      return std::string();
    at += key.size() + 3;
    std::string value = line.substr(at, line.find_first_of(",}", at) - at);
    return value.front() == '"' ? value.substr(1, value.size() - 2) : value;
  };
  for (const Row& row : rows) {
    m_platform.Unplug(kBoot0);
    if (row.boot)
      PlugBoot(kBoot0, std::make_shared<VirtualBootLoader>(
                           BootLoaderConfig{.versionWord = row.versionWord}));
    else
      PlugApp(kBoot0, {.versionWord = row.versionWord});
    m_out.str("");
    std::vector<std::string> args = row.args;
    args.insert(args.end(), {Sample(), "--json"});
    Run(args);
    std::istringstream lines(Out());
    std::string events;
    for (std::string line; std::getline(lines, line);) {
      ASSERT_EQ(line.rfind("{\"schema\":1,\"event\":", 0), 0u) << line;
      std::string event = field(line, "event");
      if (event == "progress")
        event = field(line, "phase");
      else if (event == "result")
        event += ":" + field(line, "outcome") + ":" + field(line, "cause") + ":" +
                 field(line, "exit") +
                 // An update that ran says what it wrote, in how long, how fast.
                 (field(line, "bytes").empty()
                      ? ""
                      : ":" + field(line, "bytes") + "B/" + field(line, "elapsedMs") + "ms/" +
                            field(line, "bytesPerSecond") + "Bps");
      if (events.empty() || events.substr(events.rfind(' ') + 1) != event)
        events += (events.empty() ? "" : " ") + event;
    }
    EXPECT_EQ(events, row.events);
  }
  // A run that ends before any controller is talked to gives its result event too.
  const std::pair<std::vector<std::string>, std::string> early[] = {
      {{"flash", "missing.dat", "--yes"}, "\"outcome\":\"refused\",\"cause\":\"cannot-open\""},
      {{"flash", Sample()}, "\"cause\":\"no-confirmation\""},
      {{"verify", Sample()}, "\"cause\":\"several-controllers\",\"exit\":2"},
  };
  PlugBoot(kApp1);
  for (const auto& [args, says] : early) {
    m_out.str("");
    std::vector<std::string> json = args;
    json.push_back("--json");
    EXPECT_EQ(Run(json), 2);
    EXPECT_NE(Out().find("{\"schema\":1,\"event\":\"result\",\"device\":null,"), std::string::npos)
        << Out();
    EXPECT_NE(Out().find(says), std::string::npos) << Out();
  }
  m_platform.Unplug(kApp1);
  m_platform.Unplug(kBoot0);
  m_out.str("");
  EXPECT_EQ(Run({"verify", Sample(), "--json"}), 3);
  EXPECT_NE(Out().find("\"outcome\":\"failed\",\"cause\":\"not-found\",\"exit\":3"),
            std::string::npos)
      << Out();
}

// -q leaves the result lines alone; --log keeps every line and the progress, each with its time.
TEST_F(FlashCliTest, QuietOutputAndTheLog) {
  PlugBoot(kBoot0);
  const std::string log = m_folder.m_path.string() + "/flash.log";
  ASSERT_EQ(Run({"flash", "-qy", "--log", log, Sample()}), 0) << Err();
  // The result line ends with what was written, in how long (virtual time) and how fast.
  const char* upgraded =
      "/dev/hidraw-virtual0: Firmware upgraded! (49152 bytes in 2.0 s, 24.0 KiB/s)";
  EXPECT_EQ(Out(), std::string(upgraded) + "\n");
  std::ifstream file(log);
  const std::string text{std::istreambuf_iterator<char>(file), {}};
  for (const char* line :
       {"/dev/hidraw-virtual0: New firmware 2.00 and current is 1.37 (--yes)",
        "/dev/hidraw-virtual0: erasing", "/dev/hidraw-virtual0: writing 50%", upgraded})
    EXPECT_NE(text.find(std::string(line) + "\n"), std::string::npos) << line << "\n" << text;
  std::istringstream lines(text);
  const std::regex stamped(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3} \S.*)");
  for (std::string line; std::getline(lines, line);)
    EXPECT_TRUE(std::regex_match(line, stamped)) << line;

  // -vv: a decoded line for each report on top of the trace; -v alone has none.
  PlugApp(kApp1);
  const struct {
    std::string verbosity, device;
    std::vector<std::string> lines;
  } traced[] = {
      {"-v", kBoot0, {}},
      {"-vv",
       kBoot0,
       {"report > erase (4) address 0x08003400 size 49152 data 0 | 00 05 04 00 00 00 00 00",
        "report < reply to write image (3) address 0x0800342e size 49152 data 0 | 00 05 00 00 03"}},
      {"-vv",
       kApp1,
       {"report > firmware file info (1) length 28 | 00 23 00 16 1f 00 01 1c 00 c8",
        "report < firmware data request (20) | 05 00 16 01 00 14 00"}}};
  for (const auto& row : traced) {
    m_err.str("");
    ASSERT_EQ(Run({"flash", "-qy", row.verbosity, "-d", row.device, Sample(), "--allow-reinstall"}),
              0)
        << Err();
    EXPECT_EQ(Err().find("report ") != std::string::npos, !row.lines.empty()) << row.verbosity;
    EXPECT_NE(Err().find("m_DevicePath:"), std::string::npos);  // the trace, as with -v
    for (const std::string& line : row.lines)
      EXPECT_NE(Err().find(line), std::string::npos) << row.verbosity << " " << line;
  }
}

TEST_F(FlashCliTest, AllUpdatesEveryControllerAndOneFailureStopsNoOther) {
  auto first = PlugBoot(kBoot0);
  auto failing = PlugApp(kApp1, {.failAfterChunks = 100});
  auto third = PlugBoot("/dev/hidraw-virtual2");
  EXPECT_EQ(Run({"flash", Sample(), "--all", "--yes"}), 1);
  // The updates ran at once, each on its own controller: each holds exactly the image (around
  // its version area) and saw no write over bytes it had not erased.
  const std::vector<uint8_t> image = MakeImage(48 * 1024, 7);
  for (auto* loader : {first.get(), third.get()}) {
    EXPECT_EQ(loader->VersionWord(), 200u);
    EXPECT_EQ(loader->ReadFlash(0x08003400, 0x34),
              std::vector(image.begin(), image.begin() + 0x34));
    EXPECT_EQ(loader->ReadFlash(0x08003454, 48 * 1024 - 0x54),
              std::vector(image.begin() + 0x54, image.end()));
    EXPECT_EQ(loader->m_nWriteFaults, 0);
  }
  EXPECT_NE(Out().find("3 controllers: 2 upgraded, 1 failed\n"), std::string::npos);
  EXPECT_EQ(failing->m_nChunks, 100);
  EXPECT_EQ(
      Err().rfind("tarvix-flash: /dev/hidraw-virtual1: update failed: Firmware update failure "
                  "(the controller reported failure code 21 after 3200 bytes) (3200 bytes in ",
                  0),
      0u)
      << Err();
  EXPECT_NE(Out().find("virtual0: Firmware upgraded! (49152 bytes in "), std::string::npos);
  EXPECT_NE(Out().find("virtual2: Firmware upgraded! (49152 bytes in "), std::string::npos);
  // Without --all and --device nothing is updated: the controllers are listed, and an empty
  // --device (an unset variable) names none.
  m_out.str("");
  m_err.str("");
  for (std::vector<std::string> args : {std::vector<std::string>{"flash", Sample(), "--yes"},
                                        {"flash", Sample(), "--yes", "--device", ""}}) {
    EXPECT_EQ(Run(args), 2);
    EXPECT_EQ(first->m_erases.size(), 2u);  // image and version area, by the --all update only
  }
  EXPECT_NE(Err().find("several controllers are attached; name one with --device (a path, serial "
                       "number or port path), or use "
                       "--all:\n  /dev/hidraw-virtual0\n  /dev/hidraw-virtual1\n"),
            std::string::npos)
      << Err();
  EXPECT_NE(Err().find("--device needs a path"), std::string::npos);
  EXPECT_TRUE(Out().empty());

  // On a terminal without --yes: one question for all, listing each controller's versions, asked
  // before any starts; their progress shares one line, which no other line lands in.
  for (const char* path : {kBoot0, kApp1, "/dev/hidraw-virtual2"})
    m_platform.Unplug(path);
  m_bTerminal = true;
  for (const std::string answer : {"n", "y"}) {
    first = PlugBoot(kBoot0);
    third = PlugBoot("/dev/hidraw-virtual2");
    m_out.str("");
    m_err.str("");
    EXPECT_EQ(Run({"flash", Sample(), "--all"}, answer + "\n"), answer == "y" ? 0 : 5) << Err();
    EXPECT_EQ(Err().find("/dev/hidraw-virtual0: New firmware 2.00 and current is 1.37\n"
                         "/dev/hidraw-virtual2: New firmware 2.00 and current is 1.37\n"
                         "Update these 2 controllers? [y/N] "),
              0u)
        << Err();
    EXPECT_EQ(Err().find("[y/N]"), Err().rfind("[y/N]"));
    EXPECT_EQ(third->VersionWord(), answer == "y" ? 200u : 137u);
    m_platform.Unplug(kBoot0);
    m_platform.Unplug("/dev/hidraw-virtual2");
  }
  // The shared line names each controller with its phase, in whichever order they started.
  EXPECT_NE(Out().find("\rhidraw-virtual"), std::string::npos) << Out();
  for (const char* state : {"hidraw-virtual0 erasing", "hidraw-virtual2 writing 50%"})
    EXPECT_NE(Out().find(state), std::string::npos) << state;
  // Each line as the carriage returns leave it on the screen.
  std::istringstream drawn(Out());
  int upgraded = 0;
  for (std::string line; std::getline(drawn, line);) {
    std::string shown;
    for (size_t start = 0, cr = 0; cr != std::string::npos; start = cr + 1) {
      cr = line.find('\r', start);
      const std::string part = line.substr(start, cr - start);
      shown = part + (shown.size() > part.size() ? shown.substr(part.size()) : "");
    }
    if (shown.find("Firmware upgraded!") != std::string::npos) {
      EXPECT_EQ(shown.rfind("/dev/hidraw-virtual", 0), 0u) << shown;
      ++upgraded;
    }
  }
  EXPECT_EQ(upgraded, 2);
}

TEST_F(FlashCliTest, VerifyReadsTheImageBackAndFindsTheByteThatDidNotHold) {
  auto loader = std::make_shared<HookedLoader>();
  PlugBoot(kBoot0, loader);
  EXPECT_EQ(Run({"verify", Sample()}), 1);  // still the old firmware
  EXPECT_NE(Err().find("verify failed: first difference at 0x08003400"), std::string::npos);

  loader->m_badCellAddress = 0x08003400 + 1000;
  m_err.str("");
  EXPECT_EQ(Run({"flash", Sample(), "--yes", "--verify"}), 1);
  std::vector<uint8_t> image = MakeImage(48 * 1024, 7);
  EXPECT_EQ(Err(),
            "tarvix-flash: /dev/hidraw-virtual0: verify failed: first difference at "
            "0x080037e8 (file " +
                Hex(image[1000], 2) + ", controller " + Hex(image[1000] ^ 1, 2) +
                ") (49152 bytes in 2.0 s, 24.0 KiB/s)\n");

  loader->m_badCellAddress.reset();
  m_out.str("");
  EXPECT_EQ(Run({"flash", Sample(), "--yes", "--verify", "--allow-reinstall"}), 0) << Err();
  EXPECT_NE(Out().find("virtual0: verifying 100%\n/dev/hidraw-virtual0: finishing\n"
                       "/dev/hidraw-virtual0: Firmware upgraded! (verified) ("),
            std::string::npos)
      << Out();
  // A read reply that comes twice (as one that came after its read's time-out) is not taken as
  // the answer to the next read.
  loader->m_reports = 0;
  loader->m_hook = [](HookedLoader& l, int report, uint16_t) {
    if (report == 10)
      l.m_nRepeatedReplies = 1;
  };
  EXPECT_EQ(Run({"verify", Sample()}), 0) << Err();
  EXPECT_NE(Out().find("the image reads back as in the file (49152 bytes)"), std::string::npos);

  auto firmware = PlugApp(kApp1);
  m_err.str("");
  EXPECT_EQ(Run({"flash", Sample(), "--yes", "--verify", "--device", kApp1}), 1);
  EXPECT_NE(Err().find("virtual1: --verify: a controller running its firmware cannot be read "
                       "back; nothing was written"),
            std::string::npos);
  EXPECT_EQ(firmware->m_nStartUpdates, 0);
  EXPECT_EQ(Run({"verify", Sample(), "--device", kApp1}), 1);
}

// A backup holds what the erase destroys and the version word: flashing it puts the boot loader
// back byte for byte. Without a backup written, nothing is erased.
TEST_F(FlashCliTest, BackupThenRestoreGivesTheBootLoaderItsImageBack) {
  auto loader = PlugBoot(
      kBoot0, std::make_shared<VirtualBootLoader>(BootLoaderConfig{.versionWord = 0x00020085}));
  // As an earlier update leaves it: the version area (0x34 bytes in) holds the word, then erased.
  std::vector<uint8_t> image = MakeImage(48 * 1024, 3);
  std::fill_n(image.begin() + 0x34, 32, 0xFF);
  const uint8_t word[] = {0x85, 0x00, 0x02, 0x00};  // 1.33 beta2
  std::copy_n(word, 4, image.begin() + 0x34);
  loader->Preload(0x08003400, image);
  const std::vector<uint8_t> before = loader->ReadFlash(0x08003400, 48 * 1024);
  const std::string old = Utf16ToUtf8(m_folder.PathOf("old.dat"));
  const std::string missing = Utf16ToUtf8(m_folder.PathOf("no-such-folder/old.dat"));
  EXPECT_EQ(Run({"flash", Sample(), "--yes", "--backup", missing}), 1);
  EXPECT_NE(Err().find("no backup: " + missing + " cannot be written"), std::string::npos) << Err();
  EXPECT_TRUE(loader->m_erases.empty());

  // The firmware file under another name (./x, a hard or a symbolic link) is refused before
  // anything happens; links planted at the neighbour names are never written through.
  const std::string sample = Sample();
  const std::string folder = m_folder.m_path.string();
  const std::string hard = folder + "/hard.dat", soft = folder + "/soft.dat";
  m_platform.ClearTranscript();
  ASSERT_EQ(::link(sample.c_str(), hard.c_str()), 0);
  ASSERT_EQ(::symlink(sample.c_str(), soft.c_str()), 0);
  for (const std::string& same : {folder + "/./sample.dat", hard, soft}) {
    EXPECT_EQ(Run({"flash", sample, "--yes", "--backup", same}), 2) << same;
    EXPECT_EQ(Run({"backup", same, "--like", sample}), 2) << same;
  }
  EXPECT_TRUE(m_platform.Transcript().empty());
  const std::string victim = Utf16ToUtf8(m_folder.Write("victim", {1, 2, 3}));
  for (const std::string& part : {old + ".part", old + ".part-" + std::to_string(::getpid())})
    ASSERT_EQ(::symlink(victim.c_str(), part.c_str()), 0);
  EXPECT_EQ(Run({"flash", sample, "--yes", "--backup", old}), 0) << Err();
  EXPECT_EQ(loader->VersionWord(), 200u);
  EXPECT_EQ(std::filesystem::file_size(victim), 3u);
  EXPECT_NE(loader->ReadFlash(0x08003400, 48 * 1024), before);
  EXPECT_EQ(Run({"flash", old, "--yes", "--allow-older"}), 0) << Err();
  EXPECT_EQ(loader->ReadFlash(0x08003400, 48 * 1024), before);
  EXPECT_EQ(loader->VersionWord(), 0x00020085u);
  // The backup command saves the same without writing anything.
  const std::string again = Utf16ToUtf8(m_folder.PathOf("again.dat"));
  loader->m_erases.clear();
  EXPECT_EQ(Run({"backup", again, "--like", Sample()}), 0) << Err();
  EXPECT_TRUE(loader->m_erases.empty());
  auto bytes = [](const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return std::vector<char>(std::istreambuf_iterator<char>(file), {});
  };
  EXPECT_EQ(bytes(again), bytes(old));
  PlugApp(kApp1);
  m_err.str("");
  EXPECT_EQ(Run({"backup", again, "--like", Sample(), "--device", kApp1}), 1);
  EXPECT_NE(Err().find(": a controller running its firmware cannot be read; nothing was saved"),
            std::string::npos)
      << Err();
}

// A rehearsal: the virtual controller of --virtual-state keeps its memory from run to run, so
// that an update is verified and guarded in later runs, and a state file of another kind is
// refused rather than taken.
TEST_F(FlashCliTest, VirtualStateKeepsTheControllersMemoryBetweenRuns) {
  const std::string bench = Utf16ToUtf8(m_folder.PathOf("bench"));
  const std::vector<std::string> boot = {"--virtual", "boot", "--virtual-state", bench};
  auto run = [&](std::vector<std::string> args) {
    args.insert(args.begin(), boot.begin(), boot.end());
    return Run(args);
  };
  EXPECT_EQ(run({"verify", Sample()}), 1);
  EXPECT_EQ(run({"flash", Sample(), "--yes"}), 0) << Err();
  EXPECT_EQ(run({"verify", Sample()}), 0) << Err();
  EXPECT_EQ(run({"flash", Sample(), "--yes"}), 5);
  EXPECT_EQ(Run({"--virtual", "app", "--virtual-state", bench, "flash", Sample(), "--yes"}), 0);
  EXPECT_EQ(Run({"--virtual", "app", "--virtual-state", bench, "flash", Sample(), "--yes"}), 5);

  m_folder.Write("bench/virtual0-boot.state", std::vector<uint8_t>{'T', 'V', 'X'});
  EXPECT_EQ(run({"list"}), 2);
  EXPECT_NE(Err().find("virtual0-boot.state: not a virtual controller's memory"), std::string::npos)
      << Err();
  EXPECT_EQ(Run({"--virtual-state", bench, "list"}), 2);
}

// --wait waits for the controller to be plugged in, for ever or for its seconds; watch updates
// every controller plugged in, and one plugged in again after an unplug once more.
TEST_F(FlashCliTest, WaitAndWatchTakeTheControllersAsTheyArePluggedIn) {
  std::shared_ptr<VirtualBootLoader> first, second;
  m_platform.m_onEnumerate = [&](int n) {
    if (n == 3)
      first = PlugBoot(kBoot0);
  };
  EXPECT_EQ(Run({"flash", Sample(), "--yes", "--wait"}), 0) << Err();
  EXPECT_EQ(first->VersionWord(), 200u);
  m_platform.m_onEnumerate = nullptr;
  m_platform.Unplug(kBoot0);
  const uint64_t waitStart = m_clock.NowMs();
  EXPECT_EQ(Run({"verify", Sample(), "--wait=2"}), 3);
  EXPECT_GE(m_clock.NowMs() - waitStart, 2000u);

  // Each step at one of the watch's own looks (the updates' threads enumerate too).
  int step = 0;
  m_platform.ClearTranscript();
  const std::thread::id watcher = std::this_thread::get_id();
  m_platform.m_onEnumerate = [&](int) {
    if (std::this_thread::get_id() != watcher)
      return;
    if (step == 0) {
      first = PlugBoot(kBoot0);
      step = 1;
    } else if (step == 1 && m_platform.Finished(kBoot0)) {
      m_platform.Unplug(kBoot0);
      step = 2;
    } else if (step == 2) {
      second = PlugBoot(kBoot0);
      step = 3;
    }
  };
  m_out.str("");
  EXPECT_EQ(Run({"watch", Sample(), "--yes", "--count=2"}), 0) << Err();
  EXPECT_EQ(second->VersionWord(), 200u);
  EXPECT_NE(Out().find("1 controller: 1 upgraded\n"), std::string::npos) << Out();
  EXPECT_NE(Out().find("2 controllers: 2 upgraded\n"), std::string::npos) << Out();

  // A boot loader that restarts into its new firmware comes back at another path with its serial
  // number: the same controller, finished, even with --allow-reinstall. The next one is new.
  const std::string restarted = "/dev/hidraw-virtual7";
  m_platform.Unplug(kBoot0);
  step = 0;
  int looksSinceRestart = 0;
  m_platform.m_onEnumerate = [&](int) {
    if (std::this_thread::get_id() != watcher)
      return;
    if (step == 0) {
      m_platform.SetLocation(kBoot0, "SN-A", "1-1");
      m_platform.Faults(kBoot0).restartAtPath = restarted;
      first = PlugBoot(kBoot0);
      step = 1;
    } else if (step == 1 && m_platform.IsPlugged(restarted) && ++looksSinceRestart == 3) {
      m_platform.SetLocation(kApp1, "SN-B", "1-2");
      second = PlugBoot(kApp1);
      step = 2;
    }
  };
  m_out.str("");
  EXPECT_EQ(Run({"watch", Sample(), "--yes", "--allow-reinstall", "--count=2"}), 0) << Err();
  EXPECT_EQ(first->VersionWord(), 200u);
  EXPECT_EQ(second->VersionWord(), 200u);
  EXPECT_EQ(Out().find(restarted + ": Firmware upgraded!"), std::string::npos) << Out();
  EXPECT_NE(Out().find("2 controllers: 2 upgraded\n"), std::string::npos) << Out();
}

// Ctrl-C, SIGTERM and SIGHUP stop an update as a confirmed close does, and the line says what the
// controller holds; a closed output (SIGPIPE) stops nothing.
TEST_F(FlashCliTest, SignalsStopTheUpdateInOrderAndSayWhatIsLeft) {
  constexpr uint16_t kAnyCommand = 0;
  struct Row {
    int signal;  // 0: Ctrl-C
    bool verify;
    uint16_t command;  // the hook strikes at this command's first report after the image...
    int report;        // ...or at this report (kAnyCommand)
    int exitCode;
    std::string says;  // the line on stderr
  };
  // The controller is in its boot loader already: nothing tells it to go there.
  const std::string whole =
      "update stopped; the controller needs a whole update: it is still in its boot loader, "
      "flash it again";
  const Row rows[] = {
      {0, false, kAnyCommand, 100, 130, whole},
      {SIGTERM, false, kAnyCommand, 100, 143, whole},
      {SIGHUP, false, kAnyCommand, 100, 129, whole},
      {0, true, BOOT_CMD_READ, 0, 130,
       "update stopped during the read-back: the image and version are written but were not "
       "verified, and the boot loader was not told to finish"},
      {0, false, BOOT_CMD_FINISH, 0, 130,
       "update stopped at the finishing command; the image and version are written whole"},
      {SIGPIPE, false, kAnyCommand, 100, 0, ""},
  };
  InstallStopSignals();
  for (const Row& row : rows) {
    SCOPED_TRACE(row.says);
    m_platform.Unplug(kBoot0);
    auto loader = std::make_shared<HookedLoader>();
    bool imageDone = false;  // the version word went out: what follows is read-back or finish
    loader->m_hook = [&](HookedLoader&, int report, uint16_t command) {
      imageDone = imageDone || command == BOOT_CMD_WRITE;
      if ((row.command == kAnyCommand && report == row.report) ||
          (imageDone && command == row.command && row.command != kAnyCommand)) {
        t_afterReport = [&] { StopHere(row.signal); };
        imageDone = false;
      }
    };
    PlugBoot(kBoot0, loader);
    m_err.str("");
    std::vector<std::string> args = {"flash", Sample(), "--yes"};
    if (row.verify)
      args.push_back("--verify");
    EXPECT_EQ(Run(args), row.exitCode);
    if (row.exitCode) {
      // What was written before the stop, and in how long.
      EXPECT_EQ(Err().rfind("tarvix-flash: /dev/hidraw-virtual0: " + row.says + " (", 0), 0u)
          << Err();
      EXPECT_NE(Err().find(" bytes in "), std::string::npos);
      EXPECT_EQ(loader->m_bFinished, row.command == BOOT_CMD_FINISH);
    } else {
      EXPECT_EQ(loader->VersionWord(), 200u);
    }
  }
  // Ctrl-C while a backup reads ends the command in order, with its result and no file.
  m_platform.Unplug(kBoot0);
  auto reading = std::make_shared<HookedLoader>();
  reading->m_hook = [](HookedLoader&, int report, uint16_t) {
    if (report == 20)
      std::raise(SIGINT);
  };
  PlugBoot(kBoot0, reading);
  const std::string stopped = m_folder.m_path.string() + "/stopped.dat";
  m_err.str("");
  EXPECT_EQ(Run({"backup", stopped, "--like", Sample()}), 130);
  EXPECT_NE(Err().find("virtual0: no backup: stopped during the read"), std::string::npos) << Err();
  EXPECT_FALSE(std::filesystem::exists(stopped));
  for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGPIPE})
    std::signal(signal, SIG_DFL);

  // Ctrl-C stops every update of --all (the second controller goes on only once both were asked).
  m_platform.Unplug(kBoot0);
  auto loader = std::make_shared<HookedLoader>();
  loader->m_hook = [](HookedLoader&, int report, uint16_t) {
    if (report == 100)
      t_afterReport = [] { StopHere(0, 2); };
  };
  auto other = std::make_shared<HookedLoader>();
  const int stopsBefore = g_stopsAsked.load();
  other->m_hook = [stopsBefore](HookedLoader&, int report, uint16_t) {
    if (report == 50) {
      t_afterReport = [stopsBefore] {
        for (int i = 0; i < 30000 && g_stopsAsked.load() < stopsBefore + 2; ++i)
          std::this_thread::sleep_for(std::chrono::milliseconds(1));
      };
    }
  };
  PlugBoot(kBoot0, loader);
  PlugBoot("/dev/hidraw-virtual2", other);
  m_out.str("");
  EXPECT_EQ(Run({"flash", Sample(), "--all", "--yes"}), 130);
  EXPECT_NE(loader->VersionWord(), 200u);  // the new version was never set
  EXPECT_NE(other->VersionWord(), 200u);
  EXPECT_NE(Out().find("2 controllers: 2 stopped\n"), std::string::npos) << Out();

  // A closed output makes its writes fail quietly; the update goes on to its end.
  m_platform.Unplug("/dev/hidraw-virtual2");
  m_out.setstate(std::ios::badbit);
  EXPECT_EQ(Run({"flash", Sample(), "--yes", "--allow-older"}), 0) << Err();
  EXPECT_EQ(loader->VersionWord(), 200u);
  m_out.clear();
}

// A worker stuck after Ctrl-C is left behind once the grace time has passed: the program says what
// was stopped and returns, and the worker ends on its own when the call returns.
TEST_F(FlashCliTest, AWorkerStuckAfterAStopIsLeftBehindWithoutEndingTheProgram) {
  auto loader = std::make_shared<HookedLoader>();
  loader->m_hook = [this](HookedLoader&, int report, uint16_t) {
    if (report == 100)
      t_afterReport = [this] { m_platform.Stick(true); };
  };
  PlugBoot(kBoot0, loader);
  EXPECT_EQ(Run({"flash", Sample(), "--yes"}), 130);
  EXPECT_NE(Err().find("virtual0: update stopped; the controller needs a whole update"),
            std::string::npos)
      << Err();
  EXPECT_EQ(g_leftBehind.count.exchange(0), 1);
  m_platform.Stick(false);
  // The worker lets go of the controller once its call has returned.
  std::unique_ptr<IControllerLock> free;
  for (int i = 0; i < 5000 && !(free = m_platform.LockController(kBoot0)); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  EXPECT_NE(free, nullptr);
}

TEST_F(FlashCliTest, TheDialogsTextsComeInTheUsersLanguage) {
  m_language = LANG_ZH_CN;
  PlugApp(kBoot0);
  ASSERT_EQ(Run({"flash", Sample(), "--yes"}), 0) << Err();
  EXPECT_NE(Out().find("virtual0: 升级新固件 2.00 当前版本为 1.37 (--yes)\n"), std::string::npos)
      << Out();
  EXPECT_NE(Out().find("virtual0: 升级成功。（"), std::string::npos);
  // The tool's own lines too.
  EXPECT_NE(Out().find("virtual0: 运行固件，版本 1.37 (0x00000089)\n"), std::string::npos);
  m_platform.Unplug(kBoot0);
  PlugBoot(kBoot0, std::make_shared<VirtualBootLoader>(BootLoaderConfig{.versionWord = 200}));
  EXPECT_EQ(Run({"flash", "-y", Sample()}), 5);
  EXPECT_NE(Err().find("virtual0: 未更新：手柄已是 2.00；如要重新写入，请加 --allow-reinstall\n"),
            std::string::npos)
      << Err();
}

// Every line of the tool's own exists in both languages with the same values in it; every help
// text has its Chinese, an option's with its lines broken where the English breaks them (its
// column); the core's causes come in Chinese part by part, a system's own message as it came.
TEST(CliTextTest, EveryLineHelpTextAndCauseHasItsChinese) {
  const std::regex value("%[1-9]");
  auto values = [&](const std::string& text) {
    return std::multiset<std::string>(std::sregex_token_iterator(text.begin(), text.end(), value),
                                      std::sregex_token_iterator());
  };
  for (int line = 0; line < static_cast<int>(Say::kCount); ++line) {
    const std::string english = SayText(static_cast<Say>(line), LANG_EN_US);
    const std::string chinese = SayText(static_cast<Say>(line), LANG_ZH_CN);
    EXPECT_NE(english, chinese) << line;
    EXPECT_EQ(values(english), values(chinese)) << english;
  }
  std::vector<std::pair<std::string, bool>> help;  // with whether it is an option's
  for (const Command* command : Commands())
    help.insert(help.end(), {{command->summary, false}, {command->description, false}});
  for (const Option& option : Options())
    help.push_back({option.help, true});
  for (const auto& [english, isOption] : help) {
    const char* chinese = HelpText(english.c_str(), LANG_ZH_CN);
    ASSERT_NE(chinese, nullptr) << english;
    EXPECT_TRUE(!isOption || std::count(english.begin(), english.end(), '\n') ==
                                 std::count(chinese, chinese + std::strlen(chinese), '\n'))
        << english;
  }
  for (const auto& [english, chinese] : std::vector<std::pair<std::string, std::string>>{
           {"verify failed: first difference at 0x08003410 (file 0x01, controller 0x02)",
            "校验失败：第一处不同在 0x08003410（文件 0x01，手柄 0x02）"},
           {"the controller went away after 100 of 200 bytes",
            "手柄断开了（已发送 100 / 200 字节）"},
           {"the firmware file cannot be opened: held by another program; nothing was erased or "
            "sent",
            "固件文件无法打开：被其他程序占用；未擦除也未发送任何内容"},
           {"Input/output error", "Input/output error"}}) {
    EXPECT_EQ(CauseText(english, LANG_ZH_CN), chinese);
    EXPECT_EQ(CauseText(english, LANG_EN_US), english);
  }
}

TEST_F(FlashCliTest, UnderChineseTheHelpInfoAndCausesAreChinese) {
  m_language = LANG_ZH_CN;
  // Names typed or read as they are: operands, values, JSON fields, shells, signals, keys.
  std::set<std::string> names = {"tarvix-flash", "help",    "OPTIONS", "COMMAND", "ARGS",
                                 "FILE",         "ID",      "N",       "DIR",     "SECONDS",
                                 "MODES",        "SHELL",   "JSON",    "schema",  "controllers",
                                 "boot",         "app",     "bash",    "zsh",     "fish",
                                 "Ctrl-C",       "SIGTERM", "SIGHUP",  "devices", "source"};
  std::vector<std::vector<std::string>> runs = {{"--help"}, {"help"}};
  for (const Command* command : Commands()) {
    names.insert(command->name);
    runs.insert(runs.end(), {{"help", command->name}, {command->name, "--help"}});
  }
  for (const std::vector<std::string>& run : runs) {
    m_out.str("");
    ASSERT_EQ(Run(run), 0) << run.back();
    EXPECT_EQ(EnglishWords(Out(), names), std::vector<std::string>{}) << Out();
  }
  EXPECT_EQ(Run({"info", Sample()}), 0);
  EXPECT_NE(Out().find("每种手柄会用的记录：\n  BOOT 模式，设备类型 0x3009"), std::string::npos);
  EXPECT_EQ(Run({"flash", "--yes", Utf16ToUtf8(m_folder.PathOf("missing.dat"))}), 2);
  EXPECT_NE(Err().find("missing.dat：无法打开：文件不存在\n"), std::string::npos) << Err();
  PlugApp(kApp1, {.failAfterChunks = 100});
  EXPECT_EQ(Run({"flash", Sample(), "--yes"}), 1);
  EXPECT_NE(Err().find("（发送 3200 字节后，手柄报告失败代码 21）（3200 字节，用时 "),
            std::string::npos)
      << Err();
  EXPECT_EQ(Run({"info", "--json", Sample()}), 0);  // the JSON keeps its fixed words
  EXPECT_NE(Out().find("\"description\": \"boot loader, device type 0x3009\""), std::string::npos);
}

}  // namespace
