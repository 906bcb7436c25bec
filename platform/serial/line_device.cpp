// The termios line device and the UUCP lock files.
#include "platform/serial/line_device.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <set>

#include "platform/clock/event_loop.h"
#include "platform/core/error_codes.h"

namespace tv {

namespace {

// Devices this process has open (by resolved path): a second open is
// "already open" (-2008) rather than "in use".
std::mutex openMutex;
std::set<std::string> openDevices;

std::string SystemReason(int err) { return std::strerror(err); }

speed_t SpeedOf(int rate) {
  switch (rate) {
    case 300: return B300;
    case 600: return B600;
    case 1200: return B1200;
    case 2400: return B2400;
    case 4800: return B4800;
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    default: return B0;
  }
}

// The lock file name other Linux modem programs use: LCK.. and the device
// name below /dev, with '/' turned into '_' (LCK..ttyACM0, LCK..pts_3).
std::string LockName(const std::string& resolved) {
  std::string name = resolved;
  if (name.rfind("/dev/", 0) == 0) name = name.substr(5);
  else name = std::filesystem::path(name).filename().string();
  for (char& c : name)
    if (c == '/') c = '_';
  return "LCK.." + name;
}

// Reads the PID of a lock file in either the binary or the ASCII form;
// 0 when the file holds none.
pid_t LockOwner(const std::string& file) {
  FILE* f = std::fopen(file.c_str(), "rb");
  if (!f) return 0;
  char buf[64] = {};
  size_t n = std::fread(buf, 1, sizeof buf - 1, f);
  std::fclose(f);
  if (n == sizeof(int)) {
    bool ascii = true;
    for (size_t i = 0; i < n; ++i)
      if (!(buf[i] == ' ' || (buf[i] >= '0' && buf[i] <= '9') || buf[i] == '\n')) ascii = false;
    if (!ascii) {
      int pid = 0;
      std::memcpy(&pid, buf, sizeof pid);
      return pid;
    }
  }
  return static_cast<pid_t>(std::strtol(buf, nullptr, 10));
}

bool ProcessAlive(pid_t pid) {
  if (pid <= 0) return false;
  return ::kill(pid, 0) == 0 || errno == EPERM;
}

// Takes the UUCP lock. 0 on success (lockFile then names the file, or is
// empty when the lock folder is missing or not writable and the port is
// protected by TIOCEXCL only), -2005 when a live process holds it.
int TakeLock(const std::string& resolved, std::string& lockFile, std::string& reason) {
  const std::string dir = LockDirectory();
  const std::string file = dir + "/" + LockName(resolved);
  for (int attempt = 0; attempt < 2; ++attempt) {
    int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd >= 0) {
      char text[16];
      int len = std::snprintf(text, sizeof text, "%10d\n", static_cast<int>(::getpid()));
      bool ok = ::write(fd, text, len) == len;
      ::close(fd);
      if (!ok) {
        ::unlink(file.c_str());
        lockFile.clear();
        return 0;
      }
      lockFile = file;
      return 0;
    }
    if (errno != EEXIST) {
      // No usable lock folder: go on with TIOCEXCL alone.
      lockFile.clear();
      return 0;
    }
    pid_t owner = LockOwner(file);
    if (owner == ::getpid()) {
      // Our own lock without an open device: left by an earlier open of
      // ours that failed half-way. Take it over.
      ::unlink(file.c_str());
      continue;
    }
    if (ProcessAlive(owner)) {
      reason = resolved + " is locked by process " + std::to_string(owner) + " (" + file + ")";
      return ecHardware;
    }
    // A lock left by a dead process.
    ::unlink(file.c_str());
  }
  reason = "cannot take the lock file " + file;
  return ecHardware;
}

class TTermiosDevice : public TLineDevice {
 public:
  TTermiosDevice(int fd, std::string path, std::string resolved, std::string lockFile)
      : fd_(fd), path_(std::move(path)), resolved_(std::move(resolved)),
        lockFile_(std::move(lockFile)) {}

  ~TTermiosDevice() override {
    ::close(fd_);
    if (!lockFile_.empty()) ::unlink(lockFile_.c_str());
    std::lock_guard<std::mutex> guard(openMutex);
    openDevices.erase(resolved_);
  }

