// The signal list as an engineer's spreadsheet exports it: columns in any order, every kind
// of bad row reported by its line with the rest loaded, files that are no list at all, and
// what a listed point reads as (engineering value, state text, expected range).
#include <QtTest>

#include <iec60870_common.h>

#include "pointlist.h"

using namespace iec101;

namespace {

InfoObject object(int typeId, const QVariant& value, quint8 quality = 0)
{
    InfoObject o;
    o.typeId = typeId;
    o.address = 100;
    o.value = value;
    o.quality = quality;
    return o;
}

QString problemsText(const QVector<PointList::Problem>& problems)
{
    QStringList lines;
    for (const PointList::Problem& p : problems)
        lines << QStringLiteral("%1: %2").arg(p.line).arg(p.reason);
    return lines.join(QLatin1Char('\n'));
}

} // namespace

class TestPointList : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void goodList();
    void badRows_data();
    void badRows();
    void noList_data();
    void noList();
    void pointValues_data();
    void pointValues();
    void writtenListReadsBack();
};

void TestPointList::goodList()
{
    // Columns in another order than the writer's, a byte order mark, CR LF, a quoted name
    // with a comma, a quote and a line break, type names and numbers in any case, an
    // unknown column, blank lines, and a common address on one point only.
    const QByteArray csv =
        "\xEF\xBB\xBF"
        "Name,TYPE,ioa,unit,scale,offset,states,expected,group,comment\r\n"
        "\"Feeder 1, "
        "\"\"main\"\"\nbreaker\",m_dp_na_1,0x30001,,,,0=moving;1=off;2=on;3=bad,on,Switchgear,x\r\n"
        "\r\n"
        "Voltage L1,11,4001,kV,0.01,-5,,225..245,Measurements,\r\n"
        "Spare,M_SP_TB_1,1500,,,,,,,\r\n";
    QByteArray withCa = csv;
    withCa.replace("Name,TYPE", "ca,Name,TYPE")
        .replace("\"Feeder", ",\"Feeder")
        .replace("Voltage", "7,Voltage")
        .replace("Spare", ",Spare");
    QVector<PointList::Problem> problems;
    const PointList list = PointList::fromCsv(withCa, &problems);
    QVERIFY2(problems.isEmpty(), qPrintable(problemsText(problems)));
    QCOMPARE(list.size(), 3);

    const PointList::Point& breaker = list.all().at(0);
    QCOMPARE(breaker.name, QStringLiteral("Feeder 1, \"main\"\nbreaker"));
    QCOMPARE(breaker.typeId, int(M_DP_NA_1));
    QCOMPARE(breaker.address, 0x30001);
    QCOMPARE(breaker.commonAddress, -1);
    QCOMPARE(breaker.states.value(2), QStringLiteral("on"));
    QVERIFY(breaker.hasExpected);
    QCOMPARE(breaker.expectedLow, 2.0);
    QCOMPARE(breaker.group, QStringLiteral("Switchgear"));
    QCOMPARE(breaker.line, 2);

    const PointList::Point& voltage = list.all().at(1);
    QCOMPARE(voltage.typeId, int(M_ME_NB_1));
    QCOMPARE(voltage.commonAddress, 7);
    QCOMPARE(voltage.unit, QStringLiteral("kV"));
    QCOMPARE(voltage.scale, 0.01);
    QCOMPARE(voltage.offset, -5.0);
    QCOMPARE(voltage.expectedLow, 225.0);
    QCOMPARE(voltage.expectedHigh, 245.0);
    // The record with the line break in its name started on line 2; this one is on 5.
    QCOMPARE(voltage.line, 5);

    // Looked up under its own common address only; the others under any.
    QVERIFY(list.find(7, 4001));
    QVERIFY(!list.find(1, 4001));
    QCOMPARE(list.find(1, 1500)->name, QStringLiteral("Spare"));
    QCOMPARE(list.find(3, 0x30001)->name, breaker.name);
    QVERIFY(!list.find(1, 1501));
}

