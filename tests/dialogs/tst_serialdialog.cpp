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
    void saveButtonSetsParamOnly();
    void cancelRestoresCombo();
    void closeKeepsEditForNextSave();
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

void TestSerialDialog::saveButtonSetsParamOnly()
{
    SerialDialog dialog(15, &host);
    dialog.setMetaEnumList(allEnums());
    dialog.show();
    combo(dialog, "Parity")->setCurrentText("OddParity");
    dialog.findChild<QDialogButtonBox*>("buttonBox")->button(QDialogButtonBox::Save)->click();
    QCOMPARE(dialog.serialParam().parity, 79);
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QVERIFY(!dialog.isVisible());
    QVERIFY(!QSettings().contains("IEC101/Parity"));

    dialog.saveSettings();
    QCOMPARE(stored("Parity"), QString("OddParity"));
    QCOMPARE(stored("BaudRate"), QString("Baud9600"));
}

void TestSerialDialog::cancelRestoresCombo()
{
    SerialDialog dialog(15, &host);
    dialog.setMetaEnumList(allEnums());
    dialog.show();
    combo(dialog, "StopBits")->setCurrentText("TwoStop");
    dialog.findChild<QDialogButtonBox*>("buttonBox")->button(QDialogButtonBox::Cancel)->click();
    QCOMPARE(combo(dialog, "StopBits")->currentText(), QString("OneStop"));
    QCOMPARE(dialog.serialParam().stopBits, 1);
    QCOMPARE(dialog.result(), int(QDialog::Rejected));
}

void TestSerialDialog::closeKeepsEditForNextSave()
{
    SerialDialog dialog(15, &host);
    dialog.setMetaEnumList(allEnums());
    dialog.show();
    combo(dialog, "StopBits")->setCurrentText("TwoStop");
    QTest::keyClick(&dialog, Qt::Key_Escape);
    QVERIFY(!dialog.isVisible());
    QCOMPARE(combo(dialog, "StopBits")->currentText(), QString("TwoStop"));
    QCOMPARE(dialog.serialParam().stopBits, 1);
    dialog.saveSettings();
    QCOMPARE(stored("StopBits"), QString("TwoStop"));

    // The next start shows the edited choice.
    SerialDialog next(15, &host);
    next.setMetaEnumList(allEnums());
    QCOMPARE(next.serialParam().stopBits, 2);
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
