// The event log: what each kind of object reads as, rows newest first, clearing, and
// the log as CSV.
#include <QAbstractItemModelTester>
#include <QBuffer>
#include <QTreeView>
#include <QtTest>

#include <iec60870_common.h>

#include "eventview.h"
#include "objecttext.h"

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

// The headers, then each row from the top, cells joined by "|": the first four columns
// (time tag, type, address, value), or as many as asked for.
QStringList shown(const QAbstractItemModel* model, int columns = 4)
{
    QStringList lines;
    for (int r = -1; r < model->rowCount(); ++r) {
        QStringList cells;
        for (int c = 0; c < std::min(columns, model->columnCount()); ++c)
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
    void arrivalAndStation();
};

void TestEventView::rowTexts_data()
{
    QTest::addColumn<InfoObject>("object");
    QTest::addColumn<QString>("row");

    InfoObject timed = object(30, 1001, true);
    timed.timestamp = stamp(QDateTime(QDate(2024, 12, 6), QTime(6, 30, 39, 500), Qt::UTC));
    timed.spontaneous = true;
    QTest::newRow("time tag as the slave's fields, no zone")
        << timed << "Fri Dec 6 06:30:39.500 2024|M_SP_TB_1 (30)|1001|1";
    InfoObject protection = object(38, 7001, 2, InfoObject::ElapsedTimeInvalid, 120);
    protection.timestamp = stamp(QDateTime(QDate(2025, 7, 1), QTime(23, 59, 59, 999), Qt::UTC));
    QTest::newRow("protection event: state, elapsed time and EI")
        << protection << "Tue Jul 1 23:59:59.999 2025|M_EP_TD_1 (38)|7001|2 (120 ms) [EI]";
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
    QCOMPARE(
        buffer.data(),
        QByteArray(
            "Time,Type,Type ID,Address,Value,Quality,Spontaneous,Received,Link address,Common address\r\n"
            ",M_ME_NC_1,13,4001,0.1,OV,false,,0,0\r\n"
            ",M_EI_NA_1,70,0,\"remote reset, after parameter change\",,false,,0,0\r\n"
            ",M_DP_NA_1,3,2001,2,IV NT,false,,0,0\r\n"
            "2024-12-06T06:30:39.500+00:00,M_SP_TB_1,30,1001,1,,true,,0,0\r\n"));
    QVERIFY(error.isEmpty());
}

// Every row says when it reached the PC, tagged or not, and where it came from: two trips
// 4 ms apart read apart in both columns.
void TestEventView::arrivalAndStation()
{
    EventView view;
    const QDateTime arrival(QDate(2026, 12, 6), QTime(9, 30, 47, 591), Qt::UTC);
    QVector<InfoObject> trips;
    for (int i = 0; i < 2; ++i) {
        InfoObject trip = object(31, 196609, 1 + i);
        trip.timestamp = stamp(QDateTime(QDate(2026, 12, 6), QTime(9, 30, 47, 500 + 4 * i), Qt::UTC));
        trip.receivedMs = arrival.toMSecsSinceEpoch() + 4 * i;
        trip.linkAddress = 3;
        trip.commonAddress = 14;
        trips << trip;
    }
    view.addEvents(trips);
    const QStringList rows = shown(view.findChild<QTreeView*>("eventTree")->model(), 6);
    QCOMPARE(rows.first(), QStringLiteral("Time|Type|Address of change|Value|Received|Station / CA"));
    const QString received = ObjectText::localTimeTextMs(arrival.toMSecsSinceEpoch());
    QCOMPARE(rows.at(1), QStringLiteral("Sun Dec 6 09:30:47.504 2026|M_DP_TB_1 (31)|196609|2|%1|3 / 14")
                             .arg(ObjectText::localTimeTextMs(arrival.toMSecsSinceEpoch() + 4)));
    QCOMPARE(rows.at(2),
             QStringLiteral("Sun Dec 6 09:30:47.500 2026|M_DP_TB_1 (31)|196609|1|%1|3 / 14").arg(received));
    // The station column shows only with several stations on the line.
    auto* tree = view.findChild<QTreeView*>("eventTree");
    QVERIFY(tree->isColumnHidden(5));
    view.setStationColumnShown(true);
    QVERIFY(!tree->isColumnHidden(5));
}

QTEST_MAIN(TestEventView)
#include "tst_eventview.moc"
