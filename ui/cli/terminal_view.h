// The terminal view: what an update run tells (IUpdateObserver) rendered on a terminal, for
// tarvix-flash.
//
// The thread that constructs it is the session's: it runs RunUpdateEvents while the run's worker
// works. The progress bar is drawn at once from whichever thread moves it (under the output lock,
// so in order); a question or notice from the worker is answered on the session's thread, which is
// the one that reads the terminal and sees Ctrl-C, while the worker waits for the answer.
#pragma once

#include "device/hid.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <iosfwd>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "ui/cli/stop_state.h"
#include "update/update_run.h"

class LogFile;

// What an update is doing, for the label before its progress; the JSON words are PhaseName's.
// In the order an update goes through them.
using Phase = UpdatePhase;
// "backing-up", "erasing", "writing", "version", "verifying", "finishing" ("" for kNone).
const char* PhaseName(Phase phase);

// The one progress line of controllers updated at once on a terminal: each controller's phase and
// share side by side ("hidraw3 writing 42%  hidraw4 erasing"), redrawn in place at the bottom.
// Another line clears it first and the next change draws it again below that line, so that no
// line lands inside it. Used with the output lock held.
class ProgressBoard {
 public:
  explicit ProgressBoard(int columns) : m_columns(columns > 0 ? columns : 80) {}
  // The controller at path is at state ("writing 42%"): the line is drawn again.
  void Show(std::ostream& out, const std::string& path, const std::string& state);
  // The controller at path has ended: it leaves the line at its next drawing.
  void Drop(const std::string& path);
  // Clears the drawn line before another line is written there.
  void Clear(std::ostream& out);

 private:
  int m_columns;
  std::vector<std::pair<std::string, std::string>> m_entries;  // path, state
  size_t m_drawnWidth = 0;                                     // 0: nothing drawn
};

// Reads one line of answer from inFd when it is >= 0 (watching for a stop meanwhile), else from
// in. False at the end of the input or once a stop was asked.
bool ReadTerminalAnswer(std::istream* in, int inFd, const StopState& stops, std::string* line);
// "y", "Y" or "yes": the answer that goes on.
inline bool IsYes(const std::string& answer) {
  return answer == "y" || answer == "Y" || answer == "yes";
}

// How the terminal answers and draws.
struct TerminalOptions {
  std::ostream* out = nullptr;
  std::ostream* ask = nullptr;  // where the question goes (the terminal: stderr); null: out
  std::istream* in = nullptr;
  int inFd = -1;           // when >= 0 the answer is read from it, watching for Ctrl-C meanwhile
  bool canAsk = false;     // the input is a terminal: the confirmation is asked there
  bool assumeYes = false;  // --yes: the confirmation is answered OK without asking
  bool drawBar = false;    // the output is a terminal: a bar redrawn in place
  int columns = 0;         // the terminal's width; 0: 80
  bool quiet = false;      // -q: no progress, no echo of the confirmation
  bool json = false;       // --json: the progress as events
  LogFile* log = nullptr;  // --log: the progress by ten per cent and every phase
  std::atomic<int>* stopsAsked = nullptr;  // FlashEnv::stopsAsked
  StopState* stops = nullptr;              // the signal that asks to stop, the question's turn
  // The lock of the output and the bar, shared by the sessions that write to one terminal.
  std::mutex* outputMutex = nullptr;
  // What the dialog runs on (its platform's clock is the terminal's too).
  Seams seams;
  // Controllers updated at once: their progress shares this line (null: each has its own bar or
  // lines).
  ProgressBoard* board = nullptr;
  // The confirmations already answered yes in one question for every controller, by path: the
  // one this controller's update asks is answered yes only when it reads the same (null: it is
  // asked, or --yes answers it).
  const std::map<std::string, std::u16string>* answeredAtOnce = nullptr;
};

class TerminalView : public IUpdateObserver {
 public:
  TerminalView(const TerminalOptions& options, const std::string& controllerPath);
  ~TerminalView() override;

  // A new phase of the update: its label, and its bar or line from 0.
  void SetPhase(Phase phase);
  // Whether the run's phases are shown (a boot loader's update) or not (the running firmware's,
  // whose bar is labelled writing throughout).
  void WatchPhases(bool watch) { m_bWatchPhases = watch; }

  // Runs the session's side of an update on this thread until the run's worker has ended. A Ctrl-C
  // meanwhile stops the update (RequestStop) and answers its questions no; a worker that has not
  // ended kStopGraceMs later is stuck in a system call and left behind. Answers true when the
  // worker ended, false when it was left behind.
  bool RunUpdateEvents(CUpdateRun& run);
  static constexpr uint64_t kStopGraceMs = 3000;
  // Ends a bar left open on the terminal, so that the next line starts at its beginning.
  void EndProgressLine();
  // Writes one line to the output after any open bar.
  void PrintLine(const std::string& line);

  std::atomic<int> m_bStoppedByUser{0};  // Ctrl-C stopped the update
  std::u16string LastMessage();          // the text of the last notice, for the result line
  void ClearLastMessage();
  // Whether a confirmation was answered yes, and when the last was, on the platform's clock; now.
  bool Confirmed() const { return m_bConfirmed.load(); }
  uint64_t ConfirmedAtMs() const { return m_confirmedAtMs.load(); }
  uint64_t NowMs() const { return Clock().NowMs(); }

  // ---- IUpdateObserver ----
  void OnPhase(UpdatePhase phase) override;
  void OnProgress(int percent) override;
  bool ChooseFirmwareFile(std::u16string*) override { return false; }  // the request names it
  bool Confirm(const std::u16string& text) override;
  void Notice(const std::u16string& text) override { Ask(text, false); }
  void OnDeviceVersion(uint32_t) override {}
  void OnEnded(const UpdateResult& result) override;

 private:
  IClock& Clock() const {
    return m_options.seams.platform ? m_options.seams.platform->Clock() : TheSystemClock();
  }
  struct BoxRequest {
    std::u16string text;
    bool question;
    bool answer = false;
    bool answered = false;
  };
  // A notice or question from any thread, answered on the session's thread.
  bool Ask(const std::u16string& text, bool question);
  // On the session's thread: a notice is kept for the result line; the confirmation is asked.
  bool AnswerBox(const std::u16string& text, bool question);
  // Answers every question no from now on: the update is stopping.
  void AnswerEveryQuestionNo();

  TerminalOptions m_options;
  std::string m_path;
  std::thread::id m_dialogThread;

  // Draws the bar of the phase at position (-1: a phase without a measure). Output lock held.
  void DrawBar(int position);
  std::string Label() const;
  // A line of the progress for the log and, without a bar, the output. Output lock held.
  void ProgressLine(const std::string& line);

  Phase m_phase = Phase::kNone;  // under the output lock
  int m_barPosition = -1;        // the position drawn last in this bar; -1: no bar
  bool m_barOpen = false;        // a drawn bar waits for its line's end

  std::mutex m_mutex;  // the rest
  std::condition_variable m_wake;
  std::condition_variable m_answered;
  std::deque<BoxRequest*> m_boxes;
  std::u16string m_lastMessage;
  int m_nWorkerEnds = 0;
  bool m_bAborting = false;
  std::atomic<bool> m_bWatchPhases{false};
  std::atomic<uint64_t> m_confirmedAtMs{0};
  std::atomic<bool> m_bConfirmed{false};
};
