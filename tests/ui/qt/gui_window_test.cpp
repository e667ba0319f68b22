// The window of the updater: start-up, arrival and removal through the device monitor, languages,
// layout, and the window system's hand-over of worker calls to the UI thread.
#include <QAbstractButton>
#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFontDatabase>
#include <QFontInfo>
#include <QLineEdit>
#include <QRegularExpression>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <atomic>
#include <thread>

#include "tests/support/english_words.h"
#include "tests/ui/qt/gui_fixture.h"
#include "ui/qt/qt_translation.h"
#include "ui/qt/update_app.h"

namespace {

// Every text a window shows: title, labels, buttons, fields, list items, the rows of its views and
// their column headers (shown or not: a file dialog switches between two views).
QStringList ShownTexts(QWidget* top) {
  QStringList texts = {top->windowTitle()};
  for (QWidget* w : top->findChildren<QWidget*>()) {
    auto* view = qobject_cast<QAbstractItemView*>(w);
    for (int column = 0; view && view->model() && column < view->model()->columnCount(); ++column) {
      texts << view->model()->headerData(column, Qt::Horizontal).toString();
      for (int row = 0; w->isVisibleTo(top) && row < view->model()->rowCount(view->rootIndex());)
        texts << view->model()->index(row++, column, view->rootIndex()).data().toString();
    }
    if (auto* label = qobject_cast<QLabel*>(w); label && w->isVisibleTo(top))
      texts << label->text();
    if (auto* button = qobject_cast<QAbstractButton*>(w); button && w->isVisibleTo(top))
      texts << button->text();
    if (auto* edit = qobject_cast<QLineEdit*>(w))
      texts << edit->placeholderText();
    if (auto* combo = qobject_cast<QComboBox*>(w))
      for (int i = 0; i < combo->count(); ++i)
        texts << combo->itemText(i);
  }
  // A key's mnemonic, "(&N)", is a key name.
  return texts.replaceInStrings(QRegularExpression(QStringLiteral("\\(&\\w\\)")), QString());
}

using WindowTest = GuiTest;

TEST_F(WindowTest, StartsWithoutAControllerAsThePlainIdleDialog) {
  OpenWindow();
  EXPECT_EQ(Title(), QString::fromStdU16String(kTitle));
  EXPECT_EQ(m_window->Hint()->text(), DisplayText(LoadLocalText(TXT_INSTRUCTIONS)));
  EXPECT_TRUE(m_window->Hint()->text().startsWith(QStringLiteral("1. Press and hold L+R+HOME")));
  EXPECT_EQ(Button()->text(), QStringLiteral("USB Update"));
  EXPECT_FALSE(Button()->isEnabled());
  EXPECT_EQ(Progress()->minimum(), 0);
  EXPECT_EQ(Progress()->maximum(), 100);
  EXPECT_EQ(Progress()->value(), 0);
  EXPECT_TRUE(DoneLabel()->isHidden());
  EXPECT_EQ(DoneLabel()->text(), QStringLiteral("Firmware upgraded!"));
  EXPECT_TRUE(m_window->isVisible());
  EXPECT_FALSE(m_window->windowIcon().isNull());
  EXPECT_FALSE(m_window->windowIcon().isNull());
  EXPECT_TRUE(Ws().Boxes().empty());
}

TEST_F(WindowTest, StartsWithAControllerEnabledButWithThePlainTitle) {
  auto firmware = PlugRunningFirmware(0x89);
  OpenWindow();
  EXPECT_TRUE(Button()->isEnabled());
  EXPECT_EQ(Title(), QString::fromStdU16String(kTitle));
  EXPECT_EQ(firmware->m_nVersionQueries, 1);  // the query ran before the window showed
  EXPECT_EQ(m_dlg->Run().m_curDevVersion.load(), 0x89u);
  EXPECT_TRUE(DoneLabel()->isHidden());
}

TEST_F(WindowTest, AControllerWithoutFirmwareShowsTheInstructionsBoxAtStartUp) {
  PlugRunningFirmware(0xFFFFFFFF);
  OpenWindow();
  auto boxes = Ws().Boxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, LoadLocalText(TXT_INSTRUCTIONS));
  EXPECT_EQ(boxes[0].caption, kTitle);
  EXPECT_EQ(boxes[0].type, MB_OK);
  EXPECT_FALSE(boxes[0].fromWorker);
  EXPECT_EQ(Title(), QString::fromStdU16String(kTitle));
}

