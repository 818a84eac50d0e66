#include "scsi/ScsiStatus.h"
#include "scsi/ScsiTransport.h"

#include <atomic>
#include <chrono>
#include <cstring>
#include <gtest/gtest.h>
#include <thread>

namespace tarnvel::scsi {
namespace {

// A target that answers INQUIRY, and otherwise whatever the test puts in `next`.
class FixedTarget : public ScsiTarget {
public:
    FixedTarget(std::uint8_t type, const char* product, std::uint8_t ha = 0, std::uint8_t id = 3)
        : type_(type), product_(product), ha_(ha), id_(id)
    {
    }
    std::uint8_t hostAdapter() const override { return ha_; }
    std::uint8_t targetId() const override { return id_; }
    TargetReply command(const std::uint8_t* cdb, std::size_t, DataDirection, std::uint8_t* buffer,
                        std::uint32_t length) override
    {
        lastOpcode = cdb[0];
        running = true;
        struct Done {
            std::atomic<bool>& flag;
            ~Done() { flag = false; }
        } done{running};
        if (cdb[0] == 0x12) {
            std::uint8_t reply[36] = {};
            reply[0] = type_;
            std::memcpy(reply + 8, "TARNVEL DAT SIMULATOR   0100", 28);
            std::memcpy(reply + 16, product_, std::strlen(product_));
            std::memcpy(buffer, reply, std::min<std::uint32_t>(length, sizeof reply));
            return {};
        }
        if (cdb[0] == 0x2B) { // a long motion: runs until aborted, or gives up after a while
            const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(5);
            while (!aborted.load() && std::chrono::steady_clock::now() < giveUp)
                std::this_thread::yield();
            aborted = false;
            ++motions;
            return {};
        }
        return next;
    }
    AbortAnswer abort() override
    {
        if (!running)
            return AbortAnswer::Idle;
        aborted = true;
        return AbortAnswer::Taken;
    }

