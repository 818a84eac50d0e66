#include "scsi/AbortDialog.h"
#include "scsi/ScsiStatus.h"
#include "scsi/ScsiTransport.h"
#include "scsi/SgHeader.h"
#include "support/FakeKernel.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <fcntl.h>
#include <functional>
#include <gtest/gtest.h>
#include <string>
#include <thread>

namespace tarnvel::scsi {
namespace {

using test::FakeDevice;
using test::FakeKernel;
using test::KernelReply;
using test::kernelReply;

constexpr std::uint8_t kTur[6] = {0x00, 0, 0, 0, 0, 0};
constexpr std::uint8_t kRewind[6] = {0x01, 0, 0, 0, 0, 0};
constexpr std::uint8_t kRead6[6] = {0x08, 0, 0x00, 0x16, 0xBE, 0};
constexpr int kNoEscalate = 0x100;
constexpr std::uint8_t kDidNoConnect = 0x01;
constexpr std::uint8_t kDidTimeOut = 0x03;
constexpr std::uint8_t kDidAbort = 0x05;
constexpr std::uint8_t kDidError = 0x07;
constexpr std::uint8_t kDidReset = 0x08;

bool contains(const std::string& text, const std::string& what)
{
    return text.find(what) != std::string::npos;
}

class SgBackendTest : public ::testing::Test {
protected:
    std::shared_ptr<FakeKernel> kernel = std::make_shared<FakeKernel>();
    std::uint8_t frame[5822] = {};
};

TEST_F(SgBackendTest, AspiModeWalksSysfsAndOpensOnlyTheWantedType)
{
    // Eighteen disks the user may not open, a changer and two tapes beyond sg15.
    for (int n = 0; n < 18; ++n) {
        kernel->addGeneric(n, 0, 0, n, 0, "ATA     DISK            1.00");
        kernel->setOpenError("/dev/sg" + std::to_string(n), EACCES);
    }
    kernel->addGeneric(18, 8, 2, 5, 0, "VENDOR  CHANGER         0001");
    kernel->addGeneric(21, 1, 3, 6, 1, "").inquiryFails = true;
    kernel->addGeneric(19, 1, 2, 4, 0, "VENDOR  DDS DRIVE AUDIO 9608");
    kernel->addSysFile("/sys/class/scsi_host/host2/proc_name", "mptspi");

    ScsiTransport transport(true, kernel);
    ASSERT_EQ(transport.status(), kStartupOk);
    EXPECT_FALSE(transport.isSpti());
    ASSERT_EQ(transport.scanDevices(kTypeSequentialAccess), 2);
    EXPECT_EQ(transport.status(), kSsComp);

    // In number order (sg19 before sg21), address from the node, names from INQUIRY.
    const ScsiDeviceEntry tape = transport.getDevice(0);
    EXPECT_EQ(transport.devicePath(0), "/dev/sg19");
    EXPECT_EQ(tape.hostAdapter, 2);
    EXPECT_EQ(tape.target, 4);
    EXPECT_EQ(tape.deviceType, 1);
    EXPECT_EQ(tape.pathCharacter, '?');
    EXPECT_EQ(tape.productText(), "DDS DRIVE AUDIO ");
    EXPECT_EQ(tape.revisionText(), "9608");
    EXPECT_EQ(transport.deviceProblem(0), "");
    // A device whose INQUIRY fails is still listed, with what sysfs tells.
    const ScsiDeviceEntry silent = transport.getDevice(1);
    EXPECT_EQ(transport.devicePath(1), "/dev/sg21");
    EXPECT_EQ(silent.target, 6);
    EXPECT_EQ(silent.lun, 1);

    // INQUIRY of 36 bytes with a time-out; only the two tapes' nodes were opened, read-write
    // and non-blocking.
    ASSERT_FALSE(kernel->cdbs.empty());
    EXPECT_EQ(kernel->cdbs[0], (std::vector<std::uint8_t>{0x12, 0, 0, 0, 36, 0}));
    EXPECT_EQ(kernel->headers[0].dxfer_direction, SG_DXFER_FROM_DEV);
    EXPECT_GT(kernel->headers[0].timeout, 0u);
    std::vector<std::string> opened;
    for (const auto& [path, flags] : kernel->opens) {
        if (path.rfind("/dev/", 0) == 0) {
            opened.push_back(path);
            EXPECT_EQ(flags & (O_ACCMODE | O_NONBLOCK), O_RDWR | O_NONBLOCK) << path;
        }
    }
    EXPECT_EQ(opened, (std::vector<std::string>{"/dev/sg19", "/dev/sg21"}));

    ASSERT_EQ(transport.hostAdapterCount(), 2);
    const HostAdapterEntry adapter = transport.getHostAdapter(0);
    EXPECT_EQ(adapter.hostNumber, 2);
    EXPECT_STREQ(adapter.identifier.data(), "mptspi");
    EXPECT_EQ(adapter.maxTransferLength, 65536u);

    // Every type: all 21 devices are seen, the table keeps the first 16.
    EXPECT_EQ(transport.scanDevices(kTypeAny), 16);
}

TEST_F(SgBackendTest, AspiModeWithoutTheSgDriverFailsAtStartUp)
{
    kernel->sgDriverLoaded = false;
    ScsiTransport transport(true, kernel);
    EXPECT_EQ(transport.status(), kStartupAspiNotFound);
    EXPECT_STREQ(transport.statusText(), "ASPI (SCSI generic driver sg) not found.");
    EXPECT_EQ(transport.scanDevices(kTypeSequentialAccess), 0);
}

TEST_F(SgBackendTest, NoSequentialAccessDeviceAtAllIsNoAdapters)
{
    kernel->addGeneric(0, 0, 0, 0, 0, "ATA     DISK            1.00");
    for (bool aspi : {true, false}) {
        ScsiTransport transport(aspi, kernel);
        EXPECT_EQ(transport.scanDevices(kTypeSequentialAccess), 0);
        EXPECT_EQ(transport.status(), kSsNoAdapters);
        EXPECT_STREQ(transport.statusText(), "SS_NO_ADAPTERS");
    }
    ScsiTransport empty(false, nullptr);
    EXPECT_EQ(empty.scanDevices(kTypeSequentialAccess), 0);
    EXPECT_EQ(empty.status(), kSsNoAdapters);
}

TEST_F(SgBackendTest, SptiModeSendsEveryCommandThroughTheTapesGenericNode)
{
    // A user in the tape group: the tape driver refuses REWIND through SG_IO.
    kernel->addTape(0, 3, 5, 3, 0, "VENDOR  DDS DRIVE AUDIO 9608");
    ScsiTransport transport(false, kernel);
    EXPECT_TRUE(transport.isSpti());
    ASSERT_EQ(transport.scanDevices(kTypeSequentialAccess), 1);
    const ScsiDeviceEntry e = transport.getDevice(0);
    EXPECT_EQ(e.hostAdapter, 5);
    EXPECT_EQ(e.target, 3);
    EXPECT_EQ(e.pathCharacter, '0');
    EXPECT_EQ(e.vendorText(), "VENDOR  ");
    EXPECT_EQ(transport.devicePath(0), "/dev/nst0");
    EXPECT_EQ(transport.commandPath(0), "/dev/sg3");
    EXPECT_EQ(kernel->cdbs[0], (std::vector<std::uint8_t>{0x12, 0, 0, 0, 44, 0}));
    EXPECT_EQ(transport.hostAdapterCount(), 0);

    EXPECT_EQ(transport.runCommand("REWIND", 0, DataDirection::None, kRewind, 6, nullptr, 0),
              kSsComp)
        << transport.logText();
    for (const std::string& path : kernel->commandPaths)
        EXPECT_EQ(path, "/dev/sg3");
    // The tape node is held (read-only, non-blocking) so that no other program uses the
    // drive meanwhile.
    EXPECT_TRUE(kernel->isOpen("/dev/nst0"));
    EXPECT_EQ(kernel->opens[0].second & (O_ACCMODE | O_NONBLOCK), O_RDONLY | O_NONBLOCK);
}

TEST_F(SgBackendTest, DevicesThatCannotBeUsedAreListedWithTheReason)
{
    kernel->addTape(0, 3, 0, 1, 0, "VENDOR  DDS DRIVE AUDIO 9608");
    kernel->addTape(1, 4, 0, 2, 0, "VENDOR  DDS DRIVE AUDIO 9608");
    kernel->addTape(2, -1, 0, 3, 0, "VENDOR  DDS DRIVE AUDIO 9608"); // no generic node
    kernel->addTape(3, 6, 1, 4, 0, "VENDOR  DDS DRIVE AUDIO 9608");
    kernel->setOpenError("/dev/sg3", EACCES); // the user is not in the tape group
    kernel->setOpenError("/dev/sg6", EACCES);
    const int other = kernel->open("/dev/nst1", O_RDONLY); // another program holds nst1
    ASSERT_GE(other, 0);

    ScsiTransport spti(false, kernel);
    ASSERT_EQ(spti.scanDevices(kTypeSequentialAccess), 4);
    EXPECT_EQ(spti.deviceProblem(0),
              "/dev/sg3: Permission denied (add the user to the group that owns it, usually tape)");
    EXPECT_EQ(spti.getDevice(0).productText(), "DDS DRIVE AUDIO "); // from sysfs
    EXPECT_EQ(spti.getDevice(0).target, 1);
    EXPECT_EQ(spti.deviceProblem(1), "/dev/nst1: busy (another program has the drive open)");
    // The tape driver takes no SG_IO at all without raw I/O rights, not even INQUIRY: the
    // drive is listed with what sysfs tells.
    EXPECT_EQ(spti.deviceProblem(2), "/dev/nst2: needs raw I/O rights; use the generic node");
    EXPECT_EQ(spti.getDevice(2).productText(), "DDS DRIVE AUDIO ");
    EXPECT_EQ(spti.getDevice(2).target, 3);
    EXPECT_EQ(spti.getDevice(3).hostAdapter, 1);

    struct Case {
        int device;
        const char* summary;
        const char* logLine;
    };
    const Case cases[] = {
        {0, "Permission denied",
         "Permission denied (add the user to the group that owns it, usually tape)"},
        {1, "Device busy", "busy (another program has the drive open)"},
        // Without a generic node the tape node takes SG_IO, which it refuses.
        {2, "No raw I/O rights", "needs raw I/O rights; use the generic node"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.device);
        const std::size_t sent = kernel->headers.size();
        EXPECT_EQ(spti.runCommand("REWIND", c.device, DataDirection::None, kRewind, 6, nullptr, 0),
                  kSsErr);
        EXPECT_STREQ(spti.senseSummary(), c.summary);
        EXPECT_TRUE(contains(spti.logText(), std::string("\n") + c.logLine + "\n\n"))
            << spti.logText();
        EXPECT_EQ(kernel->headers.size(), sent + (c.device == 2 ? 1u : 0u));
    }
    // Once the other program lets go, the drive is claimed and used.
    kernel->close(other);
    EXPECT_EQ(spti.runCommand("REWIND", 1, DataDirection::None, kRewind, 6, nullptr, 0), kSsComp);
    EXPECT_EQ(spti.deviceProblem(1), "");
}

// How the kernel's answers become status bytes, in both modes.
struct MappingCase {
    const char* name;
    bool read; // READ(6) of a 5822-byte frame instead of TEST UNIT READY
    KernelReply reply;
    std::uint8_t status;
    std::uint8_t haStatus;
    std::uint8_t targetStatus;
    std::uint8_t senseKey, asc, ascq;
    const char* summary;
    const char* logPart;
};

KernelReply shortRead(std::size_t delivered)
{
    KernelReply r;
    r.data.assign(delivered, 0x5A);
    return r;
}

KernelReply readWithSense(std::vector<std::uint8_t> sense, std::size_t delivered)
{
    KernelReply r = kernelReply(0x02, 0, 0, std::move(sense));
    r.data.assign(delivered, 0x5A);
    return r;
}

// The kernel's time-out (DID_TIME_OUT), after `durationMs` of the 30 s a command gets.
KernelReply hostTimeOut(int durationMs)
{
    KernelReply r = kernelReply(0, kDidTimeOut);
    r.durationMs = durationMs;
    return r;
}

TEST_F(SgBackendTest, MapsKernelAnswersToStatusBytesAndSense)
{
    const std::vector<std::uint8_t> fixedNotReady = {0x70, 0, 0x02, 0, 0, 0,    0,
                                                     10,   0, 0,    0, 0, 0x3A, 0x00};
    // Descriptor format: key 8, ASC 0x00, ASCQ 0x05, stream descriptor with EOM.
    const std::vector<std::uint8_t> descriptorBlank = {0x72, 0x08, 0x00, 0x05, 0,    0, 0,
                                                       6,    0x04, 0x02, 0,    0x40, 0, 0};
    // Fixed format from READ(6): a shorter block (ILI, 822 bytes missing), a filemark.
    const std::vector<std::uint8_t> ili = {0xF0, 0, 0x20, 0, 0, 0x03, 0x36, 10, 0, 0, 0, 0, 0, 0};
    const std::vector<std::uint8_t> filemark = {0xF0, 0, 0x80, 0, 0, 0x16, 0xBE,
                                                10,   0, 0,    0, 0, 0,    0x01};
    const MappingCase cases[] = {
        {"good", false, {}, kSsComp, 0, 0, 0, 0, 0, "", "Status: SS_COMP\n"},
        {"good read", true, shortRead(5822), kSsComp, 0, 0, 0, 0, 0, "", "Status: SS_COMP\n"},
        {"check fixed", false, kernelReply(0x02, 0, 0, fixedNotReady), kSsErr, 0, 2, 2, 0x3A, 0,
         "Not Ready 3A 00", "Sense key: 0x02 Not Ready"},
        {"check descriptor", false, kernelReply(0x02, 0, 0, descriptorBlank), kSsErr, 0, 2, 8, 0, 5,
         "Blank Check 00 05", "EOM: 1"},
        // The residual as the adapter reports it goes with the sense: here it agrees with the
        // information field (0x336 = 822).
        {"ILI on read", true, readWithSense(ili, 5000), kSsErr, 0, 2, 0, 0, 0, "No Sense 00 00",
         "Filemark: 0  EOM: 0  ILI: 1  Sense key: 0x00 No Sense\n  3..6  Information: 00000336"},
        {"ILI residual", true, readWithSense(ili, 5000), kSsErr, 0, 2, 0, 0, 0, "No Sense 00 00",
         "\nResidual: 822 bytes not transferred (as the adapter reports it)\n\n"},
        {"filemark on read", true, readWithSense(filemark, 0), kSsErr, 0, 2, 0, 0, 1,
         "No Sense 00 01", "Filemark: 1  EOM: 0  ILI: 0"},
        // GOOD, but the tail of the frame never came: not a frame.
        {"good read with residual", true, shortRead(5000), kSsErr, 0x12, 0, 0, 0, 0,
         "Incomplete data transfer",
         "HaStat: 0x12 Data overrun/underrun\nTargStat: 0x00 Status Good\nIncomplete data "
         "transfer\nResidual: 822 bytes not transferred (as the adapter reports it)\n"},
        {"busy", false, kernelReply(0x08), kSsErr, 0, 8, 0, 0, 0, "", "0x08 Busy"},
        // Host codes: the raw code with its name and a reason, the name or a short reason in
        // the summary.
        {"time-out", false, hostTimeOut(29000), kSsErr, 0x09, 0, 0, 0, 0, "Command timed out",
         "Host status: 0x03 DID_TIME_OUT (the command timed out)\n"},
        {"time-out at once", false, hostTimeOut(300), kSsErr, 0x09, 0, 0, 0, 0,
         "No answer to selection",
         "Host status: 0x03 DID_TIME_OUT (no answer to selection: the drive is probably switched "
         "off)\nDriver status: 0x00 DRIVER_OK\nNo answer to selection\n"},
        {"no connect", false, kernelReply(0, kDidNoConnect), kSsErr, 0x11, 0, 0, 0, 0,
         "Drive not connected",
         "HaStat: 0x11 Selection of target timed out\nTargStat: 0x00 Status Good\nHost status: "
         "0x01 DID_NO_CONNECT (the drive is not connected or was switched off)\n"},
        {"bus reset", false, kernelReply(0, kDidReset), kSsErr, 0x0E, 0, 0, 0, 0, "DID_RESET",
         "0x08 DID_RESET (the bus or the drive was reset)"},
        {"adapter error", false, kernelReply(0, kDidError), kSsErr, 0xFF, 0, 0, 0, 0, "DID_ERROR",
         "HaStat: UnKnown??\nTargStat: 0x00 Status Good\nHost status: 0x07 DID_ERROR (transport "
         "error on the adapter)\nDriver status: 0x00 DRIVER_OK\n\n"},
        {"link disrupted", false, kernelReply(0, 0x0E), kSsErr, 0xFF, 0, 0, 0, 0,
         "DID_TRANSPORT_DISRUPTED", "0x0E DID_TRANSPORT_DISRUPTED (the link to the drive was"},
        {"driver time-out", false, kernelReply(0, 0, 0x06 | 0x20), kSsErr, 0x09, 0, 0, 0, 0,
         "Command timed out", "Driver status: 0x26 DRIVER_TIMEOUT SUGGEST_ABORT\n"},
        {"driver error", false, kernelReply(0, 0, 0x04), kSsErr, 0, 0, 0, 0, 0,
         "Pass-through call failed", "Driver status: 0x04 DRIVER_ERROR\nPass-through call failed"},
        {"device gone", false, kernelReply(0, 0, 0, {}, ENODEV), kSsErr, 0, 0, 0, 0, 0,
         "Device not available", "Device not available\nNo such device\n"},
        {"adapter recovering", false, kernelReply(0, 0, 0, {}, EAGAIN), kSsErr, 0, 0, 0, 0, 0,
         "Adapter recovering; try again",
         "Adapter recovering; try again\nthe adapter is recovering from an error; try again\n"},
    };
    FakeDevice& device = kernel->addTape(0, 0, 0, 1, 0, "VENDOR  DDS");
    for (bool aspi : {true, false}) {
        ScsiTransport transport(aspi, kernel);
        ASSERT_EQ(transport.scanDevices(kTypeSequentialAccess), 1);
        for (const MappingCase& c : cases) {
            SCOPED_TRACE(std::string(c.name) + (aspi ? " aspi" : " spti"));
            device.onCommand = [&](const sg_io_hdr_t&) { return c.reply; };
            const std::uint8_t status =
                c.read ? transport.runCommand("READ6", 0, DataDirection::In, kRead6, 6, frame,
                                              sizeof frame)
                       : transport.runCommand("TST_U_RDY", 0, DataDirection::None, kTur, 6, nullptr,
                                              0);
            EXPECT_EQ(status, c.status);
            EXPECT_EQ(transport.haStatus(), c.haStatus);
            EXPECT_EQ(transport.targetStatus(), c.targetStatus);
            EXPECT_EQ(transport.senseKey(), c.senseKey);
            EXPECT_EQ(transport.senseAsc(), c.asc);
            EXPECT_EQ(transport.senseAscq(), c.ascq);
            EXPECT_STREQ(transport.senseSummary(), c.summary);
            EXPECT_TRUE(contains(transport.logText(), c.logPart)) << transport.logText();
        }
    }
}

TEST_F(SgBackendTest, AllocationLengthsMayBeAnsweredShort)
{
    kernel->addTape(0, 0, 0, 1, 0, "VENDOR  DDS");
    FakeDevice& device = kernel->device("/dev/sg0");
    device.onCommand = [](const sg_io_hdr_t&) { return shortRead(8); };
    ScsiTransport transport(false, kernel);
    // The tape role's INQUIRY asks for 44 bytes of a device that has 36.
    ASSERT_EQ(transport.scanDevices(kTypeSequentialAccess), 1);
    EXPECT_EQ(transport.getDevice(0).vendorText(), "VENDOR  ");
    std::uint8_t mode[12] = {};
    const std::uint8_t modeSense[6] = {0x1A, 0, 0, 0, 12, 0};
    EXPECT_EQ(transport.execute(0, DataDirection::In, modeSense, 6, mode, 12), kSsComp);
    const std::uint8_t readPosition[10] = {0x34, 0x01};
    std::uint8_t position[20] = {};
    EXPECT_EQ(transport.execute(0, DataDirection::In, readPosition, 10, position, 20), kSsErr);
}

TEST_F(SgBackendTest, HeaderCarriesDirectionLengthAndTheCommandsTimeOut)
{
    kernel->addTape(0, 0, 0, 1, 0, "VENDOR  DDS");
    ScsiTransport transport(false, kernel);
    ASSERT_EQ(transport.scanDevices(kTypeSequentialAccess), 1);
    const std::uint8_t write6[6] = {0x0A, 0, 0x00, 0x16, 0xBE, 0};
    for (std::size_t i = 0; i < sizeof frame; ++i)
        frame[i] = static_cast<std::uint8_t>(i * 7);
    transport.execute(0, DataDirection::Out, write6, 6, frame, sizeof frame, 1234);
    const sg_io_hdr_t& h = kernel->headers.back();
    EXPECT_EQ(h.dxfer_direction, SG_DXFER_TO_DEV);
    EXPECT_EQ(h.dxfer_len, 5822u);
    EXPECT_EQ(kernel->dataOut.back(), std::vector<std::uint8_t>(frame, frame + sizeof frame));
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

KernelReply hangOn(std::uint8_t opcode, const sg_io_hdr_t& h)
{
    KernelReply r;
    r.hang = h.cmdp[0] == opcode;
    return r;
}

TEST_F(SgBackendTest, AfterADeadlineNothingGoesToTheDriveUntilTheKernelLetsGoOfTheCommand)
{
    // How the kernel lets go of a command given up at its deadline.
    struct Case {
        const char* name;
        std::function<void(FakeKernel&, FakeDevice&)> recover;
        bool nextIsSent;
        const char* logLine; // in the next command's entry
    };
    const Case cases[] = {
        {"late reply",
         [](FakeKernel& k, FakeDevice&) {
             KernelReply late;
             late.data.assign(5822, 0x5A);
             k.finishHanging(late);
         },
         true,
         "The command given up at its deadline has ended:\nTargStat: 0x00\nHost status: 0x00 "
         "DID_OK\nDriver status: 0x00 DRIVER_OK"},
        {"set offline",
         [](FakeKernel& k, FakeDevice&) {
             k.addSysFile("/sys/class/scsi_tape/nst0/device/state", "offline");
             k.addSysFile("/sys/class/scsi_generic/sg0/device/state", "offline");
         },
         true,
         "The drive is gone or offline; the command given up at its deadline will not answer."},
        {"unplugged", [](FakeKernel&, FakeDevice& d) { d.detached = true; }, false,
         "Device not available"},
    };
    for (const Case& c : cases) {
        for (bool aspi : {true, false}) {
            SCOPED_TRACE(std::string(c.name) + (aspi ? " aspi" : " spti"));
            kernel = std::make_shared<FakeKernel>();
            FakeDevice& device = kernel->addTape(0, 0, 0, 1, 0, "VENDOR  DDS");
            kernel->addTape(1, 1, 0, 2, 0, "VENDOR  DDS");
            device.onCommand = [](const sg_io_hdr_t& h) { return hangOn(0x08, h); };
            ScsiTransport transport(aspi, kernel);
            ASSERT_EQ(transport.scanDevices(kTypeSequentialAccess), 2);
            std::fill(std::begin(frame), std::end(frame), 0);
            const std::int64_t start = kernel->nowMs();
            EXPECT_EQ(transport.runCommand("READ6", 0, DataDirection::In, kRead6, 6, frame,
                                           sizeof frame, 2000),
                      kSsErr);
            // Its own time-out and the margin for the kernel's error handling have passed.
            EXPECT_GE(kernel->nowMs() - start, 2000);
            EXPECT_LE(kernel->nowMs() - start, 2000 + 30000);
            EXPECT_EQ(transport.haStatus(), kHaStatusTimeout);
            EXPECT_STREQ(transport.senseSummary(), "Command timed out");
            EXPECT_TRUE(contains(transport.logText(), "Command timed out\nThe drive does not "
                                                      "answer; waiting for the system to recover "
                                                      "it...\n\n"))
                << transport.logText();

            // The kernel still holds the READ: nothing more goes to that drive, and using the
            // other drive does not let go of it.
            const std::size_t sent = kernel->headers.size();
            EXPECT_EQ(
                transport.runCommand("TST_U_RDY", 1, DataDirection::None, kTur, 6, nullptr, 0),
                kSsComp);
            for (int i = 0; i < 2; ++i) {
                EXPECT_TRUE(transport.waitingForRecovery(0));
                EXPECT_EQ(
                    transport.runCommand("TST_U_RDY", 0, DataDirection::None, kTur, 6, nullptr, 0),
                    kSsErr);
                EXPECT_STREQ(transport.senseSummary(), "Drive does not answer");
                EXPECT_TRUE(contains(transport.logText(), "\nThe drive does not answer; waiting "
                                                          "for the system to recover it...\n\n"))
                    << transport.logText();
            }
            EXPECT_EQ(kernel->headers.size(), sent + 1);
            EXPECT_TRUE(kernel->isOpen("/dev/sg0"));

            c.recover(*kernel, device);
            const std::uint8_t status =
                transport.runCommand("TST_U_RDY", 0, DataDirection::None, kTur, 6, nullptr, 0);
            EXPECT_EQ(status, c.nextIsSent ? kSsComp : kSsErr);
            EXPECT_EQ(kernel->headers.size(), sent + 1 + (c.nextIsSent ? 1 : 0));
            EXPECT_TRUE(contains(transport.logText(), c.logLine)) << transport.logText();
            EXPECT_FALSE(transport.waitingForRecovery(0));
            // A late reply's data went into a buffer of our own, not into the frame the READ
            // was given long ago.
            EXPECT_EQ(std::count(std::begin(frame), std::end(frame), 0), 5822);
        }
    }
}

TEST_F(SgBackendTest, OnlyTheDriveInUseIsHeldSoASecondInstanceGetsTheOther)
{
    kernel->addTape(0, 3, 0, 1, 0, "VENDOR  DDS DRIVE AUDIO 9608");
    kernel->addTape(1, 4, 0, 2, 0, "VENDOR  DDS DRIVE AUDIO 9608");
    ScsiTransport first(false, kernel);
    ScsiTransport second(false, kernel);

    ASSERT_EQ(first.scanDevices(kTypeSequentialAccess), 2);
    EXPECT_EQ(kernel->openFds(), 0); // the scan holds nothing
    EXPECT_EQ(first.runCommand("TST_U_RDY", 0, DataDirection::None, kTur, 6, nullptr, 0), kSsComp);
    EXPECT_TRUE(kernel->isOpen("/dev/nst0"));
    EXPECT_FALSE(kernel->isOpen("/dev/nst1"));

    // The second instance finds the first one's drive busy and uses the other.
    ASSERT_EQ(second.scanDevices(kTypeSequentialAccess), 2);
    EXPECT_EQ(second.deviceProblem(0), "/dev/nst0: busy (another program has the drive open)");
    EXPECT_EQ(second.deviceProblem(1), "");
    EXPECT_EQ(second.runCommand("TST_U_RDY", 1, DataDirection::None, kTur, 6, nullptr, 0), kSsComp);
    EXPECT_EQ(first.runCommand("TST_U_RDY", 0, DataDirection::None, kTur, 6, nullptr, 0), kSsComp);

    // A drive let go of is free for a backup job until the next command claims it again.
    first.releaseDevice(0);
    const int backup = kernel->open("/dev/nst0", O_RDONLY);
    ASSERT_GE(backup, 0);
    EXPECT_EQ(first.runCommand("TST_U_RDY", 0, DataDirection::None, kTur, 6, nullptr, 0), kSsErr);
    EXPECT_STREQ(first.senseSummary(), "Device busy");
    kernel->close(backup);
    EXPECT_EQ(first.runCommand("TST_U_RDY", 0, DataDirection::None, kTur, 6, nullptr, 0), kSsComp);
}

TEST_F(SgBackendTest, AbortWaitsFirstResetsOnlyOnASecondYesAndTellsWhatTheResetDid)
{
    struct Case {
        const char* name;
        const char* adapter;
        KernelReply resetReply; // how the running command comes back from the reset
        std::uint8_t status;
        const char* told;
        const char* logPart;
    };
    const Case cases[] = {
        {"stopped", "mptspi", kernelReply(0, kDidReset), kSsAborted,
         "The drive was reset; the command was stopped.",
         "Status: SS_ABORTED\nHost status: 0x08 DID_RESET (the bus or the drive was reset)\n"
         "Driver status: 0x00 DRIVER_OK\nThe drive was reset; the command was stopped.\n\n"},
        {"completed first", "mptspi", KernelReply{}, kSsComp,
         "The drive was reset, but the command had already completed.",
         "Status: SS_COMP\nThe drive was reset, but the command had already completed.\n\n"},
        {"behind a USB bridge", "usb-storage", kernelReply(0, kDidAbort), kSsAborted,
         "The drive was reset and reports the command as stopped; behind a USB bridge it may "
         "have run to its end first (check where the tape is).",
         "0x05 DID_ABORT"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        kernel = std::make_shared<FakeKernel>();
        FakeDevice& device = kernel->addGeneric(0, 1, 2, 1, 0, "VENDOR  DDS");
        kernel->addSysFile("/sys/class/scsi_host/host2/proc_name", c.adapter);
        kernel->rawIo = kernel->sysAdmin = true;
        device.onCommand = [](const sg_io_hdr_t& h) { return hangOn(0x01, h); };
        device.resetReply = c.resetReply;
        ScsiTransport transport(true, kernel);
        ASSERT_EQ(transport.scanDevices(kTypeSequentialAccess), 1);

        std::atomic<bool> done{false};
        std::uint8_t status = 0;
        std::thread command([&] {
            status = transport.runCommand("REWIND", 0, DataDirection::None, kRewind, 6, nullptr, 0,
                                          ScsiTransport::kMotionTimeoutMs);
            done = true;
        });
        while (kernel->hangingCount() == 0)
            std::this_thread::yield();

        std::vector<std::string> asked;
        std::vector<std::size_t> resetsWhenAsked;
        std::vector<std::string> told;
        AbortDialogView view;
        view.ask = [&](const std::string& q) {
            asked.push_back(q);
            resetsWhenAsked.push_back(kernel->resetCount());
            return true;
        };
        view.wait = [&](int) {
            // Once the reset is asked for, wait for the command (not for a clock).
            if (asked.size() < 2) {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
                return;
            }
            while (!done)
                std::this_thread::yield();
        };
        view.tell = [&](const std::string& t) { told.push_back(t); };
        EXPECT_TRUE(runAbortDialog(transport, view));
        command.join();

        ASSERT_EQ(asked.size(), 2u);
        EXPECT_EQ(asked[0], "REWIND\n\nNow executing SCSI command above.\n Try to abort?");
        EXPECT_TRUE(contains(asked[1], "REWIND\n\nThe command has not ended.\n Reset the drive"))
            << asked[1];
        // The first yes only waited.
        EXPECT_EQ(resetsWhenAsked, (std::vector<std::size_t>{0, 0}));
        EXPECT_EQ(kernel->resets, std::vector<int>{SG_SCSI_RESET_DEVICE | kNoEscalate});
        EXPECT_EQ(status, c.status);
        EXPECT_EQ(told, std::vector<std::string>{c.told});
        EXPECT_TRUE(contains(transport.logText(), c.logPart)) << transport.logText();
        // The reply was read: the node needs no reopening, and nothing waits for recovery.
        EXPECT_FALSE(transport.waitingForRecovery(0));
        EXPECT_EQ(transport.runCommand("TST_U_RDY", 0, DataDirection::None, kTur, 6, nullptr, 0),
                  kSsComp);
    }
}

TEST_F(SgBackendTest, TheDialogOnlyWaitsForACommandThatEndsByItselfAndInSptiMode)
{
    struct Case {
        const char* name;
        bool aspi;
        int endsAtWait; // the command ends by itself during this wait of 500 ms
        std::size_t questions;
    };
    const Case cases[] = {
        {"ends while waiting, aspi", true, 5, 1},
        {"ends while waiting, spti", false, 5, 1},
        // SPTI mode cannot reset: a second yes waits again.
        {"spti waits again", false, 25, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        kernel = std::make_shared<FakeKernel>();
        FakeDevice& device = kernel->addTape(0, 0, 0, 1, 0, "VENDOR  DDS");
        kernel->rawIo = kernel->sysAdmin = true;
        device.onCommand = [](const sg_io_hdr_t& h) { return hangOn(0x01, h); };
        ScsiTransport transport(c.aspi, kernel);
        ASSERT_EQ(transport.scanDevices(kTypeSequentialAccess), 1);
        std::thread command([&] {
            transport.runCommand("REWIND", 0, DataDirection::None, kRewind, 6, nullptr, 0,
                                 ScsiTransport::kMotionTimeoutMs);
        });
        while (kernel->hangingCount() == 0)
            std::this_thread::yield();
        AbortDialogView view;
        int waits = 0;
        std::vector<std::string> asked;
        view.ask = [&](const std::string& q) {
            asked.push_back(q);
            return true;
        };
        view.wait = [&](int ms) {
            EXPECT_EQ(ms, 500);
            if (++waits == c.endsAtWait)
                kernel->finishHanging({});
            while (waits >= c.endsAtWait && !transport.commandInProgressName().empty())
                std::this_thread::yield();
        };
        view.tell = [](const std::string& t) { ADD_FAILURE() << t; };
        EXPECT_TRUE(runAbortDialog(transport, view));
        command.join();
        ASSERT_EQ(asked.size(), c.questions);
        if (c.questions > 1) {
            EXPECT_TRUE(contains(asked[1], "REWIND\n\nAbort failed.\n Try to abort again?"))
                << asked[1];
        }
        EXPECT_EQ(kernel->resetCount(), 0u);
        EXPECT_STREQ(transport.statusText(), "");
    }
}

TEST_F(SgBackendTest, AnAbortTheKernelRefusesIsReportedAndTheCommandRunsOn)
{
    struct Case {
        const char* name;
        bool privileged;
        bool knowsNoEscalation;
        bool recovering;
        const char* problem;
    };
    const Case cases[] = {
        {"no rights", false, true, false, "Unable to abort the command (no permission)"},
        // Such a kernel refuses the flag before it looks at the rights.
        {"kernel cannot reset without escalating", false, false, false,
         "Unable to abort the command (not supported by this kernel)"},
        {"adapter in error recovery", true, true, true,
         "Unable to abort the command (the adapter is recovering from an error; try again)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        kernel = std::make_shared<FakeKernel>();
        FakeDevice& device = kernel->addGeneric(0, 1, 0, 1, 0, "VENDOR  DDS");
        kernel->rawIo = kernel->sysAdmin = c.privileged;
        kernel->knowsNoEscalation = c.knowsNoEscalation;
        kernel->adapterRecovering = c.recovering;
        device.onCommand = [](const sg_io_hdr_t& h) { return hangOn(0x01, h); };
        ScsiTransport transport(true, kernel);
        ASSERT_EQ(transport.scanDevices(kTypeSequentialAccess), 1);
        std::string seen;
        std::thread aborter([&] {
            while (transport.commandInProgressName().empty())
                std::this_thread::yield();
            transport.abort();
            while (transport.abortProblem().empty())
                std::this_thread::yield();
            seen = transport.abortProblem();
            kernel->finishHanging({}); // the command completes after all
        });
        EXPECT_EQ(
            transport.runCommand("REWIND", 0, DataDirection::None, kRewind, 6, nullptr, 0, 600000),
            kSsComp);
        aborter.join();
        EXPECT_EQ(seen, c.problem);
        EXPECT_EQ(kernel->resetCount(), 1u); // never escalated to a bus or host reset
        EXPECT_TRUE(contains(transport.logText(), c.problem)) << transport.logText();
        // The next command starts without the refusal.
        EXPECT_EQ(transport.runCommand("TST_U_RDY", 0, DataDirection::None, kTur, 6, nullptr, 0),
                  kSsComp);
        EXPECT_EQ(transport.abortProblem(), "");
    }
}

TEST(SgHeaderMapping, A32BitBuildRefusedByTheDriverIsExplained)
{
    ScsiResult refused;
    mapHeaderWriteError(-EINVAL, true, refused);
    EXPECT_EQ(refused.status, kSsErr);
    EXPECT_STREQ(tr(*refused.failure), "Header refused (32-bit build)");
    ScsiResult other;
    mapHeaderWriteError(-EINVAL, false, other);
    EXPECT_STREQ(tr(*other.failure), "Pass-through call failed");
}

TEST_F(SgBackendTest, BusResetDoesNotEscalateAndWritesItsResultLine)
{
    kernel->addTape(0, 0, 0, 1, 0, "VENDOR  DDS");
    ScsiTransport transport(false, kernel);
    ASSERT_EQ(transport.scanDevices(kTypeSequentialAccess), 1);
    EXPECT_EQ(transport.resetBus(0), kSsErr); // a user without administrator rights
    EXPECT_STREQ(transport.logText(), "SCSI Bus Reset   Status: SS_ERR  \n Permission denied");
    kernel->knowsNoEscalation = false;
    EXPECT_EQ(transport.resetBus(0), kSsErr);
    EXPECT_STREQ(transport.logText(),
                 "SCSI Bus Reset   Status: SS_ERR  \n not supported by this kernel");
    kernel->knowsNoEscalation = true;
    kernel->rawIo = kernel->sysAdmin = true;
    EXPECT_EQ(transport.resetBus(0), kSsComp);
    EXPECT_STREQ(transport.logText(), "SCSI Bus Reset   Status: SS_COMP");
    EXPECT_EQ(kernel->resets.back(), SG_SCSI_RESET_BUS | kNoEscalate);
}

} // namespace
} // namespace tarnvel::scsi