TEST_F(WindowTest, ArrivalShowsTheVersionAndRemovalResetsIt) {
  OpenWindow();
  ASSERT_FALSE(Button()->isEnabled());

  PlugRunningFirmware(0x0001008A);  // 1.38 beta 1
  ASSERT_TRUE(WaitUntil([this] { return Button()->isEnabled(); }));
  EXPECT_EQ(Title(), QStringLiteral("Tarvix Update v2.60(GamePad V1.38 beta1)"));

  m_platform.Unplug(kPath0);
  ASSERT_TRUE(WaitUntil([this] { return !Button()->isEnabled(); }));
  EXPECT_EQ(Title(), QString::fromStdU16String(kTitle));
  EXPECT_EQ(Ws().DeliveredEvents(),
            (std::vector<int>{IDeviceMonitor::kArrival, IDeviceMonitor::kRemoveComplete}));
}

TEST_F(WindowTest, RemovalWhileAControllerIsStillFoundChangesNothing) {
  PlugRunningFirmware(0x89, kPath0);
  OpenWindow();
  PlugRunningFirmware(0x90, kPath1);
  ASSERT_TRUE(WaitUntil([this] { return Title().contains(QStringLiteral("GamePad")); }));
  const QString titleWithVersion = Title();
  EXPECT_EQ(titleWithVersion, QStringLiteral("Tarvix Update v2.60(GamePad V1.37)"));

  m_platform.Unplug(kPath1);
  ASSERT_TRUE(WaitUntil([this] { return Ws().DeliveredEvents().size() == 2; }));
  EXPECT_EQ(Title(), titleWithVersion);
  EXPECT_TRUE(Button()->isEnabled());
}

TEST_F(WindowTest, ShowsTheChineseTextsUnderAChineseInterfaceLanguage) {
  m_dlg->Run().m_language = LANG_ZH_CN;
  PlugBootLoader();
  OpenWindow();
  EXPECT_EQ(Button()->text(), QString::fromUtf8("USB 升级"));
  EXPECT_EQ(DoneLabel()->text(), QString::fromUtf8("升级成功。"));
  EXPECT_TRUE(m_window->Hint()->text().startsWith(QString::fromUtf8("1. 按住 L+R+HOME 开机")));
  EXPECT_FALSE(m_window->Hint()->text().contains(QLatin1Char('\r')));
  EXPECT_EQ(Title(), QString::fromStdU16String(kTitle));
  EXPECT_TRUE(Button()->isEnabled());
}

// Under zh_CN Qt's own texts are Chinese too: the box's buttons, the file dialog's labels and
// columns. The box and the dialog are read while they are open, and their screenshots written.
TEST_F(WindowTest, UnderChineseTheWindowTheBoxAndTheFileDialogHaveNoEnglishWord) {
  QTranslator none, qtTexts;
  EXPECT_FALSE(InstallQtTranslation(none, LANG_EN_US));  // de_DE, en_US: Qt's own English
  // The file dialog's sizes and dates follow LANG as the process starts: see gui_tests_zh_CN.
  if (!InstallQtTranslation(qtTexts, LANG_ZH_CN) ||
      QLocale::system().language() != QLocale::Chinese)
    GTEST_SKIP() << "needs qtbase_zh_CN.qm (qt6-translations-l10n) and LANG=zh_CN.UTF-8";
  m_dlg->Run().m_language = LANG_ZH_CN;
  PlugBootLoader();
  OpenWindow();
  QStringList texts = ShownTexts(m_window.get());
  const QDir out(QStringLiteral(TARVIX_SCREENSHOT_DIR));
  ASSERT_FALSE(ChooseDat({BootRecord(16)}).empty());  // a file for the dialog to list
  // Once the modal shows and has listed its folder: read it, grab it, close it.
  auto readModal = [&](const QString& shot) {
    QTimer::singleShot(0, [&, shot] {
      QWidget* modal = QApplication::activeModalWidget();
      auto* view = modal->findChild<QAbstractItemView*>(QStringLiteral("listView"));
      WaitUntil([&] { return !view || view->model()->rowCount(view->rootIndex()) > 0; });
      texts << ShownTexts(modal);
      EXPECT_TRUE(out.mkpath(QStringLiteral(".")) && modal->grab().save(out.filePath(shot)));
      modal->close();
    });
  };
  m_answers.m_boxAnswers = {0};
  readModal(QStringLiteral("screenshot-box-zh.png"));
  EXPECT_EQ(Ws().ShowBox(LoadLocalText(TXT_CONFIRM_STOP, LANG_ZH_CN), kTitle, MB_OKCANCEL),
            IDCANCEL);
  m_answers.m_showFileDialog = true;
  readModal(QStringLiteral("screenshot-file-dialog-zh.png"));
  EXPECT_FALSE(Ws().OpenFileDialog(LoadLocalText(TXT_FILE_TYPE, LANG_ZH_CN) + u"(*.dat)|*.dat||",
                                   m_dir.path().toStdU16String(), nullptr));
  QCoreApplication::removeTranslator(&qtTexts);
  const std::string all = texts.join(QLatin1Char('|')).toStdString();
  EXPECT_TRUE(texts.contains(QString::fromUtf8("确定")) &&
              all.find("文件名称") != std::string::npos);
  // The side bar names the home folder.
  EXPECT_EQ(EnglishWords(all, {QDir::home().dirName().toStdString()}), std::vector<std::string>{})
      << all;
}

