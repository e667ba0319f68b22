// Whole updates clicked through the window, closing while one runs, and the screenshots.
#include <QApplication>
#include <QDir>
#include <QImage>
#include <QMessageBox>
#include <QTest>
#include <QTimer>

#include "tests/ui/qt/gui_fixture.h"

namespace {

using UpdateTest = GuiTest;

// The flash of the image region after a whole update: the image, except for the 32-byte version
// area inside it (the 0x3009 layout puts it at base + 0x34), erased again and holding the version
// word.
std::vector<uint8_t> FlashAfterUpdate(VirtualBootLoader& loader, const std::vector<uint8_t>& image,
                                      uint32_t versionWord) {
  std::vector<uint8_t> flash = image;
  const BootMemoryLayout layout = loader.Layout();
  for (uint32_t i = 0; i < 32; ++i) {
    uint64_t address = uint64_t{layout.versionArea} + i;
    if (address >= layout.imageBase && address < layout.imageBase + image.size())
      flash[address - layout.imageBase] =
          i < 4 ? static_cast<uint8_t>(versionWord >> (8 * i)) : 0xFF;
  }
  return flash;
}

// Records every position the progress bar shows.
class ProgressLog {
 public:
  explicit ProgressLog(QProgressBar* bar) {
    QObject::connect(bar, &QProgressBar::valueChanged, bar,
                     [this](int value) { m_values.push_back(value); });
  }
  // Non-decreasing up to the highest position, which comes before the final reset to 0.
  bool RisesTo(int top) const {
    size_t i = 0;
    int last = 0;
    for (; i < m_values.size() && m_values[i] >= last; ++i)
      last = m_values[i];
    return last == top && (i == m_values.size() || (i + 1 == m_values.size() && m_values[i] == 0));
  }
  std::vector<int> m_values;
};

TEST_F(UpdateTest, ABootModeUpdateClickedThrough) {
  auto loader = PlugBootLoader();
  OpenWindow();
  const DatRecord record = BootRecord(46 * 40 + 10);  // the last chunk is a short one
  ChooseDat({record});
  ProgressLog progress(Progress());

  ClickUpdate();
  EXPECT_FALSE(Button()->isEnabled());  // disabled from the click until the worker ends
  ASSERT_TRUE(WaitForUpdateEnd());

  EXPECT_EQ(loader->ReadFlash(0x08003400, record.image.size()),
            FlashAfterUpdate(*loader, record.image, 200));
  EXPECT_EQ(loader->VersionWord(), 200u);
  EXPECT_EQ(loader->m_bFinished, 1);
  EXPECT_EQ(loader->m_nWriteFaults, 0);

  auto dialogs = Ws().FileDialogs();
  ASSERT_EQ(dialogs.size(), 1u);
  EXPECT_EQ(dialogs[0].qtFilter, QStringLiteral("File type(*.dat) (*.dat)"));
  EXPECT_EQ(QDir(QString::fromStdU16String(dialogs[0].initialFolder)), QDir::current());
  auto boxes = Ws().Boxes();
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_EQ(boxes[0].text, u"New firmware 2.00 and current is 1.37\n");
  EXPECT_EQ(boxes[0].type, MB_OKCANCEL);
  EXPECT_EQ(boxes[1].text, u"\n Firmware upgraded! \n");
  EXPECT_EQ(boxes[1].type, MB_OK);
  for (const auto& box : boxes) {
    EXPECT_EQ(box.caption, kTitle);
    EXPECT_TRUE(box.fromWorker);
  }

  EXPECT_TRUE(progress.RisesTo(100)) << ::testing::PrintToString(progress.m_values);
  EXPECT_EQ(Progress()->value(), 0);
  EXPECT_FALSE(DoneLabel()->isHidden());
  EXPECT_TRUE(Button()->isEnabled());
  // The boot loader stays as it is: the title shows the version just written.
  EXPECT_EQ(Title(), QString::fromStdU16String(std::u16string(kTitle) + u"(GamePad V2.00)"));
}

TEST_F(UpdateTest, AnApplicationModeUpdateClickedThrough) {
  auto firmware = PlugRunningFirmware(0x89);
  OpenWindow();
  // A controller that was never seen in its boot loader has device type 0.
  DatRecord record = BootRecord(32 * 50 + 7);
  record.deviceType = 0;
  ChooseDat({record});
  ProgressLog progress(Progress());

  ClickUpdate();
  ASSERT_TRUE(WaitForUpdateEnd());

  EXPECT_EQ(firmware->m_image, record.image);
  EXPECT_EQ(firmware->m_fileVersion, 200u);
  EXPECT_EQ(firmware->m_bSerialAccepted, 1);
  EXPECT_EQ(firmware->m_bFinished, 1);
  auto boxes = Ws().Boxes();
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_EQ(boxes[0].text, u"New firmware 2.00 and current is 1.37\n");
  EXPECT_EQ(boxes[1].text, u"\n Firmware upgraded! \n");
  EXPECT_TRUE(progress.RisesTo(100)) << ::testing::PrintToString(progress.m_values);
  EXPECT_FALSE(DoneLabel()->isHidden());
  EXPECT_TRUE(Button()->isEnabled());

  // A second click hides the label of the first update.
  m_answers.m_filePath.clear();  // and the file choice is cancelled this time
  ClickUpdate();
  EXPECT_TRUE(DoneLabel()->isHidden());
  ASSERT_TRUE(WaitForUpdateEnd());
}

// Closes the window (as the close box does) once the transfer has passed 30 %.
void CloseMidTransfer(ScriptedAnswers& answers, CUpdateWindow* window) {
  auto closed = std::make_shared<bool>(false);
  answers.m_onProgress = [window, closed](int value) {
    if (value >= 30 && !*closed) {
      *closed = true;
      window->close();
    }
  };
}

TEST_F(UpdateTest, ClosingDuringAnUpdateAndCancellingKeepsItGoing) {
  auto loader = PlugBootLoader();
  OpenWindow();
  const DatRecord record = BootRecord(46 * 200);
  ChooseDat({record});
  m_answers.m_boxAnswers = {IDOK, IDCANCEL, IDOK};  // file confirmation, stop?, success
  CloseMidTransfer(m_answers, m_window.get());

  ClickUpdate();
  ASSERT_TRUE(WaitForUpdateEnd());

  auto boxes = Ws().Boxes();
  ASSERT_EQ(boxes.size(), 3u);
  EXPECT_EQ(boxes[1].text, LoadLocalText(TXT_CONFIRM_STOP));
  EXPECT_EQ(boxes[1].caption, kTitle);
  EXPECT_EQ(boxes[1].type, MB_OKCANCEL);
  EXPECT_FALSE(boxes[1].fromWorker);
  EXPECT_EQ(boxes[2].text, u"\n Firmware upgraded! \n");
  EXPECT_TRUE(m_window->isVisible());
  EXPECT_FALSE(m_dlg->IsClosePending());
  EXPECT_EQ(loader->m_bFinished, 1);
  EXPECT_EQ(loader->ReadFlash(0x08003400, record.image.size()),
            FlashAfterUpdate(*loader, record.image, 200));
}

TEST_F(UpdateTest, ClosingDuringAnUpdateAndConfirmingStopsItThenCloses) {
  auto loader = PlugBootLoader();
  OpenWindow();
  ChooseDat({BootRecord(46 * 200)});
  m_answers.m_boxAnswers = {IDOK, IDOK};  // file confirmation, stop? OK
  m_answers.m_defaultBoxAnswer = IDOK;
  CloseMidTransfer(m_answers, m_window.get());

  ClickUpdate();
  ASSERT_TRUE(WaitUntil([this] { return !m_window->isVisible(); }));

  EXPECT_TRUE(UpdateFinished());  // the window closed only after the worker had ended
  EXPECT_EQ(m_window->result(), QDialog::Rejected);
  EXPECT_EQ(loader->m_bFinished, 0);
  EXPECT_LT(Progress()->value(), 100);
  for (const auto& box : Ws().Boxes())
    EXPECT_NE(box.text, u"\n Firmware upgraded! \n");
}

// The worker waits in a real box when the user confirms closing: the close path closes that box,
// so the worker sees the stop flag and ends, and the window closes.
TEST_F(UpdateTest, ConfirmedClosingClosesABoxTheWorkerHasOpen) {
  auto loader = PlugBootLoader();
  OpenWindow();
  ChooseDat({BootRecord(46 * 20)});
  m_answers.m_boxAnswers = {0, IDOK};  // the file confirmation shows for real; stop? OK
  bool closeRequested = false;
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    if (!closeRequested && qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
      closeRequested = true;
      m_window->close();
    }
  });
  poll.start(5);

  ClickUpdate();
  ASSERT_TRUE(WaitUntil([this] { return !m_window->isVisible(); }));
  poll.stop();

  EXPECT_TRUE(closeRequested);
  EXPECT_TRUE(UpdateFinished());
  auto boxes = Ws().Boxes();
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_EQ(boxes[0].text, LoadLocalText(TXT_CONFIRM_STOP));  // recorded when answered
  EXPECT_EQ(boxes[1].text, u"New firmware 2.00 and current is 1.37\n");
  EXPECT_EQ(boxes[1].answer, IDCANCEL);
  EXPECT_TRUE(boxes[1].fromWorker);
  EXPECT_TRUE(loader->m_erases.empty());  // the file was refused: nothing was touched
}

