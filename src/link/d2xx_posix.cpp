#include <dlfcn.h>
#include <ftdi.h>
#include <libusb.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <functional>
#include <type_traits>

#include "link/libftdi_d2xx.h"

namespace loadwing {

namespace {

constexpr FtStatus kFtInvalidHandle = 1;
constexpr FtStatus kFtIoError = 4;
constexpr FtStatus kFtInvalidParameter = 6;
constexpr std::uint16_t kFtdiVendorId = 0x0403;
// Enough for several seconds of input at the link's speed; beyond it the chip's own buffer
// and USB flow control hold the rest.
constexpr std::size_t kMaxBuffered = 64 * 1024;
// Packets asked for in one USB read. The read ends at the chip's first short packet, which it
// sends when its latency timer runs out, so asking for many costs no extra wait.
constexpr int kFetchPackets = 64;
// Every packet from the chip begins with two modem status bytes.
constexpr int kStatusBytes = 2;
// The chip answers a read only when it has a full packet or when its latency timer (16 ms by
// default) runs out. A queue query must not wait for that, so it polls: a read that gets
// nothing within this time finds nothing (the chip keeps its bytes until it is asked again).
constexpr unsigned kPollTimeoutMs = 1;
// Once full packets flow, the chip holds the last few bytes until its timer runs out; this
// bounds that wait for a device that stops answering.
constexpr unsigned kRestTimeoutMs = 100;

// Runs fn with the attached FTDI devices of ctx's USB context, in bus order. False when USB
// cannot be enumerated at all.
template <typename Api>
bool WithFtdiDevices(const Api& api, ftdi_context* ctx,
                     const std::function<void(const std::vector<libusb_device*>&)>& fn) {
  libusb_device** list = nullptr;
  const ssize_t count = api.libusbGetDeviceList(ctx->usb_ctx, &list);
  if (count < 0) return false;
  std::vector<libusb_device*> devices;
  for (ssize_t i = 0; i < count; ++i) {
    libusb_device_descriptor descriptor{};
    if (api.libusbGetDeviceDescriptor(list[i], &descriptor) == 0 &&
        descriptor.idVendor == kFtdiVendorId) {
      devices.push_back(list[i]);
    }
  }
  fn(devices);
  api.libusbFreeDeviceList(list, 1);
  return true;
}

struct ContextDeleter {
  decltype(&::ftdi_free) free = nullptr;
  void operator()(ftdi_context* ctx) const { free(ctx); }
};
using ContextPtr = std::unique_ptr<ftdi_context, ContextDeleter>;

}  // namespace

// libftdi1's and libusb's functions, bound at run time on first use, as FTD2XX.dll is on
// Windows: where the libraries are not installed everything but the cable still works (no
// device is ever listed), and commands that never touch the cable do not load them at start.
struct LibFtdiD2xx::Api {
  decltype(&::ftdi_new) ftdiNew = nullptr;
  decltype(&::ftdi_free) ftdiFree = nullptr;
  decltype(&::ftdi_usb_get_strings2) ftdiUsbGetStrings2 = nullptr;
  decltype(&::ftdi_usb_open_dev) ftdiUsbOpenDev = nullptr;
  decltype(&::ftdi_usb_close) ftdiUsbClose = nullptr;
  decltype(&::ftdi_write_data) ftdiWriteData = nullptr;
  decltype(&::ftdi_set_baudrate) ftdiSetBaudrate = nullptr;
  decltype(&::ftdi_set_line_property) ftdiSetLineProperty = nullptr;
  decltype(&::libusb_get_device_list) libusbGetDeviceList = nullptr;
  decltype(&::libusb_get_device_descriptor) libusbGetDeviceDescriptor = nullptr;
  decltype(&::libusb_free_device_list) libusbFreeDeviceList = nullptr;
  decltype(&::libusb_bulk_transfer) libusbBulkTransfer = nullptr;
  bool loaded = false;  // every function above was found
};

const LibFtdiD2xx::Api& LibFtdiD2xx::Library() {
  if (api_) return *api_;
  api_ = std::make_unique<Api>();
  // The libraries stay loaded for the rest of the process: a context may outlive this object's
  // use of them only by its own destruction, which needs them.
  void* ftdi = dlopen(libraries_.ftdi, RTLD_NOW | RTLD_LOCAL);
  void* usb = dlopen(libraries_.usb, RTLD_NOW | RTLD_LOCAL);
  if (ftdi == nullptr || usb == nullptr) return *api_;
  Api& api = *api_;
  bool all = true;
  const auto bind = [&all](void* from, auto& function, const char* name) {
    function = reinterpret_cast<std::remove_reference_t<decltype(function)>>(dlsym(from, name));
    all = all && function != nullptr;
  };
  bind(ftdi, api.ftdiNew, "ftdi_new");
  bind(ftdi, api.ftdiFree, "ftdi_free");
  bind(ftdi, api.ftdiUsbGetStrings2, "ftdi_usb_get_strings2");
  bind(ftdi, api.ftdiUsbOpenDev, "ftdi_usb_open_dev");
  bind(ftdi, api.ftdiUsbClose, "ftdi_usb_close");
  bind(ftdi, api.ftdiWriteData, "ftdi_write_data");
  bind(ftdi, api.ftdiSetBaudrate, "ftdi_set_baudrate");
  bind(ftdi, api.ftdiSetLineProperty, "ftdi_set_line_property");
  bind(usb, api.libusbGetDeviceList, "libusb_get_device_list");
  bind(usb, api.libusbGetDeviceDescriptor, "libusb_get_device_descriptor");
  bind(usb, api.libusbFreeDeviceList, "libusb_free_device_list");
  bind(usb, api.libusbBulkTransfer, "libusb_bulk_transfer");
  api.loaded = all;
  return api;
}

struct LibFtdiD2xx::Device {
  ContextPtr ctx;
  std::vector<std::uint8_t> received;
};

LibFtdiD2xx::LibFtdiD2xx() = default;

LibFtdiD2xx::LibFtdiD2xx(Libraries libraries) : libraries_(libraries) {}

LibFtdiD2xx::~LibFtdiD2xx() {
  // A handle exists only once the functions were bound.
  for (auto& device : open_) api_->ftdiUsbClose(device->ctx.get());
}

FtStatus LibFtdiD2xx::ListDevices(void* arg1, void* arg2, std::uint32_t flags) {
  const bool countOnly = flags == kFtListNumberOnly;
  const bool descriptions = flags == (kFtListAll | kFtOpenByDescription);
  if ((!countOnly && !descriptions) || arg1 == nullptr) return kFtInvalidParameter;

  const Api& api = Library();
  ContextPtr ctx(api.loaded ? api.ftdiNew() : nullptr, ContextDeleter{api.ftdiFree});
  if (!ctx) {
    // No libftdi or no USB support on this machine at all: no device is attached.
    if (countOnly) *static_cast<std::uint32_t*>(arg1) = 0;
    if (descriptions && arg2) *static_cast<std::uint32_t*>(arg2) = 0;
    return kFtOk;
  }

  std::uint32_t listed = 0;
  const bool ok = WithFtdiDevices(api, ctx.get(), [&](const std::vector<libusb_device*>& devices) {
    if (countOnly) {
      listed = static_cast<std::uint32_t>(devices.size());
      return;
    }
    char** buffers = static_cast<char**>(arg1);
    for (std::size_t i = 0; i < devices.size() && buffers[i] != nullptr; ++i, ++listed) {
      char* description = buffers[i];
      std::memset(description, 0, kFtDescriptionSize);
      // A device whose strings cannot be read (no permission, say) lists with an empty
      // description and so is never taken for the cable.
      if (api.ftdiUsbGetStrings2(ctx.get(), devices[i], nullptr, 0, description,
                                 static_cast<int>(kFtDescriptionSize), nullptr, 0) != 0) {
        std::memset(description, 0, kFtDescriptionSize);
      }
      description[kFtDescriptionSize - 1] = '\0';
    }
  });
  if (!ok) return kFtIoError;
  if (countOnly) *static_cast<std::uint32_t*>(arg1) = listed;
  if (descriptions && arg2) *static_cast<std::uint32_t*>(arg2) = listed;
  return kFtOk;
}

FtStatus LibFtdiD2xx::Open(int index, FtHandle* handle) {
  if (handle == nullptr || index < 0) return kFtInvalidParameter;
  // Each device has a context of its own: its transfers run in the USB context it was found in.
  const Api& api = Library();
  ContextPtr ctx(api.loaded ? api.ftdiNew() : nullptr, ContextDeleter{api.ftdiFree});
  if (!ctx) return kFtDeviceNotFound;
  // The kernel's serial driver gets the device back when it is closed, so that its tty returns
  // without re-plugging the cable.
  ctx->module_detach_mode = AUTO_DETACH_REATACH_SIO_MODULE;
  FtStatus status = kFtDeviceNotFound;
  const bool ok = WithFtdiDevices(api, ctx.get(), [&](const std::vector<libusb_device*>& devices) {
    if (static_cast<std::size_t>(index) >= devices.size()) return;
    status = api.ftdiUsbOpenDev(ctx.get(), devices[index]) == 0 ? kFtOk : kFtIoError;
  });
  if (!ok || status != kFtOk) return ok ? status : kFtIoError;

  auto device = std::make_unique<Device>();
  device->ctx = std::move(ctx);
  *handle = device.get();
  open_.push_back(std::move(device));
  return kFtOk;
}

FtStatus LibFtdiD2xx::Close(FtHandle handle) {
  const auto it = std::find_if(open_.begin(), open_.end(),
                               [&](const auto& device) { return device.get() == handle; });
  if (it == open_.end()) return kFtInvalidHandle;
  // Whatever the USB layer says, the handle is gone afterwards: a refusal here would leave a
  // device no one can close.
  api_->ftdiUsbClose((*it)->ctx.get());
  open_.erase(it);
  return kFtOk;
}

LibFtdiD2xx::Device* LibFtdiD2xx::Find(FtHandle handle) {
  for (auto& device : open_) {
    if (device.get() == handle) return device.get();
  }
  return nullptr;
}

// Reads whole packets straight from the chip and drops their status bytes. libftdi's own read
// would go on reading until its buffer is full or the chip sends nothing, which costs a second
// latency period on every call.
bool LibFtdiD2xx::Fetch(Device& device) {
  ftdi_context* ctx = device.ctx.get();
  const int packetSize = static_cast<int>(ctx->max_packet_size);
  if (packetSize <= kStatusBytes) return false;
  std::vector<unsigned char> chunk(static_cast<std::size_t>(kFetchPackets * packetSize));
  for (unsigned timeout = kPollTimeoutMs;; timeout = kRestTimeoutMs) {
    const std::size_t room = kMaxBuffered - std::min(kMaxBuffered, device.received.size());
    const std::size_t packets = std::min<std::size_t>(
        kFetchPackets, room / static_cast<std::size_t>(packetSize - kStatusBytes));
    if (packets == 0) return true;
    int got = 0;
    const int result = api_->libusbBulkTransfer(
        ctx->usb_dev, static_cast<unsigned char>(ctx->out_ep), chunk.data(),
        static_cast<int>(packets) * packetSize, &got, timeout);
    // A timeout still hands over the packets that came before it; libusb loses none.
    if (result != 0 && result != LIBUSB_ERROR_TIMEOUT) return false;
    for (int packet = 0; packet < got; packet += packetSize) {
      const int end = std::min(got, packet + packetSize);
      if (end - packet > kStatusBytes) {
        device.received.insert(device.received.end(), chunk.begin() + packet + kStatusBytes,
                               chunk.begin() + end);
      }
    }
    // A short packet (the status alone, or fewer than a packet's data) means the chip has sent
    // all it had. Only full packets, or none: nothing more now, or a rest still to come.
    if (got == 0 || got % packetSize != 0) return true;
  }
}

// Asks the chip only when nothing is buffered: every USB read waits for its latency timer, so
// one read per byte of a drain would let stale bytes through as the next answer.
FtStatus LibFtdiD2xx::GetQueueStatus(FtHandle handle, std::uint32_t* queued) {
  if (queued == nullptr) return kFtInvalidParameter;
  *queued = 0;
  Device* device = Find(handle);
  if (!device) return kFtInvalidHandle;
  const bool ok = !device->received.empty() || Fetch(*device);
  *queued = static_cast<std::uint32_t>(device->received.size());
  return ok ? kFtOk : kFtIoError;
}

FtStatus LibFtdiD2xx::Read(FtHandle handle, void* buffer, std::uint32_t n, std::uint32_t* got) {
  if (got == nullptr || (buffer == nullptr && n > 0)) return kFtInvalidParameter;
  *got = 0;
  Device* device = Find(handle);
  if (!device) return kFtInvalidHandle;
  bool ok = true;
  if (device->received.empty() && n > 0) ok = Fetch(*device);
  const std::size_t take = std::min<std::size_t>(n, device->received.size());
  if (take > 0) std::memcpy(buffer, device->received.data(), take);
  device->received.erase(device->received.begin(),
                         device->received.begin() + static_cast<std::ptrdiff_t>(take));
  *got = static_cast<std::uint32_t>(take);
  return ok ? kFtOk : kFtIoError;
}

FtStatus LibFtdiD2xx::Write(FtHandle handle, void* buffer, std::uint32_t n,
                            std::uint32_t* written) {
  if (written == nullptr || (buffer == nullptr && n > 0)) return kFtInvalidParameter;
  *written = 0;
  Device* device = Find(handle);
  if (!device) return kFtInvalidHandle;
  const int size = static_cast<int>(std::min<std::uint32_t>(n, INT_MAX));
  const int sent =
      api_->ftdiWriteData(device->ctx.get(), static_cast<const unsigned char*>(buffer), size);
  if (sent < 0) return kFtIoError;
  *written = static_cast<std::uint32_t>(sent);
  return kFtOk;
}

FtStatus LibFtdiD2xx::SetBaudRate(FtHandle handle, std::uint32_t baud) {
  Device* device = Find(handle);
  if (!device) return kFtInvalidHandle;
  if (baud == 0 || baud > INT_MAX) return kFtInvalidParameter;
  return api_->ftdiSetBaudrate(device->ctx.get(), static_cast<int>(baud)) == 0 ? kFtOk : kFtIoError;
}

FtStatus LibFtdiD2xx::SetDataCharacteristics(FtHandle handle, std::uint8_t wordLength,
                                             std::uint8_t stopBits, std::uint8_t parity) {
  Device* device = Find(handle);
  if (!device) return kFtInvalidHandle;
  ftdi_bits_type bits;
  switch (wordLength) {
    case 7:
      bits = BITS_7;
      break;
    case 8:
      bits = BITS_8;
      break;
    default:
      return kFtInvalidParameter;
  }
  ftdi_stopbits_type stop;
  switch (stopBits) {
    case 0:
      stop = STOP_BIT_1;
      break;
    case 2:
      stop = STOP_BIT_2;
      break;
    default:
      return kFtInvalidParameter;
  }
  static constexpr ftdi_parity_type kParities[] = {NONE, ODD, EVEN, MARK, SPACE};
  if (parity >= std::size(kParities)) return kFtInvalidParameter;
  return api_->ftdiSetLineProperty(device->ctx.get(), bits, stop, kParities[parity]) == 0
             ? kFtOk
             : kFtIoError;
}

}  // namespace loadwing
