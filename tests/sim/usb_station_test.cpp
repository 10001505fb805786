// The simulated station behind the real libusb-0.1: what a program that
// uses libusb sees, and what the station records of it.
#include "usb_station.h"

#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <usb.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>

extern char** environ;

using namespace vesksim;
using namespace std::chrono_literals;

namespace {

struct Closer {
  void operator()(usb_dev_handle* h) const { usb_close(h); }
};
using Handle = std::unique_ptr<usb_dev_handle, Closer>;

// A fresh scan, as every program does before it walks the bus. usb_init()
// looks for /dev/bus/usb, so it must come after the stations are added.
void scan() {
  usb_init();
  usb_find_busses();
  usb_find_devices();
}

struct usb_device* findDevice(const UsbStation& station) {
  scan();
  for (struct usb_bus* bus = usb_get_busses(); bus; bus = bus->next)
    for (struct usb_device* dev = bus->devices; dev; dev = dev->next)
      if (std::atoi(bus->dirname) == station.busNumber() && std::atoi(dev->filename) == station.deviceNumber())
        return dev;
  return nullptr;
}

std::vector<std::string> listedIds() {
  scan();
  std::vector<std::string> ids;
  for (struct usb_bus* bus = usb_get_busses(); bus; bus = bus->next)
    for (struct usb_device* dev = bus->devices; dev; dev = dev->next) {
      char id[16];
      std::snprintf(id, sizeof id, "%04x:%04x", dev->descriptor.idVendor, dev->descriptor.idProduct);
      ids.emplace_back(id);
    }
  return ids;
}

Frame frameTo(std::uint16_t address, std::uint8_t msgId) {
  Frame f{};
  f[0] = 2;
  f[4] = f[kPayloadOffset] = static_cast<std::uint8_t>(address);
  f[5] = f[kPayloadOffset + 1] = static_cast<std::uint8_t>(address >> 8);
  f[kPayloadOffset + 3] = msgId;
  f[kPayloadOffset + 4] = 4;
  f[kPayloadOffset + 6] = 0x3A;
  return f;
}

int write(usb_dev_handle* h, const Frame& f, int timeout = 100) {
  return usb_bulk_write(h, 5, reinterpret_cast<char*>(const_cast<std::uint8_t*>(f.data())), kFrameSize, timeout);
}

int read(usb_dev_handle* h, int endpoint, Frame& out, int timeout = 10) {
  return usb_bulk_read(h, endpoint, reinterpret_cast<char*>(out.data()), kFrameSize, timeout);
}

class UsbStationTest : public ::testing::Test {
 protected:
  UsbTestbed bed;

