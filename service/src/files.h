#pragma once

#include <cstdint>
#include <memory>
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

}  // namespace tamsel