void TestPointList::badRows_data()
{
    QTest::addColumn<QByteArray>("row");
    QTest::addColumn<QString>("reason");

    QTest::newRow("object address not a number") << QByteArray("abc,M_SP_NA_1,x,,,,") << "ioa: \"abc\"";
    QTest::newRow("object address 0") << QByteArray("0,M_SP_NA_1,x,,,,") << "ioa: \"0\"";
    QTest::newRow("object address beyond three octets")
        << QByteArray("16777216,1,x,,,,") << "ioa: \"16777216\"";
    QTest::newRow("object address missing") << QByteArray(",M_SP_NA_1,x,,,,") << "no object address";
    QTest::newRow("type missing") << QByteArray("2001,,x,,,,") << "no type";
    QTest::newRow("type unknown") << QByteArray("2001,M_XX_NA_1,x,,,,") << "type: \"M_XX_NA_1\"";
    QTest::newRow("type of the control direction")
        << QByteArray("2001,C_SC_NA_1,x,,,,") << "type: \"C_SC_NA_1\"";
    QTest::newRow("type number undefined") << QByteArray("2001,25,x,,,,") << "type: \"25\"";
    QTest::newRow("scale not a number") << QByteArray("2001,11,x,ten,,,") << "scale: \"ten\"";
    QTest::newRow("offset not a number") << QByteArray("2001,11,x,1,1e999,,") << "offset: \"1e999\"";
    QTest::newRow("states without value") << QByteArray("2001,1,x,,,open;1=closed,") << "states: \"open\"";
    QTest::newRow("state given twice") << QByteArray("2001,1,x,,,0=a;0=b,") << "states: 0 given twice";
    QTest::newRow("expected not a value") << QByteArray("2001,11,x,,,,high") << "expected: \"high\"";
    QTest::newRow("expected range reversed") << QByteArray("2001,11,x,,,,10..5") << "expected: 10 is above 5";
    QTest::newRow("expected range half") << QByteArray("2001,11,x,,,,5..") << "expected: \"5..\"";
    QTest::newRow("address listed twice") << QByteArray("1001,1,again,,,,") << "listed already (line 2)";
    QTest::newRow("more fields than the header")
        << QByteArray("2001,1,x,,,,,extra") << "8 fields, the header has 7";
    QTest::newRow("quote never closed") << QByteArray("2001,1,\"open") << "quoted field is not closed";
}

void TestPointList::badRows()
{
    QFETCH(QByteArray, row);
    QFETCH(QString, reason);
    const QByteArray csv = "ioa,type,name,scale,offset,states,expected\n"
                           "1001,M_SP_NA_1,first,,,,\n" +
                           row + "\n" +
                           (reason.contains(QLatin1String("quoted")) ? "" : "4001,13,last,,,,\n");
    QVector<PointList::Problem> problems;
    const PointList list = PointList::fromCsv(csv, &problems);
    QCOMPARE(problems.size(), 1);
    QCOMPARE(problems.first().line, 3);
    QVERIFY2(problems.first().reason.contains(reason), qPrintable(problems.first().reason));
    // The other rows load.
    QVERIFY(list.find(1, 1001));
    QCOMPARE(list.size(), reason.contains(QLatin1String("quoted")) ? 1 : 2);
}

void TestPointList::noList_data()
{
    QTest::addColumn<QByteArray>("csv");
    QTest::addColumn<int>("line");
    QTest::addColumn<QString>("reason");

    QTest::newRow("empty") << QByteArray() << 0 << "no header row";
    QTest::newRow("blank lines only") << QByteArray("\n\r\n  \n") << 0 << "no header row";
    QTest::newRow("no ioa column") << QByteArray("address,type\n1,1\n") << 1 << "no \"ioa\" column";
    QTest::newRow("no type column") << QByteArray("ioa,name\n1,x\n") << 1 << "no \"type\" column";
    QTest::newRow("column named twice") << QByteArray("ioa,type,IOA\n1,1,2\n") << 1 << "\"ioa\" named twice";
    QTest::newRow("binary") << QByteArray("ioa,type\n\0\x01\x02", 12) << 0 << "not a text file";
}

void TestPointList::noList()
{
    QFETCH(QByteArray, csv);
    QFETCH(int, line);
    QFETCH(QString, reason);
    QVector<PointList::Problem> problems;
    const PointList list = PointList::fromCsv(csv, &problems);
    QVERIFY(list.isEmpty());
    QCOMPARE(problems.size(), 1);
    QCOMPARE(problems.first().line, line);
    QVERIFY2(problems.first().reason.contains(reason), qPrintable(problems.first().reason));
}

