#pragma once
// Control interface of the stand-in libftdi (ftdi_standin.cpp): a shared library that exports the
// libftdi1 and libusb functions the Linux cable layer binds, over simulated FT232R chips. The
// tests load it in the real libraries' place (LibFtdiD2xx::Libraries) and steer it through these
// functions, found with dlsym on the same handle.
//
// The chip as FTDI documents it: every bulk IN packet (64 bytes) starts with two modem status
// bytes, so it carries at most 62 data bytes; a packet goes out when 62 bytes are waiting or
// when the latency timer (16 ms by default, restarted by every packet) runs out, then with
// whatever is there, possibly nothing but the status. A bulk transfer ends at its first short
// packet or when its buffer is full. Nothing sleeps: the stand-in keeps its own time in
// microseconds and moves it on where the real calls would block.
#include <dlfcn.h>

#include <cstddef>
#include <cstdint>
#include <type_traits>

extern "C" {

// Called with the new time whenever the stand-in's time moves.
using StandinClockHook = void (*)(void* user, std::uint64_t nowUs);
// Called when bytes written to device have crossed the line to the far end (at the time the
// last of them arrived); the far end may answer with standin_line_send.
using StandinFarEnd = void (*)(void* user, int device, const std::uint8_t* bytes, std::size_t n);

// No devices, time 0, default latency, no hooks.
void standin_reset();
// Adds an FT232R with the given product text; kernelDriverBound: ftdi_sio holds it (a tty).
int standin_add_device(const char* product, int kernelDriverBound);
int standin_kernel_driver_bound(int device);
std::uint64_t standin_now_us();
// Lets time pass on device's line, as if the host were busy elsewhere.
void standin_advance_us(int device, std::uint64_t us);
void standin_set_clock_hook(StandinClockHook hook, void* user);
void standin_set_far_end(StandinFarEnd farEnd, void* user);
// The far end sends bytes to the host from now on, one after another at the line's speed.
void standin_line_send(int device, const std::uint8_t* bytes, std::size_t n);
// Bulk IN transfers the host has made on device.
std::uint64_t standin_usb_reads(int device);

}  // extern "C"

namespace loadwing::testing {

// The control functions of a loaded stand-in, bound from the very handle the cable layer gets
// when it loads the same path.
struct FtdiStandin {
  void* handle = nullptr;
  decltype(&standin_reset) reset = nullptr;
  decltype(&standin_add_device) addDevice = nullptr;
  decltype(&standin_kernel_driver_bound) kernelDriverBound = nullptr;
  decltype(&standin_now_us) nowUs = nullptr;
  decltype(&standin_advance_us) advanceUs = nullptr;
  decltype(&standin_set_clock_hook) setClockHook = nullptr;
  decltype(&standin_set_far_end) setFarEnd = nullptr;
  decltype(&standin_line_send) lineSend = nullptr;
  decltype(&standin_usb_reads) usbReads = nullptr;

  bool Load(const char* path) {
    handle = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) return false;
    bool all = true;
    const auto bind = [&](auto& function, const char* name) {
      function = reinterpret_cast<std::remove_reference_t<decltype(function)>>(dlsym(handle, name));
      all = all && function != nullptr;
    };
    bind(reset, "standin_reset");
    bind(addDevice, "standin_add_device");
    bind(kernelDriverBound, "standin_kernel_driver_bound");
    bind(nowUs, "standin_now_us");
    bind(advanceUs, "standin_advance_us");
    bind(setClockHook, "standin_set_clock_hook");
    bind(setFarEnd, "standin_set_far_end");
    bind(lineSend, "standin_line_send");
    bind(usbReads, "standin_usb_reads");
    return all;
  }
};

}  // namespace loadwing::testing
