// The host-controller driver on the test bed, in one run under Wine, on a UHCI and an OHCI
// controller model with the full-speed device model on a root port:
//   - a 1 MB bulk in transfer (four URBs of 256 KB queued at once, 64-byte packets): the bytes
//     moved per simulated frame beside the most the frame's bus time allows for 64-byte packets
//     (1,500 bytes a frame, 64 + 13 a transaction: 19 packets, 1,216 bytes);
//   - a continuous isochronous in stream of 1,024 frames (URBs of 32 packets, four queued, each
//     handed back as it completes, as a camera's driver does) of 256-byte and of 1,023-byte
//     packets: the bytes per frame beside one full packet a frame (what the endpoint may send; the
//     frame's bus time allows it while packet + 9 <= 1,500), and the frames missed;
//   - the host time of each run per megabyte moved: all of it, the models' share (the device
//     models' advance, timed by the test bed), and the rest, which is the driver with the
//     simulated kernel under it; beside a memcpy of a megabyte measured in the same run.
#include <windows.h>

#include <usb.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "testbed.h"

namespace {

using Clock = std::chrono::steady_clock;
using hcsim::Request;
using hcsim::Testbed;

constexpr uint32_t kCreateDevice = 0x222003, kSetAddress = 0x222007;
constexpr unsigned kMegabyte = 1 << 20;

double seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

// A started controller with the device on port 0 at address 1, configured: interface 0's bulk
// pipes and interface 1's isochronous pipe open.
struct Rig {
  Testbed tb;
  hcsim::UhciController *uhci = nullptr;
  hcsim::OhciController *ohci = nullptr;
  hcsim::UsbDevice device;
  void *hc = nullptr, *handle = nullptr;
  USBD_PIPE_HANDLE bulkIn = nullptr, iso = nullptr;

  Rig(bool useUhci, unsigned isoPacket) {
    if (useUhci) {
      uhci = &tb.machine.add(0, 7, 2, std::make_unique<hcsim::UhciController>(0xE000));
      uhci->setInterrupt(4, 11);
    } else {
      ohci = &tb.machine.add(0, 3, 0, std::make_unique<hcsim::OhciController>(0xFEBF0000));
      ohci->setInterrupt(1, 10);
    }
    device.endpoint(0x84)->maxPacket = static_cast<uint16_t>(isoPacket);
    device.configurationDescriptor[52] = static_cast<uint8_t>(isoPacket);  // endpoint 0x84's wMaxPacketSize
    device.configurationDescriptor[53] = static_cast<uint8_t>(isoPacket >> 8);
  }
  ~Rig() { tb.unload(); }
  uint64_t frames() const { return uhci ? uhci->frames : ohci->frames; }

  bool wait(Request &r, unsigned limitMs = 5000) {
    for (unsigned ms = 0; ms < limitMs && !r.done(); ++ms) tb.advance(1000);
    tb.runWorkItems();
    return r.done() && r.status() == 0;
  }

