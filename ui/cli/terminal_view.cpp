#include "ui/cli/terminal_view.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <istream>
#include <ostream>

#include "base/clock.h"
#include "base/wide_string.h"
#include "ui/cli/cli.h"

namespace {

constexpr int kMinBarWidth = 10;
// The longest the session's thread waits without looking at a signal and the stop's time: a
// signal handler can only raise a flag.
constexpr std::chrono::milliseconds kPollInterval{50};

}  // namespace

TerminalView::TerminalView(const TerminalOptions& options, const std::string& controllerPath)
    : m_options(options), m_path(controllerPath), m_dialogThread(std::this_thread::get_id()) {}

TerminalView::~TerminalView() {
  EndProgressLine();
}

std::u16string TerminalView::LastMessage() {
  std::lock_guard lock(m_mutex);
  return m_lastMessage;
}

void TerminalView::ClearLastMessage() {
  std::lock_guard lock(m_mutex);
  m_lastMessage.clear();
}

void ProgressBoard::Show(std::ostream& out, const std::string& path, const std::string& state) {
  auto entry = std::find_if(m_entries.begin(), m_entries.end(),
                            [&](const auto& e) { return e.first == path; });
  if (entry == m_entries.end())
    entry = m_entries.insert(m_entries.end(), {path, state});
  entry->second = state;
  std::string line;
  for (const auto& [name, shown] : m_entries) {
    const size_t slash = name.rfind('/');
    line += (line.empty() ? "" : "  ") + name.substr(slash == std::string::npos ? 0 : slash + 1) +
            " " + shown;
  }
  // One column short of the width, as the bar: a full line would wrap on some terminals. The
  // line is cut at a character's start, from its end.
  const size_t columns = static_cast<size_t>(m_columns - 1);
  while (!line.empty() && DisplayWidth(line) > columns) {
    size_t cut = line.size() - 1;
    while (cut > 0 && (static_cast<unsigned char>(line[cut]) & 0xC0) == 0x80)
      --cut;
    line.resize(cut);
  }
  const size_t width = DisplayWidth(line);
  out << "\r" << line << std::string(m_drawnWidth > width ? m_drawnWidth - width : 0, ' ')
      << std::flush;
  m_drawnWidth = std::max<size_t>(width, 1);
}

void ProgressBoard::Drop(const std::string& path) {
  std::erase_if(m_entries, [&](const auto& e) { return e.first == path; });
}

void ProgressBoard::Clear(std::ostream& out) {
  if (m_drawnWidth)
    out << "\r" << std::string(m_drawnWidth, ' ') << "\r" << std::flush;
  m_drawnWidth = 0;
}

void TerminalView::EndProgressLine() {
  std::lock_guard lock(*m_options.outputMutex);
  if (m_options.board)
    m_options.board->Clear(*m_options.out);
  if (m_barOpen)
    *m_options.out << "\n" << std::flush;
  m_barOpen = false;
}

void TerminalView::PrintLine(const std::string& line) {
  EndProgressLine();
  std::lock_guard lock(*m_options.outputMutex);
  *m_options.out << line << "\n" << std::flush;
}

const char* PhaseName(Phase phase) {
  constexpr const char* kNames[] = {"",        "backing-up", "erasing",  "writing",
                                    "version", "verifying",  "finishing"};
  return kNames[static_cast<int>(phase)];
}

std::string TerminalView::Label() const {
  // Before any phase is seen (the running firmware's update), the image is being written.
  constexpr Say kLabels[] = {Say::kWriting,        Say::kBackingUp, Say::kErasing,  Say::kWriting,
                             Say::kWritingVersion, Say::kVerifying, Say::kFinishing};
  return SayText(kLabels[static_cast<int>(m_phase)], m_options.seams.language.value_or(0));
}

void TerminalView::ProgressLine(const std::string& line) {
  if (m_options.log)
    m_options.log->Line(line);
  if (!m_options.drawBar && !m_options.board && !m_options.quiet && !m_options.json)
    *m_options.out << line << "\n";
}

