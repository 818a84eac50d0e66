// Feeds arbitrary bytes to the reader of a recorded command exchange (a --log-full log or a
// drive check report), then to a replay drive that answers from it.
#include "scsi/CommandExchange.h"
#include "scsi/ReplayBackend.h"
#include "scsi/ScsiTransport.h"

#include <cstdint>
#include <cstdio>
#include <vector>

namespace {

std::FILE* open(std::vector<char>& bytes)
{
    return fmemopen(bytes.data(), bytes.size(), "rb");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace tarnvel::scsi;
    std::vector<char> bytes(data, data + size);
    bytes.push_back('\n'); // fmemopen refuses an empty buffer
    {
        std::FILE* f = open(bytes);
        if (f == nullptr)
            return 0;
        ExchangeReader reader;
        std::string error;
        if (reader.open(f, error)) {
            ExchangeCommand command;
            while (reader.next(command, error) == ExchangeReader::Read::Command) {
                if (command.cdbLength > command.cdb.size() || command.device > 15 ||
                    command.data.size() > kExchangeMaxTransfer)
                    __builtin_trap();
            }
        }
    }
    std::FILE* f = open(bytes);
    if (f == nullptr)
        return 0;
    std::string error;
    auto replay = ReplayBackend::open(f, "fuzz", {true, {}}, error);
    if (!replay)
        return 0;
    ScsiTransport transport(std::move(replay));
    if (transport.scanDevices(kTypeAny) == 0)
        return 0;
    // Whatever the recording says, the program's own commands: a status poll and a frame.
    static const std::uint8_t tur[6] = {0x00, 0, 0, 0, 0, 0};
    static const std::uint8_t read6[6] = {0x08, 0, 0x00, 0x16, 0xBE, 0};
    std::vector<std::uint8_t> frame(5822);
    for (int i = 0; i < 4; ++i) {
        transport.runCommand("TST_U_RDY", 0, DataDirection::None, tur, 6, nullptr, 0);
        transport.runCommand("READ6", 0, DataDirection::In, read6, 6, frame.data(), 5822);
    }
    return 0;
}
