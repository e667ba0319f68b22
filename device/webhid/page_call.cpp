#include "device/webhid/page_call.h"

#include <cstdlib>
#include <cstring>

int PageAnswer::Wait() {
  std::unique_lock<std::mutex> lock(m_mutex);
  m_answered.wait(lock, [this] { return m_bAnswered; });
  return m_status;
}

void PageAnswer::SetText(const char* text) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_text = text != nullptr ? text : "";
}

void PageAnswer::Answer(int status, const uint8_t* data, size_t length) {
  // Notified under the lock: the waiter may destroy the answer as soon as it has the lock back.
  std::lock_guard<std::mutex> lock(m_mutex);
  m_status = status;
  if (data != nullptr)
    m_data.assign(data, data + length);
  m_bAnswered = true;
  m_answered.notify_all();
}

char* PageString(const std::string& text) {
  char* copy = static_cast<char*>(std::malloc(text.size() + 1));
  if (copy != nullptr)
    std::memcpy(copy, text.c_str(), text.size() + 1);
  return copy;
}

extern "C" {

void tarvix_answer(PageAnswer* answer, int status, const uint8_t* data, int length) {
  if (answer != nullptr)
    answer->Answer(status, data, length > 0 ? static_cast<size_t>(length) : 0);
}

void tarvix_answer_text(PageAnswer* answer, const char* text) {
  if (answer != nullptr)
    answer->SetText(text);
}

}  // extern "C"
