#include "usb_station.h"

#include <linux/usbdevice_fs.h>
#include <sys/ioctl.h>
#include <umockdev.h>
#include <unistd.h>

#include <dirent.h>

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <stdexcept>
#include <thread>

// libusb-0.1 frees a bus that has gone away from one scan to the next but
// not the devices it listed on it, and every testbed's busses go away with
// the testbed. LeakSanitizer is told to overlook those (and only those)
// allocations of the scan; a handle from usb_open() left open is still a
// leak.
extern "C" __attribute__((visibility("default"), used)) const char* __lsan_default_suppressions() {
  return "leak:usb_os_find_devices\n";
}

namespace vesksim {

namespace {

constexpr std::uint16_t kStationVendor = 0x1234;
constexpr std::uint16_t kStationProduct = 0x1236;

// Device descriptor followed by the one configuration descriptor with its
// interface 1 and the three bulk endpoints: libusb-0.1 read()s exactly this
// from the node.
Bytes descriptors(std::uint16_t vendor, std::uint16_t product, bool station) {
  Bytes d = {
      18, 1, 0x00, 0x02,  // bLength, DEVICE, bcdUSB 2.00
      0, 0, 0, 64,        // class, subclass, protocol, bMaxPacketSize0
      static_cast<std::uint8_t>(vendor), static_cast<std::uint8_t>(vendor >> 8),
      static_cast<std::uint8_t>(product), static_cast<std::uint8_t>(product >> 8),
      0x00, 0x01,  // bcdDevice 1.00
      0, 0, 0,     // no strings
      1,           // bNumConfigurations
  };
  const std::uint8_t endpoints = station ? 3 : 0;
  const std::uint16_t total = static_cast<std::uint16_t>(9 + 9 + 7 * endpoints);
  const Bytes config = {
      9, 2, static_cast<std::uint8_t>(total), static_cast<std::uint8_t>(total >> 8),
      1,     // bNumInterfaces
      1,     // bConfigurationValue
      0,     // iConfiguration
      0x80,  // bus powered
      50,    // 100 mA
      9, 4,
      static_cast<std::uint8_t>(station ? 1 : 0),  // bInterfaceNumber
      0, endpoints, 0xFF, 0, 0, 0,
  };
  d.insert(d.end(), config.begin(), config.end());
  if (station) {
    for (std::uint8_t ep : {kEndpointOut, kEndpointReplies, kEndpointPanel}) {
      const Bytes e = {7, 5, ep, 2 /* bulk */, 64, 0, 0};
      d.insert(d.end(), e.begin(), e.end());
    }
  }
  return d;
}

std::string hex(const Bytes& bytes) {
  std::string out;
  char buf[3];
  for (std::uint8_t b : bytes) {
    std::snprintf(buf, sizeof buf, "%02X", b);
    out += buf;
  }
  return out;
}

std::string threeDigits(int n) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%03d", n);
  return buf;
}

const char* ioctlName(gulong request) {
  switch (request) {
    case USBDEVFS_CONNECTINFO: return "CONNECTINFO";
    case USBDEVFS_SETCONFIGURATION: return "SETCONFIGURATION";
    case USBDEVFS_CLAIMINTERFACE: return "CLAIMINTERFACE";
    case USBDEVFS_RELEASEINTERFACE: return "RELEASEINTERFACE";
    case USBDEVFS_SUBMITURB: return "SUBMITURB";
    case USBDEVFS_REAPURB: return "REAPURB";
    case USBDEVFS_REAPURBNDELAY: return "REAPURBNDELAY";
    case USBDEVFS_DISCARDURB: return "DISCARDURB";
    case USBDEVFS_HUB_PORTINFO: return "HUB_PORTINFO";
    case USBDEVFS_GETDRIVER: return "GETDRIVER";
    case USBDEVFS_IOCTL: return "IOCTL";
    default: return nullptr;
  }
}

// Holds a GObject reference.
template <typename T>
struct GRef {
  T* p = nullptr;
  GRef() = default;
  explicit GRef(T* adopt) : p(adopt) {}
  GRef(const GRef&) = delete;
  GRef& operator=(const GRef&) = delete;
  GRef(GRef&& o) noexcept : p(o.p) { o.p = nullptr; }
  GRef& operator=(GRef&& o) noexcept {
    std::swap(p, o.p);
    return *this;
  }
  ~GRef() {
    if (p) g_object_unref(p);
  }
};

}  // namespace

