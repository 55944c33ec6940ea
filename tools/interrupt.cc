#include "interrupt.h"

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "cli.h"

namespace nametree::cli {

namespace {

// The handler may only write(2) and _exit(2): its words are made ready
// beforehand, in buffers that never move.
struct Words {
  char text[1024];
  std::size_t length = 0;
  void Set(const std::string& words) {
    length = std::min(words.size(), sizeof text);
    std::memcpy(text, words.data(), length);
  }
};
Words gUnchanged, gSaved;

enum State : int { kUnchanged, kSaving, kSaved };
volatile sig_atomic_t gState = kUnchanged;
volatile sig_atomic_t gPending = 0;

[[noreturn]] void End(int signal) {
  const Words& words = gState == kSaved ? gSaved : gUnchanged;
  const ssize_t written = ::write(STDERR_FILENO, words.text, words.length);
  static_cast<void>(written);
  ::_exit(kExitSignalBase + signal);
}

extern "C" void OnSignal(int signal) {
  if (gState == kSaving) {
    gPending = signal;
    return;
  }
  End(signal);
}

}  // namespace

void GuardInterrupts(const std::string& path, const char* untouched) {
  sigset_t both, before;
  sigemptyset(&both);
  sigaddset(&both, SIGINT);
  sigaddset(&both, SIGTERM);
  sigprocmask(SIG_BLOCK, &both, &before);  // the handler must not see the words half written
  gUnchanged.Set("nametree: interrupted, " + path + " " + untouched + "\n");
  gSaved.Set("nametree: interrupted, " + path + " was saved before\n");
  struct sigaction action {};
  action.sa_handler = OnSignal;
  action.sa_mask = both;
  // mutate: interrupt-unsaid
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  sigprocmask(SIG_SETMASK, &before, nullptr);
}

SaveSection::SaveSection() { gState = kSaving; }

SaveSection::~SaveSection() {
  // The state is right before a late signal can look at it.
  gState = saved_ ? kSaved : kUnchanged;
  if (const int signal = gPending) End(signal);
}

}  // namespace nametree::cli
