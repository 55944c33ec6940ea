// A document file as the program's commands see it: the library's
// DocumentFile, with the program's options. The class reports nothing; the
// *Document functions below report a failure with the file's name through
// the reporter they are given and return an exit code (0 or 2).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "nametree/document_file.h"
#include "nametree/name_server.h"
#include "nametree/notification.h"
#include "output.h"

namespace nametree::cli {

class Args;

// How a document file is opened and saved; the command line sets these.
struct DocumentOptions {
  // How long a writable open waits for another program writing the file.
  int lockWaitSeconds = 10;
  // Save even though some entries of the file could not be read: they are
  // left out and named on stderr.
  bool force = false;
  // Everything as for a real run except the save: the file stays as it was.
  bool dryRun = false;
};

class Document {
 public:
  Document();  // an empty server on no file until Open or Create
  Document(const Document&) = delete;
  Document& operator=(const Document&) = delete;

  // Opens an existing document; a writable open holds the file locked
  // until the document is destroyed.
  FileError Open(const std::string& path, bool writable, const DocumentOptions& options = {});
  // Starts a new document on the path, keeping the server filled so far;
  // nothing is on disk until Save, which refuses to replace a file that
  // appeared meanwhile.
  FileError Create(const std::string& path, const DocumentOptions& options = {});
  FileError Save(std::vector<std::string>* leftOut);

  const std::string& Path() const { return path_; }
  CNameServer& Server() { return file_->Server(); }
  CNotificationManager& Notifications() { return file_->Notifications(); }
  DocumentFile& File() { return *file_; }
  bool DryRun() const { return dryRun_; }

 private:
  std::string path_;
  std::unique_ptr<DocumentFile> file_;
  bool dryRun_ = false;
};

// Reports the error against the document's path; returns 0 or 2.
int ReportDocumentError(const Reporter& report, const std::string& path, const FileError& error);
// Open, Create and Save that report: warnings of entries that could not be
// read and entries left out by a forced save are named on stderr. A save
// is told to the reporter; a dry run skips it and tells the reporter so.
int OpenDocument(const Reporter& report, Document& doc, const std::string& path, bool writable,
                 const DocumentOptions& options = {});
int CreateDocument(const Reporter& report, Document& doc, const std::string& path,
                   const DocumentOptions& options = {});
// The options of a command that makes a new document: only --dry-run.
DocumentOptions CreateOptions(const Args& args);
int SaveDocument(Reporter& report, Document& doc);

// Reads a document of the earlier format into the server.
int ImportLegacyDocument(const Reporter& report, const std::string& path, CNameServer& server);

// Writes a document of the earlier format: the given legacy stream as the
// element "NameService" of the child storage "QXTNameServer".
int WriteLegacyDocument(const Reporter& report, const std::string& path,
                        const std::vector<std::uint8_t>& legacyStream);

}  // namespace nametree::cli
