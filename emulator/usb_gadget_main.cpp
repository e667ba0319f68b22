// tarvix-gadget: the virtual controller on a real USB bus. It makes a USB HID gadget through
// configfs (one 64-byte unnumbered input and output report), binds it to a USB device controller
// (dummy_hcd's in the test machine) and answers the host's reports on /dev/hidgN with the virtual
// boot loader or running firmware. The host then meets it through its own kernel: usbhid, hidraw,
// udev and sysfs.
//
//   tarvix-gadget --name NAME --udc UDC --mode boot|app [--serial S] [--vid V --pid P]
//                 [--unplug-after N] [--replug-after MS] [--then boot|app] [--dump FILE]
//                 [--wrong-command-replies N] [--damaged-writes N] [--fail-after-chunks N]
//                 [--stream 1]
//
// --unplug-after N  unbinds the gadget from its UDC right after the N-th host report (the model
//                   takes that report; its replies are lost with the cable): a real removal.
// --replug-after MS binds it again MS milliseconds after such a removal.
// --then MODE       when the update finishes (boot loader: the finishing command; running firmware:
//                   FW_FINISH), the controller restarts: the gadget is unbound, takes the identity
//                   of MODE and is bound again, with a fresh model of that mode.
// --dump FILE       writes what the controller holds after each finished update and at the end:
//                   the boot loader's image area (--dump-size bytes, default 48 KiB), or the
//                   running firmware's received image.
// --stream 1        the running firmware sends its ordinary input report whenever the host's
//                   polling finds nothing else waiting, as a gamepad does every frame.
// SIGUSR1 switches it to the other mode the same way (the user's L+R+HOME).
// It runs until SIGTERM or SIGINT, then unbinds and removes its gadget.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "emulator/virtual_boot_loader.h"
#include "emulator/virtual_running_firmware.h"

namespace {

constexpr char kGadgetRoot[] = "/sys/kernel/config/usb_gadget/";
// Vendor-defined page, one collection: 64 input bytes and 64 output bytes, no report id.
constexpr uint8_t kReportDescriptor[] = {0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x15, 0x00,
                                         0x26, 0xFF, 0x00, 0x75, 0x08, 0x95, 0x40, 0x09, 0x01,
                                         0x81, 0x02, 0x95, 0x40, 0x09, 0x01, 0x91, 0x02, 0xC0};

struct Options {
  std::string name = "tarvix0";
  std::string udc;
  bool appMode = false;
  std::string serial = "TVX-GADGET-0";
  int vid = -1;
  int pid = -1;
  int unplugAfter = -1;
  int replugAfterMs = -1;
  std::string then;
  std::string dump;
  uint32_t dumpSize = 48 * 1024;
  int wrongCommandReplies = 0;
  int damagedWrites = 0;
  int failAfterChunks = -1;
  int stream = 0;
};

bool WriteText(const std::string& path, const std::string& text) {
  std::ofstream file(path, std::ios::binary);
  file << text;
  file.flush();
  if (!file) {
    std::fprintf(stderr, "tarvix-gadget: cannot write %s\n", path.c_str());
    return false;
  }
  return true;
}

std::string ReadText(const std::string& path) {
  std::ifstream file(path);
  std::string text;
  std::getline(file, text);
  return text;
}

std::string Hex(int value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%04x", value);
  return text;
}

// One controller: its configfs gadget, its model and its /dev/hidgN.
class Gadget {
 public:
  explicit Gadget(Options options)
      : m_options(std::move(options)), m_dir(kGadgetRoot + m_options.name) {}
  ~Gadget() { Remove(); }