const char* toString(TransferOutcome outcome) {
  switch (outcome) {
    case TransferOutcome::Pending: return "Pending";
    case TransferOutcome::Completed: return "Completed";
    case TransferOutcome::Discarded: return "Discarded";
    case TransferOutcome::Failed: return "Failed";
  }
  return "?";
}

// ---------------------------------------------------------------------------

struct UsbStation::Impl {
  // A URB that the host submitted and has not reaped yet.
  struct Urb {
    UMockdevIoctlClient* client;  // identity of the open file only
    GRef<UMockdevIoctlData> data;
    gulong clientAddr;
    std::uint8_t endpoint;
    std::size_t length;
    bool in;
    std::size_t record;  // id of its entry in the record
    bool discarded = false;
    bool held = false;  // a write that the station never accepts
  };

  int index = 0;
  int bus = 1;
  int devnum = 2;
  std::string devnode;   // /dev/bus/usb/BBB/DDD
  std::string nodeFile;  // the same under the testbed's root
  std::string syspath;
  UMockdevTestbed* testbed = nullptr;  // not owned
  GRef<UMockdevIoctlBase> handler;

  StationModel model;

  mutable std::mutex mutex;
  bool failConfig = false;
  bool failClaim = false;
  std::optional<std::size_t> shortRead;
  int writesToFail = 0;
  int writeError = EIO;
  int writesToHold = 0;
  bool isUnplugged = false;
  int configuration = -1;
  struct OpenFile {
    GRef<UMockdevIoctlClient> client;  // held, so that its address stays its own
    std::set<int> claimed;
  };
  std::map<UMockdevIoctlClient*, OpenFile> clients;
  std::set<int> everClaimed;  // claimed and not released by RELEASEINTERFACE
  // The record keeps the latest entries only, so that a long run does not
  // grow without bound; ids count every entry ever made.
  static constexpr std::size_t kRecordLimit = 100000;
  std::deque<WireTransfer> transfers;
  std::size_t firstRecord = 0;  // id of transfers.front()
  std::deque<std::string> ioctls;

  std::size_t addRecordLocked(WireTransfer t) {
    t.id = firstRecord + transfers.size();
    transfers.push_back(std::move(t));
    if (transfers.size() > kRecordLimit) {
      transfers.pop_front();
      ++firstRecord;
    }
    return firstRecord + transfers.size() - 1;
  }
  WireTransfer* recordLocked(std::size_t id) {
    if (id < firstRecord || id - firstRecord >= transfers.size()) return nullptr;  // cleared or dropped
    return &transfers[id - firstRecord];
  }
  std::deque<Urb> urbs;

