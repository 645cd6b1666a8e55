#pragma once

// Hex text, display text, log-line prefixes and port names shared by the port
// objects and the main window. All functions are pure apart from reading the clock.

#include <QByteArray>
#include <QChar>
#include <QDateTime>
#include <QString>
#include <QtGlobal>

// '0'-'9', 'A'-'F', 'a'-'f' -> 0..15; every other character (NUL included) -> 0.
int HexCharToValue(QChar ch);
quint8 HexPairToByte(QChar hi, QChar lo);

// How much of the buffer HexStrToBytes zeroes first: the port object's copy clears
// 2 * cells bytes, the main window's format/HID copy the whole buffer. Never more
// than the buffer holds.
enum class HexClear { Cells2x, Whole };

// Reads the text in 3-character cells (two hex digits, separator not looked at); a
// missing low digit reads as 0. At most bufSize bytes are stored: cells beyond the
// buffer are cut and counted in *dropped. Returns the canonical hex text ("%.02X "
// per byte, trailing space) of the bytes stored; *count gets their number.
QString HexStrToBytes(const QString& text, quint8* buffer, int bufSize, int* count = nullptr,
                      int* dropped = nullptr, HexClear clear = HexClear::Cells2x);
// Same reading with the whole buffer cleared first; returns the number of bytes stored.
int HexStrToBuffer(const QString& text, quint8* buffer, int bufSize, int* dropped = nullptr);

// Bytes decoded in the system code page, every CR LF pair removed, trimmed of
// characters <= 32 at both ends. Invalid sequences decode to replacement characters.
QString BytesToText(const quint8* p, int n);
// Bytes decoded in the system code page, nothing removed.
QString BytesToString(const quint8* p, int n);
// Text encoded in the system code page, no terminator.
QByteArray StringToBytes(const QString& text);

// Kind 0 "(YYYYMMDD) ", 1 "(hh:mm:ss) ", 2 "(YYYYMMDD hh:mm:ss) ", other kinds "".
QString GetTimeText(int kind, const QDateTime& at);
QString GetTimeText(int kind); // local time now; cheap, cached per second and thread
// The same with ".mmm" after the seconds when withMs: "(hh:mm:ss.mmm) ". Kind 0 has no
// time and stays as it is. Without withMs exactly the texts above.
QString GetTimeText(int kind, const QDateTime& at, bool withMs);
QString GetTimeText(int kind, bool withMs);
// At least two digits (negative -> 0), then "| ".
QString GetLineNumberText(qint64 n);

// Main-log prefixes: "YYYYMMDD " / "hh:mm:ss " / "YYYYMMDD/hh:mm:ss " / "".
QString GetLogTimeText(bool showDate, bool showTime, const QDateTime& at);
QString GetLogTimeText(bool showDate, bool showTime); // local time now, cached per second
// With ".mmm" after the seconds when withMs: "hh:mm:ss.mmm " / "YYYYMMDD/hh:mm:ss.mmm ".
QString GetLogTimeText(bool showDate, bool showTime, const QDateTime& at, bool withMs);
QString GetLogTimeText(bool showDate, bool showTime, bool withMs);
QString GetLogLineNumberText(qint64 n, bool showLineNumber);

// Short port name of a device-list name: "COM3" from "USB Serial Port (COM3)",
// "PID 0x00CD" from a HID name, "ttyUSB0" from "FT232R USB UART (ttyUSB0)",
// "/dev/pts/3" from "Virtual Port (/dev/pts/3)"; empty when none applies.
QString ExtractPortName(const QString& fullName);

// A device name made safe as part of a file name: '/', '\\', control and format
// characters, lone surrogates and a leading '.' become '_'; overlong names are cut
// and tagged with a hash of the whole name. Non-empty for non-empty input.
QString SafeFileNamePart(const QString& deviceName);

// Removes every character with code <= 32 from both ends.
QString TrimControl(const QString& text);