    TargetReply next;
    std::atomic<std::uint8_t> lastOpcode{0xFF};
    std::atomic<bool> aborted{false};
    std::atomic<bool> running{false};
    std::atomic<int> motions{0};

private:
    std::uint8_t type_;
    const char* product_;
    std::uint8_t ha_, id_;
};

TEST(InProcessTransport, ListsTargetsOfTheWantedTypeWithTheirIdentity)
{
    ScsiTransport transport(false, nullptr);
    transport.addTarget(std::make_shared<FixedTarget>(1, "SDT-9000 AUDIO  ", 2, 5));
    transport.addTarget(std::make_shared<FixedTarget>(5, "CDROM"));
    transport.addTarget(std::make_shared<FixedTarget>(1, "DAT SIMULATOR   "));
    ASSERT_EQ(transport.scanDevices(kTypeSequentialAccess), 2);
    const ScsiDeviceEntry e = transport.getDevice(0);
    EXPECT_EQ(e.hostAdapter, 2);
    EXPECT_EQ(e.target, 5);
    EXPECT_EQ(e.deviceType, 1);
    EXPECT_EQ(e.pathCharacter, '?');
    EXPECT_EQ(e.vendorText(), "TARNVEL ");
    EXPECT_EQ(e.productText(), "SDT-9000 AUDIO  ");
    EXPECT_EQ(e.revisionText(), "0100");
    EXPECT_EQ(transport.getDevice(1).productText(), "DAT SIMULATOR   ");
    EXPECT_EQ(transport.scanDevices(kTypeAny), 3);
    // Out of range entries are all zero.
    const ScsiDeviceEntry none = transport.getDevice(16);
    EXPECT_EQ(none.deviceType, 0);
    EXPECT_EQ(none.vendor[0], '\0');
    EXPECT_EQ(transport.getHostAdapter(0).hostNumber, 2);
    EXPECT_EQ(transport.hostAdapterCount(), 2);
}

TEST(InProcessTransport, MapsGoodAndCheckConditionToStatusBytes)
{
    ScsiTransport transport(false, nullptr);
    auto target = std::make_shared<FixedTarget>(1, "DAT");
    transport.addTarget(target);
    ASSERT_EQ(transport.scanDevices(kTypeSequentialAccess), 1);
    const std::uint8_t tur[6] = {};

    EXPECT_EQ(transport.execute(0, DataDirection::None, tur, 6, nullptr, 0), kSsComp);
    EXPECT_EQ(transport.status(), kSsComp);
    EXPECT_STREQ(transport.statusText(), "");

    target->next.status = kTargetCheckCondition;
    target->next.sense[0] = 0x70;
    target->next.sense[2] = 0x02;
    target->next.sense[12] = 0x3A;
    EXPECT_EQ(transport.execute(0, DataDirection::None, tur, 6, nullptr, 0), kSsErr);
    EXPECT_STREQ(transport.statusText(), "SS_ERR");
    EXPECT_EQ(transport.targetStatus(), 2);
    EXPECT_EQ(transport.haStatus(), 0);
    EXPECT_EQ(transport.senseKey(), 2);
    EXPECT_EQ(transport.senseAsc(), 0x3A);

    target->next = {};
    target->next.status = kTargetBusy;
    EXPECT_EQ(transport.execute(0, DataDirection::None, tur, 6, nullptr, 0), kSsErr);
    EXPECT_EQ(transport.targetStatus(), kTargetBusy);

    // A device index outside the table reaches no target.
    target->lastOpcode = 0xFF;
    EXPECT_EQ(transport.execute(1, DataDirection::None, tur, 6, nullptr, 0), kSsNoDevice);
    EXPECT_EQ(target->lastOpcode, 0xFF);
}

TEST(InProcessTransport, AbortEndsARunningCommandAndAnEarlierAbortIsForgotten)
{
    ScsiTransport transport(false, nullptr);
    auto target = std::make_shared<FixedTarget>(1, "DAT");
    transport.addTarget(target);
    ASSERT_EQ(transport.scanDevices(kTypeSequentialAccess), 1);

    // An abort while idle does not touch the next command.
    transport.abort();
    const std::uint8_t tur[6] = {};
    EXPECT_EQ(transport.execute(0, DataDirection::None, tur, 6, nullptr, 0), kSsComp);
    EXPECT_FALSE(target->aborted.load());

    const std::uint8_t locate[10] = {0x2B, 0x04};
    std::thread aborter([&] {
        while (transport.commandInProgressName().empty())
            std::this_thread::yield();
        transport.abort();
    });
    const std::uint8_t status =
        transport.runCommand("LOCATE", 0, DataDirection::None, locate, 10, nullptr, 0);
    aborter.join();
    EXPECT_EQ(status, kSsAborted);
    EXPECT_STREQ(transport.senseSummary(), "Aborted");
    EXPECT_STREQ(transport.logText(), "Cmd: 0x2B SCSI_LOCATE   Status: SS_ABORTED\n\n");
    EXPECT_TRUE(transport.commandInProgressName().empty());
}

// The drive object's view: it names a command, then executes it.
class NamingTransport : public ScsiTransport {
public:
    NamingTransport() : ScsiTransport(false, nullptr) {}
    using ScsiTransport::setCommandInProgress;
};

TEST(InProcessTransport, AnAbortBetweenNamingAndRunningIsSeen)
{
    NamingTransport transport;
    auto target = std::make_shared<FixedTarget>(1, "DAT");
    transport.addTarget(target);
    ASSERT_EQ(transport.scanDevices(kTypeSequentialAccess), 1);
    const std::uint8_t locate[10] = {0x2B, 0x04};
    transport.setCommandInProgress("LOCATE");
    transport.abort(); // the user saw the name and said yes
    EXPECT_EQ(transport.execute(0, DataDirection::None, locate, 10, nullptr, 0), kSsAborted);
    transport.logCommand(0);
    EXPECT_EQ(target->motions.load(), 0); // the motion never started
    EXPECT_STREQ(transport.senseSummary(), "Aborted");

    // Named again: the earlier abort is forgotten.
    transport.setCommandInProgress("LOCATE");
    std::thread aborter([&] {
        while (!target->running)
            std::this_thread::yield();
        transport.abort();
    });
    EXPECT_EQ(transport.execute(0, DataDirection::None, locate, 10, nullptr, 0), kSsAborted);
    aborter.join();
    EXPECT_EQ(target->motions.load(), 1);
}

} // namespace
} // namespace tarnvel::scsi