  static gboolean onIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer self) {
    return static_cast<Impl*>(self)->handle(client) ? TRUE : FALSE;
  }

  static void onConnected(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer self) {
    auto* impl = static_cast<Impl*>(self);
    std::lock_guard lock(impl->mutex);
    impl->trackLocked(client);
  }

  void trackLocked(UMockdevIoctlClient* client) {
    if (clients.count(client)) return;
    auto* held = static_cast<UMockdevIoctlClient*>(g_object_ref(client));
    clients.emplace(client, OpenFile{GRef<UMockdevIoctlClient>(held), {}});
  }

  // Forgets the files that the host has closed, with what the kernel would
  // drop on close: their claims and their URBs. umockdev 0.17 emits no
  // "client-vanished", so the held clients are asked.
  void pruneLocked() {
    for (auto it = clients.begin(); it != clients.end();) {
      if (umockdev_ioctl_client_get_connected(it->first)) {
        ++it;
        continue;
      }
      UMockdevIoctlClient* gone = it->first;
      std::erase_if(urbs, [&](const Urb& u) { return u.client == gone; });
      it = clients.erase(it);
    }
  }

  // Reads the unsigned int that SETCONFIGURATION and the interface ioctls point to.
  static std::optional<unsigned> uintArg(UMockdevIoctlData* arg) {
    UMockdevIoctlData* d = umockdev_ioctl_data_resolve(arg, 0, sizeof(unsigned), nullptr);
    if (!d) return std::nullopt;
    unsigned v;
    std::memcpy(&v, d->data, sizeof v);
    return v;
  }

  bool handle(UMockdevIoctlClient* client) {
    const gulong request = umockdev_ioctl_client_get_request(client);
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    std::unique_lock lock(mutex);
    pruneLocked();
    trackLocked(client);
    const char* name = ioctlName(request);
    ioctls.push_back(name ? name : "0x" + hex({static_cast<std::uint8_t>(request >> 8),
                                                static_cast<std::uint8_t>(request)}));
    if (ioctls.size() > kRecordLimit) ioctls.pop_front();
    if (isUnplugged) {
      umockdev_ioctl_client_complete(client, -1, ENODEV);
      return true;
    }

    switch (request) {
      case USBDEVFS_CONNECTINFO: {
        UMockdevIoctlData* d = umockdev_ioctl_data_resolve(arg, 0, sizeof(usbdevfs_connectinfo), nullptr);
        if (!d) break;
        usbdevfs_connectinfo info{};
        info.devnum = static_cast<unsigned>(devnum);
        info.slow = 0;
        std::memcpy(d->data, &info, sizeof info);
        umockdev_ioctl_client_complete(client, 0, 0);
        return true;
      }
      case USBDEVFS_SETCONFIGURATION: {
        auto value = uintArg(arg);
        if (!value) break;
        if (failConfig) {
          umockdev_ioctl_client_complete(client, -1, EPIPE);
          return true;
        }
        configuration = static_cast<int>(*value);
        umockdev_ioctl_client_complete(client, 0, 0);
        return true;
      }
      case USBDEVFS_CLAIMINTERFACE:
      case USBDEVFS_RELEASEINTERFACE: {
        auto value = uintArg(arg);
        if (!value) break;
        if (request == USBDEVFS_CLAIMINTERFACE) {
          if (failClaim) {
            umockdev_ioctl_client_complete(client, -1, EBUSY);
            return true;
          }
          clients[client].claimed.insert(static_cast<int>(*value));
          everClaimed.insert(static_cast<int>(*value));
        } else {
          clients[client].claimed.erase(static_cast<int>(*value));
          everClaimed.erase(static_cast<int>(*value));
        }
        umockdev_ioctl_client_complete(client, 0, 0);
        return true;
      }
      case USBDEVFS_SUBMITURB:
        return submit(client, arg);
      case USBDEVFS_REAPURB:
      case USBDEVFS_REAPURBNDELAY:
        return reap(client, arg, lock);
      case USBDEVFS_DISCARDURB:
        return discard(client, arg);
      default:
        break;
    }
    // Anything else (the hub query included) is not supported by this device.
    umockdev_ioctl_client_complete(client, -1, ENOTTY);
    return true;
  }

  bool submit(UMockdevIoctlClient* client, UMockdevIoctlData* arg) {
    UMockdevIoctlData* urbData = umockdev_ioctl_data_resolve(arg, 0, sizeof(usbdevfs_urb), nullptr);
    if (!urbData) {
      umockdev_ioctl_client_complete(client, -1, EFAULT);
      return true;
    }
    const auto* urb = reinterpret_cast<const usbdevfs_urb*>(urbData->data);
    if (urb->type != USBDEVFS_URB_TYPE_BULK || urb->buffer_length < 0) {
      umockdev_ioctl_client_complete(client, -1, EINVAL);
      return true;
    }
    WireTransfer t;
    t.station = index;
    t.endpoint = urb->endpoint;
    t.in = (urb->endpoint & 0x80) != 0;
    t.requested = static_cast<std::size_t>(urb->buffer_length);
    t.submitted = Clock::now();

    Urb u{client, GRef<UMockdevIoctlData>(), urbData->client_addr, urb->endpoint, t.requested, t.in, 0};
    if (!t.in) {
      if (writesToFail > 0) {
        --writesToFail;
        t.outcome = TransferOutcome::Failed;
        t.error = writeError;
        t.finished = t.submitted;
        addRecordLocked(std::move(t));
        umockdev_ioctl_client_complete(client, -1, writeError);
        return true;
      }
      if (t.requested > 0) {
        UMockdevIoctlData* buf =
            umockdev_ioctl_data_resolve(urbData, offsetof(usbdevfs_urb, buffer), t.requested, nullptr);
        if (!buf) {
          umockdev_ioctl_client_complete(client, -1, EFAULT);
          return true;
        }
        t.data.assign(buf->data, buf->data + t.requested);
      }
      if (writesToHold > 0) {
        --writesToHold;
        u.held = true;
      } else {
        // The station takes the frame as soon as it is on the wire.
        model.receive(t.data, t.submitted);
      }
    }
    u.data = GRef<UMockdevIoctlData>(static_cast<UMockdevIoctlData*>(g_object_ref(urbData)));
    u.record = addRecordLocked(std::move(t));
    urbs.push_back(std::move(u));
    umockdev_ioctl_client_complete(client, 0, 0);
    return true;
  }

  // libusb-0.1 follows every empty REAPURBNDELAY with a select() of up to
  // 1 ms on the node, which on usbfs sleeps until a URB completes. On the
  // testbed's plain file it returns at once and the host would spin, so the
  // station takes most of that millisecond itself before it says "nothing
  // yet", handing over a reply that became due meanwhile. (This holds up
  // umockdev's thread, and so other open files, for as long.)
  static constexpr auto kEmptyReapWait = std::chrono::microseconds(900);

  bool reap(UMockdevIoctlClient* client, UMockdevIoctlData* arg, std::unique_lock<std::mutex>& lock) {
    if (tryReap(client, arg)) return true;
    lock.unlock();
    std::this_thread::sleep_for(kEmptyReapWait);
    lock.lock();
    if (isUnplugged)
      umockdev_ioctl_client_complete(client, -1, ENODEV);
    else if (!tryReap(client, arg))
      umockdev_ioctl_client_complete(client, -1, EAGAIN);
    return true;
  }

  // Hands back the first URB of this client that is done: a discarded one,
  // an accepted write, or a read whose reply is due. False when none is.
  bool tryReap(UMockdevIoctlClient* client, UMockdevIoctlData* arg) {
    const auto now = Clock::now();
    for (auto it = urbs.begin(); it != urbs.end(); ++it) {
      if (it->client != client) continue;
      int status = 0;
      std::optional<Bytes> reply;
      if (it->discarded) {
        status = -ENOENT;
      } else if (!it->in) {
        if (it->held) continue;
      } else {
        reply = model.takeReply(it->endpoint, now);
        if (!reply) continue;
        if (shortRead) {
          reply->resize(std::min(reply->size(), *shortRead));
          shortRead.reset();
        }
        if (reply->size() > it->length) reply->resize(it->length);
      }
      finish(client, arg, it, status, reply, now);
      return true;
    }
    return false;
  }

  void finish(UMockdevIoctlClient* client, UMockdevIoctlData* arg, std::deque<Urb>::iterator it, int status,
              const std::optional<Bytes>& reply, Clock::time_point now) {
    UMockdevIoctlData* urbData = it->data.p;
    WireTransfer* t = recordLocked(it->record);
    int actual = 0;
    if (reply && !reply->empty()) {
      UMockdevIoctlData* buf =
          umockdev_ioctl_data_resolve(urbData, offsetof(usbdevfs_urb, buffer), it->length, nullptr);
      if (buf) std::memcpy(buf->data, reply->data(), reply->size());
      actual = static_cast<int>(reply->size());
      if (t) t->data = *reply;
    } else if (!it->in && !it->discarded) {
      actual = static_cast<int>(it->length);
    }
    auto* urb = reinterpret_cast<usbdevfs_urb*>(urbData->data);
    urb->status = status;
    urb->actual_length = actual;

    UMockdevIoctlData* slot = umockdev_ioctl_data_resolve(arg, 0, sizeof(void*), nullptr);
    if (!slot) {
      umockdev_ioctl_client_complete(client, -1, EFAULT);
      return;
    }
    umockdev_ioctl_data_set_ptr(slot, 0, urbData);
    if (t && !it->discarded) {
      t->outcome = TransferOutcome::Completed;
      t->finished = now;
    }
    urbs.erase(it);
    umockdev_ioctl_client_complete(client, 0, 0);
  }

  bool discard(UMockdevIoctlClient* client, UMockdevIoctlData* arg) {
    gulong addr = 0;
    std::memcpy(&addr, arg->data, std::min<std::size_t>(sizeof addr, static_cast<std::size_t>(arg->data_len)));
    for (Urb& u : urbs) {
      if (u.client == client && u.clientAddr == addr && !u.discarded) {
        u.discarded = true;
        if (WireTransfer* t = recordLocked(u.record)) {
          t->outcome = TransferOutcome::Discarded;
          t->finished = Clock::now();
        }
        umockdev_ioctl_client_complete(client, 0, 0);
        return true;
      }
    }
    umockdev_ioctl_client_complete(client, -1, EINVAL);
    return true;
  }
};

