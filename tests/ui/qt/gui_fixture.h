// The updater's Qt window on the virtual controller, for GUI tests (QT_QPA_PLATFORM=offscreen).
// The protocol runs in virtual time; Qt events are processed while waiting for a condition, with a
// wall-clock bound only so that a fault ends the test instead of hanging it.
#pragma once

#include <gtest/gtest.h>

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <deque>
#include <functional>
#include <memory>
#include <string>

#include "base/clock.h"
#include "base/local_text.h"
#include "emulator/dat_writer.h"
#include "emulator/virtual_boot_loader.h"
#include "emulator/virtual_hid.h"
#include "emulator/virtual_running_firmware.h"
#include "tests/ui/qt/scripted_window_system.h"
#include "ui/qt/update_window.h"
#include "update/update_dlg.h"

constexpr char kPath0[] = "/dev/hidraw-virtual0";
constexpr char kPath1[] = "/dev/hidraw-virtual1";
constexpr char16_t kTitle[] = u"Tarvix Update v2.60";

// Processes Qt events until done() holds; false when the bound ran out first.
bool WaitUntil(const std::function<bool()>& done, int boundMs = 60000);

class GuiTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Creates the window and runs OnInitDialog, as the program does before showing it.
  void OpenWindow();
  // Closes the window the way the close box does.
  void RequestClose() { m_window->close(); }

  std::shared_ptr<VirtualBootLoader> PlugBootLoader(const char* path = kPath0);
  std::shared_ptr<VirtualRunningFirmware> PlugRunningFirmware(uint32_t version = 0x89,
                                                              const char* path = kPath0);
  // Writes a .dat file into the test's folder and has the file dialog choose it.
  std::u16string ChooseDat(const std::vector<DatRecord>& records);
  void ClickUpdate();
  // The update thread has ended and its end notice has been handled on the UI thread.
  bool UpdateFinished();
  bool WaitForUpdateEnd() {
    return WaitUntil([this] { return UpdateFinished(); });
  }

  QString Title() const { return m_window->windowTitle(); }
  QPushButton* Button() const { return m_window->UpdateButton(); }
  QProgressBar* Progress() const { return m_window->Progress(); }
  QLabel* DoneLabel() const { return m_window->DoneLabel(); }
  ScriptedQtWindowSystem& Ws() const {
    return static_cast<ScriptedQtWindowSystem&>(m_window->WindowSystem());
  }

  VirtualClock m_clock;
  VirtualHidPlatform m_platform{&m_clock};
  Seams m_seams;
  ScriptedAnswers m_answers;
  QTemporaryDir m_dir;
  std::unique_ptr<CUpdateDlg> m_dlg;
  std::unique_ptr<CUpdateWindow> m_window;
};

// A record of n image bytes for the boot loader's device type 0x3009, version 2.00.
DatRecord BootRecord(uint32_t n);