  bool Create() {
    const std::string function = m_dir + "/functions/hid.usb0";
    const std::string config = m_dir + "/configs/c.1";
    if (::mkdir(m_dir.c_str(), 0755) != 0 ||
        ::mkdir((m_dir + "/strings/0x409").c_str(), 0755) != 0 ||
        ::mkdir(function.c_str(), 0755) != 0 || ::mkdir(config.c_str(), 0755) != 0 ||
        ::mkdir((config + "/strings/0x409").c_str(), 0755) != 0) {
      std::fprintf(stderr, "tarvix-gadget: cannot make the gadget %s: %s\n", m_dir.c_str(),
                   std::strerror(errno));
      return false;
    }
    m_created = true;
    const std::string descriptor(reinterpret_cast<const char*>(kReportDescriptor),
                                 sizeof kReportDescriptor);
    if (!WriteText(m_dir + "/bcdUSB", "0x0200") || !WriteText(m_dir + "/bcdDevice", "0x0100") ||
        !WriteText(m_dir + "/strings/0x409/serialnumber", m_options.serial) ||
        !WriteText(m_dir + "/strings/0x409/manufacturer", "Tarvix test bus") ||
        !WriteText(m_dir + "/strings/0x409/product", "Tarvix gadget") ||
        !WriteText(function + "/protocol", "0") || !WriteText(function + "/subclass", "0") ||
        !WriteText(function + "/report_length", "64") ||
        !WriteText(function + "/report_desc", descriptor) ||
        !WriteText(config + "/MaxPower", "100") ||
        !WriteText(config + "/strings/0x409/configuration", "update"))
      return false;
    if (::symlink(function.c_str(), (config + "/hid.usb0").c_str()) != 0) {
      std::fprintf(stderr, "tarvix-gadget: cannot link the function: %s\n", std::strerror(errno));
      return false;
    }
    return Become(m_options.appMode) && Bind();
  }

  // A fresh model of the mode, and the identity that goes with it (used while unbound).
  bool Become(bool appMode) {
    m_appMode = appMode;
    int vid = appMode ? 0x0483 : 0x7A3D;
    int pid = appMode ? 0x5750 : 0x3208;
    if (m_options.vid >= 0 && m_options.appMode == appMode) {
      vid = m_options.vid;
      pid = m_options.pid;
    }
    if (appMode) {
      RunningFirmwareConfig config;
      config.failAfterChunks = m_options.failAfterChunks;
      auto firmware = std::make_shared<VirtualRunningFirmware>(config);
      firmware->m_nWrongCommandReplies = m_options.wrongCommandReplies;
      firmware->m_bStreamInput = m_options.stream != 0;
      m_app = firmware;
      m_boot.reset();
      m_model = firmware;
    } else {
      auto loader = std::make_shared<VirtualBootLoader>();
      loader->m_nWrongCommandReplies = m_options.wrongCommandReplies;
      loader->m_nDamagedWrites = m_options.damagedWrites;
      m_boot = loader;
      m_app.reset();
      m_model = loader;
    }
    return WriteText(m_dir + "/idVendor", Hex(vid)) && WriteText(m_dir + "/idProduct", Hex(pid));
  }

  bool Bind() {
    if (!WriteText(m_dir + "/UDC", m_options.udc))
      return false;
    m_bound = true;
    return OpenNode();
  }

  void Unbind() {
    CloseNode();
    if (m_bound)
      WriteText(m_dir + "/UDC", "\n");
    m_bound = false;
  }

  int Descriptor() const { return m_fd; }
  bool Streams() const { return m_options.stream != 0 && m_app != nullptr; }

  // How many ordinary input reports went out, when it streamed.
  void TellStreamed() {
    if (!Streams())
      return;
    std::lock_guard lock(m_app->m_mutex);
    std::fprintf(stderr, "tarvix-gadget: %s: %d ordinary input reports sent\n",
                 m_options.name.c_str(), m_app->m_nInputReports);
  }

  // The host's polling took the last input report and nothing waits: the ordinary input report.
  void SendIdle() {
    uint8_t payload[64] = {};
    if (m_model->IdleReport(payload) && ::write(m_fd, payload, 64) != 64 && errno != EAGAIN)
      std::fprintf(stderr, "tarvix-gadget: %s: an input report was not taken\n",
                   m_options.name.c_str());
  }

