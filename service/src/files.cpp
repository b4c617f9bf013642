#include "files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "digest.h"

namespace tamsel {
namespace {

std::string ContentType(const std::string& path) {
  static const struct {
    const char* ext;
    const char* type;
  } kTypes[] = {
      {".png", "image/png"},       {".jpg", "image/jpeg"},
      {".jpeg", "image/jpeg"},     {".gif", "image/gif"},
      {".bmp", "image/bmp"},       {".ico", "image/x-icon"},
      {".json", "application/json"}, {".txt", "text/plain; charset=utf-8"},
      {".html", "text/html; charset=utf-8"}, {".zip", "application/zip"},
      {".exe", "application/vnd.microsoft.portable-executable"},
      {".msi", "application/x-msi"},
  };
  auto dot = path.rfind('.');
  if (dot != std::string::npos && path.find('/', dot) == std::string::npos) {
    std::string ext = path.substr(dot);
    for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    for (const auto& t : kTypes) {
      if (ext == t.ext) return t.type;
    }
  }
  return "application/octet-stream";
}

std::string Canonical(const std::string& path) {
  char* resolved = realpath(path.c_str(), nullptr);
  if (!resolved) return std::string();
  std::string out = resolved;
  std::free(resolved);
  return out;
}

}  // namespace

OpenFile::~OpenFile() {
  if (fd >= 0) close(fd);
}

FileStore::FileStore(const std::string& root) {
  if (root.empty()) return;
  root_ = Canonical(root);
  struct stat st {};
  if (root_.empty() || stat(root_.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    throw FilesError(root + ": not a folder");
  }
  if (root_ == "/") throw FilesError(root + ": will not serve the whole file system");
}

FileLookup FileStore::Open(const std::string& relative) const {
  FileLookup r;
  auto refuse = [&](int status, const char* reason) {
    r.status = status;
    r.reason = reason;
    return r;
  };
  if (root_.empty() || relative.empty()) return refuse(404, "no such file");
  if (relative.find('\0') != std::string::npos || relative.find('\\') != std::string::npos) {
    return refuse(400, "bad characters in path");
  }
  std::size_t start = 0;
  while (start <= relative.size()) {
    std::size_t end = relative.find('/', start);
    if (end == std::string::npos) end = relative.size();
    const std::string segment = relative.substr(start, end - start);
    if (segment == "." || segment == "..") return refuse(403, "path leaves the files folder");
    if (segment.empty()) return refuse(404, "no such file");
    start = end + 1;
  }

  const std::string full = Canonical(root_ + "/" + relative);
  if (full.empty()) return refuse(404, "no such file");
  if (full.compare(0, root_.size() + 1, root_ + "/") != 0) {
    return refuse(403, "path leaves the files folder");
  }
  int fd = open(full.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return refuse(404, "no such file");
  auto file = std::make_shared<OpenFile>();
  file->fd = fd;
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return refuse(404, "no such file");
  file->size = static_cast<std::uint64_t>(st.st_size);
  file->device = static_cast<std::uint64_t>(st.st_dev);
  file->inode = static_cast<std::uint64_t>(st.st_ino);
  file->mtime_ns = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  file->ctime_ns = static_cast<std::int64_t>(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec;
  file->content_type = ContentType(full);
  r.file = std::move(file);
  return r;
}

bool FileStore::Exists(const std::string& relative) const {
  return Open(relative).status == 200;
}

namespace {

struct Version {
  std::uint64_t size, device, inode;
  std::int64_t mtime_ns, ctime_ns;
  bool operator==(const Version& o) const {
    return size == o.size && device == o.device && inode == o.inode && mtime_ns == o.mtime_ns &&
           ctime_ns == o.ctime_ns;
  }
};

Version VersionOf(const OpenFile& f) {
  return {f.size, f.device, f.inode, f.mtime_ns, f.ctime_ns};
}

// The version of the open file as it is now; nothing when it cannot be told.
std::optional<Version> VersionNow(int fd) {
  struct stat st {};
  if (fstat(fd, &st) != 0) return std::nullopt;
  return Version{static_cast<std::uint64_t>(st.st_size), static_cast<std::uint64_t>(st.st_dev),
                 static_cast<std::uint64_t>(st.st_ino),
                 static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec,
                 static_cast<std::int64_t>(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec};
}

}  // namespace

struct FileDigests::Entry {
  std::mutex mutex;  // held while the file is read
  std::optional<Version> version;
  std::string digest;
};

std::optional<std::string> FileDigests::Sha256(const std::string& relative) const {
  // A few tries: a file being written while it is read is read again.
  for (int attempt = 0; attempt < 3; ++attempt) {
    FileLookup found = files_.Open(relative);
    if (found.status != 200) return std::nullopt;
    const Version version = VersionOf(*found.file);
    std::shared_ptr<Entry> entry;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      std::shared_ptr<Entry>& slot = entries_[relative];
      if (!slot) slot = std::make_shared<Entry>();
      entry = slot;
    }
    std::lock_guard<std::mutex> lock(entry->mutex);
    if (entry->version && *entry->version == version) return entry->digest;
    std::optional<std::string> digest = Sha256OfFile(found.file->fd);
    if (!digest) return std::nullopt;
    if (note_) {
      note_("sha256 of /f/" + relative + " (" + std::to_string(version.size) + " bytes): " + *digest);
    }
    // Unchanged while it was read: this digest is the version's.
    if (VersionNow(found.file->fd) == std::optional<Version>(version)) {
      entry->version = version;
      entry->digest = *digest;
      return digest;
    }
  }
  return std::nullopt;
}

}  // namespace tamsel
