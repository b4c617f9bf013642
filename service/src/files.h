#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>

namespace tamsel {

struct FilesError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// An open file to send; the descriptor closes with the last holder.
struct OpenFile {
  int fd = -1;
  std::uint64_t size = 0;
  std::string content_type;
  // Which version of the file this is: another file under the name, or the
  // same one written again, differs in one of these.
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
  std::int64_t mtime_ns = 0;
  std::int64_t ctime_ns = 0;
  ~OpenFile();
};

struct FileLookup {
  int status = 200;      // 200, or the refusal: 400, 403, 404
  std::string reason;    // for a refusal
  std::shared_ptr<OpenFile> file;
};

// The folder behind "/f/". Nothing outside it is ever opened: ".." and "."
// segments are refused outright and symbolic links must stay inside.
class FileStore {
 public:
  // An empty root serves nothing; a root that is not a folder throws.
  explicit FileStore(const std::string& root);

  // relative: the decoded request path after "/f/".
  FileLookup Open(const std::string& relative) const;

  bool Exists(const std::string& relative) const;

 private:
  std::string root_;  // canonical, without a trailing slash
};

// SHA-256 of files under the files folder, computed once per version of a
// file and kept: a request costs a stat, and a file that changed (another
// size, time or file under the name) is read again, once, while requests for
// it wait.
class FileDigests {
 public:
  // note, when given, hears of every file read for its digest (the service
  // logs it: files changing under it show there).
  explicit FileDigests(const FileStore& files,
                       std::function<void(const std::string&)> note = nullptr)
      : files_(files), note_(std::move(note)) {}

  // Lowercase hexadecimal; nothing when the file cannot be served (missing,
  // a folder, outside the folder) or keeps changing while it is read.
  std::optional<std::string> Sha256(const std::string& relative) const;

 private:
  struct Entry;
  const FileStore& files_;
  std::function<void(const std::string&)> note_;
  mutable std::mutex mutex_;  // the map; each entry has its own
  mutable std::map<std::string, std::shared_ptr<Entry>> entries_;
};

}  // namespace tamsel
