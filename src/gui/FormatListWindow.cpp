#include "gui/FormatListWindow.h"

#include "gui/GuiMessages.h"
#include "gui/GuiText.h"
#include "sound/SoundMessages.h"

#include <QFontDatabase>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

namespace tarnvel::gui {

FormatListWindow::FormatListWindow(const app::FormatListView& view, QWidget* parent)
    : QDialog(parent)
{
    setObjectName("TFormatListForm");
    setWindowTitle(qstr(view.caption));
    auto* v = new QVBoxLayout(this);
    auto* device = new QLabel(qstr(view.deviceName));
    device->setObjectName("DeviceNameLabel");
    v->addWidget(device);

    const int rows = static_cast<int>(view.grid.size());
    const int columns = rows > 0 ? static_cast<int>(view.grid[0].size()) : 0;
    auto* grid = new QTableWidget(rows, columns);
    grid->setObjectName("FormatListStringGrid");
    grid->horizontalHeader()->hide();
    grid->verticalHeader()->hide();
    grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    grid->setSelectionMode(QAbstractItemView::SingleSelection);
    grid->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < columns; ++c) {
            auto* item = new QTableWidgetItem(
                qstr(view.grid[static_cast<std::size_t>(r)][static_cast<std::size_t>(c)]));
            if (r == 0 || c == 0) {
                item->setBackground(palette().button());
                item->setFlags(Qt::ItemIsEnabled);
            }
            grid->setItem(r, c, item);
        }
    grid->resizeColumnsToContents();
    grid->resizeRowsToContents();
    if (view.selectedRow >= 0 && view.selectedColumn >= 0)
        grid->setCurrentCell(view.selectedRow, view.selectedColumn);
    else
        grid->clearSelection();
    int w = 4, h = 4;
    for (int c = 0; c < columns; ++c)
        w += grid->columnWidth(c);
    for (int r = 0; r < rows; ++r)
        h += grid->rowHeight(r);
    grid->setMinimumSize(w, h);
    grid->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    grid->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    v->addWidget(grid);

    auto* legend = new QLabel(qtext(sound::msg::kFormatListLegend));
    legend->setObjectName("CommentLabel");
    v->addWidget(legend);
    auto* reduced = new QLabel(qtext(sound::msg::kFormatListLegendReduced));
    reduced->setObjectName("CommentLabel2");
    reduced->setVisible(view.showReducedLegend);
    v->addWidget(reduced);
    auto* close = new QPushButton(qtext(msg::kClose));
    close->setObjectName("CloseButton");
    connect(close, &QPushButton::clicked, this, &QDialog::accept);
    v->addWidget(close, 0, Qt::AlignRight);
}

} // namespace tarnvel::gui
