// Bus frames, read requests and their CRC.
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "devicelib/serialbus.h"

namespace vesk::bus {
namespace {

TEST(BusCRC, ModbusCheckValues) {
    const char* check = "123456789";
    EXPECT_EQ(busCRC(reinterpret_cast<const std::uint8_t*>(check), 9), 0x4B37);
    const std::uint8_t one[] = {0x01, 0x46};
    EXPECT_EQ(busCRC(one, 2), 0xD281);
}

TEST(ReadRequest, AddressMarkerAndCRCLowByteFirst) {
    EXPECT_EQ(readRequest(1), (ReadRequest{0x01, 0x46, 0x81, 0xD2}));
    for (int addr : {2, 0x41, 255}) {
        const ReadRequest r = readRequest(static_cast<std::uint8_t>(addr));
        EXPECT_EQ(r[0], addr);
        EXPECT_EQ(r[1], 0x46);
        EXPECT_EQ(r[2] | r[3] << 8, busCRC(r.data(), 2));
    }
}

TEST(BusFrame, WrapsTheDeviceFrameUnchanged) {
    DeviceFrame f;
    for (std::size_t i = 0; i < kFrameSize; ++i) {
        f.bytes[i] = static_cast<std::uint8_t>(0xFF - i);
    }
    const BusFrame b = busFrame(0x2A, f);
    EXPECT_EQ(b[0], 0x2A);
    EXPECT_EQ(b[1], 0x47);
    EXPECT_EQ(b[2], 0);
    EXPECT_EQ(b[3], 0);
    EXPECT_EQ(std::memcmp(b.data() + 4, f.bytes.data(), kFrameSize), 0);
    EXPECT_EQ(b[132], 0);
    EXPECT_EQ(b[133], 0);
    EXPECT_EQ(b[134] | b[135] << 8, busCRC(b.data(), 134));
    // The CRC over a whole frame with its CRC appended is 0: the receiver's check.
    EXPECT_EQ(busCRC(b.data(), b.size()), 0);
}

TEST(Stations, UpToTheFirstZeroAtMostOneHundred) {
    EXPECT_TRUE(stations(nullptr).empty());
    EXPECT_TRUE(stations("").empty());
    EXPECT_EQ(stations("\x01\x02\x01"), std::string_view("\x01\x02\x01"));
    EXPECT_EQ(stations("\x05\0\x06"), std::string_view("\x05"));
    const std::string long_(150, '\x07');
    EXPECT_EQ(stations(long_.c_str()).size(), kMaxStations);
    // A string of exactly 100 stations is read to its end and no further.
    const std::string exact(100, '\x08');
    EXPECT_EQ(stations(exact.c_str()).size(), 100u);
}

}  // namespace
}  // namespace vesk::bus
