// The CSV writer: field quoting and encoding, the shape of a whole file, and what
// happens when the device cannot take the data.
#include <QtTest>

#include <QTimeZone>

#include "csvwriter.h"

using namespace iec101;

class TestCsvWriter : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void fields_data();
    void fields();
    void wholeFile();
    void errors_data();
    void errors();
};

void TestCsvWriter::fields_data()
{
    QTest::addColumn<QVariantList>("row");
    QTest::addColumn<QByteArray>("line");

    const QDate day(2024, 7, 1);
    const QTime noon(12, 0, 0, 123);
    QTest::newRow("texts and numbers stay bare")
        << QVariantList{"abc", 42, 10.5, -3} << QByteArray("abc,42,10.5,-3\r\n");
    QTest::newRow("spaces are kept without quotes") << QVariantList{" a b "} << QByteArray(" a b \r\n");
    QTest::newRow("a comma puts the field in quotes")
        << QVariantList{"a,b", "c"} << QByteArray("\"a,b\",c\r\n");
    QTest::newRow("a quote is doubled inside quotes")
        << QVariantList{"say \"hi\"", "\""} << QByteArray("\"say \"\"hi\"\"\",\"\"\"\"\r\n");
    QTest::newRow("line breaks stay inside quotes")
        << QVariantList{"one\r\ntwo", "x\ny", "z\r"} << QByteArray("\"one\r\ntwo\",\"x\ny\",\"z\r\"\r\n");
    QTest::newRow("text beyond ASCII as UTF-8")
        << QVariantList{QStringLiteral("Ü 5 µs Ω")} << QByteArray("\xc3\x9c 5 \xc2\xb5s \xce\xa9\r\n");
    QTest::newRow("empty, null and invalid values are empty fields")
        << QVariantList{QString(), QVariant(), QDateTime(), ""} << QByteArray(",,,\r\n");
    QTest::newRow("float as its shortest text, booleans as words")
        << QVariantList{0.1f, 3.0e-5f, true, false} << QByteArray("0.1,3e-05,true,false\r\n");
    QTest::newRow("time with a positive offset")
        << QVariantList{QDateTime(day, noon, Qt::OffsetFromUTC, 7200)}
        << QByteArray("2024-07-01T12:00:00.123+02:00\r\n");
    QTest::newRow("time with a negative half-hour offset")
        << QVariantList{QDateTime(day, noon, Qt::OffsetFromUTC, -(3 * 3600 + 1800))}
        << QByteArray("2024-07-01T12:00:00.123-03:30\r\n");
    QTest::newRow("UTC time with offset zero")
        << QVariantList{QDateTime(day, noon, Qt::UTC)} << QByteArray("2024-07-01T12:00:00.123+00:00\r\n");
    QTest::newRow("zone time takes the offset in force then")
        << QVariantList{QDateTime(day, noon, QTimeZone("Europe/Berlin")),
                        QDateTime(QDate(2024, 1, 1), noon, QTimeZone("Europe/Berlin"))}
        << QByteArray("2024-07-01T12:00:00.123+02:00,2024-01-01T12:00:00.123+01:00\r\n");
}

void TestCsvWriter::fields()
{
    QFETCH(QVariantList, row);
    QFETCH(QByteArray, line);
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    CsvWriter writer(&buffer);
    QVERIFY(writer.writeRow(row));
    QCOMPARE(buffer.data(), line);
    QVERIFY(!writer.hasError());
}

void TestCsvWriter::wholeFile()
{
    QTemporaryFile file;
    QVERIFY(file.open());
    CsvWriter writer(&file);
    QVERIFY(writer.writeHeader({"Time", "Address", "Value"}));
    QVERIFY(writer.writeRow({QDateTime(QDate(2026, 1, 2), QTime(3, 4, 5), Qt::UTC), 1001, "on"}));
    QVERIFY(writer.writeRow({QVariant(), 4001, 10.5}));
    QVERIFY(writer.finish());
    file.seek(0);
    // No byte order mark, the header first, every record ended by CR LF.
    QCOMPARE(file.readAll(), QByteArray("Time,Address,Value\r\n"
                                        "2026-01-02T03:04:05.000+00:00,1001,on\r\n"
                                        ",4001,10.5\r\n"));
}

void TestCsvWriter::errors_data()
{
    QTest::addColumn<QString>("device"); // "unopened", "read-only", "none", "full", "full, buffered"
    QTest::addColumn<QVariantList>("row");
    QTest::addColumn<bool>("rowWritten");
    QTest::addColumn<QString>("error");

    const QString notWritable = QStringLiteral("The file is not open for writing.");
    const QString full = QStringLiteral("Writing failed: No space left on device");
    QTest::newRow("device not open") << "unopened" << QVariantList{1, 2} << false << notWritable;
    QTest::newRow("device open for reading only")
        << "read-only" << QVariantList{1, 2} << false << notWritable;
    QTest::newRow("no device") << "none" << QVariantList{1, 2} << false << notWritable;
    QTest::newRow("disk full, unbuffered: the write fails") << "full" << QVariantList{1, 2} << false << full;
    QTest::newRow("disk full, buffered: finishing fails")
        << "full, buffered" << QVariantList{1, 2} << true << full;
    QTest::newRow("a row with fewer fields than the header")
        << "buffer" << QVariantList{1} << false << "Record 2 has 1 fields instead of 2.";
}

void TestCsvWriter::errors()
{
    QFETCH(QString, device);
    QFETCH(QVariantList, row);
    QFETCH(bool, rowWritten);
    QFETCH(QString, error);

    QBuffer buffer;
    QFile full(QStringLiteral("/dev/full"));
    QIODevice* target = &buffer;
    if (device == "read-only")
        buffer.open(QIODevice::ReadOnly);
    else if (device == "buffer")
        buffer.open(QIODevice::WriteOnly);
    else if (device == "none")
        target = nullptr;
    else if (device.startsWith("full")) {
        target = &full;
        QVERIFY(full.open(device == "full" ? QIODevice::WriteOnly | QIODevice::Unbuffered
                                           : QIODevice::WriteOnly));
    }

    CsvWriter writer(target);
    const bool headerWritten = device == "buffer" || device == "full, buffered";
    QCOMPARE(writer.writeHeader({"a", "b"}), headerWritten);
    QCOMPARE(writer.writeRow(row), rowWritten);
    QVERIFY(!writer.finish());
    QCOMPARE(writer.errorString(), error);
    // The writer stays stopped: a good row after the error is refused too.
    QVERIFY(!writer.writeRow({3, 4}));
    QCOMPARE(buffer.data(), device == "buffer" ? QByteArray("a,b\r\n") : QByteArray());
}

QTEST_GUILESS_MAIN(TestCsvWriter)
#include "tst_csvwriter.moc"
