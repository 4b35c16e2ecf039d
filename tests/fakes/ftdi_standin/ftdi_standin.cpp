// The stand-in libftdi1 + libusb of ftdi_standin.h: simulated FT232R chips on a simulated line.
#include "fakes/ftdi_standin/ftdi_standin.h"

#include <ftdi.h>
#include <libusb.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <limits>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace {

constexpr std::uint64_t kNever = std::numeric_limits<std::uint64_t>::max();
constexpr int kPacketSize = 64;  // full-speed bulk packet
constexpr int kPacketData = 62;  // after the two status bytes
constexpr std::size_t kTxFifo = 128;
constexpr std::uint8_t kModemStatus[2] = {0x01, 0x60};

struct Device {
  int index = 0;
  std::string product;
  bool kernelDriverBound = false;
  bool open = false;
  bool reattachOnClose = false;
  std::uint32_t baud = 9600;  // the chip's default
  std::uint32_t bitsPerByte = 10;
  std::uint64_t lastPacketUs = 0;
  std::uint64_t txLineFreeUs = 0;
  std::uint64_t rxLineFreeUs = 0;
  std::uint64_t usbReads = 0;
  // Written bytes, each batch with the time its last byte reaches the far end.
  std::deque<std::pair<std::uint64_t, std::vector<std::uint8_t>>> outbound;
  // Bytes from the far end with the time each is in the chip.
  std::deque<std::pair<std::uint64_t, std::uint8_t>> inbound;

  std::uint64_t BytesUs(std::uint64_t n) const { return n * bitsPerByte * 1'000'000 / baud; }
};

struct World {
  std::vector<std::unique_ptr<Device>> devices;
  std::uint64_t nowUs = 0;
  std::uint64_t latencyUs = 16'000;
  StandinClockHook clockHook = nullptr;
  void* clockUser = nullptr;
  StandinFarEnd farEnd = nullptr;
  void* farEndUser = nullptr;
  int usbContext = 0;  // its address stands for the libusb context
};

World& TheWorld() {
  static World world;
  return world;
}

void SetNow(std::uint64_t us) {
  World& world = TheWorld();
  if (us <= world.nowUs) return;
  world.nowUs = us;
  if (world.clockHook) world.clockHook(world.clockUser, us);
}

// Hands the oldest written batch to the far end at the time it has crossed the line.
void DeliverNext(Device& device) {
  auto [at, bytes] = std::move(device.outbound.front());
  device.outbound.pop_front();
  SetNow(at);
  World& world = TheWorld();
  if (world.farEnd) world.farEnd(world.farEndUser, device.index, bytes.data(), bytes.size());
}

// Moves time on to us, delivering what crosses the line meanwhile.
void AdvanceTo(Device& device, std::uint64_t us) {
  while (!device.outbound.empty() && device.outbound.front().first <= us) DeliverNext(device);
  SetNow(us);
}

Device* DeviceOf(const void* pointer) {
  for (auto& device : TheWorld().devices) {
    if (device.get() == pointer) return device.get();
  }
  return nullptr;
}

Device* OpenDeviceOf(ftdi_context* ftdi) {
  Device* device = ftdi ? DeviceOf(ftdi->usb_dev) : nullptr;
  return device && device->open ? device : nullptr;
}

// One bulk IN transfer: packets until a short one or until the buffer is full.
int BulkIn(Device& device, unsigned char* data, int length, int* transferred,
           unsigned int timeoutMs) {
  World& world = TheWorld();
  ++device.usbReads;
  const std::uint64_t deadline = timeoutMs == 0 ? kNever : world.nowUs + timeoutMs * 1000ull;
  int done = 0;
  while (done + kPacketSize <= length) {
    for (;;) {
      const std::uint64_t fullAt =
          device.inbound.size() >= kPacketData
              ? std::max(world.nowUs, device.inbound[kPacketData - 1].first)
              : kNever;
      const std::uint64_t shortAt = std::max(world.nowUs, device.lastPacketUs + world.latencyUs);
      const std::uint64_t at = std::min(fullAt, shortAt);
      const std::uint64_t nextOut =
          device.outbound.empty() ? kNever : device.outbound.front().first;
      if (nextOut <= at && nextOut <= deadline) {
        DeliverNext(device);  // the far end may answer: look again
        continue;
      }
      if (at > deadline) {
        SetNow(deadline);
        *transferred = done;
        return LIBUSB_ERROR_TIMEOUT;
      }
      SetNow(at);
      break;
    }
    std::memcpy(data + done, kModemStatus, 2);
    int taken = 0;
    while (taken < kPacketData && !device.inbound.empty() &&
           device.inbound.front().first <= world.nowUs) {
      data[done + 2 + taken++] = device.inbound.front().second;
      device.inbound.pop_front();
    }
    done += 2 + taken;
    device.lastPacketUs = world.nowUs;
    if (taken < kPacketData) break;
  }
  *transferred = done;
  return 0;
}

}  // namespace

