// Run once per time zone (see CMakeLists.txt): the panels must show the slave's
// calendar fields whatever the zone of the PC, and the offsets kept per hour must be
// the ones the zone has.
#include <QBuffer>
#include <QLabel>
#include <QTimeZone>
#include <QTreeView>
#include <QtTest>

#include "commandview.h"
#include "eventview.h"
#include "objecttext.h"

using namespace iec101;

class TestTimeText : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void slaveFieldsShown_data();
    void slaveFieldsShown();
    void syncWithoutStampShowsNow();
    void offsetsAsLookedUp_data();
    void offsetsAsLookedUp();
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
    // Qt's text date with the milliseconds after the seconds.
    QString expected =
        QDateTime(date, QTime(time.hour(), time.minute(), time.second())).toString(Qt::TextDate);
    expected.replace(time.toString("hh:mm:ss"), time.toString("hh:mm:ss.zzz"));
    QVERIFY(expected.contains(time.toString("hh:mm:ss.zzz")));
    QCOMPARE(events.findChild<QTreeView*>("eventTree")->model()->index(0, 0).data().toString(), expected);
    // Exported with the zone's offset: "2026-12-06T06:30:39.500+01:00".
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    QVERIFY(events.exportCsv(&buffer, nullptr));
    const int offset = QDateTime(date, time).offsetFromUtc();
    const QString exported = QDateTime(date, time).toString("yyyy-MM-ddThh:mm:ss.zzz") +
                             (offset < 0 ? '-' : '+') + QTime(0, 0).addSecs(qAbs(offset)).toString("hh:mm");
    QVERIFY2(buffer.data().contains("\r\n" + exported.toUtf8() + ','), buffer.data().constData());

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

void TestTimeText::offsetsAsLookedUp_data()
{
    QTest::addColumn<qint64>("fromChange");
    QTest::newRow("an hour before a change") << -3600000LL;
    QTest::newRow("a millisecond before it") << -1LL;
    QTest::newRow("at the change") << 0LL;
    QTest::newRow("a quarter of an hour after it") << 900000LL;
    QTest::newRow("an hour after it") << 3600000LL;
}

void TestTimeText::offsetsAsLookedUp()
{
    QFETCH(qint64, fromChange);
    // This year's changes of the zone's offset; a zone without any, the middle of the year.
    QVector<qint64> changes;
    const QDateTime yearStart(QDate(QDate::currentDate().year(), 1, 1), QTime(0, 0), Qt::UTC);
    for (QTimeZone::OffsetData change = QTimeZone::systemTimeZone().nextTransition(yearStart);
         change.atUtc.isValid() && change.atUtc < yearStart.addYears(1);
         change = QTimeZone::systemTimeZone().nextTransition(change.atUtc))
        changes << change.atUtc.toMSecsSinceEpoch();
    if (changes.isEmpty())
        changes << yearStart.addMonths(6).toMSecsSinceEpoch();
    // Each change twice: first looked up, then from what was kept.
    for (const qint64 change : changes + changes) {
        const qint64 instant = change + fromChange;
        QCOMPARE(ObjectText::utcOffsetAt(instant), QDateTime::fromMSecsSinceEpoch(instant).offsetFromUtc());
    }
}

QTEST_MAIN(TestTimeText)
#include "tst_timetext.moc"
