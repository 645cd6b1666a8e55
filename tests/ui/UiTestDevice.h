#pragma once

// Puts a device into the window the way the device list holds one, open on a pty.

#include "PtyPair.h"
#include "TCustomComPort.h"
#include "TCvComPortObj.h"
#include "TLogMemo.h"
#include "TSplitViewForm.h"

#include <QComboBox>

// logHolder stands for the window the log view sits in; it must outlive the window.
inline TCvComPortObj* AddTestDevice(TSplitViewForm& w, const PtyPair& pty, QWidget& logHolder) {
    const QString name = QStringLiteral("Virtual Port (") + pty.SlavePath() + u')';
    auto* obj = new TCvComPortObj(nullptr, name);
    w.CvComPortList.append({name, obj});
    w.ComboBoxEx1->addItem(name);
    w.ComboBoxEx1->setCurrentIndex(w.ComboBoxEx1->count() - 1);
    obj->CvComPortObjInit2(name, {}, br9600, dbEight, sbOneStopBit, prNone, fcNone, sfAscii, rfAscii, nullptr,
                           false, false, false, false, true);
    obj->LogMemo()->setParent(&logHolder);
    obj->Open();
    return obj;
}