extern "C" {

// ---- control ----

void standin_reset() {
  World& world = TheWorld();
  world.devices.clear();
  world.nowUs = 0;
  world.latencyUs = 16'000;
  world.clockHook = nullptr;
  world.farEnd = nullptr;
}

int standin_add_device(const char* product, int kernelDriverBound) {
  World& world = TheWorld();
  auto device = std::make_unique<Device>();
  device->index = static_cast<int>(world.devices.size());
  device->product = product;
  device->kernelDriverBound = kernelDriverBound != 0;
  world.devices.push_back(std::move(device));
  return world.devices.back()->index;
}

int standin_kernel_driver_bound(int device) {
  return TheWorld().devices.at(static_cast<std::size_t>(device))->kernelDriverBound ? 1 : 0;
}

std::uint64_t standin_now_us() {
  return TheWorld().nowUs;
}

void standin_advance_us(int device, std::uint64_t us) {
  AdvanceTo(*TheWorld().devices.at(static_cast<std::size_t>(device)), TheWorld().nowUs + us);
}

void standin_set_clock_hook(StandinClockHook hook, void* user) {
  TheWorld().clockHook = hook;
  TheWorld().clockUser = user;
}

void standin_set_far_end(StandinFarEnd farEnd, void* user) {
  TheWorld().farEnd = farEnd;
  TheWorld().farEndUser = user;
}

void standin_line_send(int index, const std::uint8_t* bytes, std::size_t n) {
  Device& device = *TheWorld().devices.at(static_cast<std::size_t>(index));
  const std::uint64_t start = std::max(TheWorld().nowUs, device.rxLineFreeUs);
  for (std::size_t i = 0; i < n; ++i)
    device.inbound.emplace_back(start + device.BytesUs(i + 1), bytes[i]);
  device.rxLineFreeUs = start + device.BytesUs(n);
}

std::uint64_t standin_usb_reads(int device) {
  return TheWorld().devices.at(static_cast<std::size_t>(device))->usbReads;
}

// ---- libusb ----

ssize_t LIBUSB_CALL libusb_get_device_list(libusb_context*, libusb_device*** list) {
  const auto& devices = TheWorld().devices;
  auto** array = static_cast<libusb_device**>(std::calloc(devices.size() + 1, sizeof(void*)));
  for (std::size_t i = 0; i < devices.size(); ++i) {
    array[i] = reinterpret_cast<libusb_device*>(devices[i].get());
  }
  *list = array;
  return static_cast<ssize_t>(devices.size());
}

void LIBUSB_CALL libusb_free_device_list(libusb_device** list, int) {
  std::free(list);
}

int LIBUSB_CALL libusb_get_device_descriptor(libusb_device* dev,
                                             struct libusb_device_descriptor* descriptor) {
  if (!DeviceOf(dev)) return LIBUSB_ERROR_NO_DEVICE;
  *descriptor = {};
  descriptor->idVendor = 0x0403;
  descriptor->idProduct = 0x6001;
  return 0;
}

int LIBUSB_CALL libusb_bulk_transfer(libusb_device_handle* handle, unsigned char endpoint,
                                     unsigned char* data, int length, int* transferred,
                                     unsigned int timeout) {
  Device* device = DeviceOf(handle);
  if (!device || !device->open) return LIBUSB_ERROR_NO_DEVICE;
  if (endpoint != 0x81) return LIBUSB_ERROR_INVALID_PARAM;  // only reads are modelled here
  return BulkIn(*device, data, length, transferred, timeout);
}

// ---- libftdi1 ----

struct ftdi_context* ftdi_new(void) {
  auto* ftdi = static_cast<ftdi_context*>(std::calloc(1, sizeof(ftdi_context)));
  ftdi->usb_ctx = reinterpret_cast<libusb_context*>(&TheWorld().usbContext);
  ftdi->usb_read_timeout = 5000;
  ftdi->usb_write_timeout = 5000;
  ftdi->module_detach_mode = AUTO_DETACH_SIO_MODULE;  // libftdi's default
  return ftdi;
}

void ftdi_free(struct ftdi_context* ftdi) {
  std::free(ftdi);
}

int ftdi_usb_get_strings2(struct ftdi_context*, struct libusb_device* dev, char* manufacturer,
                          int mnf_len, char* description, int desc_len, char* serial,
                          int serial_len) {
  Device* device = DeviceOf(dev);
  if (!device) return -4;
  const auto copy = [](char* to, int size, const std::string& text) {
    if (to == nullptr || size <= 0) return;
    std::strncpy(to, text.c_str(), static_cast<std::size_t>(size - 1));
    to[size - 1] = '\0';
  };
  copy(manufacturer, mnf_len, "FTDI");
  copy(description, desc_len, device->product);
  copy(serial, serial_len, "SI" + std::to_string(device->index));
  return 0;
}

int ftdi_usb_open_dev(struct ftdi_context* ftdi, struct libusb_device* dev) {
  Device* device = DeviceOf(dev);
  if (!device) return -8;
  if (device->open) return -5;  // the interface is claimed already
  if (device->kernelDriverBound) {
    if (ftdi->module_detach_mode == DONT_DETACH_SIO_MODULE) return -5;
    device->kernelDriverBound = false;
  }
  device->reattachOnClose = ftdi->module_detach_mode == AUTO_DETACH_REATACH_SIO_MODULE;
  device->open = true;
  device->lastPacketUs = TheWorld().nowUs;
  ftdi->usb_dev = reinterpret_cast<libusb_device_handle*>(device);
  ftdi->max_packet_size = kPacketSize;
  ftdi->out_ep = 0x81;  // libftdi reads from its "out" endpoint
  ftdi->in_ep = 0x02;
  return 0;
}

int ftdi_usb_close(struct ftdi_context* ftdi) {
  Device* device = OpenDeviceOf(ftdi);
  if (!device) return -3;
  device->open = false;
  if (device->reattachOnClose) device->kernelDriverBound = true;
  ftdi->usb_dev = nullptr;
  return 0;
}

int ftdi_set_baudrate(struct ftdi_context* ftdi, int baudrate) {
  Device* device = OpenDeviceOf(ftdi);
  if (!device) return -3;
  if (baudrate <= 0) return -1;
  device->baud = static_cast<std::uint32_t>(baudrate);
  return 0;
}

int ftdi_set_line_property(struct ftdi_context* ftdi, enum ftdi_bits_type bits,
                           enum ftdi_stopbits_type sbit, enum ftdi_parity_type parity) {
  Device* device = OpenDeviceOf(ftdi);
  if (!device) return -2;
  device->bitsPerByte = 1 + static_cast<std::uint32_t>(bits) + (parity == NONE ? 0 : 1) +
                        (sbit == STOP_BIT_2 ? 2 : 1);
  return 0;
}

// Returns when the chip has taken every byte: at most its transmit FIFO is still to go out.
int ftdi_write_data(struct ftdi_context* ftdi, const unsigned char* buf, int size) {
  Device* device = OpenDeviceOf(ftdi);
  if (!device) return -666;
  if (size <= 0) return 0;
  const std::uint64_t start = std::max(TheWorld().nowUs, device->txLineFreeUs);
  const std::uint64_t end = start + device->BytesUs(static_cast<std::uint64_t>(size));
  device->txLineFreeUs = end;
  device->outbound.emplace_back(end, std::vector<std::uint8_t>(buf, buf + size));
  const std::uint64_t fifoUs = device->BytesUs(kTxFifo);
  if (end > fifoUs) AdvanceTo(*device, std::max(TheWorld().nowUs, end - fifoUs));
  return size;
}

}  // extern "C"
