// The advanced page and the log font and colour: transparency, top-most, auto-save,
// display options, themes.

#include "CvPreferenceDialogs.h"
#include "CvThemes.h"
#include "TUpDown.h"
#include "UiFind.h"
#include "UiTestEnv.h"
#include "WindowDevice.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QMenu>
#include <QPushButton>
#include <QStyle>
#include <QStyleFactory>
#include <QTimer>

using namespace Qt::Literals::StringLiterals;

namespace {
QAction* MenuEntry(QMenu* menu, const QString& text)
{
    const QList<QAction*> actions = menu->actions();
    for (QAction* a : actions)
        if (a->text() == text) return a;
    return nullptr;
}
} // namespace

class TstPreferences : public QObject {
    Q_OBJECT
private slots:
    // Each test starts from the plain look and the standard dialogs answered by nobody.
    void init();
    void cleanup();
    void opacitySpinnerAppliesAtOnce();
    void untickingTransparencyKeepsTheValue();
    void topMost();
    void autoSaveTimer();
    void configurationFolder();
    void hexAlignment_data();
    void hexAlignment();
    void displayOptionsReachTheCurrentDevice();
    void backgroundColourOfMemo1AndCurrentLogOnly();
    void fontOfMemo1AndCurrentLog();
    void cancelledDialogsChangeNothing();
    void withoutDeviceOnlyMemo1();
    void themeListHasStylesThenPalettes();
    void themeIndexOutsideTheListKeepsTheStyle_data();
    void themeIndexOutsideTheListKeepsTheStyle();
    void themeFromListAppliesAndIsSaved();
    void themeFromMenuIsNotSaved();
    void paletteIsReadable_data();
    void paletteIsReadable();
    void logStaysReadableInDarkThemes();
    // The colours a device gives its text read on the log of every theme.
    void deviceColoursReadableInEveryTheme();
};

void TstPreferences::init()
{
    TSplitViewForm::ApplyStyleByName(u"Fusion"_s);
}

void TstPreferences::cleanup()
{
    SetFontAsker({});
    SetColorAsker({});
    SetFolderOpener({});
    TSplitViewForm::ApplyStyleByName(u"Fusion"_s);
}

void TstPreferences::opacitySpinnerAppliesAtOnce()
{
    UiTestEnv env;
    auto w = UiTestEnv::Start("en_US");
    QCOMPARE(Ui::Find<TUpDown>(*w, u"UpDown2"_s)->Position(), 238);
    QVERIFY(w->AlphaBlend());
    Ui::Find<TUpDown>(*w, u"UpDown2"_s)->stepDown();
    QCOMPARE(w->AlphaBlendValue(), 237);
    QVERIFY(w->AlphaBlend());
}

void TstPreferences::untickingTransparencyKeepsTheValue()
{
    UiTestEnv env;
    auto w = UiTestEnv::Start("en_US");
    Ui::Find<TUpDown>(*w, u"UpDown2"_s)->SetPosition(1);
    QCOMPARE(w->AlphaBlendValue(), 1);
    Ui::Find<QCheckBox>(*w, u"CheckBox7"_s)->click();
    QVERIFY(!w->AlphaBlend());
    QCOMPARE(Ui::Find<TUpDown>(*w, u"UpDown2"_s)->Position(), 1);
    QCOMPARE(w->AlphaBlendValue(), 1);
    // The value changes even while the window is opaque, and shows when ticked again.
    Ui::Find<TUpDown>(*w, u"UpDown2"_s)->SetPosition(200);
    QVERIFY(!w->AlphaBlend());
    Ui::Find<QCheckBox>(*w, u"CheckBox7"_s)->click();
    QVERIFY(w->AlphaBlend());
    QCOMPARE(w->AlphaBlendValue(), 200);
}

