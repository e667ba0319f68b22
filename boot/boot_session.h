// CBootSession: a conversation with one controller's boot loader over one link. It owns the boot
// loader's state (the memory layout its device type decides, the device type itself, whether an
// update runs) and knows its six commands, the identification, the update sequence and the
// read-back. The update that runs it (ISessionHost) chooses the firmware, shows what happens and
// keeps the result.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <vector>

#include "device/hid.h"
#include "session/session_host.h"

// How often one write is sent again in a row without an acknowledgement before the update fails.
constexpr int kMaxWriteResends = 10;

class CBootSession {
 public:
  CBootSession(CHid& link, CUpdateTransfer& transfer, ISessionHost& host)
      : m_Hid(link), m_transfer(transfer), m_host(host) {}
  CBootSession(const CBootSession&) = delete;
  CBootSession& operator=(const CBootSession&) = delete;

  // ---- The commands (boot/boot_commands.cpp) ----
  int SendBootPacket(const uint8_t* data, uint32_t length, uint32_t address, uint32_t size,
                     uint16_t command, int withCrc);
  int BootReadMemory(uint8_t* destination, uint32_t length, uint32_t address);
  int BootReadDeviceId(uint8_t* destination, uint32_t length);
  int BootErase(uint32_t address, uint32_t length);
  int BootWrite(const uint8_t* data, uint32_t address, uint32_t length, uint32_t size, int image);
  // Sends one write (an image chunk, or the version word) until the boot loader acknowledges it,
  // at most 1 + kMaxWriteResends times. Answers 0 when it never was, or the update is asked to
  // stop.
  int BootWriteAcknowledged(const uint8_t* data, uint32_t address, uint32_t length, uint32_t size,
                            int image);
  int BootFinish();
  int BootWriteVersion();
  // Answers 1 when the update running in this session is asked to stop. The host's stop flag is 1
  // whenever no update runs (the identification at start-up, for one), so it counts only while
  // an update runs (m_bBootUpdateRunning).
  int StopRequested() const;

  // ---- Identification (boot/boot_identify.cpp) ----
  // Reads the device type (and so the layout), the version word (shown through the host) and the
  // identity words. Answers 1 when the identity read was answered: the serial mask may then be
  // prepared.
  int IdentifyBootDevice();

  // ---- The update (boot/boot_update.cpp) ----
  // Chooses the firmware (through the host), erases the image region, writes the image in
  // acknowledged chunks, rewrites the version area, reads the image back when asked to
  // (m_bVerifyAfterWrite) and finishes. Answers 1 when the image and the version word are in the
  // controller. Runs on the update thread with m_bBootUpdateRunning set by the caller.
  int RunUpdate();

  // ---- Read-back (boot/boot_verify.cpp) ----
  // What BootVerifyImage found.
  struct ImageCheck {
    enum Outcome { kSame, kDiffers, kNoAnswer, kStopped, kFileUnreadable } outcome = kSame;
    uint32_t address = 0;  // kDiffers, kNoAnswer: the first address that differs or went unread
    uint8_t expected = 0;  // kDiffers: the file's byte
    uint8_t found = 0;     // kDiffers: the controller's byte
  };
  // Reads the image back from the boot loader at m_nBootBaseAddress, up to kBootChunkSize bytes a
  // request (BootReadMemory), and compares it with the transfer's image, moving the progress bar
  // as it goes; where the version area lies inside the image, its word is compared with the
  // record's version word. Needs the link open. Answers 1 when every byte is as written; stops
  // (kStopped) when the update it belongs to is asked to stop.
  int BootVerifyImage(ImageCheck* check);
  // Reads length bytes of the boot loader's memory from address into *bytes, up to
  // kBootChunkSize bytes a request, with the transfer's m_bytesDone counting them for the
  // progress bar. Answers 1 when every request was answered; else 0 with the first address that
  // went unread in *unreadAt.
  int BootReadRegion(uint32_t address, uint32_t length, std::vector<uint8_t>* bytes,
                     uint32_t* unreadAt);

  // ---- The boot loader's state ----
  uint32_t m_nBootBaseAddress = 0;
  uint32_t m_nBootVersionAddress = 0;
  uint32_t m_nBootIdAddress = 0;
  uint32_t m_deviceType = 0;
  // 1 while an update runs in this session: the commands give up when the stop flag rises only
  // then.
  std::atomic<int> m_bBootUpdateRunning{0};
  // Read the image back before the finishing command (m_imageCheck tells what it found).
  int m_bVerifyAfterWrite = 0;
  ImageCheck m_imageCheck;
  // When set, RunUpdate calls it after the confirmation and before the erase (a backup of what
  // the erase destroys). Answering 0 ends the update with nothing erased; it keeps its own cause
  // through the host.
  std::function<int(CBootSession&)> m_beforeErase;

 private:
  int WriteImage();
  int VerifyImage();

  CHid& m_Hid;
  CUpdateTransfer& m_transfer;
  ISessionHost& m_host;
};

// The line that tells what a read-back found, e.g. "first difference at 0x08003412 (file 0x5a,
// controller 0x5b)".
std::string ImageCheckText(const CBootSession::ImageCheck& check);