  // Takes one output report waiting on the node and answers it. Answers false when the node is
  // gone (the host side went away with the binding).
  bool Serve() {
    uint8_t report[65] = {};
    const ssize_t got = ::read(m_fd, report + 1, 64);
    if (got < 0)
      return errno == EAGAIN || errno == EINTR;
    ++m_reports;
    const bool unplug = m_options.unplugAfter >= 0 &&
                        m_reports >= std::max(1, m_options.unplugAfter) && !m_unplugged;
    m_model->OnReport(report, [this, unplug](const uint8_t* payload) {
      if (!unplug)
        Send(payload);
    });
    if (unplug) {
      m_unplugged = true;
      std::fprintf(stderr, "tarvix-gadget: %s unplugged after report %d\n", m_options.name.c_str(),
                   m_reports);
      Unbind();
      if (m_options.replugAfterMs >= 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(m_options.replugAfterMs));
        return Bind();
      }
      return true;
    }
    if (Finished())
      Restart();
    return true;
  }

  // Comes back in the other mode, as when the user switches the controller off and on holding
  // L+R+HOME (or lets it start normally): unbound, the other identity, bound again.
  void Switch(bool appMode) {
    std::fprintf(stderr, "tarvix-gadget: %s restarts as %s\n", m_options.name.c_str(),
                 appMode ? "app" : "boot");
    Unbind();
    if (Become(appMode))
      Bind();
  }
  bool AppMode() const { return m_appMode; }

