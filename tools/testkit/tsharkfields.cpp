#include "tsharkfields.h"

#include <QProcess>

QList<QStringList> tsharkFields(const QString& path, const QStringList& fields, QString* error)
{
    QStringList arguments{QStringLiteral("-r"), path,
                          QStringLiteral("-d"), QStringLiteral("rtacser.data,iec60870_101"),
                          QStringLiteral("-o"), QStringLiteral("iec60870_101.linkaddr_len:2"),
                          QStringLiteral("-o"), QStringLiteral("iec60870_101.cot_len:2"),
                          QStringLiteral("-o"), QStringLiteral("iec60870_101.asdu_addr_len:2"),
                          QStringLiteral("-o"), QStringLiteral("iec60870_101.asdu_ioa_len:3"),
                          QStringLiteral("-T"), QStringLiteral("fields"),
                          QStringLiteral("-E"), QStringLiteral("separator=|")};
    for (const QString& field : fields)
        arguments << QStringLiteral("-e") << field;
    QProcess tshark;
    tshark.start(QStringLiteral("tshark"), arguments);
    if (!tshark.waitForFinished(60000) || tshark.exitStatus() != QProcess::NormalExit ||
        tshark.exitCode() != 0) {
        if (error)
            *error = QStringLiteral("tshark: ") + tshark.errorString() + QLatin1Char(' ') +
                     QString::fromLocal8Bit(tshark.readAllStandardError());
        return {};
    }
    QList<QStringList> rows;
    const QList<QByteArray> lines = tshark.readAllStandardOutput().split('\n');
    for (const QByteArray& line : lines) {
        const QStringList row = QString::fromLatin1(line).split(QLatin1Char('|'));
        if (row.size() == fields.size())
            rows << row;
    }
    return rows;
}
