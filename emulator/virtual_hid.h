// The virtual HID stack: any number of virtual interfaces behind the HID seam, each optionally
// backed by a model of the controller's firmware. Replies are scheduled in the clock seam's time,
// so with a VirtualClock a read time-out costs a test nothing, and with the system clock (the demo)
// a reply latency of 1 ms moves the progress bar as a real controller would.
//
// Thread-safe: the demo plugs and unplugs from the dialog's thread while an update thread reads.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "device/hid_platform.h"
#include "device/notice_board.h"

// A model of what sits behind a virtual interface: it takes the host's output reports and answers
// with input reports.
class VirtualController {
 public:
  using ReplyFn = std::function<void(const uint8_t* payload64)>;
  virtual ~VirtualController() = default;
  // One output report from the host: 65 bytes, report id first. Each call of reply queues one input
  // report (64 payload bytes, the positions after the report id).
  virtual void OnReport(const uint8_t* report65, const ReplyFn& reply) = 0;
  // The report it sends of its own accord when the host reads and nothing else is waiting (a
  // gamepad reports its buttons every USB frame): fills the 64 payload bytes and answers true, or
  // answers false to send nothing. The report becomes readable 1 ms later; the transcript does not
  // keep it (a controller that streams would fill it).
  virtual bool IdleReport(uint8_t* /*payload64*/) { return false; }
};

// One report on the wire, as the transcript keeps it.
struct TranscriptEntry {
  uint64_t timeMs;   // clock-seam time when it was written (host) or became readable
  bool fromHost;     // true: output report (65 bytes); false: input payload (64 bytes)
  std::string path;  // the interface
  std::vector<uint8_t> bytes;
};

// Faults of the wire, per interface path (kept when the path is unplugged and plugged again).
// Counters count down as they fire. A lost reply never reaches the transcript; a corrupted one is
// recorded as it arrives. unplugAfterReports 0 acts like 1. The model still takes the report that
// triggers the unplug; its replies are lost with the cable.
struct WireFaults {
  int dropNextReplies = 0;      // the next N replies are lost
  int dropEveryKthReply = 0;    // 0: never; k: the k-th, 2k-th ... reply is lost
  int corruptNextReplies = 0;   // the next N replies arrive with every byte inverted
  int unplugAfterReports = -1;  // -1: never; N: unplugged right after the N-th host report
  int refuseReport = 0;         // 0: never; N: the N-th host report fails to go out (cable stays)
  int refuseOpens = 0;          // the next N opens fail for another reason than permission
  uint32_t latencyMs = 0;       // each reply becomes readable this long after the host's report
  // A boot loader at this path that was told to finish restarts into its new firmware once the
  // host lets go of it: it is unplugged and comes back at this other path as a running firmware
  // (0483:5750) with the version word it was given, and with the same serial number and port.
  // Empty: it stays a boot loader.
  std::string restartAtPath;
};

class VirtualHidPlatform : public IHidPlatform {
 public:
  // clock: the time of this bus's world (replies, latencies, read time-outs); null: the system's.
  explicit VirtualHidPlatform(IClock* clock = nullptr);
  ~VirtualHidPlatform() override;
  IClock& Clock() override { return *m_pClock; }

  // Adds an interface at the end of the enumeration order (plugged in). A null model answers
  // nothing. Sends an arrival notice to every monitor.
  void Plug(const std::string& path, uint16_t vendorId, uint16_t productId,
            std::shared_ptr<VirtualController> model, bool openable = true);
  // Removes it: its open handles fail from now on. Sends a removal notice.
  void Unplug(const std::string& path);
  bool IsPlugged(const std::string& path);
  // The serial number and port path the enumeration gives for path, whatever is plugged there.
  void SetLocation(const std::string& path, std::string serial, std::string portPath);
  WireFaults& Faults(const std::string& path);  // lock-free access: set before traffic starts

  std::vector<TranscriptEntry> Transcript();
  void ClearTranscript();
  // Number of input reports still waiting to be read on the interface.
  size_t PendingReplies(const std::string& path);

  // IHidPlatform
  std::vector<HidInterfaceInfo> Enumerate() override;
  HidHandle Open(const std::string& path, HidOpenResult* result) override;
  bool GetAttributes(HidHandle handle, uint16_t* vendorId, uint16_t* productId) override;
  bool Write(HidHandle handle, const uint8_t* report, size_t length) override;
  HidReadResult Read(HidHandle handle, uint8_t* payload64, uint32_t timeoutMs) override;
  void Close(HidHandle handle) override;
  std::unique_ptr<IDeviceMonitor> CreateMonitor() override;

  // What the wire did to the replies of an interface (by path, kept across unplugging).
  struct WireCounters {
    int hostReports = 0;       // output reports the interface took
    int replies = 0;           // replies the model produced
    int droppedReplies = 0;    // ... of which the wire lost
    int corruptedReplies = 0;  // ... of which arrived inverted
  };
  WireCounters Counters(const std::string& path);

  // A reply waiting on an interface, readable from readyAtMs on.
  struct PendingReply {
    uint64_t readyAtMs;
    std::vector<uint8_t> payload;  // 64 bytes
  };
  // One plugged interface. A later Plug of the same path makes a new one, so handles opened on the
  // old one keep failing.
  struct Interface {
    std::string path;
    uint16_t vendorId = 0;
    uint16_t productId = 0;
    bool openable = true;
    bool plugged = true;
    std::shared_ptr<VirtualController> model;
    std::deque<PendingReply> replies;
  };

 private:
  std::shared_ptr<Interface> FindPlugged(const std::string& path);  // under m_mutex
  void UnplugLocked(const std::string& path);
  void ScheduleReply(Interface& itf, const uint8_t* payload64);  // under m_mutex

  std::mutex m_mutex;
  std::map<std::string, std::pair<std::string, std::string>> m_locations;  // path: serial, port
  IClock* m_pClock;
  std::vector<std::shared_ptr<Interface>> m_interfaces;  // plugged, in enumeration order
  std::map<HidHandle, std::shared_ptr<Interface>> m_handles;
  HidHandle m_nextHandle = 1000;
  std::map<std::string, WireFaults> m_faults;
  std::map<std::string, WireCounters> m_counters;
  std::vector<TranscriptEntry> m_transcript;
  NoticeBoard m_notices;  // the arrival and removal notices of Plug and Unplug
};
