// Opening and closing the base station, handles, the write pacing, and what
// commands do without a device.
#include <gtest/gtest.h>

#include <dlfcn.h>


#include "devicelib/frame.h"
#include "usb_fixture.h"

namespace vesktest {
namespace {

using Clock = std::chrono::steady_clock;

// The base stations in the order InitDevice walks them.
std::vector<vesksim::UsbStation*> walkOrder(vesksim::UsbTestbed& bed) {
    std::vector<vesksim::UsbStation*> order;
    for (const int index : bed.walkOrder()) {
        order.push_back(&bed.station(index));
    }
    return order;
}


TEST(InitDevice, NoBaseStationGivesZeroAndSeedsTheCounter) {
    vesksim::UsbTestbed bed;
    bed.addOtherDevice(0x1234, 0x9999);
    vesk::setMsgCounter(0);
    EXPECT_EQ(InitDevice(), 0);
    EXPECT_GE(vesk::msgCounter(), 1);
    EXPECT_LE(vesk::msgCounter(), 253);
    const int seeded = vesk::msgCounter();
    // Without a device a command still takes and returns its id.
    EXPECT_EQ(sendFlag(0, kDisplay, 1), seeded + 1);
    EXPECT_EQ(readData(0, nullptr), 0);
    EXPECT_EQ(GetLibVersion(), 8);
}

TEST(InitDevice, LastMatchingDeviceWins) {
    vesksim::UsbTestbed bed;
    bed.addStation();
    bed.addOtherDevice(0x1111, 0x1236);
    bed.addStation(2);
    const auto order = walkOrder(bed);
    ASSERT_EQ(order.size(), 2u);
    const std::int32_t conn = InitDevice();
    ASSERT_NE(conn, 0);
    for (vesksim::UsbStation* s : order) {
        EXPECT_EQ(s->configuration(), 1);
        EXPECT_TRUE(s->interfaceClaimed(1));
        s->clearRecord();
    }
    sendFlag(conn, kDisplay, 1);
    EXPECT_TRUE(order[0]->transfers().empty());
    EXPECT_EQ(order[1]->transfers().size(), 1u);
    EXPECT_TRUE(order[0]->waitForOpenCount(0)) << "the replaced device is closed again";
    EXPECT_FALSE(order[0]->interfaceHeld(1));
    EXPECT_TRUE(order[1]->interfaceHeld(1));
    closeDevice(conn);
    EXPECT_TRUE(order[1]->waitForOpenCount(0));
}

TEST(InitDevice, WalkStopsAtAFailedConfigurationOrClaim) {
    for (const bool failClaim : {false, true}) {
        SCOPED_TRACE(failClaim ? "claim fails" : "configuration fails");
        vesksim::UsbTestbed bed;
        for (int i = 0; i < 3; ++i) {
            bed.addStation();
        }
        const auto order = walkOrder(bed);
        ASSERT_EQ(order.size(), 3u);
        vesksim::UsbStation& good = *order[0];
        vesksim::UsbStation& bad = *order[1];
        vesksim::UsbStation& never = *order[2];
        if (failClaim) {
            bad.failClaimInterface();
        } else {
            bad.failSetConfiguration();
        }
        vesk::setMsgCounter(99);
        const std::int32_t conn = InitDevice();
        ASSERT_NE(conn, 0);
        EXPECT_EQ(vesk::msgCounter(), 99) << "not seeded when the walk stops early";
        EXPECT_EQ(never.configuration(), -1) << "the walk went past the failing device";
        good.clearRecord();
        sendFlag(conn, kDisplay, 1);
        EXPECT_EQ(good.transfers().size(), 1u);
        EXPECT_TRUE(bad.transfers().empty());
        EXPECT_TRUE(bad.waitForOpenCount(0)) << "the failing device is closed again";
        EXPECT_TRUE(good.interfaceHeld(1));
        closeDevice(conn);
    }
}

TEST(InitDevice, OnlyStationFailingGivesZero) {
    vesksim::UsbTestbed bed;
    bed.addStation().failSetConfiguration();
    EXPECT_EQ(InitDevice(), 0);
}

TEST(Handles, UnknownAndClosedHandlesWriteNothing) {
    vesksim::UsbTestbed bed;
    vesksim::UsbStation& station = bed.addStation();
    const std::int32_t conn = InitDevice();
    ASSERT_NE(conn, 0);
    station.clearRecord();
    for (const std::int32_t bogus : {0, -1, conn + 1000, INT32_MAX}) {
        const int before = vesk::msgCounter();
        EXPECT_EQ(sendFlag(bogus, kDisplay, 1), before == 254 ? 1 : before + 1);
        EXPECT_EQ(readData(bogus, nullptr), 0);
        EXPECT_EQ(readRemoteControl(bogus), 0);
        closeDevice(bogus);
    }
    EXPECT_TRUE(station.transfers().empty());
    closeDevice(conn);
    closeDevice(conn);  // twice is harmless
    sendFlag(conn, kDisplay, 1);
    EXPECT_TRUE(station.transfers().empty());
}

TEST_F(UsbLink, EveryWriteIsFollowedByThe30msPause) {
    const auto start = Clock::now();
    sendFlag(conn, kDisplay, 1);
    EXPECT_GE(Clock::now() - start, 30ms);
    setRPMLimit(conn, kDisplay, 1);
    sendData(conn, lastWritten().data());
    const auto writes = transfersOn(vesksim::kEndpointOut);
    ASSERT_EQ(writes.size(), 3u);
    for (std::size_t i = 1; i < writes.size(); ++i) {
        EXPECT_GE(writes[i].submitted - writes[i - 1].finished, 30ms);
    }
    for (const WireTransfer& t : writes) {
        EXPECT_EQ(t.outcome, vesksim::TransferOutcome::Completed);
    }
}

TEST_F(UsbLink, FailedWriteIsNotReportedAndKeepsTheIdUsed) {
    station->failNextWrites(2);
    vesk::setMsgCounter(20);
    const auto start = Clock::now();
    EXPECT_EQ(sendFlag(conn, kDisplay, 1), 21);
    EXPECT_GE(Clock::now() - start, 30ms) << "the pause follows a failed write too";
    const std::array<std::uint8_t, 128> frame{2};
    EXPECT_EQ(sendData(conn, frame.data()), 1);
    EXPECT_EQ(sendFlag(conn, kDisplay, 1), 22);
    const auto writes = transfersOn(vesksim::kEndpointOut);
    ASSERT_EQ(writes.size(), 3u);
    EXPECT_EQ(writes[0].outcome, vesksim::TransferOutcome::Failed);
    EXPECT_EQ(writes[1].outcome, vesksim::TransferOutcome::Failed);
    EXPECT_EQ(writes[2].outcome, vesksim::TransferOutcome::Completed);
}

TEST_F(UsbLink, StalledWriteEndsAtThe100msTimeOut) {
    station->timeOutNextWrites(1);
    const auto start = Clock::now();
    const int id = sendFlag(conn, kDisplay, 1);
    const auto took = Clock::now() - start;
    EXPECT_GE(id, 1);
    EXPECT_GE(took, 130ms) << "the 100 ms time-out, then the 30 ms pause";
    EXPECT_LT(took, 1000ms);
    const auto writes = transfersOn(vesksim::kEndpointOut);
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes[0].outcome, vesksim::TransferOutcome::Discarded);
    EXPECT_GE(writes[0].elapsed(), 95ms);
    EXPECT_LT(writes[0].elapsed(), 500ms);
    sendFlag(conn, kDisplay, 2);
    EXPECT_EQ(station->model().display(kDisplay).screen.picture, 5) << "the link goes on after a stalled write";
}

TEST_F(UsbLink, UnpluggedStationMakesCommandsWriteNothingButStillNumber) {
    station->unplug();
    vesk::setMsgCounter(5);
    EXPECT_EQ(sendFlag(conn, kDisplay, 1), 6);
    std::array<std::uint8_t, 128> raw{};
    EXPECT_EQ(readDataWithCallback(conn, raw.data(), nullptr, nullptr), 0);
}

// The shared library itself: exports exactly the header's functions, found by
// name as the bridge finds them.
TEST(SharedLibrary, ExportsResolveByName) {
    void* lib = dlopen(VESKLINK_SO_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(lib, nullptr) << dlerror();
    for (const char* name :
         {"InitDevice", "closeDevice", "sendData", "readData", "GetLibVersion", "readDataWithCallback",
          "readRemoteControl", "sendFlag", "setRPMLimit", "sendPicture", "sendCurrentPos", "sendPAssing",
          "sendMessage", "sendMessage2", "sendMessage3", "sendMessage4", "getTextWidth", "sendDataToRemoteControl"}) {
        EXPECT_NE(dlsym(lib, name), nullptr) << name;
    }
    EXPECT_EQ(dlsym(lib, "_ZN4vesk9nextMsgIdEv"), nullptr) << "internals stay hidden";
    auto version = reinterpret_cast<int32_t (*)()>(dlsym(lib, "GetLibVersion"));
    ASSERT_NE(version, nullptr);
    EXPECT_EQ(version(), 8);
    dlclose(lib);
}

}  // namespace
}  // namespace vesktest
