#pragma once

#include "dat/IdTable.h"

#include <string>
#include <vector>

namespace tarnvel::formats {

// One row of an ID list as shown and as stored in the virtual ID file: five column texts,
// plus the values behind them.
struct IdListRow {
    std::string no;      // row number, "%2d"
    std::string id;      // " START", " SKIP" or " END"
    std::string pno;     // " %3d", "   -" (START without number), "" (SKIP, END)
    std::string absTime; // " 01h02m03s04" or " --h--m--s--"
    std::string sec;     // "%6d"
    int seconds = 0;
    int pNo = 0; // 0 for the END row
    dat::TimeCode abs{0, 0, 0, 0};
    bool end = false;
};

// The rows of a table in table order, then the END row when the table has an END ID.
std::vector<IdListRow> buildIdListRows(const dat::IdTable& table);

} // namespace tarnvel::formats
