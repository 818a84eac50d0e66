#include "dat/DatDrive.h"
#include "dat/StatusPoll.h"
#include "scsi/ScsiStatus.h"
#include "support/FakeKernel.h"

#include <atomic>
#include <deque>
#include <functional>
#include <gtest/gtest.h>
#include <thread>

// The drive layer after the kernel's error handling: after a reset the drive may be back in
// its power-on (data) mode, so audio mode is set again before the next command whose meaning
// depends on it; after a command given up at its deadline the status line says why nothing
// happens.
namespace tarnvel::dat {
namespace {

using scsi::kSsComp;
using scsi::kSsErr;
using scsi::test::FakeDevice;
using scsi::test::FakeKernel;
using scsi::test::KernelReply;
using scsi::test::kernelReply;
using Bytes = std::vector<std::uint8_t>;

// A drive behind a generic node that keeps its density and answers as told.
struct DriveModel {
    std::uint8_t density = 0;
    std::deque<KernelReply> turReplies; // then GOOD
    int refusedSelects = 0;             // MODE SELECTs refused from now on
    bool rewindHangs = false;
    bool readHangs = false;

    KernelReply answer(const sg_io_hdr_t& h)
    {
        KernelReply r;
        switch (h.cmdp[0]) {
        case 0x00:
            if (!turReplies.empty()) {
                r = turReplies.front();
                turReplies.pop_front();
            }
            return r;
        case 0x01:
            r.hang = rewindHangs;
            return r;
        case 0x15:
            if (refusedSelects > 0) {
                --refusedSelects;
                return kernelReply(0x02, 0, 0,
                                   {0x70, 0, 0x05, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x26, 0});
            }
            density = static_cast<const std::uint8_t*>(h.dxferp)[4];
            return r;
        case 0x1A:
            r.data = {11, 0, 0x10, 8, density, 0, 0, 0, 0, 0, 0x02, 0};
            return r;
        case 0x08:
            r.data.assign(kFrameBytes, 0x11);
            r.hang = readHangs;
            return r;
        default:
            return r;
        }
    }
};

class DatDriveRecoveryTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        FakeDevice& device = kernel->addGeneric(0, 1, 0, 1, 0, "VENDOR  DAT");
        device.onCommand = [this](const sg_io_hdr_t& h) { return model.answer(h); };
        kernel->rawIo = kernel->sysAdmin = true;
        drive.setSleepFunction([](int) {});
        ASSERT_EQ(drive.scanDevices(scsi::kTypeSequentialAccess), 1);
    }
    Bytes opcodesFrom(std::size_t from) const
    {
        Bytes ops;
        for (std::size_t i = from; i < kernel->cdbs.size(); ++i)
            ops.push_back(kernel->cdbs[i][0]);
        return ops;
    }

    std::shared_ptr<FakeKernel> kernel = std::make_shared<FakeKernel>();
    DriveModel model;
    DatDrive drive{true, kernel};
    std::uint8_t frame[kFrameBytes] = {};
};