void TerminalView::DrawBar(int position) {
  // The labels of every phase take the same width, so that the bar stays in place.
  const uint16_t language = m_options.seams.language.value_or(0);
  size_t labelWidth = 0;
  for (Say label :
       {Say::kErasing, Say::kWriting, Say::kWritingVersion, Say::kFinishing, Say::kVerifying})
    labelWidth = std::max(labelWidth, DisplayWidth(SayText(label, language)));
  const std::string label = Label();
  std::string prefix = m_path + " " + label + std::string(labelWidth - DisplayWidth(label), ' ');
  // The line stays one column short of the width: a full line would wrap on some terminals.
  const int columns = m_options.columns > 0 ? m_options.columns : 80;
  constexpr int kFrame = 8;  // " [" "] " "100%"
  if (columns - 1 - static_cast<int>(DisplayWidth(prefix)) - kFrame < kMinBarWidth)
    prefix = prefix.substr(m_path.size() + 1);  // a narrow terminal: the label alone
  const int width =
      std::max(kMinBarWidth, columns - 1 - static_cast<int>(DisplayWidth(prefix)) - kFrame);
  std::ostream& out = *m_options.out;
  out << "\r" << prefix;
  if (position < 0) {
    out << " ...";
  } else {
    const int filled = position * width / 100;
    out << " [" << std::string(static_cast<size_t>(filled), '#')
        << std::string(static_cast<size_t>(width - filled), '.') << "] " << position << "%";
  }
  m_barOpen = position < 100;
  out << (m_barOpen ? "" : "\n") << std::flush;
}

void TerminalView::SetPhase(Phase phase) {
  std::lock_guard lock(*m_options.outputMutex);
  if (phase == m_phase)
    return;
  if (m_barOpen)
    *m_options.out << "\n";
  m_barOpen = false;
  m_barPosition = -1;
  m_phase = phase;
  const bool measured = phase == Phase::kWriting || phase == Phase::kVerifying;
  if (m_options.json) {
    *m_options.out << JsonEvent("progress")
                          .Add("device", JsonString(m_path))
                          .Add("phase", JsonString(PhaseName(phase)))
                          .Add("percent", measured ? "0" : "null")
                          .Line()
                   << "\n";
  } else if (m_options.drawBar && !m_options.quiet) {
    DrawBar(measured ? 0 : -1);
  } else if (m_options.board && !m_options.quiet) {
    m_options.board->Show(*m_options.out, m_path, Label() + (measured ? " 0%" : ""));
  }
  // The phases that advance say so with their ten per cents.
  if (!measured)
    ProgressLine(m_path + ": " + Label());
  *m_options.out << std::flush;
}

void TerminalView::OnProgress(int position) {
  std::lock_guard lock(*m_options.outputMutex);
  // A bar starts with the first step above 0 and ends when the position falls back (the dialog
  // sets 0 after a success) or reaches 100.
  if (position < m_barPosition || position <= 0) {
    if (m_barOpen)
      *m_options.out << "\n";
    m_barOpen = false;
    m_barPosition = position > 0 ? position : -1;
    if (position <= 0)
      return;
  }
  int previous = m_barPosition < 0 ? 0 : m_barPosition;
  m_barPosition = position;
  if (m_options.json) {
    *m_options.out << JsonEvent("progress")
                          .Add("device", JsonString(m_path))
                          .Add("phase", JsonString(PhaseName(
                                            m_phase == Phase::kNone ? Phase::kWriting : m_phase)))
                          .Add("percent", position)
                          .Line()
                   << "\n";
  } else if (m_options.drawBar && !m_options.quiet) {
    DrawBar(position);
  } else if (m_options.board && !m_options.quiet) {
    m_options.board->Show(*m_options.out, m_path, Label() + " " + std::to_string(position) + "%");
  }
  // Without a terminal, and in the log: one line for each ten per cent reached.
  if (position / 10 > previous / 10)
    ProgressLine(m_path + ": " + Label() + " " + std::to_string(position / 10 * 10) + "%");
  *m_options.out << std::flush;
}

void TerminalView::OnPhase(UpdatePhase phase) {
  if (m_bWatchPhases)
    SetPhase(phase);
}

bool TerminalView::Confirm(const std::u16string& text) {
  const bool yes = Ask(text, true);
  if (yes) {
    m_confirmedAtMs = Clock().NowMs();
    m_bConfirmed = true;
  }
  return yes;
}

bool TerminalView::Ask(const std::u16string& text, bool question) {
  if (std::this_thread::get_id() == m_dialogThread)
    return AnswerBox(text, question);
  BoxRequest request{text, question};
  std::unique_lock lock(m_mutex);
  m_boxes.push_back(&request);
  m_wake.notify_all();
  m_answered.wait(lock, [&] { return request.answered; });
  return request.answer;
}

