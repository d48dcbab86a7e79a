#include "linestatistics.h"

#include <QLocale>

#include <iec60870_common.h>

#include "framesummary.h"
#include "objecttext.h"

namespace iec101 {

namespace {

constexpr qint64 kRateWindowUs = 5000000;
constexpr qint64 kSecondUs = 1000000;
// As long as the engine waits for the next part of an answer before it gives up.
constexpr qint64 kProgressSilenceUs = 5000000;
constexpr int kFirstControlType = 45; // types from here on travel master to slave

bool expectsAnswer(const FrameSummary& summary)
{
    // SEND/NO REPLY (4) is the only primary function a slave does not answer.
    return (summary.kind == FrameSummary::Kind::Fixed || summary.kind == FrameSummary::Kind::Variable) &&
           summary.primary && summary.functionCode != 4;
}

} // namespace

void LineStatistics::setLine(int baud, int bits)
{
    baudRate = baud;
    bitsPerOctet = bits;
}

void LineStatistics::clear()
{
    const int baud = baudRate;
    const int bits = bitsPerOctet;
    *this = LineStatistics();
    setLine(baud, bits);
}

void LineStatistics::add(const LineFrame& frame, const FrameSummary& summary)
{
    if (firstFrameUs < 0)
        firstFrameUs = frame.timeUs;
    recentOctets.emplace_back(frame.timeUs, frame.octets.size());
    while (!recentOctets.empty() && recentOctets.front().first <= frame.timeUs - kRateWindowUs)
        recentOctets.pop_front();

    if (frame.sent) {
        ++sent;
        // The master sends again before any answer came: the request timed out.
        if (awaitingAnswer)
            ++timeouts;
        awaitingAnswer = expectsAnswer(summary);
        if (summary.kind != FrameSummary::Kind::Malformed && summary.primary) {
            if (summary.functionCode == 0) {
                ++linkResets;
                // After a reset the first frame with FCV carries FCB 1.
                lastFcb.insert(summary.linkAddress, 0);
            } else if (summary.fcv) {
                if (lastFcb.value(summary.linkAddress, -1) == int(summary.fcb))
                    ++repeats;
                lastFcb.insert(summary.linkAddress, int(summary.fcb));
            }
        }
    } else {
        ++received;
        if (summary.kind == FrameSummary::Kind::Malformed) {
            // The link layer drops it: the request is still unanswered.
            ++malformed;
        } else {
            awaitingAnswer = false;
            if (summary.hasAsdu && summary.negative)
                ++negativeConfirmations;
        }
    }
    trackProgress(frame, summary);
}

void LineStatistics::trackProgress(const LineFrame& frame, const FrameSummary& summary)
{
    if (!summary.hasAsdu)
        return;
    const int type = summary.typeId;
    if (frame.sent) {
        const bool activation = summary.cause == CS101_COT_ACTIVATION && type >= kFirstControlType;
        const bool read = type == C_RD_NA_1 && summary.cause == CS101_COT_REQUEST;
        if (activation || read) {
            progressType = type;
            progressObjects = 0;
            progressActivityUs = frame.timeUs;
        }
        return;
    }
    if (progressType == 0)
        return;
    if (type == progressType) {
        progressActivityUs = frame.timeUs;
        const bool interrogation = type == C_IC_NA_1 || type == C_CI_NA_1;
        // Interrogations end with their termination, other commands with their
        // confirmation (the termination of an executed command comes after); any
        // negative answer ends them.
        if (summary.negative || summary.cause == CS101_COT_ACTIVATION_TERMINATION ||
            (summary.cause == CS101_COT_ACTIVATION_CON && !interrogation))
            progressType = 0;
    } else if (type < kFirstControlType && summary.cause != CS101_COT_SPONTANEOUS) {
        progressObjects += summary.objectCount;
        progressActivityUs = frame.timeUs;
        if (progressType == C_RD_NA_1)
            progressType = 0;
    }
}

double LineStatistics::octetsPerSecond(qint64 nowUs) const
{
    if (firstFrameUs < 0)
        return 0.0;
    qint64 octets = 0;
    for (const auto& entry : recentOctets) {
        if (entry.first > nowUs - kRateWindowUs)
            octets += entry.second;
    }
    // A line watched for less than the window is averaged over the time it was watched.
    const qint64 span = std::max(kSecondUs, std::min(kRateWindowUs, nowUs - firstFrameUs));
    return double(octets) * kSecondUs / double(span);
}

double LineStatistics::utilisation(qint64 nowUs) const
{
    if (baudRate <= 0)
        return 0.0;
    return octetsPerSecond(nowUs) * bitsPerOctet / baudRate;
}

QString LineStatistics::pendingCommand(qint64 nowUs) const
{
    if (progressType == 0 || nowUs - progressActivityUs > kProgressSilenceUs)
        return QString();
    return ObjectText::typeText(progressType);
}

QString LineStatistics::text(qint64 nowUs) const
{
    QString line = QStringLiteral("Sent %1, received %2, repeats %3, time-outs %4, link resets %5, "
                                  "negative %6, bad frames %7")
                       .arg(sent)
                       .arg(received)
                       .arg(repeats)
                       .arg(timeouts)
                       .arg(linkResets)
                       .arg(negativeConfirmations)
                       .arg(malformed);
    if (dropped > 0)
        line += QStringLiteral(", dropped %1").arg(dropped);
    line += QStringLiteral("; %1 octets/s").arg(qRound(octetsPerSecond(nowUs)));
    if (baudRate > 0)
        line += QStringLiteral(", %1% of %2 baud").arg(qRound(utilisation(nowUs) * 100)).arg(baudRate);
    const QString pending = pendingCommand(nowUs);
    if (!pending.isEmpty())
        line +=
            QStringLiteral("; answer to %1 arriving: %2 objects so far").arg(pending).arg(progressObjects);
    return line;
}

} // namespace iec101
