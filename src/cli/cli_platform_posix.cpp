#include <fcntl.h>
#include <grp.h>
#include <linux/serial.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "cli/cli_platform.h"
#include "link/connection.h"
#include "link/libftdi_d2xx.h"
#include "link/port_discovery.h"
#include "link/posix_serial_port.h"
#include "link/usb_link.h"
#include "sim/pty_simulator.h"

namespace loadwing::cli {

namespace fs = std::filesystem;

namespace {

constexpr const char* kById = "/dev/serial/by-id";

std::vector<std::string> SortedEntries(const fs::path& folder) {
  std::vector<std::string> names;
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    names.push_back(it->path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

// ttyS0..ttyS31 always exist as device files; only those with a UART behind them are ports a
// person could use. A port that cannot be asked (no permission, busy) is listed, to be safe.
bool IsRealSerialPort(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return errno == EACCES || errno == EBUSY;
  serial_struct info{};
  const bool known = ::ioctl(fd, TIOCGSERIAL, &info) != 0 || info.type != PORT_UNKNOWN;
  ::close(fd);
  return known;
}

// ttyS10 after ttyS9: by the name's prefix, then its number.
bool NaturalLess(const std::string& a, const std::string& b) {
  const auto split = [](const std::string& s) {
    std::size_t i = s.size();
    while (i > 0 && s[i - 1] >= '0' && s[i - 1] <= '9') --i;
    const long n = i < s.size() ? std::stol(s.substr(i)) : -1;
    return std::make_pair(s.substr(0, i), n);
  };
  return split(a) < split(b);
}

class PtyMachine final : public SimulatedMachine {
 public:
  bool Start(const sim::SimulatorConfig& config, std::string& error) {
    if (simulator_.Start(config)) return true;
    error = simulator_.Error();
    return false;
  }
  std::string DevicePath() const override { return simulator_.DevicePath(); }

 private:
  sim::PtySimulator simulator_;
};

}  // namespace

std::vector<PortEntry> ListPorts() {
  std::vector<PortEntry> entries;
  for (const std::string& name : SortedEntries(kById)) {
    const fs::path link = fs::path(kById) / name;
    std::error_code ec;
    const fs::path target = fs::canonical(link, ec);
    entries.push_back({link.string(), ec ? std::string() : target.string(), "", false});
  }
  std::vector<std::string> ttys;
  for (const std::string& name : SortedEntries("/dev")) {
    const bool serial = name.rfind("ttyS", 0) == 0 && name.size() > 4;
    if (serial || name.rfind("ttyUSB", 0) == 0 || name.rfind("ttyACM", 0) == 0) {
      if (serial && !IsRealSerialPort("/dev/" + name)) continue;
      ttys.push_back(name);
    }
  }
  std::sort(ttys.begin(), ttys.end(), NaturalLess);
  for (const std::string& name : ttys) entries.push_back({"/dev/" + name, "", "", false});

  LibFtdiD2xx d2xx;
  UsbLink cable(d2xx);
  if (ProbeUsbCable(cable)) {
    entries.push_back({kUsbCableEntry, "",
                       "FTDI device \"" + std::string(kUsbCableDescription) + "\", use --usb",
                       true});
  }
  return entries;
}

std::unique_ptr<SerialPort> MakeSerialPort() {
  return std::make_unique<PosixSerialPort>();
}

std::unique_ptr<D2xx> MakeD2xx() {
  return std::make_unique<LibFtdiD2xx>();
}

ResolvedPort ResolveSerialPort(const std::string& port) {
  ResolvedPort resolved;
  if (port.empty()) {
    resolved.error = "empty port name";
    return resolved;
  }
  std::string path = port;
  // A bare name is looked for where people find them: a by-id name, or a device in /dev. A name
  // found in neither is not guessed at.
  if (port.find('/') == std::string::npos) {
    std::error_code ec;
    if (fs::exists(fs::path(kById) / port, ec)) {
      path = (fs::path(kById) / port).string();
    } else if (fs::exists(fs::path("/dev") / port, ec)) {
      path = "/dev/" + port;
    } else {
      resolved.notFound = true;
      resolved.error = fs::exists(port, ec)
                           ? "no such device: /dev/" + port + "; to open " + port +
                                 " in this folder, give it as ./" + port
                           : "no such device: " + port + " is neither in /dev nor in " + kById;
      return resolved;
    }
  }
  resolved.devicePath = path;
  resolved.label = path;
  return resolved;
}

namespace {

std::string FileKind(mode_t mode) {
  if (S_ISREG(mode)) return "a regular file";
  if (S_ISDIR(mode)) return "a folder";
  if (S_ISFIFO(mode)) return "a FIFO";
  if (S_ISSOCK(mode)) return "a socket";
  if (S_ISBLK(mode)) return "a block device";
  return "a device that is not a terminal";
}

// The programs (name and pid) with the device open, as far as /proc lets this user see.
std::string Holders(const std::string& devicePath) {
  std::error_code ec;
  const fs::path device = fs::canonical(devicePath, ec);
  if (ec) return "";
  std::string names;
  const std::string self = std::to_string(::getpid());
  for (fs::directory_iterator it("/proc", ec), end; !ec && it != end; it.increment(ec)) {
    const std::string pid = it->path().filename().string();
    if (pid.empty() || !std::all_of(pid.begin(), pid.end(), ::isdigit) || pid == self) continue;
    std::error_code fdError;
    for (fs::directory_iterator fd(it->path() / "fd", fdError), fdEnd; !fdError && fd != fdEnd;
         fd.increment(fdError)) {
      std::error_code linkError;
      if (fs::read_symlink(fd->path(), linkError) != device) continue;
      std::string comm;
      std::getline(std::ifstream(it->path() / "comm"), comm);
      names += (names.empty() ? "" : ", ") + comm + " (pid " + pid + ")";
      break;
    }
  }
  return names;
}

}  // namespace

std::vector<std::string> DescribePortFailure(const ResolvedPort& port, LinkError error,
                                             bool& notFound) {
  const std::string& path = port.devicePath;
  notFound = false;
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    notFound = errno == ENOENT || errno == ENOTDIR;
    if (notFound) return {"no such device: " + path};
    return {"cannot use " + path + ": " + std::strerror(errno)};
  }
  if (!S_ISCHR(st.st_mode)) {
    return {path + " is not a serial device but " + FileKind(st.st_mode)};
  }
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    const int reason = errno;
    if (reason == EACCES || reason == EPERM) {
      const group* owner = ::getgrgid(st.st_gid);
      const std::string groupName = owner != nullptr ? owner->gr_name : "dialout";
      return {
          "permission denied: " + path + " belongs to the group " + groupName +
              ", which your user is not in",
          "give your user the group, then log in again: sudo usermod -aG " + groupName + " $USER"};
    }
    if (reason == EBUSY) {
      const std::string holders = Holders(path);
      return {path + " is held by another program" +
              (holders.empty() ? std::string() : ": " + holders)};
    }
    return {"cannot open " + path + ": " + std::strerror(reason)};
  }
  const bool terminal = ::isatty(fd) != 0;
  const bool locked = ::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
  ::close(fd);
  if (!terminal) return {path + " is not a serial device but " + FileKind(S_IFCHR)};
  if (locked) {
    const std::string holders = Holders(path);
    return {path + " is held by another program" +
            (holders.empty() ? std::string() : ": " + holders) +
            "; end it, or wait until it is done"};
  }
  return {path + " did not take the serial settings (" + LinkErrorText(error) +
          "): is it a serial port?"};
}

std::unique_ptr<SimulatedMachine> StartSimulatedMachine(const SimOptions& options,
                                                        std::string& error) {
  sim::SimulatorConfig config;
  config.baudRate = options.baud;
  if (options.silent) config.request = sim::RequestReply::Silent;
  if (options.eraseError) config.request = sim::RequestReply::EraseError;
  if (options.unexpected) {
    config.request = sim::RequestReply::Unexpected;
    config.unexpectedAnswer = *options.unexpected;
    config.unexpectedCount = 0;
  }
  if (options.refuseBlock) {
    config.refuseBlock = options.refuseBlock;
    config.refuseByte = static_cast<std::uint8_t>('0');
  }
  if (options.silentBlock) {
    config.refuseBlock = options.silentBlock;
    config.refuseByte = std::nullopt;
  }
  if (options.verdict) {
    config.verdict = sim::VerdictReply::Text;
    config.verdictText = *options.verdict;
  }
  if (options.silentVerdict) config.verdict = sim::VerdictReply::Silent;

  auto machine = std::make_unique<PtyMachine>();
  if (!machine->Start(config, error)) return nullptr;
  return machine;
}

}  // namespace loadwing::cli
