// The HID seam on WebHID, for the updater in a browser. WebHID lives on the page's thread and
// answers with promises; the dialog and the update run on worker threads that may block. So every
// enumeration and open is posted to the page (webhid_bridge.js) and waited for, and the page hands
// each input report to the platform, which keeps it in the queue of every handle open on that
// device until a read takes it (a timed wait on the queue).
//
// Output reports take a shorter way: Write queues the report in the platform and rings a bell, a
// word the page waits on with Atomics.waitAsync, which wakes the page sooner than a posted call.
// The page then sends every queued report and answers each Write. A page that cannot wait on the
// bell gets each report as a posted call instead.
//
// A path is "webhid:<n>", n being the page's number for one HIDDevice object. The browser lists
// only the devices the user has granted to the page ("Connect controller…").
#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "base/trace.h"
#include "device/hid_platform.h"
#include "device/notice_board.h"
#include "device/webhid/page_call.h"

class WebHidPlatform : public IHidPlatform {
 public:
  // Input reports a handle keeps unread; older ones are dropped first, as a HID driver's buffer
  // drops them.
  static constexpr size_t kMaxQueuedReports = 64;

  // The page's events reach the platform constructed last: the page's bridge keeps its address
  // and hands it to every call back, and waits on its bell only. One per program, then.
  // trace: where the platform's own lines go.
  explicit WebHidPlatform(TraceSink trace = {});
  ~WebHidPlatform() override;
  WebHidPlatform(const WebHidPlatform&) = delete;
  WebHidPlatform& operator=(const WebHidPlatform&) = delete;

  // IHidPlatform (worker threads only: each call waits for the page's thread).
  std::vector<HidInterfaceInfo> Enumerate() override;
  HidHandle Open(const std::string& path, HidOpenResult* result) override;
  bool GetAttributes(HidHandle handle, uint16_t* vendorId, uint16_t* productId) override;
  bool Write(HidHandle handle, const uint8_t* report, size_t length) override;
  HidReadResult Read(HidHandle handle, uint8_t* payload64, uint32_t timeoutMs) override;
  void Close(HidHandle handle) override;
  std::unique_ptr<IDeviceMonitor> CreateMonitor() override;
  const char* AccessDeniedText() const override {
    return "access denied; connect the controller again with Connect controller";
  }

  // From the page's thread: one input report of a device (its bytes after the report id).
  void OnInputReport(int deviceId, const uint8_t* data, size_t length);
  // From the page's thread, once the bell has rung: hands each queued output report to the page.
  void SendQueuedReports();
  // From the page's thread: a granted device arrived (connected) or is gone; the handles open on a
  // device that is gone fail from now on.
  void OnConnection(int deviceId, bool connected);

  const TraceSink m_trace;

 private:
  struct Handle {
    int deviceId = 0;
    uint16_t vendorId = 0;
    uint16_t productId = 0;
    bool gone = false;
    std::deque<std::array<uint8_t, 64>> reports;
  };
  // An output report waiting for the page; the page owns data once it has it.
  struct QueuedReport {
    PageAnswer* answer;
    int deviceId;
    int reportId;
    uint8_t* data;
    int length;
  };
  std::shared_ptr<Handle> FindHandle(HidHandle handle);  // under m_mutex
  void RingSendBell();

  std::mutex m_mutex;
  std::condition_variable m_reportArrived;
  std::map<HidHandle, std::shared_ptr<Handle>> m_handles;
  HidHandle m_nextHandle = 1;
  std::deque<QueuedReport> m_outgoing;
  // Counts the reports queued; the page waits on it while it is unchanged.
  std::atomic<int32_t> m_sendBell{0};
  bool m_bPageWatchesBell = false;  // else Write posts each report to the page
  static_assert(sizeof m_sendBell == 4, "the page waits on a 32-bit word");
  // Where the page puts an input report's bytes for OnInputReport (page's thread only).
  std::array<uint8_t, 64> m_inputBytes{};
  NoticeBoard m_notices;  // the arrival and removal notices of the page's events
};

// "webhid:<n>" for device n; ParseDevicePath answers n, or -1 for any other path.
std::string DevicePath(int deviceId);
int ParseDevicePath(const std::string& path);

// Called by the page's scripts (exported).
extern "C" {
void tarvix_hid_input(WebHidPlatform* platform, int deviceId, const uint8_t* data, int length);
void tarvix_hid_send_queued(WebHidPlatform* platform);
void tarvix_hid_connection(WebHidPlatform* platform, int deviceId, int connected);
}