UsbStation::UsbStation(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
UsbStation::~UsbStation() = default;

StationModel& UsbStation::model() { return impl_->model; }
int UsbStation::index() const { return impl_->index; }
int UsbStation::busNumber() const { return impl_->bus; }
int UsbStation::deviceNumber() const { return impl_->devnum; }
std::string UsbStation::devnode() const { return impl_->devnode; }

void UsbStation::failSetConfiguration(bool fail) {
  std::lock_guard lock(impl_->mutex);
  impl_->failConfig = fail;
}

void UsbStation::failClaimInterface(bool fail) {
  std::lock_guard lock(impl_->mutex);
  impl_->failClaim = fail;
}

void UsbStation::shortReadNext(std::size_t bytes) {
  std::lock_guard lock(impl_->mutex);
  impl_->shortRead = bytes;
}

void UsbStation::failNextWrites(int count, int error) {
  std::lock_guard lock(impl_->mutex);
  impl_->writesToFail = count;
  impl_->writeError = error;
}

void UsbStation::timeOutNextWrites(int count) {
  std::lock_guard lock(impl_->mutex);
  impl_->writesToHold = count;
}

void UsbStation::unplug() {
  std::lock_guard lock(impl_->mutex);
  if (impl_->isUnplugged) return;
  impl_->isUnplugged = true;
  // The testbed keeps a removed device's node: delete it ourselves.
  umockdev_testbed_remove_device(impl_->testbed, impl_->syspath.c_str());
  ::unlink(impl_->nodeFile.c_str());
}

bool UsbStation::unplugged() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->isUnplugged;
}

