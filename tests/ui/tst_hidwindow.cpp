#include "THidScriptedBackend.h"
#include "TLogMemo.h"
#include "UiTestEnv.h"

#include <QComboBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>

// A HID device in the window, over a scripted HID system: listed after a rebuild, opened and
// closed from the open button, its reports shown in the main log, the block sent to it.
class TstHidWindow : public QObject {
    Q_OBJECT
private slots:
    void openReadWriteClose();
};

namespace {
QStringList Memo1Lines(TSplitViewForm& w)
{
    QStringList out;
    for (qint64 i = 0; i < w.Memo1->Model().LineCount(); ++i) out << w.Memo1->Model().Line(i);
    return out;
}
} // namespace

void TstHidWindow::openReadWriteClose()
{
    UiTestEnv env;
    THidScriptedBackend* backend = nullptr;
    TSplitViewForm::SetHidBackendFactory([&] {
        auto b = std::make_unique<THidScriptedBackend>();
        backend = b.get();
        return b;
    });
    auto w = UiTestEnv::Start("en_US");
    TSplitViewForm::SetHidBackendFactory({});
    QVERIFY(backend);
    const QByteArray path = "/dev/hidraw7";
    backend->Plug({path, QStringLiteral("Keyboard"), 0x00AB, 0x00CD, THidScriptedBackend::Descriptor(8, 64)});
    const QString name = QStringLiteral("Keyboard VID 0x00AB PID 0x00CD");
    // Listed only from the next rebuild of the device list.
    QTRY_VERIFY(w->CvHIDDeviceList.contains(name));
    QCOMPARE(w->ComboBoxEx1->findText(name), -1);
    w->Button4Click();
    QTRY_VERIFY(w->ComboBoxEx1->findText(name) >= 0);
    w->ComboBoxEx1->setCurrentIndex(w->ComboBoxEx1->findText(name));
    QCOMPARE(w->Button2->text(), QStringLiteral("Open The HID Device PID 0x00CD"));

    w->Button2->click();
    QCOMPARE(w->Button2->text(), QStringLiteral("Close The Device"));
    // A 9-byte input report (report id 0, left out by the system) shows as 8 groups.
    backend->QueueReport(path, QByteArray::fromHex("1112131415161718"));
    QTRY_VERIFY(Memo1Lines(*w).join('\n').contains(QLatin1String("11 12 13 14 15 16 17 18 ")));

    w->findChild<QPlainTextEdit*>(QStringLiteral("Memo2"))->setPlainText(QStringLiteral("01 02 03"));
    w->findChild<QPushButton*>(QStringLiteral("Button8"))->click();
    QTRY_COMPARE(backend->Written(path).size(), 1);
    QCOMPARE(backend->Written(path).first(), QByteArray::fromHex("010203") + QByteArray(62, '\0'));
    QVERIFY(Memo1Lines(*w).last().endsWith(QLatin1String("> 01 02 03 ")));

    w->Button2->click();
    QCOMPARE(w->Button2->text(), QStringLiteral("Open The HID Device PID 0x00CD"));
    QTRY_COMPARE(backend->OpenHandles(path), 0);
}

QTEST_MAIN(TstHidWindow)
#include "tst_hidwindow.moc"
