// A base station with a few displays on a umockdev testbed, opened through
// the library's InitDevice, and the frames the library wrote to it.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <vector>

#include "sim/usb_station.h"
#include "vesklink.h"

namespace vesktest {

using namespace std::chrono_literals;
using vesksim::Frame;
using vesksim::WireTransfer;

inline constexpr std::uint32_t kDisplay = 1001;

class UsbLink : public ::testing::Test {
protected:
    void SetUp() override {
        station = &bed.addStation();
        station->model().addDisplay(kDisplay);
        conn = InitDevice();
        ASSERT_NE(conn, 0);
        station->clearRecord();
        station->model().clearFrames();
    }
    void TearDown() override { closeDevice(conn); }

    // Bulk transfers on one endpoint, in order.
    std::vector<WireTransfer> transfersOn(std::uint8_t endpoint) const {
        std::vector<WireTransfer> out;
        for (const WireTransfer& t : station->transfers()) {
            if (t.endpoint == endpoint) {
                out.push_back(t);
            }
        }
        return out;
    }

    // The one frame the last command wrote to endpoint 5.
    Frame lastWritten() const {
        const auto writes = transfersOn(vesksim::kEndpointOut);
        EXPECT_FALSE(writes.empty());
        Frame frame{};
        if (!writes.empty()) {
            EXPECT_EQ(writes.back().data.size(), vesksim::kFrameSize);
            std::copy_n(writes.back().data.begin(), std::min(writes.back().data.size(), frame.size()), frame.begin());
        }
        return frame;
    }

    vesksim::UsbTestbed bed;
    vesksim::UsbStation* station = nullptr;
    std::int32_t conn = 0;
};

// Payload byte access of a frame.
inline std::uint8_t p8(const Frame& f, std::size_t offset) { return f[vesksim::kPayloadOffset + offset]; }
inline std::uint16_t p16(const Frame& f, std::size_t offset) { return vesksim::payloadU16(f, offset); }
inline std::uint32_t p32(const Frame& f, std::size_t offset) { return vesksim::payloadU32(f, offset); }

}  // namespace vesktest