  int Fd() const override { return fd_; }

  long Read(uint8_t* data, size_t size) override {
    for (;;) {
      ssize_t n = ::read(fd_, data, size);
      if (n > 0) return n;
      if (n == 0) {
        // VMIN is 1, so 0 means the line hung up (the device went away or
        // the other end of a pseudo-terminal closed).
        lastError_ = path_ + ": the device hung up";
        return ecGetBlockFail;
      }
      if (errno == EINTR) continue;
      if (errno == EAGAIN) return 0;
      lastError_ = path_ + ": " + SystemReason(errno);
      return ecGetBlockFail;
    }
  }

  long Write(const uint8_t* data, size_t size) override {
    for (;;) {
      ssize_t n = ::write(fd_, data, size);
      if (n >= 0) return n;
      if (errno == EINTR) continue;
      if (errno == EAGAIN) return 0;
      lastError_ = path_ + ": " + SystemReason(errno);
      return ecPutBlockFail;
    }
  }

  size_t OutputPending() override {
    int n = 0;
    if (::ioctl(fd_, TIOCOUTQ, &n) != 0 || n < 0) return 0;
    return static_cast<size_t>(n);
  }

  void DiscardInput() override { ::tcflush(fd_, TCIFLUSH); }
  void DiscardOutput() override { ::tcflush(fd_, TCOFLUSH); }

  int Configure(const TLineSettings& s) override {
    speed_t speed = SpeedOf(s.bitRate);
    if (speed == B0) return ecBaudRate;
    if (s.dataBits < 5 || s.dataBits > 8) return ecByteSize;
    if (s.stopBits != 1 && s.stopBits != 2) return ecDefault;
    termios t{};
    if (::tcgetattr(fd_, &t) != 0) {
      lastError_ = path_ + ": " + SystemReason(errno);
      return -FileErrorFromErrno(errno);
    }
    ::cfmakeraw(&t);
    t.c_iflag &= ~(IXON | IXOFF | IXANY | INPCK | ISTRIP);
    t.c_iflag |= IGNBRK;
    t.c_cflag &= ~(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS | CMSPAR);
    // CLOCAL: a carrier drop must not hang up our descriptor; the engine
    // watches carrier itself. HUPCL: closing the port drops DTR, which
    // hangs up the modem.
    t.c_cflag |= CREAD | CLOCAL | HUPCL;
    static const tcflag_t sizes[] = {CS5, CS6, CS7, CS8};
    t.c_cflag |= sizes[s.dataBits - 5];
    switch (s.parity) {
      case pNone: break;
      case pOdd: t.c_cflag |= PARENB | PARODD; break;
      case pEven: t.c_cflag |= PARENB; break;
      case pMark: t.c_cflag |= PARENB | PARODD | CMSPAR; break;
      case pSpace: t.c_cflag |= PARENB | CMSPAR; break;
    }
    if (s.stopBits == 2) t.c_cflag |= CSTOPB;
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    ::cfsetispeed(&t, speed);
    ::cfsetospeed(&t, speed);
    if (::tcsetattr(fd_, TCSANOW, &t) != 0) {
      lastError_ = path_ + ": " + SystemReason(errno);
      return errno == EINVAL ? ecBaudRate : -FileErrorFromErrno(errno);
    }
    return 0;
  }

  int SetLineSignals(bool dtr, bool rts) override {
    int set = 0, clear = 0;
    (dtr ? set : clear) |= TIOCM_DTR;
    (rts ? set : clear) |= TIOCM_RTS;
    // A pseudo-terminal has no modem lines and refuses both calls; that is
    // not an error for the port.
    if (set) ::ioctl(fd_, TIOCMBIS, &set);
    if (clear) ::ioctl(fd_, TIOCMBIC, &clear);
    return 0;
  }

  unsigned ModemStatus() override {
    int bits = 0;
    if (::ioctl(fd_, TIOCMGET, &bits) != 0) {
      // A pseudo-terminal has no modem-status lines: say that CTS, DSR and
      // carrier are present, as a modem ready for data would.
      return msCTS | msDSR | msDCD;
    }
    unsigned status = 0;
    if (bits & TIOCM_CTS) status |= msCTS;
    if (bits & TIOCM_DSR) status |= msDSR;
    if (bits & TIOCM_RNG) status |= msRI;
    if (bits & TIOCM_CAR) status |= msDCD;
    return status;
  }

