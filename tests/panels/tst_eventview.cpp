// The event log: what each kind of object reads as, rows newest first, clearing, and
// the log as CSV.
#include <QAbstractItemModelTester>
#include <QBuffer>
#include <QTreeView>
#include <QtTest>

#include <iec60870_common.h>

#include "eventview.h"

using namespace iec101;

namespace {

InfoObject object(int typeId, int address, const QVariant& value, quint8 quality = 0, quint16 extra = 0)
{
    InfoObject o;
    o.typeId = typeId;
    o.address = address;
    o.value = value;
    o.quality = quality;
    o.extra = extra;
    return o;
}

// The slave's calendar fields, stamped as UTC as the decoder does.
QVariant stamp(const QDateTime& fields)
{
    return QVariant::fromValue<qulonglong>(fields.toMSecsSinceEpoch());
}

// The headers, then each row from the top, cells joined by "|".
QStringList shown(const QAbstractItemModel* model)
{
    QStringList lines;
    for (int r = -1; r < model->rowCount(); ++r) {
        QStringList cells;
        for (int c = 0; c < model->columnCount(); ++c)
            cells << (r < 0 ? model->headerData(c, Qt::Horizontal) : model->index(r, c).data()).toString();
        lines << cells.join('|');
    }
    return lines;
}

const QString kHeaders = QStringLiteral("Time|Type|Address of change|Value");

} // namespace

class TestEventView : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void rowTexts_data();
    void rowTexts();
    void rowsNewestFirstAndClear();
    void exportsAsShown();
};

void TestEventView::rowTexts_data()
{
    QTest::addColumn<InfoObject>("object");
    QTest::addColumn<QString>("row");

    InfoObject timed = object(30, 1001, true);
    timed.timestamp = stamp(QDateTime(QDate(2024, 12, 6), QTime(6, 30, 39, 500), Qt::UTC));
    timed.spontaneous = true;
    QTest::newRow("time tag as the slave's fields, no zone")
        << timed << "Fri Dec 6 06:30:39 2024|M_SP_TB_1 (30)|1001|1";
    InfoObject protection = object(38, 7001, 2, InfoObject::ElapsedTimeInvalid, 120);
    protection.timestamp = stamp(QDateTime(QDate(2025, 7, 1), QTime(23, 59, 59, 999), Qt::UTC));
    QTest::newRow("protection event: state, elapsed time and EI")
        << protection << "Tue Jul 1 23:59:59 2025|M_EP_TD_1 (38)|7001|2 (120 ms) [EI]";
    QTest::newRow("double point with its flags, no time tag")
        << object(3, 2001, 2, InfoObject::Invalid | InfoObject::NotTopical)
        << "|M_DP_NA_1 (3)|2001|2 [IV NT]";
    QTest::newRow("short float") << object(13, 4001, 230.5f) << "|M_ME_NC_1 (13)|4001|230.5";
    QTest::newRow("float from a million on in exponent form")
        << object(13, 4001, 1.0e7f) << "|M_ME_NC_1 (13)|4001|1e+07";
    QTest::newRow("scaled value as an integer") << object(11, 4002, -1234) << "|M_ME_NB_1 (11)|4002|-1234";
    QTest::newRow("normalized value as the fraction") << object(9, 4003, 0.25f) << "|M_ME_NA_1 (9)|4003|0.25";
    QTest::newRow("step position in transit")
        << object(5, 3001, 7, 0, 1) << "|M_ST_NA_1 (5)|3001|7 (transient)";
    QTest::newRow("bitstring as 8 hex digits")
        << object(7, 4501, 0xdeadbeefu) << "|M_BO_NA_1 (7)|4501|DEADBEEF";
    QTest::newRow("counter with carry and invalid")
        << object(15, 5002, 123456, InfoObject::Carry | InfoObject::Invalid)
        << "|M_IT_NA_1 (15)|5002|123456 [CY IV]";
    QTest::newRow("packed start events as octet and time")
        << object(39, 7002, 0x21u, 0, 250) << "|M_EP_TE_1 (39)|7002|0x21 (250 ms)";
    QTest::newRow("end of initialisation as its cause")
        << object(70, 0, 0x82) << "|M_EI_NA_1 (70)|0|remote reset, after parameter change";
    QTest::newRow("no value") << object(45, 6001, QVariant()) << "|C_SC_NA_1 (45)|6001|?";
}

void TestEventView::rowTexts()
{
    QFETCH(InfoObject, object);
    QFETCH(QString, row);
    EventView view;
    view.addEvent(object);
    QCOMPARE(shown(view.findChild<QTreeView*>("eventTree")->model()), (QStringList{kHeaders, row}));
}

void TestEventView::rowsNewestFirstAndClear()
{
    EventView view;
    QAbstractItemModel* model = view.findChild<QTreeView*>("eventTree")->model();
    QAbstractItemModelTester tester(model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    view.addEvent(object(30, 100, true));
    // A batch: same address twice gives two rows, nothing merged; the last one on top.
    view.addEvents({object(30, 100, false), object(13, 4001, 2.5f, InfoObject::Invalid)});
    QCOMPARE(shown(model), (QStringList{kHeaders, "|M_ME_NC_1 (13)|4001|2.5 [IV]", "|M_SP_TB_1 (30)|100|0",
                                        "|M_SP_TB_1 (30)|100|1"}));
    view.clearEvents();
    QCOMPARE(shown(model), QStringList{kHeaders});
    view.addEvent(object(1, 3, false));
    view.addEvents({});
    view.addEvent(object(1, 4, false));
    QCOMPARE(shown(model), (QStringList{kHeaders, "|M_SP_NA_1 (1)|4|0", "|M_SP_NA_1 (1)|3|0"}));
}

void TestEventView::exportsAsShown()
{
    EventView view;
    InfoObject timed = object(30, 1001, true);
    timed.timestamp = stamp(QDateTime(QDate(2024, 12, 6), QTime(6, 30, 39, 500), Qt::UTC));
    timed.spontaneous = true;
    view.addEvents({timed, object(3, 2001, 2, InfoObject::Invalid | InfoObject::NotTopical),
                    object(70, 0, 0x82), object(13, 4001, 0.1f, InfoObject::Overflow)});
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    QString error;
    QVERIFY(view.exportCsv(&buffer, &error));
    // Newest first, the value without its flags, a comma in a text quoted.
    QCOMPARE(buffer.data(), QByteArray("Time,Type,Type ID,Address,Value,Quality,Spontaneous\r\n"
                                       ",M_ME_NC_1,13,4001,0.1,OV,false\r\n"
                                       ",M_EI_NA_1,70,0,\"remote reset, after parameter change\",,false\r\n"
                                       ",M_DP_NA_1,3,2001,2,IV NT,false\r\n"
                                       "2024-12-06T06:30:39.500+00:00,M_SP_TB_1,30,1001,1,,true\r\n"));
    QVERIFY(error.isEmpty());
}

QTEST_MAIN(TestEventView)
#include "tst_eventview.moc"