TEST_F(WindowTest, LayoutFollowsTheTemplateInDialogUnitsOfTheWindowFont) {
  // The dialog manager's rounding, with the base units of a 9-point SimSun at 96 dpi (6 x 12).
  EXPECT_EQ(MapDialogRect(QSize(6, 12), 7, 7, 197, 14), QRect(11, 11, 296, 21));
  EXPECT_EQ(MapDialogRect(QSize(6, 12), 0, 0, 211, 138), QRect(0, 0, 317, 207));

  OpenWindow();
  const QSize base = m_window->BaseUnits();
  EXPECT_EQ(base, DialogBaseUnits(QFontMetrics(m_window->font())));
  EXPECT_EQ(m_window->minimumSize(), m_window->maximumSize());  // fixed size
  EXPECT_EQ(m_window->size(), MapDialogRect(base, 0, 0, 211, 138).size());
  EXPECT_EQ(Button()->geometry(), MapDialogRect(base, 7, 109, 197, 22));
  EXPECT_EQ(DoneLabel()->geometry(), MapDialogRect(base, 59, 91, 85, 12));
  // Every control lies inside the client area, the instructions above the label, the label above
  // the button.
  for (QWidget* control :
       {static_cast<QWidget*>(Progress()), static_cast<QWidget*>(Button()),
        static_cast<QWidget*>(DoneLabel()), static_cast<QWidget*>(m_window->Hint())}) {
    EXPECT_TRUE(m_window->rect().contains(control->geometry()));
  }
  EXPECT_LT(m_window->Hint()->geometry().bottom(), DoneLabel()->geometry().top());
  EXPECT_LT(DoneLabel()->geometry().bottom(), Button()->geometry().top());
  EXPECT_TRUE(m_window->Hint()->wordWrap());

  const Qt::WindowFlags flags = m_window->windowFlags();
  EXPECT_TRUE(flags.testFlag(Qt::WindowCloseButtonHint));
  EXPECT_FALSE(flags.testFlag(Qt::WindowMinimizeButtonHint));
  EXPECT_FALSE(flags.testFlag(Qt::WindowMaximizeButtonHint));
  EXPECT_EQ(m_window->windowType(), Qt::Window);  // an application window: its own taskbar entry
}

TEST_F(WindowTest, TheWindowFontIsNinePointsAndShowsChinese) {
  const QFont font = DialogFont();
  EXPECT_EQ(font.pointSize(), 9);
  if (QFontDatabase::families(QFontDatabase::SimplifiedChinese).isEmpty())
    GTEST_SKIP() << "no font for Simplified Chinese is installed";
  const QString family = QFontInfo(font).family();
  EXPECT_TRUE(QFontDatabase::writingSystems(family).contains(QFontDatabase::SimplifiedChinese))
      << family.toStdString();
}

TEST_F(WindowTest, EscapeClosesTheIdleDialogAtOnce) {
  OpenWindow();
  QTest::keyClick(m_window.get(), Qt::Key_Escape);
  EXPECT_FALSE(m_window->isVisible());
  EXPECT_EQ(m_window->result(), QDialog::Rejected);
  EXPECT_TRUE(Ws().Boxes().empty());
}

