#include "record/IdListModel.h"

#include "common/MessageSink.h"
#include "dat/TapeTracker.h"
#include "support/TempDir.h"

#include <atomic>
#include <deque>
#include <gtest/gtest.h>

namespace tarnvel::record {
namespace {

using List = IdListModel::List;

dat::TimeCode tc(int h, int m, int s, int f)
{
    return {dat::intToBcd(h), dat::intToBcd(m), dat::intToBcd(s), dat::intToBcd(f)};
}

class IdListModelTest : public ::testing::Test {
protected:
    IdListModelTest()
    {
        // A tape with programs 1 and 2 and an END ID.
        tracker.addId(2, false, true, 120, tc(0, 2, 0, 0));
        tracker.addId(1, false, true, 10, tc(0, 0, 10, 0));
        tracker.setEnd(tc(0, 5, 0, 0), false, true, 300);
        model.show();
    }

    std::vector<std::string> column(List list, int c) const
    {
        std::vector<std::string> out;
        for (const auto& r : model.rows(list)) {
            const std::string* cells[] = {&r.no, &r.id, &r.pno, &r.absTime, &r.sec};
            out.push_back(*cells[c]);
        }
        return out;
    }

    CollectingMessageSink sink;
    std::deque<bool> answers;
    std::vector<std::string> questions;
    dat::RecSubcodeState rec;
    std::atomic<bool> virtualMode{false};
    dat::TapeTracker tracker{rec, virtualMode};
    IdListModel model{tracker, sink, [this](const std::string& q) {
                          questions.push_back(q);
                          const bool a = !answers.empty() && answers.front();
                          if (!answers.empty())
                              answers.pop_front();
                          return a;
                      }};
};

TEST_F(IdListModelTest, TapeListRowsAndSearches)
{
    ASSERT_EQ(model.rowCount(List::Tape), 3);
    EXPECT_EQ(column(List::Tape, 1), (std::vector<std::string>{" START", " START", " END"}));
    EXPECT_EQ(column(List::Tape, 2), (std::vector<std::string>{"   1", "   2", ""}));
    EXPECT_EQ(column(List::Tape, 4), (std::vector<std::string>{"    10", "   120", "   300"}));

    auto search = model.activateRow(List::Tape, 2);
    ASSERT_TRUE(search);
    EXPECT_FALSE(search->byAbsTime);
    EXPECT_EQ(search->pNo, 2);
    EXPECT_EQ(search->seconds, 120);
    EXPECT_TRUE(search->tapeList);
    search = model.activateRow(List::Tape, 3);
    ASSERT_TRUE(search);
    EXPECT_TRUE(search->byAbsTime);
    EXPECT_EQ(search->abs, tc(0, 5, 0, 0));
    EXPECT_FALSE(model.activateRow(List::Tape, 4));
    EXPECT_FALSE(model.activateRow(List::Virtual, 1));

    // Del. removes the selected ID; Del.All asks first.
    model.selectRow(List::Tape, 1);
    model.deleteTapeId();
    EXPECT_EQ(column(List::Tape, 2), (std::vector<std::string>{"   2", ""}));
    answers = {false};
    model.deleteAllTapeIds();
    EXPECT_EQ(model.rowCount(List::Tape), 2);
    answers = {true};
    model.deleteAllTapeIds();
    EXPECT_EQ(model.rowCount(List::Tape), 0);
    EXPECT_EQ(questions, (std::vector<std::string>(2, "Clear all ID list.\n\n Are you sure?")));

    // In virtual ID mode the tape list cannot be edited.
    tracker.addId(4, false, true, 40, tc(0, 0, 40, 0));
    model.rebuild(List::Tape);
    model.setVirtualIdMode(true);
    model.deleteTapeId();
    EXPECT_EQ(model.rowCount(List::Tape), 1);
}

TEST_F(IdListModelTest, CopyAndModifyVirtualIds)
{
    model.setVirtualIdMode(true);
    EXPECT_FALSE(model.modified());
    // Copy All half a second earlier: every ID 17 frames earlier.
    model.copyAllToVirtual(5);
    EXPECT_TRUE(model.modified());
    EXPECT_EQ(column(List::Virtual, 3),
              (std::vector<std::string>{" 00h00m09s16", " 00h01m59s17", " 00h05m00s00"}));

    // Modify the first START to 00h01m00s00 (typed digits become BCD): re-sorted, selected.
    model.selectRow(List::Virtual, 2);
    EXPECT_EQ(model.modifyEdits(), (std::array<std::string, 4>{"00", "01", "59", "17"}));
    model.selectRow(List::Virtual, 1);
    model.setModifyEdit(1, "01");
    model.setModifyEdit(2, "00");
    model.setModifyEdit(3, "00");
    model.setModifyEdit(0, "00");
    model.modify();
    EXPECT_EQ(column(List::Virtual, 2), (std::vector<std::string>{"   1", "   2", ""}));
    EXPECT_EQ(column(List::Virtual, 4), (std::vector<std::string>{"    60", "   119", "   300"}));
    EXPECT_EQ(model.selectedRow(List::Virtual), 1);

    // The END row: Modify moves the END ID.
    model.selectRow(List::Virtual, 3);
    model.setModifyEdit(1, "06");
    model.modify();
    EXPECT_EQ(model.rows(List::Virtual).back().absTime, " 00h06m00s00");

    // Copy one tape row (the END) after deleting the virtual one.
    model.deleteVirtualId();
    EXPECT_EQ(model.rowCount(List::Virtual), 2);
    model.selectRow(List::Tape, 3);
    model.copyToVirtual();
    EXPECT_EQ(model.rows(List::Virtual).back().sec, "   300");
    EXPECT_EQ(model.selectedRow(List::Virtual), 3);

    // Renumber numbers the START IDs in table order.
    model.selectRow(List::Virtual, 1);
    model.setModifyEdit(1, "03");
    model.modify(); // program 1 moves behind program 2
    model.renumber();
    EXPECT_EQ(column(List::Virtual, 2), (std::vector<std::string>{"   1", "   2", ""}));
}

TEST_F(IdListModelTest, StartWithoutNumberIsNotModified)
{
    tracker.addId(888, true, true, 50, tc(0, 0, 50, 0));
    model.setVirtualIdMode(true);
    ASSERT_EQ(column(List::Virtual, 2), std::vector<std::string>{"   -"});
    model.setModifyEdit(1, "02");
    model.modify();
    EXPECT_EQ(column(List::Virtual, 4), std::vector<std::string>{"    50"});
}

TEST_F(IdListModelTest, SaveQuestionAndVirtualIdFile)
{
    test::TempDir dir;
    model.setVirtualIdMode(true);
    EXPECT_FALSE(model.askToSave()); // nothing to save
    model.copyAllToVirtual(0);
    answers = {true};
    EXPECT_TRUE(model.askToSave());
    EXPECT_EQ(questions,
              std::vector<std::string>{"Virtual ID list has been modified.\n\nSave to file?"});
    EXPECT_EQ(model.virtualIdFilePath(), "V_ID.TVV");
    model.setDir("/data/tapes");
    EXPECT_EQ(model.saveDialogPath(), "/data/tapes/V_ID.TVV"); // in the settings' folder
    const std::string path = dir.file("tape.TVV");
    ASSERT_TRUE(model.saveVirtualIdFile(path));
    EXPECT_EQ(model.saveDialogPath(), path);
    EXPECT_FALSE(model.modified());
    EXPECT_EQ(model.dir(), dir.path().string() + "/");

    const auto saved = model.rows(List::Virtual);
    answers = {true};
    model.deleteAllVirtualIds();
    EXPECT_EQ(model.rowCount(List::Virtual), 0);
    EXPECT_FALSE(model.modified());
    questions.clear();
    EXPECT_FALSE(model.askToSave()); // Del.All then closing asks nothing
    EXPECT_TRUE(questions.empty());

    model.virtualIdsModified();
    ASSERT_TRUE(model.loadVirtualIdFile(path));
    EXPECT_FALSE(model.modified());
    ASSERT_EQ(model.rowCount(List::Virtual), static_cast<int>(saved.size()));
    for (std::size_t i = 0; i < saved.size(); ++i)
        EXPECT_EQ(model.rows(List::Virtual)[i].absTime, saved[i].absTime);

    // A file that cannot be opened leaves the list as it was.
    EXPECT_FALSE(model.loadVirtualIdFile(dir.file("missing.TVV")));
    EXPECT_EQ(model.rowCount(List::Virtual), static_cast<int>(saved.size()));
    EXPECT_EQ(sink.messages.size(), 1u);

    // Busy: nothing but Close works.
    model.setBusy(true);
    model.selectRow(List::Virtual, 1);
    model.deleteVirtualId();
    EXPECT_EQ(model.rowCount(List::Virtual), static_cast<int>(saved.size()));
}

// Virtual IDs registered while the window was hidden (a recording in virtual ID mode sends
// only "modified") are in the table, not in the rows: asking and saving take them from there.
TEST_F(IdListModelTest, HiddenWindowsVirtualIdsAreAskedForAndSaved)
{
    test::TempDir dir;
    tracker.addId(3, true, true, 200, tc(0, 3, 20, 0));
    tracker.addId(1, true, true, 20, tc(0, 0, 20, 0));
    model.virtualIdsModified();
    answers = {true};
    EXPECT_TRUE(model.askToSave());
    ASSERT_EQ(model.rowCount(List::Virtual), 2);
    const std::string path = dir.file("hidden.TVV");
    ASSERT_TRUE(model.saveVirtualIdFile(path));
    tracker.clearTable(true);
    ASSERT_TRUE(model.loadVirtualIdFile(path));
    EXPECT_EQ(column(List::Virtual, 2), (std::vector<std::string>{"   1", "   3"}));
}

} // namespace
} // namespace tarnvel::record
