#include <QComboBox>
#include <QDialogButtonBox>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

#include "iec101network.h"
#include "serialdialog.h"

using namespace iec101;

namespace {

const char* const Keys[] = {"BaudRate", "DataBits", "Parity", "StopBits"};

// The engine's enumerations for the combo boxes in `mask`, at most `count` of them.
QList<QMetaEnum> enums(int mask, int count = 4)
{
    const QMetaObject& mo = iec101::Iec101Network::staticMetaObject;
    QList<QMetaEnum> list;
    for (int k = 0; k < 4; ++k) {
        if ((mask & (1 << k)) && list.size() < count)
            list << mo.enumerator(mo.indexOfEnumerator(Keys[k]));
    }
    return list;
}

} // namespace

class TestSerialDialog : public QObject
{
    Q_OBJECT
    QTemporaryDir settingsDir;
    QWidget host; // the main view's stand-in: its object name names the settings group

private Q_SLOTS:
    void initTestCase();
    void init();
    void restoresStoredTexts_data();
    void restoresStoredTexts();
    void leaving_data();
    void leaving();
};

void TestSerialDialog::initTestCase()
{
    QVERIFY(settingsDir.isValid());
    QCoreApplication::setOrganizationName("iec101-tests");
    QCoreApplication::setApplicationName("tst_serialdialog");
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settingsDir.path());
    host.setObjectName("IEC101");
}

void TestSerialDialog::init()
{
    QSettings().clear();
}

void TestSerialDialog::restoresStoredTexts_data()
{
    QTest::addColumn<int>("mask");
    QTest::addColumn<int>("enumCount");
    QTest::addColumn<QString>("stored"); // "key=text ..." in the host's group
    QTest::addColumn<QStringList>("shown");
    QTest::addColumn<QVector<int>>("numbers");

    const QStringList defaults{"Baud9600", "Data8", "EvenParity", "OneStop"};
    const QVector<int> defaultNumbers{9600, 8, 69, 1};
    QTest::newRow("nothing stored") << 15 << 4 << "" << defaults << defaultNumbers;
    QTest::newRow("stored keys") << 15 << 4 << "BaudRate=Baud19200 Parity=NoParity"
                                 << QStringList{"Baud19200", "Data8", "NoParity", "OneStop"}
                                 << QVector<int>{19200, 8, 78, 1};
    QTest::newRow("other case ignored")
        << 15 << 4 << "BaudRate=baud19200 Parity=oddparity" << defaults << defaultNumbers;
    QTest::newRow("unknown text ignored")
        << 15 << 4 << "BaudRate=Baud57600 Parity=19200" << defaults << defaultNumbers;
    QTest::newRow("baud rate and parity only")
        << 5 << 2 << "Parity=NoParity" << QStringList{"Baud9600", "NoParity"} << QVector<int>{9600, 0, 78, 0};
    // Too few enumerations leave the remaining boxes empty instead of failing.
    QTest::newRow("one enumeration for four boxes")
        << 15 << 1 << "" << QStringList{"Baud9600", "", "", ""} << QVector<int>{9600, -1, -1, -1};
}

void TestSerialDialog::restoresStoredTexts()
{
    QFETCH(int, mask);
    QFETCH(int, enumCount);
    QFETCH(QString, stored);
    QFETCH(QStringList, shown);
    QFETCH(QVector<int>, numbers);

    {
        QSettings settings;
        for (const QString& entry : stored.split(' ', Qt::SkipEmptyParts))
            settings.setValue("IEC101/" + entry.section('=', 0, 0), entry.section('=', 1));
        settings.setValue("Other/BaudRate", "Baud38400"); // another host's group
    }
    SerialDialog dialog(mask, &host);
    dialog.setMetaEnumList(enums(mask, enumCount));
    QStringList texts;
    for (const char* key : Keys) {
        if (auto* box = dialog.findChild<QComboBox*>(key))
            texts << box->currentText();
    }
    QCOMPARE(texts, shown);
    const SerialParam p = dialog.serialParam();
    QCOMPARE((QVector<int>{p.baudRate, p.dataBits, p.parity, p.stopBits}), numbers);
}

void TestSerialDialog::leaving_data()
{
    QTest::addColumn<int>("how"); // 0: Save, 1: Cancel, 2: Escape
    QTest::addColumn<QString>("shown");
    QTest::addColumn<int>("parity");

    // The operator picks OddParity. Only Save takes the choice into the record; nothing is stored
    // before saveSettings(), which stores what the combo box shows.
    QTest::newRow("save") << 0 << "OddParity" << 79;
    QTest::newRow("cancel") << 1 << "EvenParity" << 69;
    QTest::newRow("escape") << 2 << "OddParity" << 69;
}

void TestSerialDialog::leaving()
{
    QFETCH(int, how);
    QFETCH(QString, shown);
    QFETCH(int, parity);

    SerialDialog dialog(15, &host);
    dialog.setMetaEnumList(enums(15));
    dialog.show();
    auto* box = dialog.findChild<QComboBox*>("Parity");
    box->setCurrentText("OddParity");
    auto* buttons = dialog.findChild<QDialogButtonBox*>("buttonBox");
    if (how == 2)
        QTest::keyClick(&dialog, Qt::Key_Escape);
    else
        buttons->button(how == 0 ? QDialogButtonBox::Save : QDialogButtonBox::Cancel)->click();
    QVERIFY(!dialog.isVisible());
    QCOMPARE(dialog.result(), how == 0 ? QDialog::Accepted : QDialog::Rejected);
    QCOMPARE(box->currentText(), shown);
    QCOMPARE(dialog.serialParam().parity, parity);
    QVERIFY(!QSettings().contains("IEC101/Parity"));
    dialog.saveSettings();
    QCOMPARE(QSettings().value("IEC101/Parity").toString(), shown);
    QCOMPARE(QSettings().value("IEC101/BaudRate").toString(), QString("Baud9600"));
}

QTEST_MAIN(TestSerialDialog)
#include "tst_serialdialog.moc"
