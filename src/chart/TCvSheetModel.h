#pragma once

#include <QAbstractTableModel>
#include <QHash>
#include <QString>
#include <QVariant>

#include <vector>

class QTimer;

// One worksheet: cells addressed by (row, column), both from 1, holding a number or a
// text. Numbers cost 8 bytes a cell (a column is one array of doubles), so a capture of
// a million bytes stays small. What a view shows follows the writes within kFlushMs.
class TCvSheetModel : public QAbstractTableModel {
    Q_OBJECT
public:
    // The limits of an .xlsx worksheet.
    static constexpr int kMaxRows = 1048576;
    static constexpr int kMaxColumns = 16384;
    static constexpr int kFlushMs = 50;

    explicit TCvSheetModel(const QString& name, QObject* parent = nullptr);

    QString Name() const { return FName; }
    // Numbers (any numeric type) are kept as doubles, everything else as text; an
    // invalid value or an empty text clears the cell. Refused (false): a cell outside
    // the limits, a number that is not finite.
    bool SetValue(int row, int column, const QVariant& value);
    QVariant Value(int row, int column) const;
    int UsedRows() const { return FUsedRows; }
    int UsedColumns() const { return int(FColumns.size()); }
    bool Modified() const { return FModified; }
    void SetModified(bool modified) { FModified = modified; }

    bool SaveXlsx(const QString& fileName, QString* error = nullptr) const;
    bool SaveCsv(const QString& fileName, QString* error = nullptr) const;

    // Shows what was written since the last flush.
    void FlushView();

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    // "A", "B", … "Z", "AA", … for column 1, 2, …
    static QString ColumnName(int column);

private:
    enum class TKind { Empty, Number, Text };
    TKind Kind(int row, int column) const;
    double Number(int row, int column) const;
    static quint64 Key(int row, int column) { return (quint64(quint32(row)) << 32) | quint32(column); }

    QString FName;
    std::vector<std::vector<double>> FColumns;
    QHash<quint64, QString> FTexts;
    int FUsedRows = 0;
    bool FModified = false;
    // What views have been told, and the cells written since.
    int FShownRows;
    int FShownColumns;
    int FDirtyTop = 0, FDirtyLeft = 0, FDirtyBottom = -1, FDirtyRight = -1;
    QTimer* FFlushTimer;
};
