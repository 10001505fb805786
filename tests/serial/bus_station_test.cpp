// The simulated bus stations check what the host writes: marker, CRC, length.
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "bus_fixture.h"

namespace vesktest {
namespace {

using Kind = vesksim::WireMessage::Kind;

class BusStations : public ::testing::Test {
protected:
    void SetUp() override {
        host = ::open(line.slavePath().c_str(), O_RDWR | O_NOCTTY);
        ASSERT_GE(host, 0);
        termios raw{};
        ::tcgetattr(host, &raw);
        ::cfmakeraw(&raw);
        ::tcsetattr(host, TCSANOW, &raw);
        station.model().addDisplay(kDisplay);
    }
    void TearDown() override { ::close(host); }
    void write(vesksim::Bytes bytes) { ASSERT_EQ(::write(host, bytes.data(), bytes.size()), ssize_t(bytes.size())); }

    static vesksim::Bytes busFrame(std::uint8_t address, std::uint8_t msgId) {
        vesksim::Bytes b(vesksim::kBusFrameSize, 0);
        b[0] = address;
        b[1] = vesksim::kBusFrameMarker;
        b[4] = 2;
        b[4 + 4] = kDisplay & 0xFF;  // frame address
        b[4 + 5] = kDisplay >> 8;
        b[4 + 28] = kDisplay & 0xFF;
        b[4 + 29] = kDisplay >> 8;
        b[4 + 28 + 3] = msgId;
        const std::uint16_t crc = vesksim::modbusCRC(b.data(), 134);
        b[134] = crc & 0xFF;
        b[135] = crc >> 8;
        return b;
    }

    vesksim::BusLine line;
    vesksim::BusStation& station = line.addStation(3);
    int host = -1;
};

TEST_F(BusStations, CountBadFramesAndKeepInStepAfterThem) {
    vesksim::Bytes badCrc = busFrame(3, 9);
    badCrc[135] ^= 1;
    write(badCrc);
    write({0x03, 0x00});       // no such marker: two stray bytes
    write(busFrame(3, 10));    // still understood after the noise
    write({0x03, 0x46, 0, 0});  // read request with a wrong CRC: no answer
    ASSERT_TRUE(eventually([&] { return line.wire().size() >= 5; }));
    const auto wire = line.wire();
    const Kind kinds[] = {Kind::Bad, Kind::Bad, Kind::Bad, Kind::BusFrame, Kind::Bad};
    ASSERT_EQ(wire.size(), std::size(kinds));
    for (std::size_t i = 0; i < wire.size(); ++i) {
        EXPECT_EQ(wire[i].kind, kinds[i]) << i;
    }
    EXPECT_EQ(station.badFrames(), 1u);  // the bus frame to it with a wrong CRC
    EXPECT_EQ(line.badMessages(), 4u);
    ASSERT_EQ(station.frames().size(), 1u);
    EXPECT_EQ(station.model().display(kDisplay).lastMsgId, 10);
    EXPECT_EQ(station.readRequests(), 0u);
}

}  // namespace
}  // namespace vesktest
