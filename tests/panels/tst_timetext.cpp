// Run once per time zone (see CMakeLists.txt): the panels must show the slave's
// calendar fields whatever the zone of the PC.
#include <QLabel>
#include <QTreeView>
#include <QtTest>

#include "commandview.h"
#include "eventview.h"

class TestTimeText : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void slaveFieldsShown_data();
    void slaveFieldsShown();
    void syncWithoutStampShowsNow();
};

void TestTimeText::initTestCase()
{
    // Guards against the zone silently not being applied.
    if (qEnvironmentVariable("TZ") == QLatin1String("Europe/Berlin"))
        QVERIFY(QDateTime::currentDateTime().offsetFromUtc() >= 3600);
    if (qEnvironmentVariable("TZ") == QLatin1String("UTC"))
        QCOMPARE(QDateTime::currentDateTime().offsetFromUtc(), 0);
}

void TestTimeText::slaveFieldsShown_data()
{
    QTest::addColumn<QTime>("time");
    QTest::newRow("morning") << QTime(6, 30, 39, 500);
    QTest::newRow("just before midnight") << QTime(23, 59, 59, 999);
    QTest::newRow("just after midnight") << QTime(0, 0, 1);
}

void TestTimeText::slaveFieldsShown()
{
    QFETCH(QTime, time);
    // The slave's fields, stamped as if they were UTC (as the decoder does).
    const QDate date = QDate::currentDate();
    const QDateTime stamped(date, time, Qt::UTC);
    if (stamped.toLocalTime().offsetFromUtc() != QDateTime::currentDateTime().offsetFromUtc())
        QSKIP("the zone's offset today differs between the stamp and now");

    InfoObject object;
    object.typeId = 30;
    object.timestamp = QVariant::fromValue<qulonglong>(stamped.toMSecsSinceEpoch());

    EventView events;
    events.addEvent(object);
    const QString expected =
        QDateTime(date, QTime(time.hour(), time.minute(), time.second())).toString(Qt::TextDate);
    QVERIFY(expected.contains(time.toString("hh:mm:ss")));
    QCOMPARE(events.findChild<QTreeView*>("eventTree")->model()->index(0, 0).data().toString(), expected);

    CommandView commands;
    commands.timeSyncReady(object);
    QCOMPARE(commands.findChild<QLabel*>("syncStatusLabel")->text(),
             "Synced at " + time.toString("hh:mm:ss") + date.toString(" dd.MM.yyyy"));
}

void TestTimeText::syncWithoutStampShowsNow()
{
    CommandView commands;
    const QDateTime before = QDateTime::currentDateTime().addSecs(-1);
    commands.timeSyncReady(InfoObject());
    const QString text = commands.findChild<QLabel*>("syncStatusLabel")->text();
    const QDateTime shown = QDateTime::fromString(text, "'Synced at 'hh:mm:ss dd.MM.yyyy");
    QVERIFY2(shown >= before.addMSecs(-before.time().msec()) && shown <= QDateTime::currentDateTime(),
             qPrintable(text));
}

QTEST_MAIN(TestTimeText)
#include "tst_timetext.moc"
