#include "TCvSheetModel.h"

#include "SafeSave.h"

#include <QFile>
#include <QLocale>
#include <QTemporaryFile>
#include <QTimer>

#include <xlsxwriter.h>

#include <bit>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace {

// Cells that hold no number are marked with NaNs of their own; a NaN is never stored
// as a value (it is refused), so the marks cannot be mistaken.
constexpr quint64 kEmptyBits = 0x7ff8dead00000001ULL;
constexpr quint64 kTextBits = 0x7ff8dead00000002ULL;
const double kEmpty = std::bit_cast<double>(kEmptyBits);
const double kText = std::bit_cast<double>(kTextBits);

constexpr int kMinShownRows = 100;
constexpr int kMinShownColumns = 26;

QString CsvField(const QString& s)
{
    if (!s.contains(QLatin1Char(',')) && !s.contains(QLatin1Char('"')) && !s.contains(QLatin1Char('\n')) &&
        !s.contains(QLatin1Char('\r')) && s.trimmed() == s)
        return s;
    QString q = s;
    q.replace(QLatin1Char('"'), QLatin1String("\"\""));
    return QLatin1Char('"') + q + QLatin1Char('"');
}

} // namespace

TCvSheetModel::TCvSheetModel(const QString& name, QObject* parent)
    : QAbstractTableModel(parent), FName(name), FShownRows(kMinShownRows), FShownColumns(kMinShownColumns),
      FFlushTimer(new QTimer(this))
{
    FFlushTimer->setSingleShot(true);
    FFlushTimer->setInterval(kFlushMs);
    connect(FFlushTimer, &QTimer::timeout, this, &TCvSheetModel::FlushView);
}

QString TCvSheetModel::ColumnName(int column)
{
    QString name;
    for (int c = column; c > 0; c = (c - 1) / 26) name.prepend(QChar(u'A' + (c - 1) % 26));
    return name;
}

TCvSheetModel::TKind TCvSheetModel::Kind(int row, int column) const
{
    if (column < 1 || column > int(FColumns.size()) || row < 1) return TKind::Empty;
    const std::vector<double>& col = FColumns[std::size_t(column - 1)];
    if (row > int(col.size())) return TKind::Empty;
    const quint64 bits = std::bit_cast<quint64>(col[std::size_t(row - 1)]);
    if (bits == kEmptyBits) return TKind::Empty;
    if (bits == kTextBits) return TKind::Text;
    return TKind::Number;
}

double TCvSheetModel::Number(int row, int column) const
{
    return FColumns[std::size_t(column - 1)][std::size_t(row - 1)];
}

bool TCvSheetModel::SetValue(int row, int column, const QVariant& value)
{
    if (row < 1 || row > kMaxRows || column < 1 || column > kMaxColumns) return false;
    double number = kEmpty;
    QString text;
    if (value.isValid() && !value.isNull()) {
        const int type = value.metaType().id();
        const bool numeric = type == QMetaType::Double || type == QMetaType::Float ||
                             type == QMetaType::Int || type == QMetaType::UInt ||
                             type == QMetaType::LongLong || type == QMetaType::ULongLong ||
                             type == QMetaType::Short || type == QMetaType::UShort ||
                             type == QMetaType::UChar || type == QMetaType::Char ||
                             type == QMetaType::SChar || type == QMetaType::Long || type == QMetaType::ULong;
        if (numeric) {
            number = value.toDouble();
            if (!std::isfinite(number)) return false;
        } else {
            text = value.toString();
            if (!text.isEmpty()) number = kText;
        }
    }
    if (column > int(FColumns.size())) {
        if (std::bit_cast<quint64>(number) == kEmptyBits) return true;
        FColumns.resize(std::size_t(column));
    }
    std::vector<double>& col = FColumns[std::size_t(column - 1)];
    if (row > int(col.size())) {
        if (std::bit_cast<quint64>(number) == kEmptyBits) return true;
        col.resize(std::size_t(row), kEmpty);
    }
    const quint64 key = Key(row, column);
    if (std::bit_cast<quint64>(col[std::size_t(row - 1)]) == kTextBits) FTexts.remove(key);
    col[std::size_t(row - 1)] = number;
    if (std::bit_cast<quint64>(number) == kTextBits) FTexts.insert(key, text);
    FUsedRows = std::max(FUsedRows, row);
    FModified = true;
    if (FDirtyBottom < 0) {
        FDirtyTop = FDirtyBottom = row;
        FDirtyLeft = FDirtyRight = column;
    } else {
        FDirtyTop = std::min(FDirtyTop, row);
        FDirtyBottom = std::max(FDirtyBottom, row);
        FDirtyLeft = std::min(FDirtyLeft, column);
        FDirtyRight = std::max(FDirtyRight, column);
    }
    if (!FFlushTimer->isActive()) FFlushTimer->start();
    return true;
}

