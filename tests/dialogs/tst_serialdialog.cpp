#include <QComboBox>
#include <QDialogButtonBox>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

#include "iec101network.h"
#include "serialdialog.h"

class TestSerialDialog : public QObject
{
    Q_OBJECT
private:
    static QMetaEnum engineEnum(const char* name)
    {
        const QMetaObject& mo = iec101::Iec101Network::staticMetaObject;
        return mo.enumerator(mo.indexOfEnumerator(name));
    }
    static QList<QMetaEnum> allEnums()
    {
        return {engineEnum("BaudRate"), engineEnum("DataBits"), engineEnum("Parity"), engineEnum("StopBits")};
    }
    static QComboBox* combo(SerialDialog& dialog, const char* key)
    {
        return dialog.findChild<QComboBox*>(key);
    }
    static QString stored(const char* key)
    {
        return QSettings().value(QStringLiteral("IEC101/") + key).toString();
    }

    QTemporaryDir settingsDir;
    QWidget host; // the main view's stand-in: its object name names the settings group

private Q_SLOTS:
    void initTestCase();
    void init();
    void restoresStoredTexts_data();
    void restoresStoredTexts();
    void leaving_data();
    void leaving();
    void partialMask();
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
    QTest::addColumn<QString>("baudText"); // stored under "BaudRate"; empty: no key
    QTest::addColumn<QString>("parityText");
    QTest::addColumn<QStringList>("shown");
    QTest::addColumn<QVector<int>>("numbers");

    QTest::newRow("nothing stored") << ""
                                    << "" << QStringList{"Baud9600", "Data8", "EvenParity", "OneStop"}
                                    << QVector<int>{9600, 8, 69, 1};
    QTest::newRow("stored keys") << "Baud19200"
                                 << "NoParity" << QStringList{"Baud19200", "Data8", "NoParity", "OneStop"}
                                 << QVector<int>{19200, 8, 78, 1};
    QTest::newRow("other case ignored")
        << "baud19200"
        << "oddparity" << QStringList{"Baud9600", "Data8", "EvenParity", "OneStop"}
        << QVector<int>{9600, 8, 69, 1};
    QTest::newRow("unknown text ignored")
        << "Baud57600"
        << "19200" << QStringList{"Baud9600", "Data8", "EvenParity", "OneStop"}
        << QVector<int>{9600, 8, 69, 1};
}

void TestSerialDialog::restoresStoredTexts()
{
    QFETCH(QString, baudText);
    QFETCH(QString, parityText);
    QFETCH(QStringList, shown);
    QFETCH(QVector<int>, numbers);

    {
        QSettings settings;
        if (!baudText.isEmpty())
            settings.setValue("IEC101/BaudRate", baudText);
        if (!parityText.isEmpty())
            settings.setValue("IEC101/Parity", parityText);
        settings.setValue("Other/BaudRate", "Baud38400"); // another host's group
    }
    SerialDialog dialog(15, &host);
    QSignalSpy filled(&dialog, &SerialDialog::metaEnumListSet);
    dialog.setMetaEnumList(allEnums());
    QCOMPARE(filled.count(), 1);
    const QStringList texts{combo(dialog, "BaudRate")->currentText(),
                            combo(dialog, "DataBits")->currentText(), combo(dialog, "Parity")->currentText(),
                            combo(dialog, "StopBits")->currentText()};
    QCOMPARE(texts, shown);
    const SerialParam p = dialog.serialParam();
    QCOMPARE((QVector<int>{p.baudRate, p.dataBits, p.parity, p.stopBits}), numbers);
    QCOMPARE(p.parent(), nullptr);
}

void TestSerialDialog::leaving_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("choice");
    QTest::addColumn<int>("how"); // 0: Save, 1: Cancel, 2: Escape
    QTest::addColumn<QString>("shown");
    QTest::addColumn<int>("number");
    QTest::addColumn<int>("result");

    // Only Save takes the choice into the record; nothing is stored before saveSettings(),
    // which stores what the combo box shows.
    QTest::newRow("save") << "Parity"
                          << "OddParity" << 0 << "OddParity" << 79 << int(QDialog::Accepted);
    QTest::newRow("cancel") << "StopBits"
                            << "TwoStop" << 1 << "OneStop" << 1 << int(QDialog::Rejected);
    QTest::newRow("escape") << "StopBits"
                            << "TwoStop" << 2 << "TwoStop" << 1 << int(QDialog::Rejected);
}

void TestSerialDialog::leaving()
{
    QFETCH(QString, key);
    QFETCH(QString, choice);
    QFETCH(int, how);
    QFETCH(QString, shown);
    QFETCH(int, number);
    QFETCH(int, result);

    SerialDialog dialog(15, &host);
    dialog.setMetaEnumList(allEnums());
    dialog.show();
    QComboBox* box = combo(dialog, key.toLatin1().constData());
    box->setCurrentText(choice);
    auto* buttons = dialog.findChild<QDialogButtonBox*>("buttonBox");
    if (how == 0)
        buttons->button(QDialogButtonBox::Save)->click();
    else if (how == 1)
        buttons->button(QDialogButtonBox::Cancel)->click();
    else
        QTest::keyClick(&dialog, Qt::Key_Escape);

    QVERIFY(!dialog.isVisible());
    QCOMPARE(dialog.result(), result);
    QCOMPARE(box->currentText(), shown);
    const SerialParam p = dialog.serialParam();
    QCOMPARE(key == "Parity" ? p.parity : p.stopBits, number);
    QVERIFY(!QSettings().contains("IEC101/" + key));

    dialog.saveSettings();
    QCOMPARE(stored(key.toLatin1().constData()), shown);
    QCOMPARE(stored("BaudRate"), QString("Baud9600"));
}

void TestSerialDialog::partialMask()
{
    QSettings().setValue("IEC101/Parity", "NoParity");
    SerialDialog dialog(SerialDialog::BaudRate | SerialDialog::Parity, &host);
    QCOMPARE(dialog.findChildren<QComboBox*>().size(), 2);
    QVERIFY(combo(dialog, "Parity"));
    dialog.setMetaEnumList({engineEnum("BaudRate"), engineEnum("Parity")});
    QCOMPARE(dialog.serialParam().baudRate, 9600);
    QCOMPARE(dialog.serialParam().parity, 78);

    // Too few enumerations leave the last box empty instead of failing.
    SerialDialog shortList(15, &host);
    shortList.setMetaEnumList({engineEnum("BaudRate")});
    QCOMPARE(combo(shortList, "StopBits")->count(), 0);
    QCOMPARE(shortList.serialParam().baudRate, 9600);
    QCOMPARE(shortList.serialParam().stopBits, -1);
}

QTEST_MAIN(TestSerialDialog)
#include "tst_serialdialog.moc"
