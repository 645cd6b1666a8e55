#pragma once

#include <QtGlobal>

// Where the "File" format puts received bytes when the capture is a spreadsheet: rows of
// a worksheet. The port object owns the one it is given.
class TCvSheetWriter {
public:
    virtual ~TCvSheetWriter() = default;
    // Writes count bytes from row `row` on and returns the next free row.
    virtual qint64 WriteBytes(const quint8* bytes, int count, qint64 row) = 0;
};
