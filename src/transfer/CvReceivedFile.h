#pragma once

// Received files land safely: under a plain name in the folder the user chose, written
// under a hidden temporary name until complete, never over a file that is there already.

#include <QString>

#include <memory>

class QTemporaryFile;

// The name a peer gave, reduced to a plain file name: no folders (the last part of a
// path with / or \), no control characters, no leading dot, not "." or "..", at most
// 255 bytes in UTF-8. What is left empty becomes Fallback.
QString SafeReceivedFileName(const QString& Name, const QString& Fallback = QStringLiteral("received.bin"));

// Gives the file at TempPath its final name in Folder: Name itself, or when that exists
// "Name (1).ext", "Name (2).ext" ... An existing file is never replaced, also when one
// appears meanwhile. Returns the final path, or empty with *Error.
QString RenameWithoutOverwrite(const QString& TempPath, const QString& Folder, const QString& Name,
                               QString* Error);

// One file being received into Folder.
class TCvIncomingFile {
public:
    explicit TCvIncomingFile(const QString& Folder);
    // Removes the temporary file unless it was committed.
    ~TCvIncomingFile();
    TCvIncomingFile(const TCvIncomingFile&) = delete;
    TCvIncomingFile& operator=(const TCvIncomingFile&) = delete;

    bool Open(QString* Error);
    bool Write(const char* Data, qint64 Count, QString* Error);
    qint64 Size() const { return FSize; }
    // Closes the file and gives it its name (made safe first). Returns the final path, or
    // empty with *Error; the temporary file is gone either way.
    QString Commit(const QString& Name, QString* Error);

private:
    QString FFolder;
    std::unique_ptr<QTemporaryFile> FFile;
    qint64 FSize = 0;
};