TEST_F(DatDriveRecoveryTest, AfterEveryKindOfResetAudioModeIsSetAgainBeforeTheNextFrame)
{
    struct Case {
        const char* name;
        std::function<void(DatDrive&, DriveModel&)> reset;
        bool modeSetAgain;
    };
    const Case cases[] = {
        {"no reset", [](DatDrive&, DriveModel&) {}, false},
        {"bus reset",
         [](DatDrive& d, DriveModel& m) {
             EXPECT_EQ(d.resetBus(0), kSsComp);
             m.density = 0;
         },
         true},
        {"device reset of an abort",
         [](DatDrive& d, DriveModel& m) {
             m.rewindHangs = true;
             std::thread aborter([&] {
                 while (d.commandInProgressName().empty())
                     std::this_thread::yield();
                 d.abort();
             });
             EXPECT_EQ(d.rewind(0, false), scsi::kSsAborted);
             aborter.join();
             m.rewindHangs = false;
             m.density = 0;
         },
         true},
        {"reset reported by the kernel",
         [](DatDrive& d, DriveModel& m) {
             m.turReplies.push_back(kernelReply(0, 0x08 /* DID_RESET */));
             m.density = 0;
             EXPECT_EQ(d.testUnitReady(0), kSsErr);
         },
         true},
        {"unit attention of a power-on",
         [](DatDrive& d, DriveModel& m) {
             m.turReplies.push_back(
                 kernelReply(0x02, 0, 0, {0x70, 0, 0x06, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x29, 0}));
             m.density = 0;
             EXPECT_EQ(d.datTestUnitReady(0), kUnitReset);
         },
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(drive.identify(0));
        c.reset(drive, model);
        const std::size_t from = kernel->cdbs.size();
        // Status polls are no business of the mode; the frame read is.
        EXPECT_EQ(drive.testUnitReady(0), kSsComp);
        EXPECT_EQ(drive.readFrame(0, frame, kFrameBytes), kSsComp) << drive.logText();
        EXPECT_EQ(drive.readFrame(0, frame, kFrameBytes), kSsComp);
        EXPECT_EQ(opcodesFrom(from), c.modeSetAgain ? (Bytes{0x00, 0x15, 0x1A, 0x08, 0x08})
                                                    : (Bytes{0x00, 0x08, 0x08}));
        EXPECT_EQ(model.density, 0x80);
    }
}

TEST_F(DatDriveRecoveryTest, AFrameCommandIsNotSentWhenAudioModeCannotBeSetAgain)
{
    ASSERT_TRUE(drive.identify(0));
    EXPECT_EQ(drive.resetBus(0), kSsComp);
    model.density = 0;
    model.refusedSelects = 1000;
    const std::size_t from = kernel->cdbs.size();
    EXPECT_EQ(drive.readFrame(0, frame, kFrameBytes), kSsErr);
    EXPECT_STREQ(drive.senseSummary(), "Audio mode lost after reset");
    EXPECT_NE(std::string(drive.logText())
                  .find("The drive was reset; its audio mode could not be set again, so the "
                        "command was not sent."),
              std::string::npos)
        << drive.logText();
    EXPECT_EQ(drive.locate(0, DatDrive::kLocateByProgram, true, 0, 0, 5, 0), kSsErr);
    for (const std::uint8_t op : opcodesFrom(from))
        EXPECT_EQ(op, 0x15); // tried again, nothing else sent
    // Once the drive takes it, the frame goes.
    model.refusedSelects = 0;
    EXPECT_EQ(drive.readFrame(0, frame, kFrameBytes), kSsComp);
    EXPECT_EQ(model.density, 0x80);

    // A drive this object never switched to audio mode is left as the reset left it.
    DatDrive other(true, kernel);
    ASSERT_EQ(other.scanDevices(scsi::kTypeSequentialAccess), 1);
    EXPECT_EQ(other.resetBus(0), kSsComp);
    const std::size_t before = kernel->cdbs.size();
    EXPECT_EQ(other.readFrame(0, frame, kFrameBytes), kSsComp);
    EXPECT_EQ(opcodesFrom(before), Bytes{0x08});
}

TEST_F(DatDriveRecoveryTest, AStatusPollAfterADeadlineSaysTheDriveDoesNotAnswer)
{
    ASSERT_TRUE(drive.identify(0));
    model.readHangs = true;
    EXPECT_EQ(drive.readFrame(0, frame, kFrameBytes), kSsErr);
    StatusPoller poller(drive, 0);
    const std::size_t sent = kernel->cdbs.size();
    const StatusPollResult r = poller.poll();
    EXPECT_EQ(r.statusText, " The drive does not answer; waiting for the system to recover it...");
    EXPECT_EQ(r.detailText, "");
    EXPECT_EQ(kernel->cdbs.size(), sent);
    kernel->finishHanging({});
    EXPECT_EQ(poller.poll().statusText, " Ready");
}

} // namespace
} // namespace tarnvel::dat
