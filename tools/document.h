// A document file as the program's commands see it: the compound file that
// holds it, and the name server loaded from its "NameServer" stream. Every
// failure is reported on stderr with the file's name; the functions return
// an exit code (0 or 2).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "nametree/name_server.h"
#include "nametree/notification.h"
#include "nametree/storage.h"

namespace nametree::cli {

class Args;

// How a document file is opened and saved; the command line sets these.
struct DocumentOptions {
  // How long a writable open waits for another program writing the file.
  int lockWaitSeconds = 10;
  // Save even though some entries of the file could not be read: they are
  // left out and named on stderr.
  bool force = false;
};

class Document {
 public:
  Document();  // the server posts to Notifications()
  Document(const Document&) = delete;
  Document& operator=(const Document&) = delete;

  // Opens an existing document and loads its name server. A file without a
  // "NameServer" stream is refused: it is no document of this format. A
  // writable open holds the file locked until the document is destroyed;
  // entries that could not be read are named on stderr.
  int Open(const std::string& path, bool writable, const DocumentOptions& options = {});
  // Starts a new, empty document; nothing is on disk until Save, which
  // then refuses to replace a file that appeared meanwhile.
  int Create(const std::string& path, const DocumentOptions& options = {});
  // Saves the server into the storage and commits the file (written aside,
  // then put in place), so that the old file stays whole if anything fails.
  int Save();

  const std::string& Path() const { return path_; }
  CNameServer& Server() { return server_; }
  CNotificationManager& Notifications() { return notifications_; }

 private:
  std::string path_;
  DocumentOptions options_;
  ComPtr<IStorage> storage_;
  CNotificationManager notifications_;
  CNameServer server_;
};

// Reads a document of the earlier format into the server.
int ImportLegacyDocument(const std::string& path, CNameServer& server);

// Writes a document of the earlier format: the given legacy stream as the
// element "NameService" of the child storage "QXTNameServer".
int WriteLegacyDocument(const std::string& path, const std::vector<std::uint8_t>& legacyStream);

}  // namespace nametree::cli
