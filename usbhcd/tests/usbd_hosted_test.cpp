// The USBD helpers (src/usbd.c) built for the host under ASan and UBSan: many random and mutated
// descriptor buffers, each in a heap block of exactly its size, go through all five parse and
// request routines, and every answer is checked against what the buffer holds. A read past a
// buffer, a write past a request or a request that is never freed fails the test.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <random>
#include <vector>

#include "usbd_hosted.h"

namespace {

// Non-paged pool of the host: exact-size blocks, with their tags, and a switch to refuse.
struct PoolBlock {
  size_t size;
  ULONG tag;
};
std::map<void *, PoolBlock> g_pool;
int g_failPoolAfter = -1;

}  // namespace

extern "C" PVOID ExAllocatePoolWithTag(POOL_TYPE, size_t size, ULONG tag) {
  if (g_failPoolAfter == 0) return nullptr;
  if (g_failPoolAfter > 0) --g_failPoolAfter;
  void *p = std::malloc(size);
  std::memset(p, 0xCD, size);  // never zero: the helpers must clear what they leave
  g_pool[p] = PoolBlock{size, tag};
  return p;
}

extern "C" VOID ExFreePool(PVOID block) {
  ASSERT_EQ(1u, g_pool.erase(block)) << "not a pool block";
  std::free(block);
}

