// A separate process that reaches the simulated station through libusb-0.1:
// opens the first base station, writes one frame to display address argv[1]
// with message id argv[2], and prints what endpoint 0x82 answers.
#include <usb.h>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  const unsigned address = static_cast<unsigned>(std::atoi(argv[1]));
  const int msgId = std::atoi(argv[2]);

  usb_init();
  usb_find_busses();
  usb_find_devices();
  struct usb_device* station = nullptr;
  for (struct usb_bus* bus = usb_get_busses(); bus; bus = bus->next)
    for (struct usb_device* dev = bus->devices; dev; dev = dev->next)
      if (dev->descriptor.idVendor == 0x1234 && dev->descriptor.idProduct == 0x1236) station = dev;
  if (!station) {
    std::puts("no station");
    return 1;
  }
  usb_dev_handle* h = usb_open(station);
  if (!h || usb_set_configuration(h, 1) != 0 || usb_claim_interface(h, 1) != 0) {
    std::puts("no access");
    return 1;
  }
  char frame[128] = {};
  frame[0] = 2;
  frame[4] = frame[28] = static_cast<char>(address & 0xFF);
  frame[5] = frame[29] = static_cast<char>(address >> 8);
  frame[31] = static_cast<char>(msgId);
  const int written = usb_bulk_write(h, 5, frame, sizeof frame, 100);
  unsigned char reply[128] = {};
  const int got = usb_bulk_read(h, 0x82, reinterpret_cast<char*>(reply), sizeof reply, 100);
  if (got == 128) {
    const unsigned number = reply[28] | (reply[29] << 8) | (reply[30] << 16) | (static_cast<unsigned>(reply[31]) << 24);
    std::printf("wrote %d ack %u %d\n", written, number, reply[32]);
  } else {
    std::printf("wrote %d read %d\n", written, got);
  }
  usb_close(h);
  return 0;
}
