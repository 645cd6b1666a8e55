#pragma once

#include <QTableWidget>

// A grid addressed as Cells(column, row) with one fixed column (0) and one fixed row (0):
// the fixed row is the column header, the fixed column the row header, and the
// corner shows the header text of column 0.
class TStringGrid : public QTableWidget {
    Q_OBJECT
public:
    TStringGrid(int colCount, int rowCount, QWidget* parent = nullptr);

    int ColCount() const { return columnCount() + 1; }
    int RowCount() const { return rowCount() + 1; }
    QString Cells(int col, int row) const;
    void SetCells(int col, int row, const QString& text);
    int ColWidth(int col) const;
    void SetColWidth(int col, int width);
    // The current cell in grid coordinates (column 0 and row 0 are never current).
    int Col() const { return currentColumn() + 1; }
    int Row() const { return currentRow() + 1; }
    void SelectCell(int col, int row);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QString FCornerText;
};