namespace {

constexpr ULONG kDdk = 0x206B6444;  // "Ddk "
const size_t kHead = offsetof(_URB_SELECT_CONFIGURATION, Interface);
const size_t kRecordHead = offsetof(USBD_INTERFACE_INFORMATION, Pipes);
const size_t kPipe = sizeof(USBD_PIPE_INFORMATION);

// A buffer in a heap block of exactly its size, so that ASan sees the first byte beyond it.
struct Exact {
  std::unique_ptr<uint8_t[]> bytes;
  size_t size;
  explicit Exact(const std::vector<uint8_t> &v) : bytes(new uint8_t[v.empty() ? 1 : v.size()]), size(v.size()) {
    if (!v.empty()) std::memcpy(bytes.get(), v.data(), v.size());
  }
  uint8_t *data() const { return bytes.get(); }
  PUSB_CONFIGURATION_DESCRIPTOR configuration() const {
    return reinterpret_cast<PUSB_CONFIGURATION_DESCRIPTOR>(bytes.get());
  }
};

// The descriptors a walk from offset start passes over in [0, total), as offsets, until one that
// is malformed or runs past the end; the test's own account of what the helpers may return.
std::vector<size_t> walk(const uint8_t *b, size_t total, size_t start) {
  std::vector<size_t> at;
  for (size_t p = start; p + 2 <= total && b[p] >= 2 && b[p] <= total - p; p += b[p]) at.push_back(p);
  return at;
}

bool interfaceAt(const uint8_t *b, size_t p) { return b[p + 1] == 4 && b[p] >= 9; }

// A plausible configuration: interfaces with alternate settings, endpoints and class-specific
// descriptors between them, which the mutations below then damage.
std::vector<uint8_t> makeConfiguration(std::mt19937 &rng) {
  auto pick = [&](unsigned n) { return static_cast<unsigned>(rng() % n); };
  std::vector<uint8_t> c = {9, 2, 0, 0, 0, 1, 0, 0x80, 50};
  unsigned interfaces = pick(5) == 0 ? 10 + pick(8) : 1 + pick(4);
  c[4] = static_cast<uint8_t>(interfaces);
  for (unsigned i = 0; i < interfaces; ++i) {
    unsigned alternates = 1 + pick(3);
    for (unsigned a = 0; a < alternates; ++a) {
      unsigned endpoints = pick(4) == 0 ? 0 : 1 + pick(5);
      uint8_t alt = static_cast<uint8_t>(pick(6) == 0 ? a + 1 : a);  // now and then no setting 0
      c.insert(c.end(),
               {9, 4, static_cast<uint8_t>(i), alt, static_cast<uint8_t>(endpoints), static_cast<uint8_t>(pick(256)),
                static_cast<uint8_t>(pick(3)), static_cast<uint8_t>(pick(3)), 0});
      if (pick(3) == 0) {
        unsigned extra = 2 + pick(12);
        c.push_back(static_cast<uint8_t>(extra));
        c.push_back(static_cast<uint8_t>(0x21 + pick(4)));
        for (unsigned k = 2; k < extra; ++k) c.push_back(static_cast<uint8_t>(rng()));
      }
      for (unsigned e = 0; e < endpoints; ++e)
        c.insert(c.end(), {7, 5, static_cast<uint8_t>(0x81 + e), static_cast<uint8_t>(pick(4)), 64, 0, 1});
    }
  }
  return c;
}

void mutate(std::vector<uint8_t> &c, std::mt19937 &rng) {
  auto pick = [&](size_t n) { return static_cast<size_t>(rng() % n); };
  unsigned rounds = static_cast<unsigned>(pick(4));
  for (unsigned r = 0; r < rounds && !c.empty(); ++r) {
    switch (pick(6)) {
      case 0:  // any byte
        c[pick(c.size())] = static_cast<uint8_t>(rng());
        break;
      case 1:  // a length of 0, 1 or 2
        c[pick(c.size())] = static_cast<uint8_t>(pick(3));
        break;
      case 2:  // a length past the end
        c[pick(c.size())] = static_cast<uint8_t>(200 + pick(56));
        break;
      case 3:  // cut short
        c.resize(pick(c.size() + 1));
        break;
      case 4:
        c.insert(c.begin() + pick(c.size() + 1), static_cast<uint8_t>(rng()));
        break;
      case 5:
        c.erase(c.begin() + pick(c.size()));
        break;
    }
  }
}

void checkRequest(const Exact &buffer, PURB urb, const std::vector<PUSB_INTERFACE_DESCRIPTOR> &listed,
                  const std::vector<USBD_INTERFACE_LIST_ENTRY> *list) {
  ASSERT_EQ(1u, g_pool.count(urb));
  const PoolBlock &block = g_pool[urb];
  EXPECT_EQ(kDdk, block.tag);
  size_t size = kHead;
  for (auto *d : listed) size += kRecordHead + kPipe * (d->bNumEndpoints ? d->bNumEndpoints : 1);
  ASSERT_EQ(size, block.size);
  ASSERT_EQ(size, urb->UrbHeader.Length);
  EXPECT_EQ(0u, urb->UrbHeader.Function);
  EXPECT_EQ(0, urb->UrbHeader.Status);
  EXPECT_EQ(nullptr, urb->UrbHeader.UsbdDeviceHandle);
  EXPECT_EQ(buffer.configuration(), urb->UrbSelectConfiguration.ConfigurationDescriptor);
  auto *at = reinterpret_cast<uint8_t *>(&urb->UrbSelectConfiguration.Interface);
  for (size_t i = 0; i < listed.size(); ++i) {
    auto *info = reinterpret_cast<USBD_INTERFACE_INFORMATION *>(at);
    ASSERT_LE(at + kRecordHead, reinterpret_cast<uint8_t *>(urb) + size);
    EXPECT_EQ(listed[i]->bInterfaceNumber, info->InterfaceNumber);
    EXPECT_EQ(listed[i]->bAlternateSetting, info->AlternateSetting);
    EXPECT_EQ(listed[i]->bNumEndpoints, info->NumberOfPipes);
    if (list) {
      EXPECT_EQ(info, (*list)[i].Interface);
    }
    auto *pipes = reinterpret_cast<USBD_PIPE_INFORMATION *>(at + kRecordHead);
    for (ULONG p = 0; p < info->NumberOfPipes; ++p) {
      EXPECT_EQ(4096u, pipes[p].MaximumTransferSize);
      EXPECT_EQ(0u, pipes[p].PipeFlags);
    }
    at += info->Length;
  }
  EXPECT_EQ(reinterpret_cast<uint8_t *>(urb) + size, at) << "the records fill the request exactly";
}

// One buffer through every routine.
void exercise(const std::vector<uint8_t> &bytes, std::mt19937 &rng) {
  auto pick = [&](size_t n) { return static_cast<size_t>(rng() % n); };
  Exact buffer(bytes);
  const uint8_t *b = buffer.data();

  // USBD_ParseDescriptors over the whole buffer, from the start, from descriptor boundaries and
  // from any offset, for types that occur and types that do not.
  for (int round = 0; round < 6 && buffer.size; ++round) {
    size_t total = round == 0 ? buffer.size : pick(buffer.size + 1);
    size_t start = round < 2 ? 0 : pick(buffer.size);
    LONG type = pick(3) == 0 ? static_cast<LONG>(rng() % 300) - 20 : b[pick(buffer.size)];
    auto *found = reinterpret_cast<const uint8_t *>(
        USBD_ParseDescriptors(buffer.data(), static_cast<ULONG>(total), buffer.data() + start, type));
    const uint8_t *want = nullptr;
    for (size_t p : walk(b, total, start))
      if (b[p + 1] == type) {
        want = b + p;
        break;
      }
    ASSERT_EQ(want, found) << "total " << total << " start " << start << " type " << type;
  }

  // The configuration parsers: the configuration's wTotalLength is its bound, so it must lie in
  // the buffer (the helpers are given no size); a buffer too short for the head is not one.
  if (buffer.size < sizeof(USB_CONFIGURATION_DESCRIPTOR)) return;
  auto *config = buffer.configuration();
  if (config->wTotalLength > buffer.size) config->wTotalLength = static_cast<USHORT>(pick(buffer.size + 1));
  const size_t total = config->wTotalLength;
  std::vector<size_t> all = walk(b, total, 0);

  for (int round = 0; round < 6; ++round) {
    size_t start = pick(2) || all.empty() ? pick(buffer.size) : all[pick(all.size())];
    if (round == 0) start = 0;
    LONG want[5];
    for (LONG &w : want) w = pick(2) ? -1 : static_cast<LONG>(pick(4));
    if (pick(2) && !all.empty()) {  // criteria of an interface that is there
      size_t p = all[pick(all.size())];
      if (interfaceAt(b, p))
        for (int k = 0; k < 5; ++k)
          if (want[k] != -1) want[k] = b[p + 2 + k + (k >= 2 ? 1 : 0)];
    }
    auto *found = reinterpret_cast<const uint8_t *>(USBD_ParseConfigurationDescriptorEx(
        config, buffer.data() + start, want[0], want[1], want[2], want[3], want[4]));
    const uint8_t *expected = nullptr;
    for (size_t p : walk(b, total, start)) {
      if (!interfaceAt(b, p)) continue;
      const uint8_t fields[5] = {b[p + 2], b[p + 3], b[p + 5], b[p + 6], b[p + 7]};
      bool match = true;
      for (int k = 0; k < 5; ++k) match = match && (want[k] == -1 || want[k] == fields[k]);
      if (match) {
        expected = b + p;
        break;
      }
    }
    ASSERT_EQ(expected, found) << "start " << start;
    if (found) {
      ASSERT_LE(found + 9, b + total);
      EXPECT_EQ(4, found[1]);
    }
  }
  for (int n = 0; n < 3; ++n) {
    UCHAR number = static_cast<UCHAR>(pick(6)), alternate = static_cast<UCHAR>(pick(3));
    EXPECT_EQ(USBD_ParseConfigurationDescriptorEx(config, config, number, alternate, -1, -1, -1),
              USBD_ParseConfigurationDescriptor(config, number, alternate));
  }

  // USBD_CreateConfigurationRequest: alternate setting 0 of every interface, or nothing.
  std::vector<PUSB_INTERFACE_DESCRIPTOR> firsts;
  bool complete = config->bNumInterfaces >= 1 && config->bNumInterfaces <= 15;
  size_t size = kHead;
  for (unsigned i = 0; complete && i < config->bNumInterfaces; ++i) {
    auto *d = USBD_ParseConfigurationDescriptor(config, static_cast<UCHAR>(i), 0);
    if (!d)
      complete = false;
    else {
      firsts.push_back(d);
      size += kRecordHead + kPipe * (d->bNumEndpoints ? d->bNumEndpoints : 1);
    }
  }
  if (size > 0xFFFF) complete = false;
  USHORT length = 0xBEEF;
  PURB urb = USBD_CreateConfigurationRequest(config, &length);
  ASSERT_EQ(complete, urb != nullptr) << "interfaces " << unsigned(config->bNumInterfaces);
  if (urb) {
    EXPECT_EQ(urb->UrbHeader.Length, length);
    checkRequest(buffer, urb, firsts, nullptr);
    ExFreePool(urb);
  } else {
    EXPECT_EQ(0u, length);
  }

  // USBD_CreateConfigurationRequestEx with a list of any interfaces the configuration holds.
  std::vector<PUSB_INTERFACE_DESCRIPTOR> chosen;
  for (size_t p : all)
    if (interfaceAt(b, p) && pick(2)) chosen.push_back(reinterpret_cast<PUSB_INTERFACE_DESCRIPTOR>(buffer.data() + p));
  std::vector<USBD_INTERFACE_LIST_ENTRY> list;
  for (auto *d : chosen) list.push_back({d, nullptr});
  list.push_back({nullptr, nullptr});
  urb = USBD_CreateConfigurationRequestEx(config, list.data());
  EXPECT_EQ(!chosen.empty(), urb != nullptr);
  if (urb) {
    checkRequest(buffer, urb, chosen, &list);
    ExFreePool(urb);
  }
}

TEST(UsbdHosted, RandomAndMutatedDescriptorBuffers) {
  std::mt19937 rng(0x5EED1234u);
  for (int n = 0; n < 100000; ++n) {
    std::vector<uint8_t> bytes;
    if (n % 10 == 0) {  // now and then bytes with no structure at all
      bytes.resize(rng() % 80);
      for (auto &x : bytes) x = static_cast<uint8_t>(rng() % 4 == 0 ? rng() % 12 : rng());
    } else {
      bytes = makeConfiguration(rng);
      size_t size = bytes.size();
      bytes[2] = static_cast<uint8_t>(size), bytes[3] = static_cast<uint8_t>(size >> 8);
      mutate(bytes, rng);
    }
    exercise(bytes, rng);
    if (HasFatalFailure() || HasFailure()) {
      ADD_FAILURE() << "buffer " << n << " of " << bytes.size() << " bytes";
      break;
    }
  }
  EXPECT_TRUE(g_pool.empty()) << g_pool.size() << " requests not freed";
}

// A list long enough to overflow a 16-bit (or any) size sum is refused, not wrapped.
TEST(UsbdHosted, OverlongInterfaceListsAreRefused) {
  std::vector<uint8_t> bytes = {9, 2, 18, 0, 1, 1, 0, 0x80, 50, 9, 4, 0, 0, 255, 0xFF, 0, 0, 0};
  Exact buffer(bytes);
  auto *d = reinterpret_cast<PUSB_INTERFACE_DESCRIPTOR>(buffer.data() + 9);
  for (size_t count : {13u, 14u, 1000u, 70000u}) {
    std::vector<USBD_INTERFACE_LIST_ENTRY> list(count, {d, nullptr});
    list.push_back({nullptr, nullptr});
    bool fits = kHead + count * (kRecordHead + 255 * kPipe) <= 0xFFFF;
    PURB urb = USBD_CreateConfigurationRequestEx(buffer.configuration(), list.data());
    EXPECT_EQ(fits, urb != nullptr) << count;
    if (urb) ExFreePool(urb);
  }
  EXPECT_TRUE(g_pool.empty());
}

TEST(UsbdHosted, PoolRefusalGivesNoRequest) {
  std::vector<uint8_t> bytes = {9, 2, 18, 0, 1, 1, 0, 0x80, 50, 9, 4, 0, 0, 0, 0xFF, 0, 0, 0};
  Exact buffer(bytes);
  g_failPoolAfter = 0;
  USHORT length = 0xBEEF;
  EXPECT_EQ(nullptr, USBD_CreateConfigurationRequest(buffer.configuration(), &length));
  EXPECT_EQ(0u, length);
  g_failPoolAfter = -1;
  EXPECT_TRUE(g_pool.empty());
}

}  // namespace
