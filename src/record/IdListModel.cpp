#include "record/IdListModel.h"

#include "common/Message.h"
#include "dat/TapeTracker.h"
#include "formats/TextFields.h"
#include "formats/VirtualIdFile.h"
#include "record/RecordListMessages.h"

#include <algorithm>
#include <filesystem>

namespace tarnvel::record {

namespace {

// A Modify edit read as a hexadecimal byte ("59" -> 0x59).
std::uint8_t hexEdit(const std::string& text)
{
    int value = 0;
    for (char c : formats::trimBlanks(text)) {
        int digit;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        else
            break;
        value = std::min(value * 16 + digit, 0xFF);
    }
    return static_cast<std::uint8_t>(value);
}

} // namespace

IdListModel::IdListModel(dat::TapeTracker& tracker, MessageSink& sink, AskYesNo ask)
    : tracker_(tracker), sink_(sink), ask_(std::move(ask)),
      filePath_(formats::kVirtualIdDefaultName)
{
}

const char* IdListModel::columnTitle(int column)
{
    static constexpr const MessagePair* kTitles[kColumns] = {
        &msg::kColNo, &msg::kColId, &msg::kColIdPNo, &msg::kColAbsTime, &msg::kColSec};
    return column >= 0 && column < kColumns ? tr(*kTitles[column]) : "";
}

void IdListModel::selectRow(List list, int row)
{
    selected_[index(list)] = std::clamp(row, 1, std::max(1, rowCount(list)));
    if (list == List::Virtual)
        fillModifyEdits();
}

void IdListModel::rebuild(List list, std::optional<int> second)
{
    const bool virtualIds = list == List::Virtual;
    tracker_.sortTable(virtualIds);
    lists_[index(list)] = formats::buildIdListRows(tracker_.table(virtualIds));
    int row = selected_[index(list)];
    if (second) {
        const auto& rows = lists_[index(list)];
        const auto it = std::find_if(rows.begin(), rows.end(), [&](const formats::IdListRow& r) {
            return r.seconds == *second;
        });
        if (it != rows.end())
            row = static_cast<int>(it - rows.begin()) + 1;
    }
    selectRow(list, row);
}

void IdListModel::fillModifyEdits()
{
    const auto& rows = lists_[index(List::Virtual)];
    const int row = selected_[index(List::Virtual)];
    if (row < 1 || row > static_cast<int>(rows.size())) {
        modifyEdits_ = {"00", "00", "00", "00"};
        return;
    }
    // " 01h02m03s04": two characters each after the blank and the unit letters.
    const std::string& t = rows[static_cast<std::size_t>(row - 1)].absTime;
    for (std::size_t i = 0; i < 4; ++i)
        modifyEdits_[i] = t.size() >= 3 * i + 3 ? t.substr(3 * i + 1, 2) : "00";
}

void IdListModel::show()
{
    if (virtualIdMode_)
        rebuild(List::Virtual);
    rebuild(List::Tape);
}

void IdListModel::setVirtualIdMode(bool on)
{
    virtualIdMode_ = on;
    if (on)
        rebuild(List::Virtual);
}

void IdListModel::idListChanged(List list, int second)
{
    rebuild(list, second);
    if (list == List::Virtual)
        modified_ = true;
}

void IdListModel::idListSelect(List list, int second)
{
    const auto& rows = lists_[index(list)];
    for (std::size_t i = 0; i < rows.size(); ++i) {
        if (rows[i].seconds == second) {
            selectRow(list, static_cast<int>(i) + 1);
            return;
        }
    }
}

std::optional<IdListModel::SearchRequest> IdListModel::activateRow(List list, int row) const
{
    const auto& rows = lists_[index(list)];
    if (row < 1 || row > static_cast<int>(rows.size()))
        return std::nullopt;
    const formats::IdListRow& r = rows[static_cast<std::size_t>(row - 1)];
    SearchRequest request;
    request.tapeList = list == List::Tape;
    if (const dat::IdEntry* e = tracker_.findBySeconds(r.seconds, list == List::Virtual)) {
        request.pNo = e->pNo;
        request.abs = e->abs;
        request.seconds = e->seconds;
        return request;
    }
    if (!r.end)
        return std::nullopt;
    request.byAbsTime = true;
    request.abs = r.abs;
    request.seconds = r.seconds;
    return request;
}

void IdListModel::deleteTapeId()
{
    const auto& rows = lists_[index(List::Tape)];
    const int row = selected_[index(List::Tape)];
    if (!tapeDeleteEnabled() || row > static_cast<int>(rows.size()))
        return;
    tracker_.deleteId(rows[static_cast<std::size_t>(row - 1)].seconds, false, true);
    rebuild(List::Tape);
}

void IdListModel::deleteAllTapeIds()
{
    if (!tapeDeleteEnabled() || !ask_(tr(msg::kClearAllIds)))
        return;
    tracker_.clearTable(false);
    rebuild(List::Tape);
}

void IdListModel::copyToVirtual()
{
    const auto& rows = lists_[index(List::Tape)];
    const int row = selected_[index(List::Tape)];
    if (busy_ || rows.empty() || row > static_cast<int>(rows.size()))
        return;
    const bool endRow = rows[static_cast<std::size_t>(row - 1)].end;
    const int second = tracker_.copyToVirtual(endRow ? -1 : row - 1);
    rebuild(List::Virtual, second);
    modified_ = true;
}

void IdListModel::copyAllToVirtual(int shiftIndex)
{
    if (busy_ || lists_[index(List::Tape)].empty())
        return;
    tracker_.copyAllToVirtual(std::clamp(shiftIndex, 0, 10));
    rebuild(List::Virtual);
    modified_ = true;
}

void IdListModel::deleteVirtualId()
{
    const auto& rows = lists_[index(List::Virtual)];
    const int row = selected_[index(List::Virtual)];
    if (busy_ || row > static_cast<int>(rows.size()))
        return;
    tracker_.deleteId(rows[static_cast<std::size_t>(row - 1)].seconds, true, true);
    rebuild(List::Virtual);
    modified_ = true;
}

void IdListModel::deleteAllVirtualIds()
{
    if (busy_ || !ask_(tr(msg::kClearAllVirtualIds)))
        return;
    tracker_.clearTable(true);
    rebuild(List::Virtual);
    modified_ = false;
}

void IdListModel::setModifyEdit(int field, const std::string& text)
{
    if (field >= 0 && field < 4)
        modifyEdits_[static_cast<std::size_t>(field)] = text;
}

void IdListModel::modify()
{
    const auto& rows = lists_[index(List::Virtual)];
    const int row = selected_[index(List::Virtual)];
    if (busy_ || row > static_cast<int>(rows.size()))
        return;
    const formats::IdListRow selected = rows[static_cast<std::size_t>(row - 1)];
    const dat::TimeCode t{hexEdit(modifyEdits_[0]), hexEdit(modifyEdits_[1]),
                          hexEdit(modifyEdits_[2]), hexEdit(modifyEdits_[3])};
    const int s = dat::absToSeconds(t);
    if (selected.end) {
        tracker_.setEnd(t, true, true, s);
    } else if (selected.pNo == dat::kPNoSkip) {
        tracker_.deleteId(selected.seconds, true, true);
        tracker_.addId(dat::kPNoSkip, true, true, s, t);
    } else {
        // The number shown moves its entry; a START without number ("-") reads as 0,
        // which adds nothing.
        tracker_.addId(formats::leadingNumber(selected.pno), true, true, s, t);
    }
    rebuild(List::Virtual, s);
    modified_ = true;
}

void IdListModel::renumber()
{
    if (busy_)
        return;
    if (tracker_.renumberVirtual() != 0)
        rebuild(List::Virtual);
    modified_ = true;
}

void IdListModel::rememberPath(const std::string& path)
{
    filePath_ = path;
    const std::string folder = std::filesystem::path(path).parent_path().string();
    dir_ = folder.empty() || folder.back() == '/' ? folder : folder + "/";
}

std::string IdListModel::saveDialogPath() const
{
    if (std::filesystem::path(filePath_).has_parent_path())
        return filePath_;
    return dir_.empty() || dir_.back() == '/' ? dir_ + filePath_ : dir_ + "/" + filePath_;
}

bool IdListModel::saveVirtualIdFile(const std::string& path)
{
    rebuild(List::Virtual);
    if (lists_[index(List::Virtual)].empty())
        return false;
    rememberPath(path);
    if (!formats::writeVirtualIdFile(path, lists_[index(List::Virtual)], sink_))
        return false;
    modified_ = false;
    return true;
}

bool IdListModel::loadVirtualIdFile(const std::string& path, std::vector<std::string>* notes)
{
    rememberPath(path);
    const formats::VirtualIdLoad result = formats::readVirtualIdFile(path, tracker_, sink_, notes);
    if (result == formats::VirtualIdLoad::CannotOpen)
        return false; // the list stays as it was
    rebuild(List::Virtual);
    modified_ = false;
    return result == formats::VirtualIdLoad::Loaded;
}

bool IdListModel::askToSave()
{
    rebuild(List::Virtual);
    if (lists_[index(List::Virtual)].empty() || !modified_)
        return false;
    return ask_(tr(msg::kVirtualListModified));
}

} // namespace tarnvel::record
