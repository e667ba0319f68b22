// A scripted HID platform for unit tests of the device link: a list of interfaces whose behaviour
// the test sets, a queue of read results, and a record of every open, write and close.
#pragma once

#include <deque>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "base/clock.h"

#include "device/hid_platform.h"

class ScriptedMonitor : public IDeviceMonitor {
 public:
  int ReceiveEvent() override { return kNone; }
};

class ScriptedHidPlatform : public IHidPlatform {
 public:
  // clock: the time the reads pass in (a test's virtual clock); null: the system's.
  explicit ScriptedHidPlatform(IClock* clock = nullptr) : m_pClock(clock) {}
  IClock& Clock() override { return m_pClock ? *m_pClock : TheSystemClock(); }
  IClock* m_pClock;
  struct Interface {
    std::string path;
    uint16_t vendorId = 0;
    uint16_t productId = 0;
    HidOpenResult open = HidOpenResult::kOk;
    bool attributesReadable = true;
  };
  struct ScriptedRead {
    HidReadResult result;
    std::vector<uint8_t> payload;  // up to 64 bytes
    // A boot loader's reply: it repeats the data length, size and address fields of the last
    // request written, as the boot loader does.
    bool echoRequest = false;
  };

  void Add(const Interface& interface) { m_interfaces.push_back(interface); }
  void Remove(const std::string& path);
  // Reads answer these in order; with the queue empty they time out.
  void QueueRead(HidReadResult result, std::vector<uint8_t> payload = {}, bool echoRequest = false);

  std::vector<HidInterfaceInfo> Enumerate() override;
  HidHandle Open(const std::string& path, HidOpenResult* result) override;
  bool GetAttributes(HidHandle handle, uint16_t* vendorId, uint16_t* productId) override;
  bool Write(HidHandle handle, const uint8_t* report, size_t length) override;
  HidReadResult Read(HidHandle handle, uint8_t* payload64, uint32_t timeoutMs) override;
  void Close(HidHandle handle) override;
  std::unique_ptr<IDeviceMonitor> CreateMonitor() override;

  std::vector<Interface> m_interfaces;
  std::deque<ScriptedRead> m_reads;
  std::vector<std::vector<uint8_t>> m_writes;  // whole reports as written
  std::vector<uint32_t> m_readTimeouts;        // the time-out of every read
  std::vector<std::string> m_openAttempts;     // paths, in order
  std::map<HidHandle, std::string> m_open;     // handles not yet closed
  int m_monitorsCreated = 0;
  bool m_canMonitor = true;

 private:
  HidHandle m_nextHandle = 100;
};
