// The simulated base station on a umockdev testbed, behind the real
// libusb-0.1.
//
// A UsbTestbed makes a umockdev testbed with one usbfs node per station
// (/dev/bus/usb/BBB/DDD, holding its device and configuration descriptors)
// and answers the usbfs ioctls that libusb-0.1 issues on it: bulk writes on
// endpoint 5 go to the station's StationModel, bulk reads on 0x82 and 0x83
// are served from the model's reply queues. A read with nothing due never
// completes, so libusb's own time-out ends it (DISCARDURB, then REAPURB, and
// the call returns -110).
//
// libusb-0.1's usb_init() looks for /dev/bus/usb, and its scans search only
// where the last usb_init() looked: a station added after the host's
// usb_init() is found only after the next usb_init().
//
// The process that uses libusb must run under the umockdev preload
// (LD_PRELOAD=libumockdev-preload.so.0; vesk_add_usb_test() in
// sim/CMakeLists.txt registers test binaries that way). The ioctl handlers
// run on umockdev's own thread: no main loop of the test is needed, and the
// model and the wire record may be read from the test's thread at any time.
// Only one UsbTestbed should exist at a time (umockdev sets UMOCKDEV_DIR for
// the whole process).
//
//   vesksim::UsbTestbed bed;
//   vesksim::UsbStation& station = bed.addStation();
//   station.model().addDisplay(1001);             // answers frames to address 1001
//   int conn = InitDevice();                      // the host's usb_init() comes after
//   sendFlag(conn, 1001, 3);
//   auto writes = station.transfers();            // endpoint, bytes, timestamps
//   EXPECT_EQ(station.model().display(1001).screen.picture, 4);
//   station.model().queueEvent(5, 0x10, 1001);    // read by the next poll of 0x82
//   station.shortReadNext(60);                    // ... but only 60 bytes of it
#pragma once

#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "station_model.h"

namespace vesksim {

enum class TransferOutcome {
  Pending,    // submitted, not yet reaped
  Completed,  // reaped with data (IN) or accepted (OUT)
  Discarded,  // libusb gave up on it (its time-out): DISCARDURB
  Failed,     // SUBMITURB refused (see failNextWrites)
};

// One bulk transfer as it crossed the wire.
struct WireTransfer {
  std::size_t id = 0;          // per station: 0, 1, ... in order of submit, never reused
  int station = 0;             // UsbStation::index()
  std::uint8_t endpoint = 0;   // as the URB names it: 0x05, 0x82, 0x83
  bool in = false;             // direction, from the endpoint's bit 7
  std::size_t requested = 0;   // buffer length of the URB
  Bytes data;                  // bytes written (OUT) or handed to the host (IN)
  TransferOutcome outcome = TransferOutcome::Pending;
  int error = 0;               // errno of a refused submit
  Clock::time_point submitted;  // SUBMITURB seen
  Clock::time_point finished;   // handed back by REAPURB(NDELAY), or DISCARDURB seen
  // The URB does not carry libusb's time-out; for a discarded transfer the
  // time from submit to discard stands for it. libusb starts its clock just
  // before SUBMITURB and polls every millisecond, so this is the time-out
  // give or take about a millisecond.
  std::chrono::microseconds elapsed() const {
    return std::chrono::duration_cast<std::chrono::microseconds>(finished - submitted);
  }
};

const char* toString(TransferOutcome outcome);

class UsbTestbed;

class UsbStation {
 public:
  ~UsbStation();
  UsbStation(const UsbStation&) = delete;
  UsbStation& operator=(const UsbStation&) = delete;

  StationModel& model();
  int index() const;  // 0, 1, ... in order of addStation()
  int busNumber() const;
  int deviceNumber() const;
  std::string devnode() const;  // "/dev/bus/usb/001/002"

  // Faults on demand.
  void failSetConfiguration(bool fail = true);  // SETCONFIGURATION -> -1, EPIPE
  void failClaimInterface(bool fail = true);    // CLAIMINTERFACE -> -1, EBUSY
  void shortReadNext(std::size_t bytes);        // the next IN transfer that completes carries only this many bytes
  void failNextWrites(int count, int error = EIO);  // the next `count` SUBMITURBs on endpoint 5 fail with `error`
  // The next `count` writes on endpoint 5 are taken but never completed (the
  // station does not accept them), so libusb's write time-out ends them; the
  // model does not see them.
  void timeOutNextWrites(int count);
  // Unplugs the station: its node is deleted (a later scan no longer lists
  // it) and every ioctl on a handle still open fails with ENODEV (and is not
  // recorded as a transfer).
  void unplug();
  bool unplugged() const;

  // What the host did.
  int configuration() const;              // last value set, -1 before any
  // Claimed by the host and not released with RELEASEINTERFACE; closing the
  // file does not clear it.
  bool interfaceClaimed(int number) const;
  // Claimed by a file that is still open (a close releases its claims).
  bool interfaceHeld(int number) const;
  // Files open on the node (usb_open to usb_close; a scan opens and closes
  // each node too). umockdev reports a close on its own thread a little
  // later: wait for the count rather than reading it once.
  int openCount() const;
  bool waitForOpenCount(int count, std::chrono::milliseconds timeout = std::chrono::seconds(2)) const;
  // The record keeps the latest 100000 transfers and ioctls.
  std::vector<WireTransfer> transfers() const;       // this station's, in order of submit
  // Those with an id of at least `firstId`, for a reader that follows the
  // wire as it goes (an entry still Pending may change later).
  std::vector<WireTransfer> transfersFrom(std::size_t firstId) const;
  std::vector<std::string> ioctls() const;           // names of the ioctls seen ("SUBMITURB", ...)
  void clearRecord();                                // forgets transfers and ioctls (also those in flight)

 private:
  friend class UsbTestbed;
  struct Impl;
  explicit UsbStation(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
};

class UsbTestbed {
 public:
  UsbTestbed();  // an empty bus; throws std::runtime_error when umockdev fails
  ~UsbTestbed();
  UsbTestbed(const UsbTestbed&) = delete;
  UsbTestbed& operator=(const UsbTestbed&) = delete;

  // A base station (vendor 0x1234, product 0x1236) on bus `bus` with the next
  // free device number. The reference stays valid as long as the testbed.
  // `bus` names a bus of this testbed; its number on the wire
  // (busNumber()) and the device numbers are never reused in the process,
  // so that libusb-0.1, which keeps what it saw in earlier scans by name,
  // takes every device of a new testbed as new.
  UsbStation& addStation(int bus = 1);
  // A device with other ids (one configuration, no ioctl handler), so that
  // a device walk has something to skip.
  void addOtherDevice(std::uint16_t vendor, std::uint16_t product, int bus = 1);

  UsbStation& station(int index);
  std::size_t stationCount() const;

  // Station indices in the order in which libusb-0.1 lists them (busses,
  // then each bus's devices) on its first scan of this testbed: the order
  // of the directory entries, which is not the order of addStation().
  // Devices that appear after a scan are listed ahead of those that libusb
  // already knew, so add every device before the host's first scan.
  std::vector<int> walkOrder() const;

  // Every station's transfers, in order of submit.
  std::vector<WireTransfer> transfers() const;

  // The testbed's root folder, and the environment that a child process
  // needs to reach the same stations: UMOCKDEV_DIR, LD_PRELOAD, and
  // ASAN_OPTIONS with verify_asan_link_order=0 (added to the options this
  // process has) for children built with AddressSanitizer. This process
  // must live as long as the child uses the stations: it answers the ioctls.
  std::string rootDir() const;
  std::vector<std::pair<std::string, std::string>> childEnvironment() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace vesksim