QVariant TCvSheetModel::Value(int row, int column) const
{
    switch (Kind(row, column)) {
    case TKind::Number: return Number(row, column);
    case TKind::Text: return FTexts.value(Key(row, column));
    case TKind::Empty: break;
    }
    return QVariant();
}

void TCvSheetModel::FlushView()
{
    FFlushTimer->stop();
    const int rows = std::max(kMinShownRows, FUsedRows);
    if (rows > FShownRows) {
        beginInsertRows(QModelIndex(), FShownRows, rows - 1);
        FShownRows = rows;
        endInsertRows();
    }
    const int columns = std::max(kMinShownColumns, UsedColumns());
    if (columns > FShownColumns) {
        beginInsertColumns(QModelIndex(), FShownColumns, columns - 1);
        FShownColumns = columns;
        endInsertColumns();
    }
    if (FDirtyBottom >= 0) {
        emit dataChanged(index(FDirtyTop - 1, FDirtyLeft - 1), index(FDirtyBottom - 1, FDirtyRight - 1));
        FDirtyBottom = FDirtyRight = -1;
    }
}

int TCvSheetModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : FShownRows;
}

int TCvSheetModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : FShownColumns;
}

QVariant TCvSheetModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid()) return QVariant();
    const int row = index.row() + 1, column = index.column() + 1;
    const TKind kind = Kind(row, column);
    if (role == Qt::TextAlignmentRole && kind == TKind::Number)
        return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
    if (role == Qt::DisplayRole && kind == TKind::Number) {
        QLocale locale;
        locale.setNumberOptions(QLocale::OmitGroupSeparator);
        return locale.toString(Number(row, column), 'g', 15);
    }
    if (role == Qt::DisplayRole || role == Qt::EditRole) return Value(row, column);
    return QVariant();
}

QVariant TCvSheetModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole) return QVariant();
    if (orientation == Qt::Horizontal) return ColumnName(section + 1);
    return section + 1;
}

bool TCvSheetModel::SaveXlsx(const QString& fileName, QString* error) const
{
    // Written beside the file under another name and renamed over it only when all went
    // well, as every other file: a failure leaves the old file as it was.
    QTemporaryFile part(fileName + QStringLiteral(".XXXXXX"));
    if (!part.open()) {
        if (error) *error = part.errorString();
        return false;
    }
    part.close();
    // Constant memory: rows are written in order and leave the process at once.
    lxw_workbook_options options{};
    options.constant_memory = LXW_TRUE;
    const QByteArray path = QFile::encodeName(part.fileName());
    lxw_workbook* book = workbook_new_opt(path.constData(), &options);
    if (!book) {
        if (error) *error = QStringLiteral("can not create the file");
        return false;
    }
    const QByteArray sheetName = FName.toUtf8();
    lxw_worksheet* sheet = workbook_add_worksheet(book, sheetName.constData());
    lxw_error failed = LXW_NO_ERROR;
    for (int row = 1; row <= FUsedRows && failed == LXW_NO_ERROR; ++row) {
        for (int column = 1; column <= UsedColumns() && failed == LXW_NO_ERROR; ++column) {
            switch (Kind(row, column)) {
            case TKind::Number:
                failed = worksheet_write_number(sheet, lxw_row_t(row - 1), lxw_col_t(column - 1),
                                                Number(row, column), nullptr);
                break;
            case TKind::Text: {
                const QByteArray text = FTexts.value(Key(row, column)).toUtf8();
                failed = worksheet_write_string(sheet, lxw_row_t(row - 1), lxw_col_t(column - 1),
                                                text.constData(), nullptr);
                break;
            }
            case TKind::Empty: break;
            }
        }
    }
    const lxw_error closed = workbook_close(book);
    if (failed == LXW_NO_ERROR) failed = closed;
    if (failed != LXW_NO_ERROR) {
        if (error) *error = QString::fromUtf8(lxw_strerror(failed));
        return false;
    }
    // The temporary file's permissions are its own (0600): the workbook gets the usual ones.
    part.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup |
                        QFileDevice::ReadOther);
    if (std::rename(path.constData(), QFile::encodeName(fileName).constData()) != 0) {
        if (error) *error = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    part.setAutoRemove(false);
    return true;
}

bool TCvSheetModel::SaveCsv(const QString& fileName, QString* error) const
{
    QByteArray data, line;
    for (int row = 1; row <= FUsedRows; ++row) {
        line.clear();
        for (int column = 1; column <= UsedColumns(); ++column) {
            if (column > 1) line += ',';
            switch (Kind(row, column)) {
            case TKind::Number:
                line += QByteArray::number(Number(row, column), 'g', QLocale::FloatingPointShortest);
                break;
            case TKind::Text: line += CsvField(FTexts.value(Key(row, column))).toUtf8(); break;
            case TKind::Empty: break;
            }
        }
        line += "\r\n";
        data += line;
    }
    return SaveFileWhole(fileName, data, error);
}
