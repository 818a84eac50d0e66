#include "formats/IdListRows.h"

#include "formats/StringPrintf.h"

namespace tarnvel::formats {

std::vector<IdListRow> buildIdListRows(const dat::IdTable& table)
{
    std::vector<IdListRow> rows;
    auto add = [&rows](IdListRow row) {
        row.no = stringPrintf("%2d", static_cast<int>(rows.size() + 1));
        row.absTime = dat::timeText(row.abs);
        row.sec = stringPrintf("%6d", row.seconds);
        rows.push_back(std::move(row));
    };
    for (const dat::IdEntry& e : table.used()) {
        IdListRow row;
        row.pNo = e.pNo;
        row.abs = e.abs;
        row.seconds = e.seconds;
        if (e.pNo == dat::kPNoSkip) {
            row.id = " SKIP";
        } else {
            row.id = " START";
            row.pno = e.pNo == dat::kPNoStartWithoutNumber ? "   -" : stringPrintf(" %3d", e.pNo);
        }
        add(std::move(row));
    }
    if (table.hasEnd()) {
        IdListRow row;
        row.id = " END";
        row.abs = table.endAbs;
        row.seconds = table.endSeconds;
        row.end = true;
        add(std::move(row));
    }
    return rows;
}

} // namespace tarnvel::formats