  void WaitInput(TEventLoop& loop, int64_t ms) override { loop.WaitReadable(fd_, ms); }

  std::string LastError() const override { return lastError_; }
  std::string Name() const override { return path_; }

 private:
  int fd_;
  std::string path_;
  std::string resolved_;
  std::string lockFile_;
  std::string lastError_;
};

}  // namespace

std::string DefaultPortDevice(int slot) {
  static const char* const paths[] = {"/dev/ttyACM0", "/dev/ttyACM1", "/dev/ttyUSB0",
                                      "/dev/ttyUSB1", "/dev/ttyS0",   "/dev/ttyS1"};
  if (slot < 0 || slot > 5) return {};
  return paths[slot];
}

std::string LockDirectory() {
  const char* dir = std::getenv("TELVANE_LOCK_DIR");
  if (dir && *dir) return dir;
  return "/var/lock";
}

bool IsSupportedBitRate(int rate) { return SpeedOf(rate) != B0; }

int OpenTermiosDevice(const std::string& path, const TLineSettings& settings,
                      std::unique_ptr<TLineDevice>& device, std::string& reason) {
  device.reset();
  reason.clear();
  if (path.empty()) {
    reason = "no device path for the port";
    return ecBadId;
  }
  if (!IsSupportedBitRate(settings.bitRate)) {
    reason = std::to_string(settings.bitRate) + " bit/s is not supported";
    return ecBaudRate;
  }
  if (settings.dataBits < 5 || settings.dataBits > 8) {
    reason = std::to_string(settings.dataBits) + " data bits are not supported";
    return ecByteSize;
  }
  struct stat st{};
  if (::stat(path.c_str(), &st) != 0) {
    int err = errno;
    reason = path + ": " + SystemReason(err);
    return (err == ENOENT || err == ENOTDIR) ? ecBadId : -FileErrorFromErrno(err);
  }
  if (!S_ISCHR(st.st_mode)) {
    reason = path + " is not a serial device";
    return ecBadId;
  }
  std::error_code ec;
  std::string resolved = std::filesystem::canonical(path, ec).string();
  if (ec) resolved = path;

  {
    std::lock_guard<std::mutex> guard(openMutex);
    if (openDevices.count(resolved)) {
      reason = path + " is already open in this program";
      return ecAlreadyOpen;
    }
  }
  std::string lockFile;
  int rc = TakeLock(resolved, lockFile, reason);
  if (rc != 0) return rc;
  auto dropLock = [&] {
    if (!lockFile.empty()) ::unlink(lockFile.c_str());
  };

  int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    int err = errno;
    dropLock();
    reason = path + ": " + SystemReason(err);
    if (err == ENOENT || err == ENXIO || err == ENODEV) return ecBadId;
    if (err == EBUSY) return ecHardware;
    if (err == EACCES) reason += " (is the user a member of the dialout group?)";
    return -FileErrorFromErrno(err);
  }
  termios probe{};
  if (::tcgetattr(fd, &probe) != 0) {
    ::close(fd);
    dropLock();
    reason = path + " is not a serial device";
    return ecBadId;
  }
  // Claim the device: further opens by other programs fail with EBUSY.
  if (::ioctl(fd, TIOCEXCL) != 0) {
    int err = errno;
    ::close(fd);
    dropLock();
    reason = path + ": cannot claim the device exclusively: " + SystemReason(err);
    return ecHardware;
  }
  {
    std::lock_guard<std::mutex> guard(openMutex);
    openDevices.insert(resolved);
  }
  auto dev = std::make_unique<TTermiosDevice>(fd, path, resolved, lockFile);
  rc = dev->Configure(settings);
  if (rc != 0) {
    reason = dev->LastError().empty() ? path + ": " + ErrorText(rc) : dev->LastError();
    return rc;  // the device's destructor closes it and drops the lock
  }
  dev->DiscardInput();
  device = std::move(dev);
  return 0;
}

}  // namespace tv
