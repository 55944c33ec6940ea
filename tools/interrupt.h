// Ctrl-C (SIGINT) and SIGTERM while a command writes a document.
//
// Invariant: the signal ends the process only where the file on disk is
// whole, the old one or the new one. Outside a save it ends at once: no
// temporary file exists then, and the lock goes with the process. Inside
// a save it waits until the save has finished or failed, so that no new
// file is half in place. Either way the last line on stderr says which
// of the two the file is, and the exit status is 128 + the signal.
#pragma once

#include <string>

namespace nametree::cli {

// From here on a signal ends the run with "interrupted, PATH unchanged"
// (or `untouched` in place of "unchanged"). Called again, it names the
// new path.
void GuardInterrupts(const std::string& path, const char* untouched = "unchanged");

// Holds a signal back while it lives; one that came meanwhile ends the
// run when it goes, saying whether the save took place (Saved).
class SaveSection {
 public:
  SaveSection();
  ~SaveSection();
  SaveSection(const SaveSection&) = delete;
  SaveSection& operator=(const SaveSection&) = delete;
  void Saved() { saved_ = true; }

 private:
  bool saved_ = false;
};

}  // namespace nametree::cli
