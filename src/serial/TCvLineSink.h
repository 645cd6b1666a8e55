#pragma once

#include <QObject>
#include <QString>

// Where an ASCII port hands its received text besides the log: the text as decoded in the
// port's encoding, its line breaks already brought to CR LF by the port's filter and its
// escape sequences taken out as the log shows it (no colours), in pieces as read (a line may end in a later
// piece). Called on the port object's thread; an implementation only takes the text and does its work
// elsewhere, since the receive handler must stay quick. The port object holds it weakly.
class TCvLineSink : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    // steadyMs: when the piece was read, in SteadyMs().
    virtual void TextReceived(const QString& text, qint64 steadyMs) = 0;
};
