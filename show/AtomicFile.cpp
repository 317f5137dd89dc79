#include "show/AtomicFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <random>

namespace orvex {
namespace {

class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  // Closes and reports whether the close succeeded (a late write error).
  bool Close() {
    int fd = fd_;
    fd_ = -1;
    return ::close(fd) == 0;
  }

 private:
  int fd_;
};

bool WriteAllAt(int fd, std::string_view data, off_t offset) {
  while (!data.empty()) {
    ssize_t n = ::pwrite(fd, data.data(), data.size(), offset);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data.remove_prefix(static_cast<size_t>(n));
    offset += n;
  }
  return true;
}

std::string FolderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// The file a chain of symbolic links ends at; a dangling link names the file
// to create. Empty when the chain loops or a link cannot be read.
std::string FollowLinks(std::string path) {
  for (int hops = 0; hops < 40; ++hops) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
    std::string target(static_cast<size_t>(st.st_size > 0 ? st.st_size : 255) + 1, '\0');
    ssize_t n = ::readlink(path.c_str(), target.data(), target.size());
    if (n < 0 || static_cast<size_t>(n) >= target.size()) return {};
    target.resize(static_cast<size_t>(n));
    path = target[0] == '/' ? target : FolderOf(path) + "/" + target;
  }
  return {};
}

bool SyncFolder(const std::string& folder) {
  Fd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  return dir.get() >= 0 && ::fsync(dir.get()) == 0;
}

// For files whose identity the rename would lose: reserve the space first so
// that running out of it cannot cut the file short, then overwrite.
bool RewriteInPlace(const std::string& path, std::string_view data) {
  Fd fd(::open(path.c_str(), O_WRONLY | O_CLOEXEC));
  if (fd.get() < 0) return false;
  const off_t size = static_cast<off_t>(data.size());
  if (size > 0) {
    int rc = ::posix_fallocate(fd.get(), 0, size);
    if (rc != 0 && rc != EOPNOTSUPP && rc != EINVAL) return false;
  }
  if (!WriteAllAt(fd.get(), data, 0) || ::ftruncate(fd.get(), size) != 0 || ::fsync(fd.get()) != 0)
    return false;
  return fd.Close();
}

// Creates a fresh file with a short name in the folder (the target's own name
// may already be near the length limit). The kernel applies the umask to the
// mode, so a new file gets the permissions any other program would give it
// without touching the process-wide umask.
int CreateTempIn(const std::string& folder, mode_t mode, std::string& name) {
  static constexpr char kChars[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  // O_EXCL makes a repeated name harmless, so the clock and the process are
  // seed enough; a random device may throw where none is available.
  const auto now = std::chrono::steady_clock::now().time_since_epoch().count();
  std::minstd_rand random(static_cast<uint32_t>(now) ^ static_cast<uint32_t>(::getpid()));
  for (int attempt = 0; attempt < 100; ++attempt) {
    name = folder + "/.orvex-";
    for (int i = 0; i < 8; ++i) name += kChars[random() % (sizeof kChars - 1)];
    int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  return -1;
}

bool ReadOnlyMode(const struct stat& st, const std::string& path) {
  return (st.st_mode & 0222) == 0 || ::access(path.c_str(), W_OK) != 0;
}

}  // namespace

FileRead ReadRegularFile(const std::string& path) {
  FileRead result;
  // Non-blocking so that a FIFO at the path cannot hang the open.
  Fd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  if (fd.get() < 0) {
    result.status = errno == ENOENT ? FileReadStatus::kMissing : FileReadStatus::kUnreadable;
    return result;
  }
  result.status = FileReadStatus::kUnreadable;
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return result;
  try {
    std::string bytes;
    bytes.reserve(static_cast<size_t>(st.st_size));
    char buffer[65536];
    for (;;) {
      ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
      if (n < 0) {
        if (errno == EINTR) continue;
        return result;
      }
      if (n == 0) break;
      bytes.append(buffer, static_cast<size_t>(n));
    }
    result.bytes = std::move(bytes);
    result.status = FileReadStatus::kOk;
  } catch (const std::bad_alloc&) {
  }
  return result;
}

std::optional<std::string> ReadWholeFile(const std::string& path) {
  FileRead read = ReadRegularFile(path);
  if (read.status != FileReadStatus::kOk) return std::nullopt;
  return std::move(read.bytes);
}

bool IsReadOnlyFile(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && ReadOnlyMode(st, path);
}

bool WriteFileAtomically(const std::string& requested, std::string_view data) {
  try {
    if (requested.empty()) return false;
    const std::string path = FollowLinks(requested);
    if (path.empty()) return false;
    struct stat old {};
    const bool exists = ::stat(path.c_str(), &old) == 0;
    if (!exists && errno != ENOENT) return false;
    if (exists && (!S_ISREG(old.st_mode) || ReadOnlyMode(old, path))) return false;
    if (exists && old.st_nlink > 1) return RewriteInPlace(path, data);

    const std::string folder = FolderOf(path);
    std::string tmp;
    Fd fd(CreateTempIn(folder, exists ? 0600 : 0666, tmp));
    if (fd.get() < 0) return false;
    struct stat fresh {};
    bool ok = ::fstat(fd.get(), &fresh) == 0;
    if (ok && exists && (fresh.st_uid != old.st_uid || fresh.st_gid != old.st_gid) &&
        ::fchown(fd.get(), old.st_uid, old.st_gid) != 0) {
      // The new file cannot carry the old owner: keep the old file instead.
      fd.Close();
      ::unlink(tmp.c_str());
      return RewriteInPlace(path, data);
    }
    if (ok && exists) ok = ::fchmod(fd.get(), old.st_mode & 07777) == 0;
    ok = ok && WriteAllAt(fd.get(), data, 0) && ::fsync(fd.get()) == 0;
    ok = fd.Close() && ok;
    if (ok) ok = ::rename(tmp.c_str(), path.c_str()) == 0;
    if (!ok) {
      ::unlink(tmp.c_str());
      return false;
    }
    SyncFolder(folder);
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

}  // namespace orvex