TEST(DialogFilterTest, TurnsTheOpenFileFilterIntoQtNameFilters) {
  EXPECT_EQ(QtFilterFromDialogFilter(u"File type(*.dat)|*.dat||"),
            QStringLiteral("File type(*.dat) (*.dat)"));
  EXPECT_EQ(QtFilterFromDialogFilter(u"文件类型中显示的内容(*.dat)|*.dat||"),
            QString::fromUtf8("文件类型中显示的内容(*.dat) (*.dat)"));
  EXPECT_EQ(QtFilterFromDialogFilter(u"Firmware|*.dat;*.bin|All files|*.*||"),
            QStringLiteral("Firmware (*.dat *.bin);;All files (*.*)"));
  EXPECT_EQ(QtFilterFromDialogFilter(u"Cut|*.dat"), QStringLiteral("Cut (*.dat)"));
  EXPECT_EQ(QtFilterFromDialogFilter(u"Dangling|"), QStringLiteral("Dangling ()"));
  EXPECT_EQ(QtFilterFromDialogFilter(u"NoPattern"), QString());
  EXPECT_EQ(QtFilterFromDialogFilter(u""), QString());
  EXPECT_EQ(DisplayText(u"a\r\n\r\nb"), QStringLiteral("a\n\nb"));
}

// Calls from another thread run on the UI thread: control updates are posted in order without
// waiting, and a box or the file dialog shows only after everything posted before it.
TEST_F(WindowTest, CallsFromAnotherThreadArePostedInOrderAndBoxesComeAfterThem) {
  OpenWindow();
  bool ranOnUiThread = false;
  QObject::connect(Progress(), &QProgressBar::valueChanged,
                   [&](int) { ranOnUiThread = QThread::currentThread() == qApp->thread(); });
  std::vector<int> valuesAtBox;
  QString titleAtBox;
  m_answers.m_onBox = [&](const std::u16string&, unsigned) {
    valuesAtBox.push_back(Progress()->value());
    titleAtBox = Title();
  };
  m_answers.m_boxAnswers = {IDCANCEL};
  m_answers.m_filePath = u"/tmp/chosen.dat";
  int boxAnswer = 0;
  bool chosen = false;
  std::u16string path;
  std::thread worker([&] {
    for (int position = 1; position <= 42; ++position)
      Ws().SetProgressPos(position);
    Ws().SetTitle(u"from the worker");
    boxAnswer = Ws().ShowBox(u"question", kTitle, MB_OKCANCEL);
    Ws().SetProgressPos(7);
    chosen = Ws().OpenFileDialog(u"File type(*.dat)|*.dat||", u"/tmp", &path);
  });
  bool done = WaitUntil([&] { return !Ws().FileDialogs().empty(); });
  worker.join();
  ASSERT_TRUE(done);
  EXPECT_TRUE(ranOnUiThread);
  EXPECT_EQ(valuesAtBox, std::vector<int>{42});
  EXPECT_EQ(titleAtBox, QStringLiteral("from the worker"));
  EXPECT_EQ(Progress()->value(), 7);  // posted after the box, before the file dialog
  EXPECT_EQ(boxAnswer, IDCANCEL);
  ASSERT_EQ(Ws().Boxes().size(), 1u);
  EXPECT_TRUE(Ws().Boxes()[0].fromWorker);
  EXPECT_TRUE(chosen);
  EXPECT_EQ(path, u"/tmp/chosen.dat");
  EXPECT_EQ(Ws().FileDialogs()[0].qtFilter, QStringLiteral("File type(*.dat) (*.dat)"));
}

TEST_F(WindowTest, TheWorkerEndNoticeNeverRunsOnTheCallingThread) {
  OpenWindow();
  Ws().NotifyWorkerEnded();
  EXPECT_EQ(Ws().PendingWorkerEnds(), 1);
  ASSERT_TRUE(WaitUntil([this] { return Ws().PendingWorkerEnds() == 0; }));
  EXPECT_TRUE(m_window->isVisible());  // no close was pending
}

TEST_F(WindowTest, ProgressPositionsOutsideTheRangeAreClamped) {
  OpenWindow();
  Ws().SetProgressPos(150);
  EXPECT_EQ(Progress()->value(), 100);
  Ws().SetProgressPos(-5);
  EXPECT_EQ(Progress()->value(), 0);
}

}  // namespace
