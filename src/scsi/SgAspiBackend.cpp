#include "scsi/SgAspiBackend.h"

#include "scsi/ScsiMessages.h"
#include "scsi/ScsiStatus.h"
#include "scsi/SgSysfs.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <linux/fs.h>
#include <scsi/sg.h>

namespace tarnvel::scsi {

namespace {
constexpr std::uint32_t kInquiryTimeoutMs = 10000;
constexpr char kGenericClass[] = "/sys/class/scsi_generic";

// The adapter drivers of USB mass-storage bridges.
bool isUsbBridge(const char* adapterName)
{
    return std::strcmp(adapterName, "usb-storage") == 0 || std::strcmp(adapterName, "uas") == 0;
}
} // namespace

std::string nodeGroupOf(SgIo& io, const SgNode& node)
{
    return io.fileGroup((node.problem() != 0 ? node.problemPath() : node.path()).c_str());
}

std::string nodeProblemText(const SgNode& node)
{
    if (node.problem() == 0)
        return {};
    char reason[128];
    char text[512];
    std::snprintf(text, sizeof text, tr(msg::kPathProblem), node.problemPath().c_str(),
                  explainSystemError(node.problem(), reason, sizeof reason));
    return text;
}

SgAspiBackend::SgAspiBackend(std::shared_ptr<SgIo> io) : io_(std::move(io)) {}

SgAspiBackend::~SgAspiBackend()
{
    closeAll();
}

bool SgAspiBackend::driverPresent()
{
    const int fd = io_->open(kGenericClass, O_RDONLY | O_DIRECTORY);
    if (fd < 0)
        return false;
    io_->close(fd);
    return true;
}

void SgAspiBackend::closeAll()
{
    nodes_.clear();
    adapters_.clear();
}

SgNode* SgAspiBackend::node(int handle) const
{
    if (handle < 0 || handle >= static_cast<int>(nodes_.size()))
        return nullptr;
    return nodes_[handle].get();
}

void SgAspiBackend::addAdapter(int fd, std::uint8_t hostNumber)
{
    for (const HostAdapterEntry& a : adapters_)
        if (a.hostNumber == hostNumber)
            return;
    if (static_cast<int>(adapters_.size()) >= kMaxAdapters)
        return;
    HostAdapterEntry a;
    a.hostNumber = hostNumber;
    char path[64];
    std::snprintf(path, sizeof path, "/sys/class/scsi_host/host%u/proc_name", hostNumber);
    const std::string name = io_->readSmallFile(path);
    std::memcpy(a.identifier.data(), name.data(), std::min(name.size(), a.identifier.size() - 1));
    int maxBytes = 0;
    if (fd >= 0 && io_->ioctl(fd, BLKSECTGET, &maxBytes) >= 0 && maxBytes > 0)
        a.maxTransferLength = static_cast<std::uint32_t>(maxBytes);
    adapters_.push_back(a);
}

void SgAspiBackend::scan(std::uint8_t wantedType, const AddDevice& add)
{
    closeAll();
    for (const int n : numberedNames(*io_, kGenericClass, "sg")) {
        char deviceDir[96];
        std::snprintf(deviceDir, sizeof deviceDir, "%s/sg%d/device", kGenericClass, n);
        ScsiDeviceEntry entry;
        if (!entryFromSysfs(*io_, deviceDir, entry))
            continue;
        if (wantedType != kTypeAny && entry.deviceType != wantedType)
            continue;
        entry.pathCharacter = '?';
        char path[32];
        std::snprintf(path, sizeof path, "/dev/sg%d", n);
        const int handle = static_cast<int>(nodes_.size());
        nodes_.push_back(
            std::make_unique<SgNode>(*io_, SgNode::Kind::Generic, path, std::string(), deviceDir));
        SgNode& sg = *nodes_.back();

        if (sg.ensureOpen() == 0) {
            sg_scsi_id id{};
            if (io_->ioctl(sg.fd(), SG_GET_SCSI_ID, &id) >= 0) {
                entry.hostAdapter = static_cast<std::uint8_t>(id.host_no);
                entry.target = static_cast<std::uint8_t>(id.scsi_id);
                entry.lun = static_cast<std::uint8_t>(id.lun);
            }
            // The names INQUIRY returns replace those of sysfs; a device whose INQUIRY
            // fails is still listed.
            std::uint8_t inquiry[36] = {};
            const std::uint8_t cdb[6] = {0x12, 0, 0, 0, sizeof inquiry, 0};
            ScsiResult result;
            sg.execute(
                {DataDirection::In, cdb, sizeof cdb, inquiry, sizeof inquiry, kInquiryTimeoutMs},
                nullptr, result);
            if (result.status == kSsComp)
                setIdentification(entry, inquiry);
        }
        addAdapter(sg.fd(), entry.hostAdapter);
        for (const HostAdapterEntry& a : adapters_)
            if (a.hostNumber == entry.hostAdapter)
                sg.setBehindUsbBridge(isUsbBridge(a.identifier.data()));
        // Opened again by the first command sent to it.
        sg.release();
        if (!add(entry, handle))
            return;
    }
}

void SgAspiBackend::execute(int handle, const ScsiCommand& command, AbortState& abort,
                            ScsiResult& result)
{
    SgNode* sg = node(handle);
    if (sg == nullptr) {
        result.status = kSsNoDevice;
        return;
    }
    sg->execute(command, &abort, result);
}

void SgAspiBackend::release(int handle)
{
    if (SgNode* sg = node(handle))
        sg->release();
}

bool SgAspiBackend::waitingForRecovery(int handle) const
{
    const SgNode* sg = node(handle);
    return sg != nullptr && sg->waitingForRecovery();
}

std::string SgAspiBackend::devicePath(int handle) const
{
    const SgNode* sg = node(handle);
    return sg != nullptr ? sg->path() : std::string();
}

std::string SgAspiBackend::deviceProblem(int handle) const
{
    const SgNode* sg = node(handle);
    return sg != nullptr ? nodeProblemText(*sg) : std::string();
}

std::string SgAspiBackend::nodeGroup(int handle) const
{
    const SgNode* sg = node(handle);
    return sg != nullptr ? nodeGroupOf(*io_, *sg) : std::string();
}

bool SgAspiBackend::resetBus(int handle, std::string& errorText)
{
    SgNode* sg = node(handle);
    if (sg == nullptr) {
        errorText = io_->errorText(ENODEV);
        return false;
    }
    int rc = sg->ensureOpen();
    if (rc >= 0)
        rc = sg->reset(SG_SCSI_RESET_BUS);
    if (rc < 0) {
        char reason[128];
        errorText = (-rc == EINVAL || -rc == EAGAIN) ? explainResetError(-rc, reason, sizeof reason)
                                                     : io_->errorText(-rc);
        return false;
    }
    return true;
}

} // namespace tarnvel::scsi
