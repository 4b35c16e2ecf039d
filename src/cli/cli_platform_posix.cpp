#include <fcntl.h>
#include <linux/serial.h>
#include <pwd.h>
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
#include <utility>

#include "cli/advice.h"
#include "cli/cli_platform.h"
#include "link/connection.h"
#include "link/libftdi_d2xx.h"
#include "link/posix_serial_port.h"
#include "link/sysfs_ports.h"
#include "link/usb_link.h"
#include "sim/pty_simulator.h"

namespace loadwing::cli {

namespace fs = std::filesystem;

namespace {

constexpr const char* kById = "/dev/serial/by-id";

// What the listing tells about a USB adapter, in one bracket.
std::string UsbDetail(const SysfsSerialPort& port) {
  if (!port.usb) return {};
  std::string detail = "USB " + port.vendorId + ":" + port.productId;
  if (port.ftdi) detail += " FTDI";
  if (!port.serialNumber.empty()) detail += ", serial " + port.serialNumber;
  if (!port.product.empty()) detail += ", \"" + port.product + "\"";
  return detail;
}

PortEntry EntryFor(const std::string& name, const std::string& device,
                   const SysfsSerialPort& port) {
  PortEntry entry;
  entry.name = name;
  entry.device = device;
  entry.detail = UsbDetail(port);
  if (port.usb) entry.usbId = port.vendorId + ":" + port.productId;
  entry.serialNumber = port.serialNumber;
  entry.product = port.product;
  entry.ftdi = port.ftdi;
  return entry;
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

// Everything from sysfs: no device is opened, so nothing plugged in sees DTR or RTS move.
std::vector<PortEntry> ListPorts() {
  std::vector<PortEntry> entries;
  const std::vector<SysfsSerialPort> ports = ListSysfsSerialPorts();
  // The stable by-id names first, in their own order, then every device.
  std::vector<std::pair<std::string, const SysfsSerialPort*>> byId;
  for (const SysfsSerialPort& port : ports) {
    for (const std::string& link : port.byId) byId.emplace_back(link, &port);
  }
  std::sort(byId.begin(), byId.end());
  for (const auto& [link, port] : byId) entries.push_back(EntryFor(link, port->device, *port));
  for (const SysfsSerialPort& port : ports) entries.push_back(EntryFor(port.device, "", port));

  // The cable through libftdi: an FTDI device with the cable's product text (its D2XX
  // description), whether or not the kernel made a tty of it.
  for (const SysfsFtdiDevice& device : ListSysfsFtdiDevices()) {
    if (device.product != kUsbCableDescription) continue;
    PortEntry entry;
    entry.name = kUsbCableEntry;
    entry.detail = "FTDI device \"" + std::string(kUsbCableDescription) + "\", use --usb";
    entry.usbCable = true;
    entry.usbId = std::string("0403:") + device.productId;
    entry.serialNumber = device.serialNumber;
    entry.product = device.product;
    entry.ftdi = true;
    entries.push_back(std::move(entry));
    break;
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

// The group file as the system has it: a regular file, read without waiting, at most 1 MiB (a
// larger one is cut there; the advice then knows less, never more).
std::string ReadGroupFile() {
  constexpr std::size_t kLimit = 1 << 20;
  const int fd = ::open("/etc/group", O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return "";
  struct stat st {};
  std::string text;
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
    text.resize(kLimit);
    std::size_t got = 0;
    while (got < kLimit) {
      const ssize_t n = ::read(fd, text.data() + got, kLimit - got);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      got += static_cast<std::size_t>(n);
    }
    text.resize(got);
  }
  ::close(fd);
  return text;
}

PortPermission PermissionFacts(const std::string& path, const struct stat& st) {
  PortPermission facts;
  facts.path = path;
  facts.ownerUid = st.st_uid;
  facts.groupId = st.st_gid;
  facts.mode = st.st_mode & 07777;
  if (const passwd* owner = ::getpwuid(st.st_uid)) facts.ownerName = owner->pw_name;
  if (const passwd* user = ::getpwuid(::getuid())) {
    facts.userName = user->pw_name;
    facts.userGid = user->pw_gid;
  } else {
    facts.userGid = ::getgid();
  }
  const int count = ::getgroups(0, nullptr);
  if (count > 0) {
    std::vector<gid_t> groups(static_cast<std::size_t>(count));
    const int got = ::getgroups(count, groups.data());
    for (int i = 0; i < got; ++i)
      facts.sessionGroups.push_back(groups[static_cast<std::size_t>(i)]);
  }
  facts.sessionGroups.push_back(::getegid());
  facts.groupFile = ReadGroupFile();
  return facts;
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
    if (reason == EACCES || reason == EPERM) return PermissionAdvice(PermissionFacts(path, st));
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