void TstPreferences::topMost()
{
    UiTestEnv env;
    auto w = UiTestEnv::Start("en_US");
    w->show();
    const QRect where = w->geometry();
    QAction* keep = MenuEntry(Ui::Find<QMenu>(*w, u"SystemMenu"_s), u"Keep At The Top Always "_s);
    QVERIFY(keep);

    Ui::Find<QCheckBox>(*w, u"CheckBox2"_s)->click();
    QVERIFY(w->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    QVERIFY(w->isVisible());
    QCOMPARE(w->geometry(), where);
    keep->trigger();
    QVERIFY(Ui::Find<QCheckBox>(*w, u"CheckBox2"_s)->isChecked());
    QVERIFY(w->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    Ui::Find<QCheckBox>(*w, u"CheckBox2"_s)->click();
    QVERIFY(!w->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    QVERIFY(w->isVisible());
    QCOMPARE(w->geometry(), where);

    // The menu entry alone does not tick the box.
    keep->trigger();
    QVERIFY(w->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    QVERIFY(!Ui::Find<QCheckBox>(*w, u"CheckBox2"_s)->isChecked());
}

void TstPreferences::autoSaveTimer()
{
    UiTestEnv env;
    auto w = UiTestEnv::Start("en_US");
    QVERIFY(!Ui::Find<QTimer>(*w, u"Timer2"_s)->isActive());
    QCOMPARE(Ui::Find<QTimer>(*w, u"Timer2"_s)->interval(), 10000);
    Ui::Find<QCheckBox>(*w, u"CheckBox8"_s)->click();
    QVERIFY(Ui::Find<QTimer>(*w, u"Timer2"_s)->isActive());
    Ui::Find<TUpDown>(*w, u"UpDown5"_s)->stepUp();
    QCOMPARE(Ui::Find<QTimer>(*w, u"Timer2"_s)->interval(), 11000);
    Ui::Find<TUpDown>(*w, u"UpDown5"_s)->SetPosition(5);
    QCOMPARE(Ui::Find<QTimer>(*w, u"Timer2"_s)->interval(), 5000);
    Ui::Find<QCheckBox>(*w, u"CheckBox8"_s)->click();
    QVERIFY(!Ui::Find<QTimer>(*w, u"Timer2"_s)->isActive());
}

void TstPreferences::configurationFolder()
{
    UiTestEnv env;
    auto w = UiTestEnv::Start("en_US");
    QStringList opened;
    SetFolderOpener([&](const QString& path) { opened << path; });
    QTest::mouseClick(Ui::Find<QPushButton>(*w, u"Button6"_s), Qt::LeftButton);
    QCOMPARE(opened, QStringList{env.CfgDir()});
}

void TstPreferences::hexAlignment_data()
{
    QTest::addColumn<int>("item");
    QTest::addColumn<int>("count");
    QTest::newRow("16 bytes") << 0 << 16;
    QTest::newRow("32 bytes") << 1 << 32;
    QTest::newRow("None") << 2 << 0;
}

void TstPreferences::hexAlignment()
{
    QFETCH(int, item);
    QFETCH(int, count);
    UiTestEnv env;
    WindowDevice dev;
    auto w = UiTestEnv::Start("en_US");
    TCvComPortObj* obj = dev.Attach(*w);
    obj->FHexModeFormatCount = -1;
    Ui::Find<QComboBox>(*w, u"ComboBox8"_s)->setFocus();
    Ui::Find<QComboBox>(*w, u"ComboBox8"_s)->setCurrentIndex(item == 0 ? 1 : item - 1);
    // Chosen by the keyboard, as a user would.
    QTest::keyClick(Ui::Find<QComboBox>(*w, u"ComboBox8"_s), item == 0 ? Qt::Key_Up : Qt::Key_Down);
    QCOMPARE(Ui::Find<QComboBox>(*w, u"ComboBox8"_s)->currentIndex(), item);
    QCOMPARE(obj->FHexModeFormatCount.load(), count);
}

void TstPreferences::displayOptionsReachTheCurrentDevice()
{
    UiTestEnv env;
    WindowDevice dev;
    auto w = UiTestEnv::Start("en_US");
    TCvComPortObj* obj = dev.Attach(*w);
    Ui::Find<QCheckBox>(*w, u"CheckBox3"_s)->click();
    QVERIFY(obj->FShowDate);
    Ui::Find<QCheckBox>(*w, u"CheckBox25"_s)->click();
    QVERIFY(obj->FShowTime);
    Ui::Find<QCheckBox>(*w, u"CheckBox4"_s)->click();
    QCOMPARE(obj->FShowLineNumber, Ui::Find<QCheckBox>(*w, u"CheckBox4"_s)->isChecked());
    Ui::Find<QCheckBox>(*w, u"CheckBox5"_s)->click();
    QCOMPARE(obj->FShowSendedLog, Ui::Find<QCheckBox>(*w, u"CheckBox5"_s)->isChecked());
    // CheckBox12 takes effect at once: unticked is one character per byte.
    QVERIFY(Ui::Find<QCheckBox>(*w, u"CheckBox12"_s)->isChecked());
    Ui::Find<QCheckBox>(*w, u"CheckBox12"_s)->click();
    QCOMPARE(obj->TextEncoding(), TTextEncoding::Bytes);
    Ui::Find<QCheckBox>(*w, u"CheckBox9"_s)->click();
    QCOMPARE(obj->FHexModeWithString.load(), Ui::Find<QCheckBox>(*w, u"CheckBox9"_s)->isChecked());
    QCOMPARE(obj->TextEncoding(), TTextEncoding::Bytes);
}

void TstPreferences::backgroundColourOfMemo1AndCurrentLogOnly()
{
    UiTestEnv env;
    WindowDevice devA, devB;
    auto w = UiTestEnv::Start("en_US");
    devA.Attach(*w);
    TCvComPortObj* b = devB.Attach(*w);
    Ui::Find<QComboBox>(*w, u"ComboBoxEx1"_s)
        ->setCurrentIndex(Ui::Find<QComboBox>(*w, u"ComboBoxEx1"_s)->findText(b->FComportFullName));
    QCOMPARE(w->GetDeciceByFullName(w->GetCurrentDeviceName()), b);
    const QColor aBefore = devA.memo->BackgroundColor();
    QColor offered;
    SetColorAsker([&](QWidget*, const QColor& initial, QColor* chosen) {
        offered = initial;
        *chosen = QColor(0x20, 0x40, 0x60);
        return true;
    });
    const QColor memo1Before = Ui::Find<TLogMemo>(*w, u"Memo1"_s)->BackgroundColor();
    QTest::mouseClick(Ui::Find<QPushButton>(*w, u"Button17"_s), Qt::LeftButton);
    QCOMPARE(offered, memo1Before);
    QCOMPARE(Ui::Find<TLogMemo>(*w, u"Memo1"_s)->BackgroundColor(), QColor(0x20, 0x40, 0x60));
    QCOMPARE(w->Memo1BackgroundColor(), TColorValue(0x604020));
    QCOMPARE(devB.memo->BackgroundColor(), QColor(0x20, 0x40, 0x60));
    QCOMPARE(devA.memo->BackgroundColor(), aBefore);
}

void TstPreferences::fontOfMemo1AndCurrentLog()
{
    UiTestEnv env;
    WindowDevice devA, devB;
    auto w = UiTestEnv::Start("en_US");
    devA.Attach(*w);
    devB.Attach(*w);
    devB.memo->setFont(QFont(u"DejaVu Sans"_s, 9));
    const QFont aBefore = devA.memo->font();
    QFont offered;
    SetFontAsker([&](QWidget*, const QFont& initial, QFont* chosen) {
        offered = initial;
        *chosen = QFont(u"DejaVu Sans Mono"_s, 17);
        return true;
    });
    QTest::mouseClick(Ui::Find<QPushButton>(*w, u"Button12"_s), Qt::LeftButton);
    // The dialog starts from the current device's log font.
    QCOMPARE(offered.pointSize(), 9);
    QCOMPARE(Ui::Find<TLogMemo>(*w, u"Memo1"_s)->font().pointSize(), 17);
    QCOMPARE(devB.memo->font().pointSize(), 17);
    QCOMPARE(devB.memo->font().family(), u"DejaVu Sans Mono"_s);
    QCOMPARE(devA.memo->font(), aBefore);
}

void TstPreferences::cancelledDialogsChangeNothing()
{
    UiTestEnv env;
    WindowDevice dev;
    auto w = UiTestEnv::Start("en_US");
    dev.Attach(*w);
    const QFont memo1Font = Ui::Find<TLogMemo>(*w, u"Memo1"_s)->font(), logFont = dev.memo->font();
    const QColor memo1Back = Ui::Find<TLogMemo>(*w, u"Memo1"_s)->BackgroundColor(),
                 logBack = dev.memo->BackgroundColor();
    SetFontAsker([](QWidget*, const QFont&, QFont* chosen) {
        *chosen = QFont(u"DejaVu Sans"_s, 30);
        return false;
    });
    SetColorAsker([](QWidget*, const QColor&, QColor* chosen) {
        *chosen = Qt::red;
        return false;
    });
    QTest::mouseClick(Ui::Find<QPushButton>(*w, u"Button12"_s), Qt::LeftButton);
    QTest::mouseClick(Ui::Find<QPushButton>(*w, u"Button17"_s), Qt::LeftButton);
    QCOMPARE(Ui::Find<TLogMemo>(*w, u"Memo1"_s)->font(), memo1Font);
    QCOMPARE(dev.memo->font(), logFont);
    QCOMPARE(Ui::Find<TLogMemo>(*w, u"Memo1"_s)->BackgroundColor(), memo1Back);
    QCOMPARE(dev.memo->BackgroundColor(), logBack);
}

void TstPreferences::withoutDeviceOnlyMemo1()
{
    UiTestEnv env;
    auto w = UiTestEnv::Start("en_US");
    // Whatever devices the machine has, none is selected.
    Ui::Find<QComboBox>(*w, u"ComboBoxEx1"_s)->setCurrentIndex(-1);
    QFont offered;
    SetFontAsker([&](QWidget*, const QFont& initial, QFont* chosen) {
        offered = initial;
        *chosen = QFont(u"DejaVu Sans"_s, 12);
        return true;
    });
    SetColorAsker([](QWidget*, const QColor&, QColor* chosen) {
        *chosen = QColor(0x10, 0x20, 0x30);
        return true;
    });
    QTest::mouseClick(Ui::Find<QPushButton>(*w, u"Button12"_s), Qt::LeftButton);
    QCOMPARE(offered.pointSize(), 14); // Memo1's own font
    QCOMPARE(Ui::Find<TLogMemo>(*w, u"Memo1"_s)->font().pointSize(), 12);
    QTest::mouseClick(Ui::Find<QPushButton>(*w, u"Button17"_s), Qt::LeftButton);
    QCOMPARE(Ui::Find<TLogMemo>(*w, u"Memo1"_s)->BackgroundColor(), QColor(0x10, 0x20, 0x30));
    QVERIFY(env.boxes.isEmpty());
}

void TstPreferences::themeListHasStylesThenPalettes()
{
    UiTestEnv env;
    auto w = UiTestEnv::Start("en_US");
    QStringList expected = QStyleFactory::keys();
    expected.removeAll(u"Fusion"_s);
    expected.prepend(u"Fusion"_s);
    int dark = 0;
    for (const TCvTheme& t : CvThemes()) {
        expected << t.Name;
        dark += t.Dark;
    }
    QVERIFY(CvThemes().size() >= 12);
    QVERIFY(dark >= 3 && CvThemes().size() - dark >= 3);
    QCOMPARE(w->GetStyleNames(), expected);
    QStringList listed, menu;
    for (int i = 0; i < Ui::Find<QComboBox>(*w, u"cbxVclStyles"_s)->count(); ++i)
        listed << Ui::Find<QComboBox>(*w, u"cbxVclStyles"_s)->itemText(i);
    for (QAction* a : Ui::Find<QMenu>(*w, u"ThemeMenu"_s)->actions()) menu << a->text();
    QCOMPARE(listed, expected);
    QCOMPARE(menu, expected);
    QCOMPARE(w->GetStyleNameByIndex(0), u"Fusion"_s);
    QCOMPARE(w->GetStyleNameByIndex(int(expected.size()) - 1), expected.last());
}

void TstPreferences::themeIndexOutsideTheListKeepsTheStyle_data()
{
    QTest::addColumn<QByteArray>("theme");
    QTest::newRow("negative") << QByteArray("-1");
    QTest::newRow("one past the end") << QByteArray("LAST+1");
    QTest::newRow("far out") << QByteArray("5000");
}

void TstPreferences::themeIndexOutsideTheListKeepsTheStyle()
{
    QFETCH(QByteArray, theme);
    UiTestEnv env;
    const int count = int(QStyleFactory::keys().size() + CvThemes().size());
    if (theme == "LAST+1") theme = QByteArray::number(count);
    TSplitViewForm::ApplyStyleByName(u"Slate Dark"_s);
    const QColor window = QApplication::palette().color(QPalette::Window);
    env.WriteSetting(u"Corvane.ini"_s, "[MyPreference]\r\nTheme=" + theme + "\r\n");
    auto w = UiTestEnv::Start("en_US");
    QCOMPARE(Ui::Find<QComboBox>(*w, u"cbxVclStyles"_s)->currentIndex(), -1);
    QCOMPARE(TSplitViewForm::CurrentThemeName(), u"Slate Dark"_s);
    QCOMPARE(QApplication::palette().color(QPalette::Window), window);
    QVERIFY(w->GetStyleNameByIndex(theme.toInt()).isEmpty());
    w->ApplyStyleByName(u"No Such Theme"_s);
    QCOMPARE(TSplitViewForm::CurrentThemeName(), u"Slate Dark"_s);
}

void TstPreferences::themeFromListAppliesAndIsSaved()
{
    UiTestEnv env;
    auto w = UiTestEnv::Start("en_US");
    const int index = Ui::Find<QComboBox>(*w, u"cbxVclStyles"_s)->findText(u"Forest Dark"_s);
    QVERIFY(index > 0);
    Ui::Find<QComboBox>(*w, u"cbxVclStyles"_s)->setFocus();
    Ui::Find<QComboBox>(*w, u"cbxVclStyles"_s)->setCurrentIndex(index - 1);
    QTest::keyClick(Ui::Find<QComboBox>(*w, u"cbxVclStyles"_s), Qt::Key_Down);
    QCOMPARE(TSplitViewForm::CurrentThemeName(), u"Forest Dark"_s);
    QCOMPARE(QApplication::style()->name().toLower(), u"fusion"_s);
    QCOMPARE(QApplication::palette().color(QPalette::Window),
             FindCvTheme(u"Forest Dark"_s)->Palette.color(QPalette::Window));
    // Widgets take the new colours as the event loop turns.
    QApplication::processEvents();
    QCOMPARE(w->palette().color(QPalette::Window), QColor(0x1C2A22));
    QVERIFY(w->projectSave(true));
    TCvSettings s;
    QVERIFY(LoadCorvaneIni(w->SettingsFileName(), s));
    QCOMPARE(s.Pref.Theme, index);

    // Back to a style: its own colours return.
    Ui::Find<QComboBox>(*w, u"cbxVclStyles"_s)->setCurrentIndex(1);
    QTest::keyClick(Ui::Find<QComboBox>(*w, u"cbxVclStyles"_s), Qt::Key_Up);
    QCOMPARE(QApplication::style()->name().toLower(), u"fusion"_s);
    QCOMPARE(QApplication::palette().color(QPalette::Window),
             QApplication::style()->standardPalette().color(QPalette::Window));
}

void TstPreferences::themeFromMenuIsNotSaved()
{
    UiTestEnv env;
    auto w = UiTestEnv::Start("en_US");
    const int before = Ui::Find<QComboBox>(*w, u"cbxVclStyles"_s)->currentIndex();
    QAction* entry = MenuEntry(Ui::Find<QMenu>(*w, u"ThemeMenu"_s), u"Sky Light"_s);
    QVERIFY(entry);
    entry->trigger();
    QCOMPARE(TSplitViewForm::CurrentThemeName(), u"Sky Light"_s);
    QCOMPARE(QApplication::palette().color(QPalette::Window), QColor(0xE4EEF8));
    QCOMPARE(Ui::Find<QComboBox>(*w, u"cbxVclStyles"_s)->currentIndex(), before);
    QVERIFY(w->projectSave(true));
    TCvSettings s;
    QVERIFY(LoadCorvaneIni(w->SettingsFileName(), s));
    QCOMPARE(s.Pref.Theme, before);
}

void TstPreferences::paletteIsReadable_data()
{
    QTest::addColumn<QString>("theme");
    for (const TCvTheme& t : CvThemes()) QTest::newRow(qPrintable(t.Name)) << t.Name;
}

void TstPreferences::paletteIsReadable()
{
    QFETCH(QString, theme);
    const TCvTheme* t = FindCvTheme(theme);
    QVERIFY(t);
    const QPalette& p = t->Palette;
    const std::pair<QPalette::ColorRole, QPalette::ColorRole> pairs[] = {
        {QPalette::WindowText, QPalette::Window},         {QPalette::Text, QPalette::Base},
        {QPalette::Text, QPalette::AlternateBase},        {QPalette::ButtonText, QPalette::Button},
        {QPalette::HighlightedText, QPalette::Highlight}, {QPalette::ToolTipText, QPalette::ToolTipBase},
    };
    for (const auto& [fg, bg] : pairs) {
        const double ratio = ContrastRatio(p.color(QPalette::Active, fg), p.color(QPalette::Active, bg));
        QVERIFY2(ratio >= 4.5, qPrintable(u"%1 on %2: %3"_s.arg(int(fg)).arg(int(bg)).arg(ratio)));
    }
    // Light themes are light and dark ones dark.
    QCOMPARE(p.color(QPalette::Window).lightnessF() < 0.5, t->Dark);
}

void TstPreferences::logStaysReadableInDarkThemes()
{
    UiTestEnv env;
    auto w = UiTestEnv::Start("en_US");
    for (const TCvTheme& t : CvThemes()) {
        TSplitViewForm::ApplyStyleByName(t.Name);
        QApplication::processEvents();
        const double ratio = ContrastRatio(Ui::Find<TLogMemo>(*w, u"Memo1"_s)->TextColor(),
                                           Ui::Find<TLogMemo>(*w, u"Memo1"_s)->BackgroundColor());
        QVERIFY2(ratio >= 4.5, qPrintable(t.Name));
    }
}

void TstPreferences::deviceColoursReadableInEveryTheme()
{
    UiTestEnv env;
    auto w = UiTestEnv::Start("en_US");
    auto* memo = Ui::Find<TLogMemo>(*w, u"Memo1"_s);
    for (const TCvTheme& t : CvThemes()) {
        TSplitViewForm::ApplyStyleByName(t.Name);
        QApplication::processEvents();
        // The set chosen for the background reads as it is, without being lifted.
        for (int i = 0; i < 16; ++i) {
            const double ratio = ContrastRatio(memo->TextColours().Named(i), memo->BackgroundColor());
            QVERIFY2(ratio >= TCvTextColours::kMinContrast,
                     qPrintable(u"%1, colour %2"_s.arg(t.Name).arg(i)));
        }
    }
}

QTEST_MAIN(TstPreferences)
#include "tst_preferences.moc"
