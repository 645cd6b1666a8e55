#pragma once

#include <QObject>

// Where the graphic format puts its points: one Y value at the next X position.
// The port object holds it weakly, so a series destroyed by a chart reset is never used.
class TCvSeries : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    virtual void AddY(double y) = 0;

signals:
    // The series is full and from now on drops its oldest point for each new one; raised
    // once until it is cleared. firstX: the X of the oldest point it still holds.
    void StartedDropping(qint64 maxPoints, qint64 firstX);
};