TEST_F(UpdateTest, UnpluggingDuringAnUpdateIsHandledOnceItHasEnded) {
  auto loader = PlugBootLoader();
  OpenWindow();
  ChooseDat({BootRecord(46 * 200)});
  bool unplugged = false;
  m_answers.m_onProgress = [this, &unplugged](int value) {
    if (value >= 30 && !unplugged) {
      unplugged = true;
      m_platform.Unplug(kPath0);
    }
  };

  ClickUpdate();
  ASSERT_TRUE(WaitForUpdateEnd());
  ASSERT_TRUE(WaitUntil([this] { return !Ws().DeliveredEvents().empty(); }));
  QTest::qWait(0);

  EXPECT_EQ(loader->m_bFinished, 0);
  EXPECT_FALSE(Button()->isEnabled());
  EXPECT_EQ(Title(), QString::fromStdU16String(kTitle));
  EXPECT_TRUE(DoneLabel()->isHidden());
  for (const auto& box : Ws().Boxes())
    EXPECT_NE(box.text, u"\n Firmware upgraded! \n");
}

#ifndef TARVIX_SCREENSHOT_DIR
#define TARVIX_SCREENSHOT_DIR "screenshots"
#endif

// Writes the idle, updating and done states of the window as PNG files (English and Chinese).
TEST_F(UpdateTest, WritesScreenshotsOfTheIdleUpdatingAndDoneStates) {
  QDir out(QStringLiteral(TARVIX_SCREENSHOT_DIR));
  ASSERT_TRUE(out.mkpath(QStringLiteral(".")));
  for (uint16_t language : {LANG_EN_US, LANG_ZH_CN}) {
    SCOPED_TRACE(language);
    const QString suffix = language == LANG_ZH_CN ? QStringLiteral("-zh") : QString();
    m_seams.language = language;
    // A fresh start for each language: the window goes before its dialog.
    if (m_window) {
      m_window->Shutdown();
      m_window.reset();
    }
    m_dlg = std::make_unique<CUpdateDlg>(m_seams);
    m_platform.Unplug(kPath0);
    auto loader = PlugBootLoader();
    OpenWindow();
    ChooseDat({BootRecord(46 * 100)});

    QImage idle = m_window->grab().toImage();
    QImage updating;
    QObject::connect(Progress(), &QProgressBar::valueChanged, m_window.get(), [&](int value) {
      if (value >= 60 && updating.isNull())
        updating = m_window->grab().toImage();
    });
    ClickUpdate();
    ASSERT_TRUE(WaitForUpdateEnd());
    QImage done = m_window->grab().toImage();

    ASSERT_FALSE(updating.isNull());
    EXPECT_EQ(idle.size(), m_window->size() * m_window->devicePixelRatio());
    // The success label shows in the done state only.
    const QRect label = DoneLabel()->geometry();
    EXPECT_NE(idle.copy(label), done.copy(label));
    EXPECT_NE(idle.copy(Progress()->geometry()), updating.copy(Progress()->geometry()));
    EXPECT_TRUE(idle.save(out.filePath(QStringLiteral("screenshot-idle%1.png").arg(suffix))));
    EXPECT_TRUE(
        updating.save(out.filePath(QStringLiteral("screenshot-updating%1.png").arg(suffix))));
    EXPECT_TRUE(done.save(out.filePath(QStringLiteral("screenshot-done%1.png").arg(suffix))));
  }
}

}  // namespace
