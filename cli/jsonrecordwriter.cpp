#include "jsonrecordwriter.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>

#include <cmath>
#include <unistd.h>

#include <iec60870_common.h>

#include "objecttext.h"

namespace iec101 {

namespace {

// A float as the shortest decimal that reads back as the same float: a station's 230.1
// should not come out as 230.10000610351562.
double shortestDouble(float value)
{
    for (int digits = 6; digits < 9; ++digits) {
        const QString text = QString::number(double(value), 'g', digits);
        if (text.toFloat() == value)
            return text.toDouble();
    }
    return double(value);
}

QJsonValue valueOf(const InfoObject& object)
{
    const QVariant& value = object.value;
    switch (value.userType()) {
    case QMetaType::Bool:
        return value.toBool() ? 1 : 0;
    case QMetaType::Float:
    case QMetaType::Double: {
        const double number =
            value.userType() == QMetaType::Float ? shortestDouble(value.toFloat()) : value.toDouble();
        // JSON has no NaN or infinity; a station that sends one has sent no number.
        return std::isfinite(number) ? QJsonValue(number) : QJsonValue();
    }
    case QMetaType::UInt: {
        // Bit patterns (bitstrings, packed points and protection events) read as such.
        const bool octet = object.typeId == M_EP_TB_1 || object.typeId == M_EP_TC_1 ||
                           object.typeId == M_EP_TE_1 || object.typeId == M_EP_TF_1;
        return QStringLiteral("0x") +
               QStringLiteral("%1").arg(value.toUInt(), octet ? 2 : 8, 16, QLatin1Char('0')).toUpper();
    }
    case QMetaType::Int:
    case QMetaType::LongLong:
    case QMetaType::UShort:
    case QMetaType::Short:
    case QMetaType::UChar:
        return QJsonValue(value.toLongLong());
    default:
        return QJsonValue();
    }
}

QJsonValue timestampOf(const InfoObject& object)
{
    if (object.timestamp.isNull() || !object.timestamp.isValid())
        return QJsonValue();
    // The tag's fields are the station's clock, which the master's clock sync sets to
    // local time: the instant is those fields read as local time, written in UTC.
    const QString text =
        QDateTime::fromMSecsSinceEpoch(ObjectText::tagInstant(object.timestamp.toLongLong()), Qt::UTC)
            .toString(Qt::ISODateWithMs);
    return text.isEmpty() ? QJsonValue() : QJsonValue(text);
}

QString reasonName(CommandOutcome::Reason reason)
{
    switch (reason) {
    case CommandOutcome::Reason::NotConnected:
        return QStringLiteral("not-connected");
    case CommandOutcome::Reason::LinkDown:
        return QStringLiteral("link-down");
    case CommandOutcome::Reason::QueueFull:
        return QStringLiteral("queue-full");
    case CommandOutcome::Reason::Invalid:
        return QStringLiteral("invalid");
    case CommandOutcome::Reason::Closed:
        return QStringLiteral("closed");
    case CommandOutcome::Reason::None:
        break;
    }
    return QString();
}

QString stepName(CommandOutcome::Step step)
{
    switch (step) {
    case CommandOutcome::Step::Answer:
        return QStringLiteral("answer");
    case CommandOutcome::Step::SelectConfirmation:
        return QStringLiteral("select-confirmation");
    case CommandOutcome::Step::Confirmation:
        return QStringLiteral("confirmation");
    case CommandOutcome::Step::DeactivationConfirmation:
        return QStringLiteral("deactivation-confirmation");
    case CommandOutcome::Step::None:
        break;
    }
    return QString();
}

} // namespace

JsonRecordWriter::JsonRecordWriter()
{
    // The descriptor rather than stdio's stream, whose buffer would hold records back
    // while the output is a pipe.
    out.open(STDOUT_FILENO, QIODevice::WriteOnly | QIODevice::Unbuffered);
}

void JsonRecordWriter::link(int linkAddress, LinkState state)
{
    // A link belongs to a station, not to one of its common addresses.
    write(QStringLiteral("link"), {{QStringLiteral("la"), linkAddress},
                                   {QStringLiteral("ca"), QJsonValue()},
                                   {QStringLiteral("state"), linkStateName(state)}});
}

void JsonRecordWriter::object(const InfoObject& object)
{
    QJsonArray quality;
    for (const QString& flag : ObjectText::qualityText(object).split(QLatin1Char(' '), Qt::SkipEmptyParts))
        quality.append(flag);
    write(QStringLiteral("object"), {{QStringLiteral("type"), ObjectText::typeName(object.typeId)},
                                     {QStringLiteral("typeId"), object.typeId},
                                     {QStringLiteral("la"), object.linkAddress},
                                     {QStringLiteral("ca"), object.commonAddress},
                                     {QStringLiteral("ioa"), object.address},
                                     {QStringLiteral("value"), valueOf(object)},
                                     {QStringLiteral("quality"), quality},
                                     {QStringLiteral("timestamp"), timestampOf(object)},
                                     {QStringLiteral("cot"), int(object.cause)}});
}

void JsonRecordWriter::command(const QString& commandText, const CommandRequest& request,
                               const CommandOutcome& outcome)
{
    const bool automatic = request.origin == CommandRequest::Origin::Automatic;
    QJsonObject fields{
        {QStringLiteral("command"), commandText},
        {QStringLiteral("la"), request.linkAddress},
        {QStringLiteral("ca"), request.commonAddress},
        {QStringLiteral("outcome"), outcome.name()},
        {QStringLiteral("ms"), outcome.roundTripMs >= 0 ? QJsonValue(outcome.roundTripMs) : QJsonValue()}};
    if (outcome.cause != 0) {
        fields.insert(QStringLiteral("cause"), outcome.cause);
        fields.insert(QStringLiteral("negative"), outcome.negative);
    }
    if (outcome.measuredDelayMs >= 0)
        fields.insert(QStringLiteral("delayMs"), outcome.measuredDelayMs);
    if (outcome.reason != CommandOutcome::Reason::None)
        fields.insert(QStringLiteral("reason"), reasonName(outcome.reason));
    if (outcome.step != CommandOutcome::Step::None)
        fields.insert(QStringLiteral("step"), stepName(outcome.step));
    // The words add something only where the outcome's name does not say it all.
    const QString detail = outcome.text();
    if (detail != outcome.name())
        fields.insert(QStringLiteral("detail"), detail);
    if (automatic)
        fields.insert(QStringLiteral("automatic"), true);
    if (outcome.retrying)
        fields.insert(QStringLiteral("retrying"), true);
    write(QStringLiteral("command"), fields);
}

void JsonRecordWriter::status(const QString& text)
{
    // Messages for people about the line as a whole: no station of their own.
    write(QStringLiteral("status"), {{QStringLiteral("la"), QJsonValue()},
                                     {QStringLiteral("ca"), QJsonValue()},
                                     {QStringLiteral("text"), text}});
}

void JsonRecordWriter::initial(int linkAddress, bool complete)
{
    write(QStringLiteral("initial"), {{QStringLiteral("la"), linkAddress},
                                      {QStringLiteral("ca"), QJsonValue()},
                                      {QStringLiteral("complete"), complete}});
}

void JsonRecordWriter::finding(const Finding& finding)
{
    const auto address = [](int value) {
        return value < 0 ? QJsonValue() : QJsonValue(value);
    };
    write(QStringLiteral("finding"),
          {{QStringLiteral("kind"), Finding::kindName(finding.kind)},
           {QStringLiteral("la"), address(finding.linkAddress)},
           {QStringLiteral("ca"), address(finding.commonAddress)},
           {QStringLiteral("ioa"), address(finding.objectAddress)},
           {QStringLiteral("detail"), finding.detail},
           // When it crossed the line, which may be a moment before it is written.
           {QStringLiteral("time"),
            QDateTime::fromMSecsSinceEpoch(finding.timeMs, Qt::UTC).toString(Qt::ISODateWithMs)}});
}

void JsonRecordWriter::write(const QString& event, QJsonObject fields)
{
    if (!fields.contains(QStringLiteral("time")))
        fields.insert(QStringLiteral("time"), QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs));
    fields.insert(QStringLiteral("event"), event);
    QByteArray line = QJsonDocument(fields).toJson(QJsonDocument::Compact);
    line += '\n';
    // A reader that went away (a closed pipe) ends nothing here: the run and its exit
    // status go on.
    out.write(line);
}

} // namespace iec101
