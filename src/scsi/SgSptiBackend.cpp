#include "scsi/SgSptiBackend.h"

#include "scsi/ScsiStatus.h"
#include "scsi/SgAspiBackend.h"
#include "scsi/SgSysfs.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <scsi/scsi.h>
#include <scsi/sg.h>

namespace tarnvel::scsi {

namespace {
constexpr std::uint32_t kInquiryTimeoutMs = 10000;
constexpr char kTapeClass[] = "/sys/class/scsi_tape";

// SCSI_IOCTL_GET_IDLUN reply: id | lun << 8 | channel << 16 | host << 24.
struct IdLun {
    int devId = 0;
    int hostUniqueId = 0;
};

bool typeWanted(std::uint8_t type, std::uint8_t wanted)
{
    return wanted == kTypeAny || type == wanted || (wanted == kTypeCdRom && type == kTypeWorm);
}
} // namespace

SgSptiBackend::SgSptiBackend(std::shared_ptr<SgIo> io) : io_(std::move(io)) {}

SgSptiBackend::~SgSptiBackend() = default;

SgSptiBackend::Tape* SgSptiBackend::tape(int handle)
{
    if (handle < 0 || handle >= static_cast<int>(tapes_.size()))
        return nullptr;
    return &tapes_[handle];
}

const SgSptiBackend::Tape* SgSptiBackend::tape(int handle) const
{
    if (handle < 0 || handle >= static_cast<int>(tapes_.size()))
        return nullptr;
    return &tapes_[handle];
}

std::string SgSptiBackend::devicePath(int handle) const
{
    const Tape* t = tape(handle);
    return t != nullptr ? t->path : std::string();
}

std::string SgSptiBackend::commandPath(int handle) const
{
    const Tape* t = tape(handle);
    return t != nullptr && t->node->path() != t->path ? t->node->path() : std::string();
}

std::string SgSptiBackend::deviceProblem(int handle) const
{
    const Tape* t = tape(handle);
    return t != nullptr ? nodeProblemText(*t->node) : std::string();
}

std::string SgSptiBackend::nodeGroup(int handle) const
{
    const Tape* t = tape(handle);
    return t != nullptr ? nodeGroupOf(*io_, *t->node) : std::string();
}

void SgSptiBackend::scan(std::uint8_t wantedType, const AddDevice& add)
{
    tapes_.clear();
    const std::vector<int> present = numberedNames(*io_, kTapeClass, "nst");
    for (int n = 0; n < kPaths; ++n) {
        if (std::find(present.begin(), present.end(), n) == present.end())
            continue;
        char deviceDir[96];
        std::snprintf(deviceDir, sizeof deviceDir, "%s/nst%d/device", kTapeClass, n);
        char path[32];
        std::snprintf(path, sizeof path, "/dev/nst%d", n);
        const std::vector<int> generic =
            numberedNames(*io_, (std::string(deviceDir) + "/scsi_generic").c_str(), "sg");
        Tape t;
        t.path = path;
        if (!generic.empty()) {
            char sgPath[32];
            std::snprintf(sgPath, sizeof sgPath, "/dev/sg%d", generic.front());
            t.node = std::make_unique<SgNode>(*io_, SgNode::Kind::Generic, sgPath, path, deviceDir);
        } else {
            t.node =
                std::make_unique<SgNode>(*io_, SgNode::Kind::Tape, path, std::string(), deviceDir);
        }
        SgNode& node = *t.node;

        ScsiDeviceEntry entry;
        const bool known = entryFromSysfs(*io_, deviceDir, entry);
        entry.driveType = 0;
        entry.pathCharacter = static_cast<char>('0' + n);
        bool listed = known && typeWanted(entry.deviceType, wantedType);
        if (node.ensureOpen() == 0) {
            std::uint8_t inquiry[300] = {};
            const std::uint8_t cdb[6] = {0x12, 0, 0, 0, 44, 0};
            ScsiResult result;
            node.execute({DataDirection::In, cdb, sizeof cdb, inquiry, 44, kInquiryTimeoutMs},
                         nullptr, result);
            if (result.status == kSsComp) {
                entry.deviceType = inquiry[0] & 0x1F;
                setIdentification(entry, inquiry);
                listed = typeWanted(entry.deviceType, wantedType);
            }
            if (node.kind() == SgNode::Kind::Generic) {
                sg_scsi_id id{};
                if (io_->ioctl(node.fd(), SG_GET_SCSI_ID, &id) >= 0) {
                    entry.hostAdapter = static_cast<std::uint8_t>(id.host_no);
                    entry.target = static_cast<std::uint8_t>(id.scsi_id);
                    entry.lun = static_cast<std::uint8_t>(id.lun);
                }
            } else {
                IdLun idLun;
                if (io_->ioctl(node.fd(), SCSI_IOCTL_GET_IDLUN, &idLun) >= 0) {
                    const auto id = static_cast<unsigned>(idLun.devId);
                    entry.target = static_cast<std::uint8_t>(id & 0xFF);
                    entry.lun = static_cast<std::uint8_t>((id >> 8) & 0xFF);
                    entry.hostAdapter = static_cast<std::uint8_t>((id >> 24) & 0xFF);
                }
            }
        }
        // Only the drive in use is held: the others stay free for other programs (a second
        // instance, a backup job) until a command is sent to them.
        node.release();
        if (!listed)
            continue;
        const int handle = static_cast<int>(tapes_.size());
        tapes_.push_back(std::move(t));
        if (!add(entry, handle))
            return;
    }
}

void SgSptiBackend::execute(int handle, const ScsiCommand& command, AbortState& /*abort*/,
                            ScsiResult& result)
{
    Tape* t = tape(handle);
    if (t == nullptr) {
        result.status = kSsNoDevice;
        return;
    }
    t->node->execute(command, nullptr, result);
}

void SgSptiBackend::release(int handle)
{
    if (Tape* t = tape(handle))
        t->node->release();
}

bool SgSptiBackend::waitingForRecovery(int handle) const
{
    const Tape* t = tape(handle);
    return t != nullptr && t->node->waitingForRecovery();
}

bool SgSptiBackend::resetBus(int handle, std::string& errorText)
{
    Tape* t = tape(handle);
    if (t == nullptr) {
        errorText = io_->errorText(ENODEV);
        return false;
    }
    int rc = t->node->ensureOpen();
    if (rc >= 0)
        rc = t->node->reset(SG_SCSI_RESET_BUS);
    if (rc < 0) {
        char reason[128];
        errorText = (-rc == EINVAL || -rc == EAGAIN) ? explainResetError(-rc, reason, sizeof reason)
                                                     : io_->errorText(-rc);
        return false;
    }
    return true;
}

} // namespace tarnvel::scsi
