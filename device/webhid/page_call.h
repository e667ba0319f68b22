// Calls to the page's thread. With the program on a worker thread (PROXY_TO_PTHREAD), the browser's
// own objects (WebHID, the DOM, the file chooser) are reached only from the page's thread, and
// their answers come as promises there. A call is posted to the page in order with the caller's
// other posts; a call that answers something carries a PageAnswer that the page fills with
// tarvix_answer() while the caller waits on it (Atomics.wait: a worker never spins the page).
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

class PageAnswer {
 public:
  // Waits until the page has answered; answers its status.
  int Wait();
  // The page's answer (on the page's thread): the text first when there is one, then the status
  // and the bytes, which wake the waiting thread.
  void SetText(const char* text);
  void Answer(int status, const uint8_t* data, size_t length);

  // Valid once Wait has returned.
  int m_status = 0;
  std::vector<uint8_t> m_data;
  std::string m_text;

 private:
  std::mutex m_mutex;
  std::condition_variable m_answered;
  bool m_bAnswered = false;
};

// A copy of text that the page's side frees once it has read it (posted calls outlive the caller's
// strings).
char* PageString(const std::string& text);

// Called by the page's scripts (exported).
extern "C" {
void tarvix_answer(PageAnswer* answer, int status, const uint8_t* data, int length);
void tarvix_answer_text(PageAnswer* answer, const char* text);
}