  bool start() {
    if (tb.load() != 0 || tb.registerCallback() != 0) return false;
    hc = tb.device(L"\\Device\\UsbHc0");
    if (!hc) return false;
    if (uhci)
      uhci->attach(0, &device);
    else
      ohci->attach(0, &device);
    if (tb.internalControl(hc, kCreateDevice, &handle, 0, 0) != 0) return false;
    device.address = 1;
    if (tb.internalControl(hc, kSetAddress, handle, 1, 0) != 0) return false;

    size_t interfaceLength = sizeof(USBD_INTERFACE_INFORMATION) + 2 * sizeof(USBD_PIPE_INFORMATION);
    std::vector<uint8_t> select(sizeof(_URB_SELECT_CONFIGURATION) - sizeof(USBD_INTERFACE_INFORMATION) +
                                interfaceLength);
    auto *sc = reinterpret_cast<_URB_SELECT_CONFIGURATION *>(select.data());
    sc->Hdr.Length = static_cast<USHORT>(select.size());
    sc->Hdr.Function = 0x00;
    sc->Hdr.UsbdDeviceHandle = handle;
    sc->ConfigurationDescriptor =
        reinterpret_cast<PUSB_CONFIGURATION_DESCRIPTOR>(device.configurationDescriptor.data());
    sc->Interface.Length = static_cast<USHORT>(interfaceLength);
    auto r = tb.submitUrb(hc, sc);
    if (!wait(*r)) return false;
    bulkIn = sc->Interface.Pipes[0].PipeHandle;

    _URB_SELECT_INTERFACE si{};
    si.Hdr.Length = sizeof si;
    si.Hdr.Function = 0x01;
    si.Hdr.UsbdDeviceHandle = handle;
    si.ConfigurationHandle = sc->ConfigurationHandle;
    si.Interface.Length = sizeof(USBD_INTERFACE_INFORMATION);
    si.Interface.InterfaceNumber = 1;
    auto s = tb.submitUrb(hc, &si);
    if (!wait(*s)) return false;
    iso = si.Interface.Pipes[0].PipeHandle;
    return true;
  }
};

struct Run {
  bool ok = false;
  uint64_t bytes = 0, frames = 0, missed = 0;
  Clock::duration host{}, models{};
};

// 1 MB in: four URBs of 256 KB queued at once.
Run bulk(bool useUhci) {
  Run run;
  Rig rig(useUhci, 256);
  if (!rig.start()) return run;
  std::vector<uint8_t> source(kMegabyte);
  for (unsigned i = 0; i < kMegabyte; ++i) source[i] = static_cast<uint8_t>(i * 13 + (i >> 9));
  rig.device.bulkIn = source;
  std::vector<uint8_t> buffer(kMegabyte);
  constexpr unsigned kUrbs = 4, kLength = kMegabyte / kUrbs;
  std::vector<URB> urbs(kUrbs);
  std::vector<std::unique_ptr<Request>> requests;
  auto models = rig.tb.machine.modelTime;
  auto start = Clock::now();
  uint64_t first = rig.frames();
  for (unsigned u = 0; u < kUrbs; ++u) {
    auto &x = urbs[u].UrbBulkOrInterruptTransfer;
    x.Hdr.Length = sizeof x;
    x.Hdr.Function = 0x09;
    x.Hdr.UsbdDeviceHandle = rig.handle;
    x.PipeHandle = rig.bulkIn;
    x.TransferFlags = USBD_TRANSFER_DIRECTION_IN;
    x.TransferBuffer = buffer.data() + u * kLength;
    x.TransferBufferLength = kLength;
    requests.push_back(rig.tb.submitUrb(rig.hc, &urbs[u]));
  }
  for (unsigned ms = 0; ms < 20000 && !requests.back()->done(); ++ms) rig.tb.advance(1000);
  run.host = Clock::now() - start;
  run.models = rig.tb.machine.modelTime - models;
  run.frames = rig.frames() - first;
  run.ok = buffer == source;
  for (auto &r : requests) run.ok = run.ok && r->done() && r->status() == 0;
  run.bytes = kMegabyte;
  return run;
}

// 1,024 frames of the isochronous stream, packets of the given size.
Run stream(bool useUhci, unsigned packet) {
  Run run;
  Rig rig(useUhci, packet);
  if (!rig.start()) return run;
  constexpr unsigned kPackets = 32, kQueued = 4, kUrbs = 32;
  size_t urbSize = sizeof(_URB_ISOCH_TRANSFER) + (kPackets - 1) * sizeof(USBD_ISO_PACKET_DESCRIPTOR);
  std::vector<std::vector<uint8_t>> urbs(kQueued, std::vector<uint8_t>(urbSize));
  // A buffer per queued URB, starting 100 bytes into a page: packets straddle pages.
  size_t length = kPackets * packet, stride = (length + 4096 + 4095) & ~size_t(4095);
  std::vector<uint8_t> memory(kQueued * stride + 4096);
  uint8_t *base = reinterpret_cast<uint8_t *>((reinterpret_cast<uintptr_t>(memory.data()) + 4095) & ~uintptr_t(4095));
  std::vector<uint8_t> received;
  std::unique_ptr<Request> requests[kQueued];
  unsigned submitted = 0, completed = 0;
  bool ok = true;
  auto submit = [&](unsigned slot) {
    auto *x = reinterpret_cast<_URB_ISOCH_TRANSFER *>(urbs[slot].data());
    std::memset(x, 0, urbSize);
    x->Hdr.Length = static_cast<USHORT>(urbSize);
    x->Hdr.Function = 0x0A;
    x->Hdr.UsbdDeviceHandle = rig.handle;
    x->PipeHandle = rig.iso;
    x->TransferFlags = USBD_TRANSFER_DIRECTION_IN | USBD_START_ISO_TRANSFER_ASAP;
    x->TransferBuffer = base + slot * stride + 100;
    x->TransferBufferLength = static_cast<ULONG>(length);
    x->NumberOfPackets = kPackets;
    for (unsigned k = 0; k < kPackets; ++k) x->IsoPacket[k].Offset = k * packet;
    requests[slot] = rig.tb.submitUrb(rig.hc, x);
    ++submitted;
  };
  auto models = rig.tb.machine.modelTime;
  auto start = Clock::now();
  for (unsigned slot = 0; slot < kQueued; ++slot) submit(slot);
  for (unsigned ms = 0; ms < 5000 && completed < kUrbs; ++ms) {
    rig.tb.advance(1000);
    // Completions come in order; each URB is handed back at once.
    for (unsigned slot = completed % kQueued; completed < submitted && requests[slot]->done();
         slot = completed % kQueued) {
      auto *x = reinterpret_cast<_URB_ISOCH_TRANSFER *>(urbs[slot].data());
      ok = ok && requests[slot]->status() == 0 && x->ErrorCount == 0;
      for (unsigned k = 0; k < kPackets; ++k) {
        ok = ok && x->IsoPacket[k].Status == 0 && x->IsoPacket[k].Length == packet;
        received.insert(received.end(), base + slot * stride + 100 + x->IsoPacket[k].Offset,
                        base + slot * stride + 100 + x->IsoPacket[k].Offset + x->IsoPacket[k].Length);
      }
      requests[slot].reset();
      ++completed;
      if (submitted < kUrbs) submit(slot);
    }
  }
  run.host = Clock::now() - start;
  run.models = rig.tb.machine.modelTime - models;
  const auto &frames = rig.device.endpoint(0x84)->frames;
  run.frames = frames.empty() ? 0 : frames.back() - frames.front() + 1;
  run.missed = run.frames - std::min<uint64_t>(run.frames, frames.size());
  for (size_t i = 0; i < received.size() && ok; ++i) ok = received[i] == static_cast<uint8_t>(i * 7 % 251);
  run.ok = ok && completed == kUrbs && frames.size() == kUrbs * kPackets;
  run.bytes = received.size();
  return run;
}

// The best of a few memcpy runs of a megabyte, in seconds.
double memcpySeconds() {
  std::vector<uint8_t> a(kMegabyte, 1), b(kMegabyte);
  double best = 1e9;
  for (int round = 0; round < 5; ++round) {
    auto start = Clock::now();
    for (int i = 0; i < 16; ++i) {
      a[i] = static_cast<uint8_t>(i);
      std::memcpy(b.data(), a.data(), kMegabyte);
    }
    best = std::min(best, seconds(Clock::now() - start) / 16);
    if (b[3] != 3) std::printf("?");
  }
  return best;
}

void print(const char *what, const Run &r, double most, double copy) {
  double perFrame = r.frames ? static_cast<double>(r.bytes) / static_cast<double>(r.frames) : 0;
  double mb = static_cast<double>(r.bytes) / kMegabyte;
  double host = seconds(r.host) / mb, models = seconds(r.models) / mb, driver = host - models;
  std::printf(
      "%-34s %7.1f B/frame of %6.0f (%5.1f %%)  %5llu frames, %llu missed  host %6.1f ms/MB: models %6.1f, "
      "driver %6.1f (%5.0f x memcpy)%s\n",
      what, perFrame, most, 100 * perFrame / most, static_cast<unsigned long long>(r.frames),
      static_cast<unsigned long long>(r.missed), 1000 * host, 1000 * models, 1000 * driver, driver / copy,
      r.ok ? "" : "  FAILED: bytes or statuses wrong");
}

}  // namespace

int main() {
  double copy = memcpySeconds();
  std::printf("memcpy of 1 MB: %.3f ms\n", 1000 * copy);
  const unsigned bulkPackets = hcsim::kFrameBytes / (64 + hcsim::kTransactionOverhead);
  bool ok = true;
  for (bool useUhci : {true, false}) {
    const char *name = useUhci ? "UHCI" : "OHCI";
    char what[64];
    std::snprintf(what, sizeof what, "%s bulk in 1 MB, 64-byte packets", name);
    Run b = bulk(useUhci);
    print(what, b, bulkPackets * 64.0, copy);
    ok = ok && b.ok;
    for (unsigned packet : {256u, 1023u}) {
      std::snprintf(what, sizeof what, "%s isochronous in, %u-byte packets", name, packet);
      Run s = stream(useUhci, packet);
      print(what, s, packet, copy);
      ok = ok && s.ok && s.missed == 0;
    }
  }
  return ok ? 0 : 1;
}