  Handle open(UsbStation& station) {
    struct usb_device* dev = findDevice(station);
    if (!dev) return nullptr;
    return Handle(usb_open(dev));
  }
  Handle openClaimed(UsbStation& station) {
    Handle h = open(station);
    if (h && (usb_set_configuration(h.get(), 1) != 0 || usb_claim_interface(h.get(), 1) != 0)) h.reset();
    return h;
  }
};

TEST_F(UsbStationTest, StationIsListedConfiguredAndClaimed) {
  bed.addOtherDevice(0x046d, 0xc52b);
  UsbStation& station = bed.addStation();

  struct usb_device* dev = findDevice(station);
  ASSERT_NE(dev, nullptr);
  EXPECT_EQ(dev->descriptor.idVendor, 0x1234);
  EXPECT_EQ(dev->descriptor.idProduct, 0x1236);
  ASSERT_EQ(dev->descriptor.bNumConfigurations, 1);
  const usb_config_descriptor& config = dev->config[0];
  EXPECT_EQ(config.bConfigurationValue, 1);
  ASSERT_EQ(config.bNumInterfaces, 1);
  const usb_interface_descriptor& iface = config.interface[0].altsetting[0];
  EXPECT_EQ(iface.bInterfaceNumber, 1);
  ASSERT_EQ(iface.bNumEndpoints, 3);
  EXPECT_EQ(iface.endpoint[0].bEndpointAddress, 0x05);
  EXPECT_EQ(iface.endpoint[1].bEndpointAddress, 0x82);
  EXPECT_EQ(iface.endpoint[2].bEndpointAddress, 0x83);
  EXPECT_EQ(iface.endpoint[0].bmAttributes, USB_ENDPOINT_TYPE_BULK);
  EXPECT_EQ(dev->devnum, station.deviceNumber());  // from CONNECTINFO

  auto ids = listedIds();
  EXPECT_NE(std::find(ids.begin(), ids.end(), "046d:c52b"), ids.end());

  Handle h = open(station);
  ASSERT_TRUE(h);
  EXPECT_TRUE(station.waitForOpenCount(1));
  EXPECT_EQ(station.configuration(), -1);
  EXPECT_EQ(usb_set_configuration(h.get(), 1), 0);
  EXPECT_EQ(usb_claim_interface(h.get(), 1), 0);
  EXPECT_EQ(station.configuration(), 1);
  EXPECT_TRUE(station.interfaceClaimed(1));
  EXPECT_EQ(usb_release_interface(h.get(), 1), 0);
  EXPECT_FALSE(station.interfaceClaimed(1));

  // Closing releases what the handle held; the record of the claim stays.
  EXPECT_EQ(usb_claim_interface(h.get(), 1), 0);
  EXPECT_TRUE(station.interfaceHeld(1));
  h.reset();
  EXPECT_TRUE(station.waitForOpenCount(0));
  EXPECT_FALSE(station.interfaceHeld(1));
  EXPECT_TRUE(station.interfaceClaimed(1));
}

TEST_F(UsbStationTest, FailingConfigurationOrClaim) {
  struct Case {
    const char* name;
    bool failConfig, failClaim;
    int configResult, claimResult;
  };
  const Case cases[] = {
      {"configuration fails", true, false, -EPIPE, 0},
      {"claim fails", false, true, 0, -EBUSY},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    UsbStation& station = bed.addStation();
    station.failSetConfiguration(c.failConfig);
    station.failClaimInterface(c.failClaim);
    Handle h = open(station);
    ASSERT_TRUE(h);
    EXPECT_EQ(usb_set_configuration(h.get(), 1), c.configResult);
    EXPECT_EQ(usb_claim_interface(h.get(), 1), c.claimResult);
    EXPECT_EQ(station.interfaceClaimed(1), !c.failClaim);
  }
}

TEST_F(UsbStationTest, WriteReachesTheModelAndTheAckComesBack) {
  UsbStation& station = bed.addStation();
  station.model().addDisplay(1001);
  Handle h = openClaimed(station);
  ASSERT_TRUE(h);

  const Frame f = frameTo(1001, 42);
  EXPECT_EQ(write(h.get(), f), 128);
  auto received = station.model().lastFrame();
  ASSERT_TRUE(received);
  EXPECT_EQ(received->bytes, f);
  EXPECT_EQ(station.model().display(1001).screen.kind, ScreenKind::Flag);

  Frame reply{};
  ASSERT_EQ(read(h.get(), 0x82, reply), 128);
  EXPECT_EQ(payloadU32(reply, 0), 1001u);
  EXPECT_EQ(reply[kPayloadOffset + 4], 42);
  EXPECT_EQ(reply[kPayloadOffset + 6], 0);

  auto wire = station.transfers();
  ASSERT_EQ(wire.size(), 2u);
  EXPECT_EQ(wire[0].endpoint, 0x05);
  EXPECT_FALSE(wire[0].in);
  EXPECT_EQ(wire[0].data, Bytes(f.begin(), f.end()));
  EXPECT_EQ(wire[0].outcome, TransferOutcome::Completed);
  EXPECT_EQ(wire[1].endpoint, 0x82);
  EXPECT_TRUE(wire[1].in);
  EXPECT_EQ(wire[1].requested, 128u);
  EXPECT_EQ(wire[1].data, Bytes(reply.begin(), reply.end()));
  EXPECT_LE(wire[0].finished, wire[1].submitted);

  // A reader that follows the wire picks up where it left off, also after
  // the record was cleared.
  station.clearRecord();
  ASSERT_EQ(write(h.get(), f), 128);
  auto later = station.transfersFrom(wire[1].id + 1);
  ASSERT_EQ(later.size(), 1u);
  EXPECT_EQ(later[0].id, wire[1].id + 1);
  EXPECT_TRUE(station.transfersFrom(later[0].id + 1).empty());
}

TEST_F(UsbStationTest, EachInEndpointServesItsOwnQueue) {
  UsbStation& station = bed.addStation();
  Handle h = openClaimed(station);
  ASSERT_TRUE(h);
  station.model().queuePanelEvent(7);
  Frame reply{};
  EXPECT_EQ(read(h.get(), 0x82, reply), -ETIMEDOUT);  // the panel event waits on 0x83
  ASSERT_EQ(read(h.get(), 0x83, reply), 128);
  EXPECT_EQ(reply[kPayloadOffset + 5], 7);
  EXPECT_EQ(reply[kPayloadOffset + 25], 0x37);
}

TEST_F(UsbStationTest, NothingWaitingTimesOutAfterTheHostsTimeout) {
  UsbStation& station = bed.addStation();
  Handle h = openClaimed(station);
  ASSERT_TRUE(h);
  for (int timeout : {10, 100}) {
    SCOPED_TRACE(timeout);
    station.clearRecord();
    Frame reply{};
    reply.fill(0x5A);
    const auto t0 = Clock::now();
    EXPECT_EQ(read(h.get(), 0x82, reply, timeout), -ETIMEDOUT);
    const auto elapsed = Clock::now() - t0;
    EXPECT_GE(elapsed, std::chrono::milliseconds(timeout));
    EXPECT_LT(elapsed, 2s);  // only catches a hang
    EXPECT_EQ(reply[0], 0x5A);  // nothing written into the buffer

    auto wire = station.transfers();
    ASSERT_EQ(wire.size(), 1u);
    EXPECT_EQ(wire[0].outcome, TransferOutcome::Discarded);
    // Seen from the station, which learns of the URB a little after libusb
    // started its clock.
    EXPECT_GE(wire[0].elapsed(), std::chrono::milliseconds(timeout) - 1ms);
    auto ioctls = station.ioctls();
    ASSERT_GE(ioctls.size(), 3u);
    EXPECT_EQ(ioctls.front(), "SUBMITURB");
    EXPECT_EQ(ioctls[ioctls.size() - 2], "DISCARDURB");
    EXPECT_EQ(ioctls.back(), "REAPURB");
    // The host waits about a millisecond between polls, as on usbfs, and
    // does not spin through its time-out.
    const auto polls = std::count(ioctls.begin(), ioctls.end(), "REAPURBNDELAY");
    EXPECT_LE(polls, timeout + timeout / 2 + 2);
  }
}

TEST_F(UsbStationTest, LateAckIsReadableOnlyAfterItsDelay) {
  UsbStation& station = bed.addStation();
  station.model().addDisplay(1001);
  station.model().setAckDelay(1001, 50ms);
  Handle h = openClaimed(station);
  ASSERT_TRUE(h);
  const auto written = Clock::now();
  ASSERT_EQ(write(h.get(), frameTo(1001, 9)), 128);
  Frame reply{};
  EXPECT_EQ(read(h.get(), 0x82, reply), -ETIMEDOUT);
  int got = -ETIMEDOUT;
  while (got != 128 && Clock::now() - written < 2s) got = read(h.get(), 0x82, reply);
  ASSERT_EQ(got, 128);
  EXPECT_GE(Clock::now() - written, 50ms);
  EXPECT_EQ(reply[kPayloadOffset + 4], 9);
}

TEST_F(UsbStationTest, ShortReadDeliversFewerBytesOnce) {
  UsbStation& station = bed.addStation();
  Handle h = openClaimed(station);
  ASSERT_TRUE(h);
  station.model().queueEvent(1, 0x10, 1001);
  station.model().queueEvent(2, 0x10, 1001);
  station.shortReadNext(60);
  Frame reply{};
  EXPECT_EQ(read(h.get(), 0x82, reply), 60);
  EXPECT_EQ(read(h.get(), 0x82, reply), 128);
  EXPECT_EQ(reply[kPayloadOffset + 5], 2);
  EXPECT_EQ(station.transfers()[0].data.size(), 60u);
}

TEST_F(UsbStationTest, FailedAndUnacceptedWrites) {
  UsbStation& station = bed.addStation();
  Handle h = openClaimed(station);
  ASSERT_TRUE(h);

  station.failNextWrites(1, EIO);
  EXPECT_EQ(write(h.get(), frameTo(1001, 1)), -EIO);

  station.timeOutNextWrites(1);
  const auto t0 = Clock::now();
  EXPECT_EQ(write(h.get(), frameTo(1001, 2)), -ETIMEDOUT);
  EXPECT_GE(Clock::now() - t0, 100ms);

  EXPECT_EQ(write(h.get(), frameTo(1001, 3)), 128);
  auto frames = station.model().frames();
  ASSERT_EQ(frames.size(), 1u);  // only the accepted one reached the station
  EXPECT_EQ(frames[0].bytes[kPayloadOffset + 3], 3);

  auto wire = station.transfers();
  ASSERT_EQ(wire.size(), 3u);
  EXPECT_EQ(wire[0].outcome, TransferOutcome::Failed);
  EXPECT_EQ(wire[0].error, EIO);
  EXPECT_EQ(wire[1].outcome, TransferOutcome::Discarded);
  EXPECT_GE(wire[1].elapsed(), 99ms);
  EXPECT_EQ(wire[2].outcome, TransferOutcome::Completed);
}

TEST_F(UsbStationTest, TwoStationsKeepTheirOwnTraffic) {
  UsbStation& a = bed.addStation();
  UsbStation& b = bed.addStation();
  UsbStation& c = bed.addStation(2);
  a.model().addDisplay(1);
  b.model().addDisplay(2);

  // The walk order that the testbed predicts is the one libusb lists.
  scan();
  std::vector<int> listed;
  for (struct usb_bus* bus = usb_get_busses(); bus; bus = bus->next)
    for (struct usb_device* dev = bus->devices; dev; dev = dev->next)
      for (UsbStation* s : {&a, &b, &c})
        if (std::atoi(bus->dirname) == s->busNumber() && std::atoi(dev->filename) == s->deviceNumber())
          listed.push_back(s->index());
  EXPECT_EQ(listed, bed.walkOrder());

  Handle ha = openClaimed(a), hb = openClaimed(b);
  ASSERT_TRUE(ha && hb);
  ASSERT_EQ(write(hb.get(), frameTo(2, 20)), 128);
  ASSERT_EQ(write(ha.get(), frameTo(1, 10)), 128);
  Frame reply{};
  ASSERT_EQ(read(ha.get(), 0x82, reply), 128);
  EXPECT_EQ(reply[kPayloadOffset + 4], 10);
  ASSERT_EQ(read(hb.get(), 0x82, reply), 128);
  EXPECT_EQ(reply[kPayloadOffset + 4], 20);
  EXPECT_EQ(a.model().frameCount(), 1u);
  EXPECT_EQ(b.model().frameCount(), 1u);

  auto all = bed.transfers();
  ASSERT_EQ(all.size(), 4u);
  EXPECT_EQ(all[0].station, b.index());
  EXPECT_EQ(all[1].station, a.index());
}

TEST_F(UsbStationTest, UnpluggedStationIsGone) {
  UsbStation& a = bed.addStation();
  UsbStation& b = bed.addStation();
  Handle h = openClaimed(a);
  ASSERT_TRUE(h);
  a.unplug();
  EXPECT_EQ(findDevice(a), nullptr);
  EXPECT_NE(findDevice(b), nullptr);
  EXPECT_LT(write(h.get(), frameTo(1, 1)), 0);
  EXPECT_EQ(a.model().frameCount(), 0u);
  EXPECT_EQ(bed.walkOrder(), std::vector<int>{b.index()});
}

TEST_F(UsbStationTest, ChildProcessReachesTheSameStation) {
  UsbStation& station = bed.addStation();
  station.model().addDisplay(4242);

  std::vector<std::string> env;
  for (char** e = environ; *e; ++e)
    if (std::strncmp(*e, "UMOCKDEV_DIR=", 13) != 0 && std::strncmp(*e, "LD_PRELOAD=", 11) != 0 &&
        std::strncmp(*e, "ASAN_OPTIONS=", 13) != 0)
      env.emplace_back(*e);
  for (const auto& [name, value] : bed.childEnvironment()) env.push_back(name + "=" + value);
  std::vector<char*> envp;
  for (auto& s : env) envp.push_back(s.data());
  envp.push_back(nullptr);

  int out[2];
  ASSERT_EQ(pipe(out), 0);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_addclose(&actions, out[0]);
  std::string probe = SIM_USB_PROBE;
  char* argv[] = {probe.data(), const_cast<char*>("4242"), const_cast<char*>("77"), nullptr};
  pid_t pid;
  ASSERT_EQ(posix_spawn(&pid, argv[0], &actions, nullptr, argv, envp.data()), 0);
  posix_spawn_file_actions_destroy(&actions);
  close(out[1]);
  std::string printed;
  char buf[256];
  for (ssize_t n; (n = ::read(out[0], buf, sizeof buf)) > 0;) printed.append(buf, static_cast<std::size_t>(n));
  close(out[0]);
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << printed;
  EXPECT_EQ(printed, "wrote 128 ack 4242 77\n");
  EXPECT_EQ(station.model().display(4242).lastMsgId, 77);
}

}  // namespace