bool TerminalView::AnswerBox(const std::u16string& text, bool question) {
  {
    std::lock_guard lock(m_mutex);
    if (m_bAborting)
      return false;
    if (!question) {
      m_lastMessage = text;
      return true;
    }
  }
  // The confirmation of the new version against the controller's.
  std::string line = m_path + ": " + OneLine(text);
  if (m_options.answeredAtOnce) {
    // Asked for every controller at once: yes to what the user read, no to anything else (the
    // controller changed since).
    const auto answered = m_options.answeredAtOnce->find(m_path);
    const bool same = answered != m_options.answeredAtOnce->end() && answered->second == text;
    if (m_options.log)
      m_options.log->Line(line + (same ? " (yes)" : " (not the one confirmed: no)"));
    return same;
  }
  if (m_options.assumeYes) {
    if (m_options.log)
      m_options.log->Line(line + " (--yes)");
    if (!m_options.quiet && !m_options.json)
      PrintLine(line + " (--yes)");
    return true;
  }
  std::string answer;
  if (m_options.canAsk) {
    // One question on the terminal at a time: controllers updated at once ask one after the other.
    std::lock_guard asking(m_options.stops->AskMutex());
    EndProgressLine();
    {
      // Asked on the terminal, not on the output: with the output redirected the question is
      // still seen.
      std::lock_guard lock(*m_options.outputMutex);
      std::ostream& ask = m_options.ask ? *m_options.ask : *m_options.out;
      ask << line << " " << SayText(Say::kAskUpdate, m_options.seams.language.value_or(0)) << " "
          << std::flush;
    }
    if (ReadTerminalAnswer(m_options.in, m_options.inFd, *m_options.stops, &answer) &&
        IsYes(answer))
      return true;
  }
  return false;
}

bool ReadTerminalAnswer(std::istream* in, int inFd, const StopState& stops, std::string* line) {
  if (inFd < 0)
    return static_cast<bool>(std::getline(*in, *line));
  // Byte by byte from the descriptor, so that a Ctrl-C while the user thinks is seen.
  line->clear();
  for (;;) {
    if (stops.Signal())
      return false;
    pollfd watched{inFd, POLLIN, 0};
    int ready = ::poll(&watched, 1, static_cast<int>(kPollInterval.count()));
    if (ready == 0 || (ready < 0 && errno == EINTR))
      continue;
    char c = 0;
    if (ready < 0 || ::read(inFd, &c, 1) != 1)
      return false;
    if (c == '\n')
      return true;
    *line += c;
  }
}

void TerminalView::OnEnded(const UpdateResult& /*result*/) {
  std::lock_guard lock(m_mutex);
  ++m_nWorkerEnds;
  m_wake.notify_all();
}

void TerminalView::AnswerEveryQuestionNo() {
  std::lock_guard lock(m_mutex);
  m_bAborting = true;
  for (BoxRequest* request : m_boxes) {
    request->answer = false;
    request->answered = true;
  }
  m_boxes.clear();
  m_answered.notify_all();
}

bool TerminalView::RunUpdateEvents(CUpdateRun& run) {
  m_options.stops->BeginStoppable();
  uint64_t stopDeadlineMs = 0;
  bool ended = false;
  std::unique_lock lock(m_mutex);
  // Each event is handled with the lock released: answering calls back into this view.
  auto run_ = [&lock](auto&& handler) {
    lock.unlock();
    handler();
    lock.lock();
  };
  for (;;) {
    if (!m_boxes.empty()) {
      BoxRequest* request = m_boxes.front();
      m_boxes.pop_front();
      bool answer = false;
      run_([&] { answer = AnswerBox(request->text, request->question); });
      request->answer = answer;
      request->answered = true;
      m_answered.notify_all();
      continue;
    }
    if (m_nWorkerEnds > 0) {
      m_nWorkerEnds = 0;
      ended = true;
      break;
    }
    if (m_options.stops->Signal() && !m_bStoppedByUser) {
      m_bStoppedByUser = 1;
      run_([&] {
        run.RequestStop();
        // The worker sees the stop once no question of ours holds it.
        AnswerEveryQuestionNo();
        stopDeadlineMs = Clock().NowMs() + kStopGraceMs;
      });
      if (m_options.stopsAsked)
        ++*m_options.stopsAsked;
      continue;
    }
    if (m_bStoppedByUser && Clock().NowMs() >= stopDeadlineMs) {
      // The worker has not seen the stop in time: it is stuck in a system call (a read or an open
      // that does not return). The stop was asked for, so the session goes on without it.
      run.m_Hid.Trace("update thread did not end, closing without it\n");
      break;
    }
    m_wake.wait_for(lock, kPollInterval);
  }
  lock.unlock();
  m_options.stops->EndStoppable();
  return ended;
}
