#pragma once

#include "dat/DatFrame.h"
#include "scsi/ScsiTarget.h"

#include <cstring>
#include <deque>
#include <string>
#include <vector>

// A small in-process tape drive for the drive layer's tests: it records every command,
// serves frames from a list and answers other commands from scripted replies.
namespace tarnvel::dat::test {

inline scsi::TargetReply checkCondition(std::uint8_t key, std::uint8_t asc, std::uint8_t ascq)
{
    scsi::TargetReply r;
    r.status = scsi::kTargetCheckCondition;
    r.sense[0] = 0x70;
    r.sense[2] = key;
    r.sense[7] = 10;
    r.sense[12] = asc;
    r.sense[13] = ascq;
    return r;
}

class ScriptedDrive : public scsi::ScsiTarget {
public:
    struct Sent {
        std::vector<std::uint8_t> cdb;
        scsi::DataDirection direction;
        std::uint32_t length;
        std::vector<std::uint8_t> data; // what a data-out command carried
    };

    std::uint8_t deviceType = 1;
    std::string product = "DAT SIMULATOR   ";
    std::uint8_t density = 0x80;              // what MODE SENSE reports after MODE SELECT
    std::deque<scsi::TargetReply> turReplies; // then GOOD
    std::deque<scsi::TargetReply> modeSelectReplies;
    std::deque<scsi::TargetReply> loadReplies;
    std::vector<DatFrame> frames;
    std::size_t failAt = SIZE_MAX; // READ(6) of this frame index fails with blank check
    std::size_t head = 0;
    std::uint8_t positionReply[20] = {};
    std::vector<Sent> sent;

    std::uint8_t hostAdapter() const override { return 0; }
    std::uint8_t targetId() const override { return 2; }

    scsi::TargetReply command(const std::uint8_t* cdb, std::size_t cdbLength,
                              scsi::DataDirection direction, std::uint8_t* buffer,
                              std::uint32_t length) override
    {
        Sent s{{cdb, cdb + cdbLength}, direction, length, {}};
        if (direction == scsi::DataDirection::Out)
            s.data.assign(buffer, buffer + length);
        sent.push_back(s);
        switch (cdb[0]) {
        case 0x12: {
            std::uint8_t id[36] = {};
            id[0] = deviceType;
            std::memcpy(id + 8, "VENDOR  ", 8);
            std::memcpy(id + 16, product.data(), std::min<std::size_t>(16, product.size()));
            std::memcpy(id + 32, "1.00", 4);
            std::memcpy(buffer, id, std::min<std::uint32_t>(length, 36));
            return {};
        }
        case 0x00:
            return pop(turReplies);
        case 0x15:
            return pop(modeSelectReplies);
        case 0x1B:
            return pop(loadReplies);
        case 0x1A: {
            std::uint8_t m[12] = {11, 0, 0x10, 8, density, 0, 0, 0, 0, 0, 0x02, 0};
            std::memcpy(buffer, m, std::min<std::uint32_t>(length, 12));
            return {};
        }
        case 0x34:
            std::memcpy(buffer, positionReply, std::min<std::uint32_t>(length, 20));
            return {};
        case 0x01:
        case 0x2B:
            head = 0;
            return {};
        case 0x08:
            if (head == failAt || head >= frames.size()) {
                ++head;
                return checkCondition(0x08, 0x00, 0x05);
            }
            std::memcpy(buffer, frames[head++].data(), std::min<std::uint32_t>(length, 5822));
            return {};
        default:
            return {};
        }
    }

    std::size_t count(std::uint8_t opcode) const
    {
        std::size_t n = 0;
        for (const Sent& s : sent)
            n += s.cdb[0] == opcode;
        return n;
    }

private:
    static scsi::TargetReply pop(std::deque<scsi::TargetReply>& q)
    {
        if (q.empty())
            return {};
        scsi::TargetReply r = q.front();
        q.pop_front();
        return r;
    }
};

} // namespace tarnvel::dat::test
