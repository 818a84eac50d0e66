#include "FakeKernel.h"
#include "scsi/ScsiStatus.h"
#include "scsi/ScsiTransport.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <thread>

namespace tarnvel::scsi {
namespace {

using test::FakeDevice;
using test::FakeKernel;
using test::KernelReply;
using test::kernelReply;

constexpr std::uint8_t kTur[6] = {0x00, 0, 0, 0, 0, 0};

class SgBackendTest : public ::testing::Test {
protected:
    std::shared_ptr<FakeKernel> kernel = std::make_shared<FakeKernel>();
};

TEST_F(SgBackendTest, AspiModeScansSgNodesByTypeAndAddress)
{
    kernel->add("/dev/sg0", 0, 0, 0, 0, "ATA     DISK            1.00");
    kernel->add("/dev/sg1", 1, 2, 4, 0, "VENDOR  DDS DRIVE AUDIO 9608");
    kernel->add("/dev/sg3", 1, 3, 6, 1, "").inquiryFails = true;
    kernel->addSysFile("/sys/class/scsi_host/host2/proc_name", "mptspi");

    ScsiTransport transport(true, kernel);
    ASSERT_EQ(transport.status(), kStartupOk);
    EXPECT_FALSE(transport.isSpti());
    ASSERT_EQ(transport.scanDevices(kTypeSequentialAccess), 2);

    const ScsiDeviceEntry tape = transport.getDevice(0);
    EXPECT_EQ(tape.hostAdapter, 2);
    EXPECT_EQ(tape.target, 4);
    EXPECT_EQ(tape.lun, 0);
    EXPECT_EQ(tape.deviceType, 1);
    EXPECT_EQ(tape.pathCharacter, '?');
    EXPECT_EQ(tape.productText(), "DDS DRIVE AUDIO ");
    EXPECT_EQ(tape.revisionText(), "9608");
    // A device whose INQUIRY fails is still listed, without names.
    const ScsiDeviceEntry silent = transport.getDevice(1);
    EXPECT_EQ(silent.target, 6);
    EXPECT_EQ(silent.lun, 1);
    EXPECT_EQ(silent.vendorText(), "");
    EXPECT_EQ(transport.devicePath(0), "/dev/sg1");
    EXPECT_EQ(transport.devicePath(1), "/dev/sg3");
    EXPECT_EQ(transport.devicePath(2), "");

    // INQUIRY of 36 bytes, data in, with a time-out; every sg node opened non-blocking.
    ASSERT_FALSE(kernel->cdbs.empty());
    EXPECT_EQ(kernel->cdbs[0], (std::vector<std::uint8_t>{0x12, 0, 0, 0, 36, 0}));
    EXPECT_EQ(kernel->headers[0].dxfer_direction, SG_DXFER_FROM_DEV);
    EXPECT_EQ(kernel->headers[0].dxfer_len, 36u);
    EXPECT_GT(kernel->headers[0].timeout, 0u);
    for (const auto& [path, flags] : kernel->opens) {
        if (path.rfind("/dev/sg", 0) == 0) {
            EXPECT_TRUE(flags & O_NONBLOCK) << path;
        }
    }
    // The disk was not taken and its node is closed again.
    EXPECT_EQ(kernel->openFds(), 2);

    ASSERT_EQ(transport.hostAdapterCount(), 2);
    const HostAdapterEntry adapter = transport.getHostAdapter(0);
    EXPECT_EQ(adapter.hostNumber, 2);
    EXPECT_STREQ(adapter.identifier.data(), "mptspi");
    EXPECT_EQ(adapter.maxTransferLength, 65536u);
}

TEST_F(SgBackendTest, AspiModeWithoutTheSgDriverFailsAtStartUp)
{
    kernel->sgDriverLoaded = false;
    ScsiTransport transport(true, kernel);
    EXPECT_EQ(transport.status(), kStartupAspiNotFound);
    EXPECT_STREQ(transport.statusText(), "ASPI (SCSI generic driver sg) not found.");
    EXPECT_EQ(transport.scanDevices(kTypeSequentialAccess), 0);
}

TEST_F(SgBackendTest, SptiModeScansTapeNodesAndTakesTheAddressTheKernelGives)
{
    kernel->add("/dev/nst0", 1, 5, 3, 0, "VENDOR  DDS DRIVE AUDIO 9608");
    kernel->add("/dev/nst2", 8, 0, 1, 0, "VENDOR  CHANGER         0001");
    ScsiTransport transport(false, kernel);
    EXPECT_TRUE(transport.isSpti());
    ASSERT_EQ(transport.scanDevices(kTypeSequentialAccess), 1);
    const ScsiDeviceEntry e = transport.getDevice(0);
    EXPECT_EQ(e.hostAdapter, 5);
    EXPECT_EQ(e.target, 3);
    EXPECT_EQ(e.pathCharacter, '0');
    EXPECT_EQ(transport.devicePath(0), "/dev/nst0");
    EXPECT_EQ(e.vendorText(), "VENDOR  ");
    EXPECT_EQ(kernel->cdbs[0], (std::vector<std::uint8_t>{0x12, 0, 0, 0, 44, 0}));
    EXPECT_EQ(transport.hostAdapterCount(), 0);
    EXPECT_EQ(kernel->openFds(), 1);
    for (const auto& [path, flags] : kernel->opens) {
        EXPECT_TRUE(flags & O_NONBLOCK) << path;
    }
}

// How the kernel's answers become status bytes, in both modes.
struct MappingCase {
    const char* name;
    KernelReply reply;
    std::uint8_t status;
    std::uint8_t haStatus;
    std::uint8_t targetStatus;
    std::uint8_t senseKey, asc, ascq;
    const char* summary;
};

TEST_F(SgBackendTest, MapsKernelAnswersToStatusBytesAndSense)
{
    const std::vector<std::uint8_t> fixedNotReady = {0x70, 0, 0x02, 0, 0, 0,    0,
                                                     10,   0, 0,    0, 0, 0x3A, 0x00};
    // Descriptor format: key 8, ASC 0x00, ASCQ 0x05, stream descriptor with EOM.
    const std::vector<std::uint8_t> descriptorBlank = {0x72, 0x08, 0x00, 0x05, 0,    0, 0,
                                                       6,    0x04, 0x02, 0,    0x40, 0, 0};
    const MappingCase cases[] = {
        {"good", {}, kSsComp, 0, 0, 0, 0, 0, ""},
        {"check fixed", kernelReply(0x02, 0, 0, fixedNotReady), kSsErr, 0, 2, 2, 0x3A, 0,
         "Not Ready 3A 00"},
        {"check descriptor", kernelReply(0x02, 0, 0, descriptorBlank), kSsErr, 0, 2, 8, 0, 5,
         "Blank Check 00 05"},
        {"busy", kernelReply(0x08), kSsErr, 0, 8, 0, 0, 0, ""},
        {"time-out", kernelReply(0, 0x03), kSsErr, 0x09, 0, 0, 0, 0, "Command timed out"},
        {"no connect", kernelReply(0, 0x01), kSsErr, 0x11, 0, 0, 0, 0, ""},
        {"bus reset", kernelReply(0, 0x08), kSsErr, 0x0E, 0, 0, 0, 0, ""},
        {"driver error", kernelReply(0, 0, 0x04), kSsErr, 0, 0, 0, 0, 0,
         "Pass-through call failed"},
        {"device gone", kernelReply(0, 0, 0, {}, ENODEV), kSsErr, 0, 0, 0, 0, 0,
         "Device not available"},
    };
    kernel->add("/dev/sg0", 1, 0, 1, 0, "VENDOR  DDS");
    kernel->add("/dev/nst0", 1, 0, 1, 0, "VENDOR  DDS");
    for (bool aspi : {true, false}) {
        ScsiTransport transport(aspi, kernel);
        ASSERT_EQ(transport.scanDevices(kTypeSequentialAccess), 1);
        for (const MappingCase& c : cases) {
            SCOPED_TRACE(std::string(c.name) + (aspi ? " aspi" : " spti"));
            FakeDevice& device = kernel->device(aspi ? "/dev/sg0" : "/dev/nst0");
            device.onCommand = [&](const sg_io_hdr_t&) { return c.reply; };
            EXPECT_EQ(
                transport.runCommand("TST_U_RDY", 0, DataDirection::None, kTur, 6, nullptr, 0),
                c.status);
            EXPECT_EQ(transport.haStatus(), c.haStatus);
            EXPECT_EQ(transport.targetStatus(), c.targetStatus);
            EXPECT_EQ(transport.senseKey(), c.senseKey);
            EXPECT_EQ(transport.senseAsc(), c.asc);
            EXPECT_EQ(transport.senseAscq(), c.ascq);
            EXPECT_STREQ(transport.senseSummary(), c.summary);
        }
    }
}

TEST_F(SgBackendTest, HeaderCarriesDirectionLengthAndTheCommandsTimeOut)
{
    kernel->add("/dev/nst0", 1, 0, 1, 0, "VENDOR  DDS");
    ScsiTransport transport(false, kernel);
    ASSERT_EQ(transport.scanDevices(kTypeSequentialAccess), 1);
    std::uint8_t frame[5822] = {};
    const std::uint8_t write6[6] = {0x0A, 0, 0x00, 0x16, 0xBE, 0};
    transport.execute(0, DataDirection::Out, write6, 6, frame, sizeof frame, 1234);
    const sg_io_hdr_t& h = kernel->headers.back();
    EXPECT_EQ(h.dxfer_direction, SG_DXFER_TO_DEV);
    EXPECT_EQ(h.dxfer_len, 5822u);
    EXPECT_EQ(h.dxferp, frame);
    EXPECT_EQ(h.cmd_len, 6);
    EXPECT_EQ(h.timeout, 1234u);
    EXPECT_EQ(h.interface_id, 'S');
    transport.execute(0, DataDirection::None, kTur, 6, nullptr, 0);
    EXPECT_EQ(kernel->headers.back().dxfer_direction, SG_DXFER_NONE);
    // A CDB longer than 16 bytes never reaches the kernel.
    const std::size_t sent = kernel->headers.size();
    std::uint8_t longCdb[17] = {};
    EXPECT_EQ(transport.execute(0, DataDirection::None, longCdb, 17, nullptr, 0), kSsInvalidSrb);
    EXPECT_EQ(kernel->headers.size(), sent);
}

TEST_F(SgBackendTest, AspiAbortResetsTheDeviceAndTheNextCommandReopensIt)
{
    FakeDevice& device = kernel->add("/dev/sg0", 1, 0, 1, 0, "VENDOR  DDS");
    ScsiTransport transport(true, kernel);
    ASSERT_EQ(transport.scanDevices(kTypeSequentialAccess), 1);
    device.onCommand = [](const sg_io_hdr_t& h) {
        KernelReply r;
        r.hang = h.cmdp[0] == 0x01;
        return r;
    };
    const std::uint8_t rewind[6] = {0x01, 0, 0, 0, 0, 0};
    std::thread aborter([&] {
        while (transport.commandInProgressName().empty())
            std::this_thread::yield();
        transport.abort();
    });
    EXPECT_EQ(transport.runCommand("REWIND", 0, DataDirection::None, rewind, 6, nullptr, 0),
              kSsAborted);
    aborter.join();
    EXPECT_EQ(kernel->resets, std::vector<int>{SG_SCSI_RESET_DEVICE});
    EXPECT_EQ(kernel->openFds(), 0);
    EXPECT_STREQ(transport.logText(), "Cmd: 0x01 SCSI_REWIND   Status: SS_ABORTED\n\n");

    EXPECT_EQ(transport.execute(0, DataDirection::None, kTur, 6, nullptr, 0), kSsComp);
    EXPECT_EQ(kernel->openFds(), 1);
}

TEST_F(SgBackendTest, AspiAbortThatTheKernelRefusesKeepsWaitingForTheReply)
{
    FakeDevice& device = kernel->add("/dev/sg0", 1, 0, 1, 0, "VENDOR  DDS");
    device.resetError = EACCES;
    ScsiTransport transport(true, kernel);
    ASSERT_EQ(transport.scanDevices(kTypeSequentialAccess), 1);
    device.onCommand = [](const sg_io_hdr_t&) {
        KernelReply r;
        r.hang = true;
        return r;
    };
    std::thread aborter([&] {
        while (transport.commandInProgressName().empty())
            std::this_thread::yield();
        transport.abort();
        while (kernel->resetCount() == 0)
            std::this_thread::yield();
        kernel->finishHanging(kernelReply(0, 0x03)); // the command's own time-out
    });
    const std::uint8_t rewind[6] = {0x01, 0, 0, 0, 0, 0};
    EXPECT_EQ(transport.runCommand("REWIND", 0, DataDirection::None, rewind, 6, nullptr, 0),
              kSsErr);
    aborter.join();
    EXPECT_EQ(transport.haStatus(), kHaStatusTimeout);
    EXPECT_STREQ(transport.senseSummary(), "Command timed out");
}

TEST_F(SgBackendTest, BusResetWritesItsResultLine)
{
    FakeDevice& device = kernel->add("/dev/nst0", 1, 0, 1, 0, "VENDOR  DDS");
    ScsiTransport transport(false, kernel);
    ASSERT_EQ(transport.scanDevices(kTypeSequentialAccess), 1);
    EXPECT_EQ(transport.resetBus(0), kSsComp);
    EXPECT_STREQ(transport.logText(), "SCSI Bus Reset   Status: SS_COMP");
    EXPECT_EQ(kernel->resets, std::vector<int>{SG_SCSI_RESET_BUS});
    device.resetError = EACCES;
    EXPECT_EQ(transport.resetBus(0), kSsErr);
    EXPECT_STREQ(transport.logText(), "SCSI Bus Reset   Status: SS_ERR  \n Permission denied");
}

} // namespace
} // namespace tarnvel::scsi
