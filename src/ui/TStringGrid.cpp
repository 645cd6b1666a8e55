#include "TStringGrid.h"

#include <QAbstractButton>
#include <QEvent>
#include <QHeaderView>
#include <QStyleOptionHeader>
#include <QStylePainter>

TStringGrid::TStringGrid(int colCount, int rowCount, QWidget* parent)
    : QTableWidget(qMax(0, rowCount - 1), qMax(0, colCount - 1), parent)
{
    verticalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    verticalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    horizontalHeader()->setStretchLastSection(false);
    for (int c = 0; c < columnCount(); ++c) setHorizontalHeaderItem(c, new QTableWidgetItem);
    // The corner button paints no text of its own.
    if (auto* corner = findChild<QAbstractButton*>()) corner->installEventFilter(this);
}

QString TStringGrid::Cells(int col, int row) const
{
    if (col < 0 || row < 0 || col >= ColCount() || row >= RowCount()) return {};
    if (col == 0 && row == 0) return FCornerText;
    const QTableWidgetItem* it = nullptr;
    if (row == 0) it = horizontalHeaderItem(col - 1);
    else if (col == 0) it = verticalHeaderItem(row - 1);
    else it = item(row - 1, col - 1);
    return it ? it->text() : QString();
}

void TStringGrid::SetCells(int col, int row, const QString& text)
{
    if (col < 0 || row < 0 || col >= ColCount() || row >= RowCount()) return;
    if (col == 0 && row == 0) {
        FCornerText = text;
        if (auto* corner = findChild<QAbstractButton*>()) corner->update();
        return;
    }
    if (row == 0) {
        horizontalHeaderItem(col - 1)->setText(text);
    } else if (col == 0) {
        if (QTableWidgetItem* it = verticalHeaderItem(row - 1)) it->setText(text);
        else setVerticalHeaderItem(row - 1, new QTableWidgetItem(text));
    } else if (QTableWidgetItem* it = item(row - 1, col - 1)) {
        it->setText(text);
    } else if (!text.isEmpty()) {
        setItem(row - 1, col - 1, new QTableWidgetItem(text));
    }
}

int TStringGrid::ColWidth(int col) const
{
    return col == 0 ? verticalHeader()->width() : columnWidth(col - 1);
}

void TStringGrid::SetColWidth(int col, int width)
{
    if (col == 0) verticalHeader()->setFixedWidth(width);
    else setColumnWidth(col - 1, width);
}

void TStringGrid::SelectCell(int col, int row)
{
    if (col >= 1 && row >= 1) setCurrentCell(row - 1, col - 1);
}

bool TStringGrid::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::Paint) {
        auto* corner = static_cast<QWidget*>(watched);
        QStylePainter p(corner);
        QStyleOptionHeader opt;
        opt.initFrom(corner);
        opt.rect = corner->rect();
        opt.text = FCornerText;
        opt.textAlignment = Qt::AlignLeft | Qt::AlignVCenter;
        opt.position = QStyleOptionHeader::OnlyOneSection;
        p.drawControl(QStyle::CE_Header, opt);
        return true;
    }
    return QTableWidget::eventFilter(watched, event);
}