  // What the controller holds, into the dump file.
  void Dump() {
    if (m_options.dump.empty())
      return;
    std::vector<uint8_t> bytes;
    if (m_boot) {
      bytes = m_boot->ReadFlash(m_boot->Layout().imageBase, m_options.dumpSize);
    } else if (m_app) {
      std::lock_guard lock(m_app->m_mutex);
      bytes = m_app->m_image;
    }
    std::ofstream file(m_options.dump, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
  }

 private:
  bool Finished() {
    if (m_boot) {
      std::lock_guard lock(m_boot->m_mutex);
      return m_boot->m_bFinished != 0;
    }
    std::lock_guard lock(m_app->m_mutex);
    return m_app->m_bFinished != 0;
  }

  // The finished controller restarts: its dump is written, and with --then it comes back under the
  // identity of the other mode.
  void Restart() {
    Dump();
    if (m_options.then.empty())
      return;
    const bool appMode = m_options.then == "app";
    m_options.then.clear();
    Switch(appMode);
  }

  void Send(const uint8_t* payload) {
    // The host's interrupt IN polling takes each report; a host that stops reading loses it
    // after a second instead of holding the controller.
    pollfd wait{m_fd, POLLOUT, 0};
    if (::poll(&wait, 1, 1000) == 1 && ::write(m_fd, payload, 64) == 64)
      return;
    std::fprintf(stderr, "tarvix-gadget: %s: a reply was not taken\n", m_options.name.c_str());
  }

  // /dev/hidgN of this gadget's function, found by the device number configfs gives for it; it
  // appears within a few seconds of binding.
  bool OpenNode() {
    const std::string numbers = ReadText(m_dir + "/functions/hid.usb0/dev");
    unsigned major = 0, minor = 0;
    if (std::sscanf(numbers.c_str(), "%u:%u", &major, &minor) != 2) {
      std::fprintf(stderr, "tarvix-gadget: no device number for %s\n", m_dir.c_str());
      return false;
    }
    const std::string node = "/dev/hidg" + std::to_string(minor);
    for (int attempt = 0; attempt < 100; ++attempt) {
      struct stat info {};
      if (::stat(node.c_str(), &info) == 0 && info.st_rdev == makedev(major, minor)) {
        m_fd = ::open(node.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
        if (m_fd >= 0)
          return true;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    std::fprintf(stderr, "tarvix-gadget: %s did not appear\n", node.c_str());
    return false;
  }

  void CloseNode() {
    if (m_fd >= 0)
      ::close(m_fd);
    m_fd = -1;
  }

  void Remove() {
    Unbind();
    if (!m_created)
      return;
    ::unlink((m_dir + "/configs/c.1/hid.usb0").c_str());
    for (const char* dir : {"/configs/c.1/strings/0x409", "/configs/c.1", "/functions/hid.usb0",
                            "/strings/0x409", ""})
      ::rmdir((m_dir + dir).c_str());
    m_created = false;
  }

  Options m_options;
  std::string m_dir;
  bool m_created = false;
  bool m_bound = false;
  bool m_appMode = false;
  bool m_unplugged = false;
  int m_fd = -1;
  int m_reports = 0;
  std::shared_ptr<VirtualController> m_model;
  std::shared_ptr<VirtualBootLoader> m_boot;
  std::shared_ptr<VirtualRunningFirmware> m_app;
};

bool Parse(int argc, char** argv, Options* options) {
  std::map<std::string, std::string> values;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strncmp(argv[i], "--", 2) != 0)
      return false;
    values[argv[i] + 2] = argv[i + 1];
  }
  if (argc % 2 == 0)
    return false;
  auto number = [&](const char* key, int* out) {
    if (values.count(key))
      *out = static_cast<int>(std::strtol(values[key].c_str(), nullptr, 0));
    values.erase(key);
  };
  auto text = [&](const char* key, std::string* out) {
    if (values.count(key))
      *out = values[key];
    values.erase(key);
  };
  std::string mode = "boot";
  int dumpSize = static_cast<int>(options->dumpSize);
  text("name", &options->name);
  text("udc", &options->udc);
  text("mode", &mode);
  text("serial", &options->serial);
  text("then", &options->then);
  text("dump", &options->dump);
  number("vid", &options->vid);
  number("pid", &options->pid);
  number("unplug-after", &options->unplugAfter);
  number("replug-after", &options->replugAfterMs);
  number("dump-size", &dumpSize);
  number("wrong-command-replies", &options->wrongCommandReplies);
  number("damaged-writes", &options->damagedWrites);
  number("fail-after-chunks", &options->failAfterChunks);
  number("stream", &options->stream);
  options->dumpSize = static_cast<uint32_t>(dumpSize);
  options->appMode = mode == "app";
  const bool modesKnown =
      (mode == "boot" || mode == "app") &&
      (options->then.empty() || options->then == "boot" || options->then == "app");
  return values.empty() && !options->udc.empty() && modesKnown &&
         (options->vid < 0) == (options->pid < 0);
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!Parse(argc, argv, &options)) {
    std::fprintf(stderr,
                 "usage: tarvix-gadget --udc UDC [--name NAME] [--mode boot|app] [--serial S]\n"
                 "  [--vid V --pid P] [--unplug-after N] [--replug-after MS] [--then boot|app]\n"
                 "  [--dump FILE] [--dump-size BYTES] [--wrong-command-replies N]\n"
                 "  [--damaged-writes N] [--fail-after-chunks N] [--stream 1]\n");
    return 2;
  }
  // SIGTERM, SIGINT and SIGUSR1 arrive on a descriptor next to the node's, so the loop ends in
  // order.
  sigset_t stops;
  sigemptyset(&stops);
  sigaddset(&stops, SIGTERM);
  sigaddset(&stops, SIGINT);
  sigaddset(&stops, SIGUSR1);
  sigprocmask(SIG_BLOCK, &stops, nullptr);
  const int signals = signalfd(-1, &stops, SFD_CLOEXEC);

  Gadget gadget(options);
  if (signals < 0 || !gadget.Create())
    return 1;
  std::fprintf(stderr, "tarvix-gadget: %s bound to %s\n", options.name.c_str(),
               options.udc.c_str());
  for (;;) {
    const short node = gadget.Streams() ? POLLIN | POLLOUT : POLLIN;
    pollfd waits[2] = {{signals, POLLIN, 0}, {gadget.Descriptor(), node, 0}};
    const int count = gadget.Descriptor() >= 0 ? 2 : 1;
    if (::poll(waits, count, 200) < 0 && errno != EINTR)
      break;
    if (waits[0].revents & POLLIN) {
      signalfd_siginfo signal{};
      if (::read(signals, &signal, sizeof signal) == sizeof signal && signal.ssi_signo == SIGUSR1) {
        gadget.Switch(!gadget.AppMode());
        continue;
      }
      break;
    }
    if (count == 2 && (waits[1].revents & POLLIN)) {
      if (!gadget.Serve())
        break;
    } else if (count == 2 && (waits[1].revents & POLLOUT)) {
      gadget.SendIdle();
    }
  }
  gadget.Dump();
  gadget.TellStreamed();
  return 0;
}
