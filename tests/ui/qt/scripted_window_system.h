// The Qt window system with the user's answers scripted: boxes and file dialogs answer from the
// test's script on the UI thread, as the user would there, and every box, file dialog and device
// notice is recorded.
#pragma once

#include <QString>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "ui/qt/qt_window_system.h"

// What the user will answer.
struct ScriptedAnswers {
  // Box answers in order; with none queued a box answers m_defaultBoxAnswer. An answer of 0 shows
  // the real box.
  std::deque<int> m_boxAnswers;
  int m_defaultBoxAnswer = IDOK;
  // Called before a box is answered (it may act on the window, e.g. close it).
  std::function<void(const std::u16string& text, unsigned type)> m_onBox;
  // The file the next file dialog chooses; empty: the dialog is cancelled.
  std::u16string m_filePath;
  // Shows the real file dialog instead (the test closes it).
  bool m_showFileDialog = false;
  // Called on the UI thread for each progress position the update thread sets, while that thread
  // waits: a test acts there between two chunks, as a user's click lands between them.
  std::function<void(int position)> m_onProgress;
};

class ScriptedQtWindowSystem : public QtWindowSystem {
 public:
  explicit ScriptedQtWindowSystem(ScriptedAnswers* answers) : m_pAnswers(answers) {}

  struct BoxRecord {
    std::u16string text;
    std::u16string caption;
    unsigned type;
    int answer;
    bool fromWorker;
  };
  struct FileDialogRecord {
    QString qtFilter;
    std::u16string initialFolder;
  };
  // Copies; UI thread only.
  std::vector<BoxRecord> Boxes() const { return m_boxes; }
  std::vector<FileDialogRecord> FileDialogs() const { return m_fileDialogs; }
  std::vector<int> DeliveredEvents() const { return m_deliveredEvents; }

  void SetProgressPos(int position) override;

 protected:
  int ExecBox(const std::u16string& text, const std::u16string& caption, unsigned type,
              bool fromWorker) override;
  bool ExecFileDialog(const QString& qtFilter, const std::u16string& initialFolder,
                      std::u16string* path, bool fromWorker) override;
  void DeliverDeviceChange(int code) override;

 private:
  ScriptedAnswers* m_pAnswers;
  std::vector<BoxRecord> m_boxes;
  std::vector<FileDialogRecord> m_fileDialogs;
  std::vector<int> m_deliveredEvents;
};
