#include "tools/telvane-line/line_pty.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace tv::line {

namespace {
// Output towards a program that does not read is kept up to this size; beyond
// it the oldest bytes are lost, as a real modem's buffer would lose them.
constexpr size_t kMaxQueuedOutput = 1 << 20;
}  // namespace

TTvLinePty::~TTvLinePty() {
  RemoveLink();
  if (slave_ >= 0) close(slave_);
  if (master_ >= 0) close(master_);
}

bool TTvLinePty::Open(std::string* error) {
  master_ = posix_openpt(O_RDWR | O_NOCTTY);
  if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) {
    *error = std::string("cannot create a pseudo-terminal: ") + std::strerror(errno);
    return false;
  }
  char name[PATH_MAX];
  if (ptsname_r(master_, name, sizeof name) != 0) {
    *error = std::string("cannot name the pseudo-terminal: ") + std::strerror(errno);
    return false;
  }
  slavePath_ = name;
  fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
  fcntl(master_, F_SETFD, FD_CLOEXEC);
  slave_ = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (slave_ < 0) {
    *error = std::string("cannot open ") + name + ": " + std::strerror(errno);
    return false;
  }
  termios t{};
  if (tcgetattr(slave_, &t) == 0) {
    cfmakeraw(&t);
    cfsetispeed(&t, B19200);
    cfsetospeed(&t, B19200);
    tcsetattr(slave_, TCSANOW, &t);
  }
  return true;
}

bool TTvLinePty::MakeLink(const std::string& path, std::string* error) {
  struct stat st{};
  if (lstat(path.c_str(), &st) == 0) {
    if (!S_ISLNK(st.st_mode)) {
      *error = path + " exists and is not a symbolic link";
      return false;
    }
    if (unlink(path.c_str()) != 0) {
      *error = "cannot replace " + path + ": " + std::strerror(errno);
      return false;
    }
  }
  if (symlink(slavePath_.c_str(), path.c_str()) != 0) {
    *error = "cannot make the link " + path + ": " + std::strerror(errno);
    return false;
  }
  link_ = path;
  return true;
}

void TTvLinePty::RemoveLink() {
  if (link_.empty()) return;
  char target[PATH_MAX];
  const ssize_t n = readlink(link_.c_str(), target, sizeof target - 1);
  if (n >= 0) {
    target[n] = '\0';
    if (slavePath_ == target) unlink(link_.c_str());
  }
  link_.clear();
}

size_t TTvLinePty::Read(uint8_t* dst, size_t max) {
  if (max == 0) return 0;
  const ssize_t n = read(master_, dst, max);
  return n > 0 ? static_cast<size_t>(n) : 0;
}

void TTvLinePty::Queue(const uint8_t* data, size_t len) {
  if (outHead_ > 0 && outHead_ == out_.size()) {
    out_.clear();
    outHead_ = 0;
  }
  out_.insert(out_.end(), data, data + len);
  if (out_.size() - outHead_ > kMaxQueuedOutput) {
    outHead_ = out_.size() - kMaxQueuedOutput;
  }
}

void TTvLinePty::SendControl(uint8_t byte) {
  control_.push_back(byte);
  Flush();
}

void TTvLinePty::Flush() {
  while (!control_.empty()) {
    const ssize_t n = write(master_, control_.data(), control_.size());
    if (n <= 0) return;
    control_.erase(control_.begin(), control_.begin() + n);
  }
  while (!outputHeld_ && outHead_ < out_.size()) {
    const ssize_t n = write(master_, out_.data() + outHead_, out_.size() - outHead_);
    if (n <= 0) break;
    outHead_ += static_cast<size_t>(n);
  }
  if (outHead_ == out_.size()) {
    out_.clear();
    outHead_ = 0;
  } else if (outHead_ > 65536) {
    out_.erase(out_.begin(), out_.begin() + static_cast<std::ptrdiff_t>(outHead_));
    outHead_ = 0;
  }
}

void TTvLinePty::RefreshTermios() {
  termios t{};
  if (tcgetattr(slave_, &t) != 0) return;
  ixon_ = (t.c_iflag & IXON) != 0;
  ixoff_ = (t.c_iflag & IXOFF) != 0;
  if (!ixoff_) outputHeld_ = false;
}

}  // namespace tv::line
