// A serial bus with simulated stations on a pseudo-terminal, opened by the
// library as COM5 through InitDeviceRS.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <thread>

#include "devicelib/frame.h"
#include "devicelib/port/serial_port.h"
#include "devicelib/serialbus.h"
#include "sim/bus_station.h"
#include "vesklink.h"

namespace vesktest {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

inline constexpr int kCom = 5;
inline constexpr std::uint32_t kDisplay = 1001;  // address 1001 on every station

// Waits (bounded) until the reader thread of the line has caught up.
inline bool eventually(const std::function<bool()>& done, std::chrono::milliseconds within = 2000ms) {
    const auto deadline = Clock::now() + within;
    while (!done()) {
        if (Clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

class Bus : public ::testing::Test {
protected:
    void SetUp() override {
        line.useAsCom(kCom);
        ASSERT_EQ(InitDeviceRS(kCom), 0);
    }
    void TearDown() override { closeDeviceRS(); }

    vesksim::BusStation& station(std::uint8_t address) {
        vesksim::BusStation& s = line.addStation(address);
        s.model().addDisplay(kDisplay);
        return s;
    }

    // Bus frames on the wire once the line has seen `count` messages.
    std::vector<vesksim::WireMessage> wireAfter(std::size_t count) {
        EXPECT_TRUE(eventually([&] { return line.wire().size() >= count; }));
        return line.wire();
    }

    vesksim::BusLine line;
};

template <class Call>
std::chrono::milliseconds timed(Call&& call) {
    const auto start = Clock::now();
    call();
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
}

}  // namespace vesktest