void TestPointList::pointValues_data()
{
    QTest::addColumn<QByteArray>("row"); // type,unit,scale,offset,states,expected
    QTest::addColumn<InfoObject>("object");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("inRange");

    QTest::newRow("single point reads its state text")
        << QByteArray("M_SP_NA_1,,,,0=off;1=on,off") << object(M_SP_NA_1, true) << "on" << false;
    QTest::newRow("double point reads its state text")
        << QByteArray("M_DP_TB_1,,,,1=open;2=closed,closed") << object(M_DP_TB_1, 2) << "closed" << true;
    QTest::newRow("state without text reads as number")
        << QByteArray("M_DP_NA_1,,,,1=open;2=closed,") << object(M_DP_NA_1, 3) << "3" << true;
    QTest::newRow("scaled value with scale, offset and unit")
        << QByteArray("M_ME_NB_1,kV,0.1,-10,,200..240") << object(M_ME_NB_1, 2415) << "231.5 kV" << true;
    QTest::newRow("engineering value above the range")
        << QByteArray("M_ME_NB_1,kV,0.1,0,,200..240") << object(M_ME_NB_1, 2415) << "241.5 kV" << false;
    QTest::newRow("range bounds belong to it at shown precision")
        << QByteArray("M_ME_NC_1,A,0.1,0,,0..0.3") << object(M_ME_NC_1, 3.0f) << "0.3 A" << true;
    QTest::newRow("normalized value scaled to percent")
        << QByteArray("M_ME_NA_1,%,100,0,,") << object(M_ME_NA_1, 0.5f) << "50 %" << true;
    QTest::newRow("single expected value")
        << QByteArray("M_IT_NA_1,kWh,,,,1000") << object(M_IT_NA_1, 1001) << "1001 kWh" << false;
    QTest::newRow("quality flags follow the value")
        << QByteArray("M_ME_NC_1,V,,,,")
        << object(M_ME_NC_1, 230.5f, InfoObject::Invalid | InfoObject::NotTopical) << "230.5 V [IV NT]"
        << true;
    QTest::newRow("a value that is no number reads as usual")
        << QByteArray("M_ME_NC_1,V,,,,0..1") << object(M_ME_NC_1, QVariant()) << "?" << true;
}

void TestPointList::pointValues()
{
    QFETCH(QByteArray, row);
    QFETCH(InfoObject, object);
    QFETCH(QString, text);
    QFETCH(bool, inRange);
    QVector<PointList::Problem> problems;
    const PointList list =
        PointList::fromCsv("ioa,type,unit,scale,offset,states,expected\n100," + row + "\n", &problems);
    QVERIFY2(problems.isEmpty(), qPrintable(problemsText(problems)));
    const PointList::Point* point = list.find(1, 100);
    QVERIFY(point);
    QCOMPARE(PointList::valueText(*point, object), text);
    QCOMPARE(PointList::inExpectedRange(*point, object), inRange);
}

void TestPointList::writtenListReadsBack()
{
    const QByteArray csv = "ca,ioa,type,name,unit,scale,offset,states,expected,group\n"
                           "3,1001,M_SP_TB_1,\"Trip, main\",,1,0,0=off;1=on,on,Protection\n"
                           ",4001,M_ME_NB_1,U,kV,0.01,-5,,225..245,\n";
    QVector<PointList::Problem> problems;
    const PointList first = PointList::fromCsv(csv, &problems);
    const PointList second = PointList::fromCsv(first.toCsv(), &problems);
    QVERIFY2(problems.isEmpty(), qPrintable(problemsText(problems)));
    QCOMPARE(second.size(), 2);
    for (int i = 0; i < 2; ++i) {
        const PointList::Point& a = first.all().at(i);
        const PointList::Point& b = second.all().at(i);
        QCOMPARE(b.commonAddress, a.commonAddress);
        QCOMPARE(b.typeId, a.typeId);
        QCOMPARE(b.name, a.name);
        QCOMPARE(b.scale, a.scale);
        QCOMPARE(b.offset, a.offset);
        QCOMPARE(b.states, a.states);
        QCOMPARE(b.expectedLow, a.expectedLow);
        QCOMPARE(b.expectedHigh, a.expectedHigh);
        QCOMPARE(b.group, a.group);
    }
}

QTEST_GUILESS_MAIN(TestPointList)
#include "tst_pointlist.moc"