int UsbStation::configuration() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->configuration;
}

bool UsbStation::interfaceClaimed(int number) const {
  std::lock_guard lock(impl_->mutex);
  return impl_->everClaimed.count(number) != 0;
}

bool UsbStation::interfaceHeld(int number) const {
  std::lock_guard lock(impl_->mutex);
  impl_->pruneLocked();
  return std::any_of(impl_->clients.begin(), impl_->clients.end(),
                     [&](const auto& c) { return c.second.claimed.count(number) != 0; });
}

int UsbStation::openCount() const {
  std::lock_guard lock(impl_->mutex);
  impl_->pruneLocked();
  return static_cast<int>(impl_->clients.size());
}

bool UsbStation::waitForOpenCount(int count, std::chrono::milliseconds timeout) const {
  const auto end = Clock::now() + timeout;
  for (;;) {
    if (openCount() == count) return true;
    if (Clock::now() >= end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

std::vector<WireTransfer> UsbStation::transfers() const {
  std::lock_guard lock(impl_->mutex);
  return {impl_->transfers.begin(), impl_->transfers.end()};
}

std::vector<WireTransfer> UsbStation::transfersFrom(std::size_t firstId) const {
  std::lock_guard lock(impl_->mutex);
  const std::size_t skip = firstId > impl_->firstRecord ? firstId - impl_->firstRecord : 0;
  if (skip >= impl_->transfers.size()) return {};
  return {impl_->transfers.begin() + static_cast<std::ptrdiff_t>(skip), impl_->transfers.end()};
}

std::vector<std::string> UsbStation::ioctls() const {
  std::lock_guard lock(impl_->mutex);
  return {impl_->ioctls.begin(), impl_->ioctls.end()};
}

void UsbStation::clearRecord() {
  std::lock_guard lock(impl_->mutex);
  impl_->firstRecord += impl_->transfers.size();
  impl_->transfers.clear();
  impl_->ioctls.clear();
}

// ---------------------------------------------------------------------------

struct UsbTestbed::Impl {
  GRef<UMockdevTestbed> testbed;
  std::string root;
  std::vector<std::unique_ptr<UsbStation>> stations;
  // libusb-0.1 keeps the devices of an earlier scan by file name, so a
  // number is never given out twice in one process (1 would be the root hub).
  static int takeDevnum() {
    static std::atomic<int> next{0};
    return 2 + next++ % 998;
  }

  // Bus numbers are new to the process for the same reason: libusb-0.1 puts
  // the busses it has not seen before ahead of those it knows, so a bus
  // name reused from an earlier testbed would change the walk order.
  std::map<int, int> busNumbers;  // the caller's bus -> the testbed's
  int realBus(int bus) {
    static std::atomic<int> next{0};
    auto [it, inserted] = busNumbers.try_emplace(bus, 0);
    if (inserted) it->second = 1 + next++ % 999;
    return it->second;
  }

  void addDevice(int bus, int devnum, const Bytes& desc, std::uint16_t vendor, std::uint16_t product,
                 std::string& syspathOut) {
    const std::string b = threeDigits(bus), d = threeDigits(devnum);
    char ids[32];
    std::snprintf(ids, sizeof ids, "%04x:%04x", vendor, product);
    const std::string sys = "/devices/usb" + std::to_string(bus) + "/" + std::to_string(bus) + "-" +
                            std::to_string(devnum);
    char idv[8], idp[8];
    std::snprintf(idv, sizeof idv, "%04x", vendor);
    std::snprintf(idp, sizeof idp, "%04x", product);
    const std::string record = "P: " + sys + "\n" +
                               "N: bus/usb/" + b + "/" + d + "=" + hex(desc) + "\n" +
                               "E: SUBSYSTEM=usb\n"
                               "E: DEVTYPE=usb_device\n"
                               "E: DEVNAME=/dev/bus/usb/" + b + "/" + d + "\n"
                               "E: BUSNUM=" + b + "\n"
                               "E: DEVNUM=" + d + "\n"
                               "E: PRODUCT=" + ids + "\n"
                               "A: idVendor=" + idv + "\n"
                               "A: idProduct=" + idp + "\n"
                               "A: busnum=" + std::to_string(bus) + "\n"
                               "A: devnum=" + std::to_string(devnum) + "\n"
                               "A: bConfigurationValue=1\n"
                               "H: descriptors=" + hex(desc) + "\n";
    GError* error = nullptr;
    if (!umockdev_testbed_add_from_string(testbed.p, record.c_str(), &error)) {
      std::string msg = error ? error->message : "unknown error";
      if (error) g_error_free(error);
      throw std::runtime_error("umockdev: cannot add " + sys + ": " + msg);
    }
    syspathOut = "/sys" + sys;
  }
};

UsbTestbed::UsbTestbed() : impl_(std::make_unique<Impl>()) {
  impl_->testbed = GRef<UMockdevTestbed>(umockdev_testbed_new());
  if (!impl_->testbed.p) throw std::runtime_error("umockdev: cannot create a testbed");
  gchar* root = umockdev_testbed_get_root_dir(impl_->testbed.p);
  impl_->root = root;
  g_free(root);
}

UsbTestbed::~UsbTestbed() {
  for (auto& s : impl_->stations) {
    UsbStation::Impl& st = *s->impl_;
    umockdev_testbed_detach_ioctl(impl_->testbed.p, st.devnode.c_str(), nullptr);
    g_signal_handlers_disconnect_by_data(st.handler.p, &st);
  }
  impl_->stations.clear();
  impl_->testbed = GRef<UMockdevTestbed>();
}

UsbStation& UsbTestbed::addStation(int bus) {
  auto impl = std::make_unique<UsbStation::Impl>();
  impl->index = static_cast<int>(impl_->stations.size());
  impl->bus = impl_->realBus(bus);
  impl->devnum = Impl::takeDevnum();
  impl->devnode = "/dev/bus/usb/" + threeDigits(impl->bus) + "/" + threeDigits(impl->devnum);
  impl->nodeFile = impl_->root + impl->devnode;
  impl->testbed = impl_->testbed.p;
  impl->handler = GRef<UMockdevIoctlBase>(umockdev_ioctl_base_new());
  g_signal_connect(impl->handler.p, "handle-ioctl", G_CALLBACK(&UsbStation::Impl::onIoctl), impl.get());
  g_signal_connect(impl->handler.p, "client-connected", G_CALLBACK(&UsbStation::Impl::onConnected), impl.get());

  // The handler is attached first, so that no one opens the node without it.
  GError* error = nullptr;
  if (!umockdev_testbed_attach_ioctl(impl_->testbed.p, impl->devnode.c_str(), impl->handler.p, &error)) {
    std::string msg = error ? error->message : "unknown error";
    if (error) g_error_free(error);
    throw std::runtime_error("umockdev: cannot attach to " + impl->devnode + ": " + msg);
  }
  impl_->addDevice(impl->bus, impl->devnum, descriptors(kStationVendor, kStationProduct, true), kStationVendor,
                   kStationProduct, impl->syspath);
  impl_->stations.push_back(std::unique_ptr<UsbStation>(new UsbStation(std::move(impl))));
  return *impl_->stations.back();
}

void UsbTestbed::addOtherDevice(std::uint16_t vendor, std::uint16_t product, int bus) {
  std::string syspath;
  impl_->addDevice(impl_->realBus(bus), Impl::takeDevnum(), descriptors(vendor, product, false), vendor, product, syspath);
}

UsbStation& UsbTestbed::station(int index) { return *impl_->stations.at(static_cast<std::size_t>(index)); }

std::size_t UsbTestbed::stationCount() const { return impl_->stations.size(); }

std::vector<WireTransfer> UsbTestbed::transfers() const {
  std::vector<WireTransfer> all;
  for (const auto& s : impl_->stations) {
    auto t = s->transfers();
    all.insert(all.end(), t.begin(), t.end());
  }
  std::stable_sort(all.begin(), all.end(),
                   [](const WireTransfer& a, const WireTransfer& b) { return a.submitted < b.submitted; });
  return all;
}

namespace {

std::vector<std::string> directoryEntries(const std::string& path) {
  std::vector<std::string> out;
  DIR* dir = ::opendir(path.c_str());
  if (!dir) return out;
  while (dirent* e = ::readdir(dir))
    if (e->d_name[0] != '.') out.emplace_back(e->d_name);
  ::closedir(dir);
  return out;
}

}  // namespace

std::vector<int> UsbTestbed::walkOrder() const {
  std::vector<int> order;
  const std::string usb = impl_->root + "/dev/bus/usb";
  for (const std::string& bus : directoryEntries(usb)) {
    for (const std::string& dev : directoryEntries(usb + "/" + bus)) {
      const std::string node = "/dev/bus/usb/" + bus + "/" + dev;
      for (const auto& s : impl_->stations)
        if (s->devnode() == node && !s->unplugged()) order.push_back(s->index());
    }
  }
  return order;
}

std::string UsbTestbed::rootDir() const { return impl_->root; }

std::vector<std::pair<std::string, std::string>> UsbTestbed::childEnvironment() const {
  // A child built with AddressSanitizer refuses to start behind the preload
  // unless told otherwise; other programs ignore the variable.
  std::string asan = "verify_asan_link_order=0";
  if (const char* have = std::getenv("ASAN_OPTIONS"); have && *have) {
    const std::string options = have;
    asan = options.find("verify_asan_link_order") != std::string::npos ? options : options + ":" + asan;
  }
  return {{"UMOCKDEV_DIR", impl_->root}, {"LD_PRELOAD", "libumockdev-preload.so.0"}, {"ASAN_OPTIONS", asan}};
}

}  // namespace vesksim
