#include "findingstracker.h"

#include <QDateTime>
#include <QHash>
#include <QPair>
#include <QStringList>

#include <limits>

#include <iec60870_common.h>

#include "framesummary.h"
#include "ft12.h"
#include "objectkind.h"
#include "objecttext.h"
#include "userdatadecoder.h"

namespace iec101 {

namespace {

constexpr int kFunctionResetLink = 0;
constexpr int kGeneralInterrogation = 20;
constexpr int kGeneralCounterRequest = 5;
// A station (or a line's noise) that reports ever new addresses must not grow the findings
// without end; past this many, new ones are only counted.
constexpr int kMaxFindings = 100000;
constexpr int kMaxCommandFrames = 10000;
// Listed points looked at for missing ones in one go (about 1 ms when most are missing).
constexpr int kMissingCheckPoints = 1000;

// (link address, common address, object address) of a point; -1 for a common address
// packs as 0xFFFF's neighbour so that it never meets a real one.
quint64 pointKey(int linkAddress, int commonAddress, int address)
{
    return (quint64(linkAddress & 0xFFFF) << 42) | (quint64((commonAddress + 1) & 0x1FFFF) << 25) |
           quint64((address + 1) & 0x1FFFFFF);
}

quint64 findingKey(Finding::Kind kind, int linkAddress, int commonAddress, int address)
{
    return (quint64(kind) << 58) | pointKey(linkAddress, commonAddress, address);
}

QPair<quint64, int> commandKey(int linkAddress, int commonAddress, int typeId, int address)
{
    return qMakePair(pointKey(linkAddress, commonAddress, address), typeId);
}

} // namespace

struct FindingsTracker::Private
{
    struct StationState
    {
        QVector<int> commonAddresses; // empty: not set up, any is right
        int lastFcb[2] = {-1, -1};    // per direction (received, sent)
        bool exchanged = false;       // user data since the last link reset
        int generation = 0;           // general interrogations started
        bool interrogating = false;
        int counterGeneration = 0; // counter interrogations started
        bool counting = false;
    };

    struct PointState
    {
        InfoObject last;
        int generation = -1; // of the station's interrogation it was last seen in (counter
                             // interrogation for integrated totals)
        bool typeOk = true;
        bool valueOk = true;
        bool qualityOk = true;
    };

    // The end of an interrogation, looking for the listed points that did not come.
    struct MissingCheck
    {
        int linkAddress = 0;
        int commonAddress = 0;
        bool counters = false;
        bool firstAddress = false;
        int generation = 0;
        qint64 frameTimeUs = -1;
        int next = 0; // the list's next point to look at
    };

    explicit Private(FindingsTracker* tracker) : q(tracker) {}

    StationState& station(int linkAddress);
    int stationOf(const FrameSummary& summary) const;
    void frame(const LineFrame& frame);
    void userData(const LineFrame& frame, const FrameSummary& summary, int linkAddress);
    void object(int linkAddress, const InfoObject& object, qint64 frameTimeUs);
    void interrogationEnded(int linkAddress, int commonAddress, bool counters, qint64 frameTimeUs);
    // Goes on with the missing checks for at most budget listed points; true when none is left.
    bool checkMissing(int budget);
    // The finding found again, if it is known: counted, with its words as they were.
    bool countAgain(Finding::Kind kind, int linkAddress, int commonAddress, int address, qint64 frameTimeUs);
    void add(Finding::Kind kind, int linkAddress, int commonAddress, int address, const QString& detail,
             qint64 frameTimeUs, const QString& name = QString());

    FindingsTracker* q;
    ProtocolSettings settings;
    UserDataDecoder decoder;
    FrameSummary::Layout layout;
    QMap<int, PointList> lists;
    QVector<Finding> found;
    QHash<quint64, int> foundIndex;
    QVector<CommandRecord> history;
    LineStatistics statistics;
    QHash<int, StationState> stations;
    QHash<quint64, PointState> points;
    QHash<QPair<quint64, int>, qint64> commandFrames; // the last activation sent, by command
    qint64 firstFrame = 0;
    qint64 lastFrame = 0;
    qint64 notKept = 0;
    QVector<MissingCheck> missingChecks;
    bool continuationScheduled = false;
    int bitsPerOctet = 11;
    int baudRate = 0;
};

FindingsTracker::FindingsTracker(QObject* parent) : QObject(parent), d(std::make_unique<Private>(this))
{
    startSession(ProtocolSettings());
}

FindingsTracker::~FindingsTracker() = default;

void FindingsTracker::startSession(const ProtocolSettings& protocol, int baudRate, int bitsPerOctet)
{
    d->settings = protocol;
    d->decoder = UserDataDecoder(protocol);
    d->layout.linkAddressSize = protocol.linkAddressOctets();
    d->layout.causeSize = protocol.causeOctets();
    d->layout.commonAddressSize = protocol.commonAddressOctets();
    d->layout.objectAddressSize = protocol.objectAddressOctets();
    d->found.clear();
    d->foundIndex.clear();
    d->history.clear();
    d->statistics.clear();
    d->statistics.setLine(baudRate, bitsPerOctet);
    d->baudRate = baudRate;
    d->bitsPerOctet = bitsPerOctet;
    d->stations.clear();
    for (const Station& station : protocol.stationList())
        d->stations[station.linkAddress].commonAddresses = station.commonAddresses;
    d->points.clear();
    d->commandFrames.clear();
    d->firstFrame = 0;
    d->lastFrame = 0;
    d->notKept = 0;
    d->missingChecks.clear();
}

void FindingsTracker::finishChecks()
{
    d->checkMissing(std::numeric_limits<int>::max());
}

ProtocolSettings FindingsTracker::protocol() const
{
    return d->settings;
}

void FindingsTracker::setPointList(int linkAddress, const PointList& list)
{
    if (list.isEmpty())
        d->lists.remove(linkAddress);
    else
        d->lists.insert(linkAddress, list);
}

const QMap<int, PointList>& FindingsTracker::pointLists() const
{
    return d->lists;
}

const QVector<Finding>& FindingsTracker::findings() const
{
    return d->found;
}

const QVector<FindingsTracker::CommandRecord>& FindingsTracker::commands() const
{
    return d->history;
}

const LineStatistics& FindingsTracker::statistics() const
{
    return d->statistics;
}

qint64 FindingsTracker::firstFrameMs() const
{
    return d->firstFrame;
}

qint64 FindingsTracker::lastFrameMs() const
{
    return d->lastFrame;
}

qint64 FindingsTracker::findingsNotKept() const
{
    return d->notKept;
}

QVector<FindingsTracker::PointCheck> FindingsTracker::pointChecks() const
{
    QVector<PointCheck> checks;
    for (auto list = d->lists.cbegin(); list != d->lists.cend(); ++list) {
        for (const PointList::Point& point : list->all()) {
            PointCheck check;
            check.linkAddress = list.key();
            check.point = point;
            const auto state = d->points.constFind(pointKey(list.key(), point.commonAddress, point.address));
            if (state != d->points.cend()) {
                check.seen = true;
                check.last = state->last;
                check.typeOk = state->typeOk;
                check.valueOk = state->valueOk;
                check.qualityOk = state->qualityOk;
            }
            checks.append(check);
        }
    }
    return checks;
}

void FindingsTracker::addFrames(const QVector<LineFrame>& frames, int dropped)
{
    d->statistics.addDropped(dropped);
    for (const LineFrame& frame : frames)
        d->frame(frame);
}

void FindingsTracker::addCommand(const CommandRequest& request, const CommandOutcome& outcome)
{
    d->history.append({QDateTime::currentMSecsSinceEpoch(), request, outcome});
    Finding::Kind kind;
    if (outcome.result == CommandOutcome::Result::TimedOut)
        kind = Finding::Kind::Timeout;
    else if (outcome.result == CommandOutcome::Result::Confirmed && outcome.terminationMissing)
        kind = Finding::Kind::NoTermination;
    else
        return; // refusals are read from the line, with their frame
    const QVector<Station> list = d->settings.stationList();
    const int linkAddress = request.linkAddress == CommandRequest::kOwnAddress && !list.isEmpty()
                                ? list.first().linkAddress
                                : request.linkAddress;
    int commonAddress = request.commonAddress;
    if (commonAddress == CommandRequest::kOwnAddress) {
        commonAddress = d->settings.commonAddress;
        for (const Station& station : list) {
            if (station.linkAddress == linkAddress && !station.commonAddresses.isEmpty())
                commonAddress = station.commonAddresses.first();
        }
    }
    const qint64 frameTime = d->commandFrames.value(
        commandKey(linkAddress, commonAddress, request.typeId, request.objectAddress), -1);
    d->add(kind, linkAddress, commonAddress, request.objectAddress,
           request.text() + QStringLiteral(": ") + outcome.text(), frameTime);
}

FindingsTracker::Private::StationState& FindingsTracker::Private::station(int linkAddress)
{
    return stations[linkAddress];
}

int FindingsTracker::Private::stationOf(const FrameSummary& summary) const
{
    // Point to point, every frame is the one station's, whatever address it carries.
    if (settings.mode == LinkMode::Balanced) {
        const QVector<Station> list = settings.stationList();
        return list.isEmpty() ? summary.linkAddress : list.first().linkAddress;
    }
    return summary.linkAddress;
}

void FindingsTracker::Private::frame(const LineFrame& frame)
{
    const FrameSummary summary = FrameSummary::parse(frame.octets, layout);
    statistics.add(frame, summary);
    const qint64 ms = frame.timeUs / 1000;
    if (firstFrame == 0)
        firstFrame = ms;
    lastFrame = ms;
    if (summary.kind != FrameSummary::Kind::Fixed && summary.kind != FrameSummary::Kind::Variable)
        return;
    const int linkAddress = stationOf(summary);
    StationState& state = station(linkAddress);

    if (summary.primary && summary.functionCode == kFunctionResetLink) {
        // The reset that starts a session is how a link comes up; one after data had
        // flowed means the link was lost or given up on.
        if (state.exchanged)
            add(Finding::Kind::LinkReset, linkAddress, -1, -1,
                frame.sent ? QStringLiteral("the master reset the link after data had flowed")
                           : QStringLiteral("the station reset the link after data had flowed"),
                frame.timeUs);
        state.exchanged = false;
        // After a reset the first frame with FCV carries FCB 1.
        state.lastFcb[frame.sent ? 1 : 0] = 0;
    } else if (summary.primary && summary.fcv) {
        int& last = state.lastFcb[frame.sent ? 1 : 0];
        if (last == int(summary.fcb))
            add(Finding::Kind::Repeat, linkAddress, -1, -1,
                QStringLiteral("%1 repeated (FCB=%2 not toggled)")
                    .arg(summary.functionCode == 3    ? QStringLiteral("user data")
                         : summary.functionCode == 10 ? QStringLiteral("request for class 1 data")
                         : summary.functionCode == 11
                             ? QStringLiteral("request for class 2 data")
                             : QStringLiteral("function %1").arg(summary.functionCode))
                    .arg(int(summary.fcb)),
                frame.timeUs);
        last = int(summary.fcb);
    }
    if (!summary.primary && !frame.sent && (summary.dfc || summary.functionCode == Ft12::kFunctionBusy))
        add(Finding::Kind::Busy, linkAddress, -1, -1,
            summary.functionCode == Ft12::kFunctionBusy
                ? QStringLiteral("message not accepted, link busy (function 1)")
                : QStringLiteral("data flow control set (DFC)"),
            frame.timeUs);
    if (summary.kind == FrameSummary::Kind::Variable && summary.hasAsdu) {
        state.exchanged = true;
        userData(frame, summary, linkAddress);
    }
}

void FindingsTracker::Private::userData(const LineFrame& frame, const FrameSummary& summary, int linkAddress)
{
    const Ft12::Parsed parsed = Ft12::parse(frame.octets, layout.linkAddressSize);
    AsduHeader header;
    QVector<InfoObject> objects;
    if (!parsed.ok() || !decoder.decode(parsed.frame.userData, &header, &objects))
        return;
    StationState& state = station(linkAddress);
    if (frame.sent) {
        if (commandFrames.size() >= kMaxCommandFrames)
            commandFrames.clear();
        if (header.cause == CS101_COT_ACTIVATION)
            commandFrames.insert(commandKey(linkAddress, header.commonAddress, header.typeId,
                                            qMax(0, header.firstObjectAddress)),
                                 frame.timeUs);
        // The qualifier is the last octet of an interrogation's only object.
        if (header.typeId == C_IC_NA_1 && header.cause == CS101_COT_ACTIVATION &&
            quint8(parsed.frame.userData.back()) == kGeneralInterrogation) {
            ++state.generation;
            state.interrogating = true;
        }
        // Integrated totals come with the general request for counters, not with the
        // general interrogation.
        if (header.typeId == C_CI_NA_1 && header.cause == CS101_COT_ACTIVATION &&
            (quint8(parsed.frame.userData.back()) & 0x3F) == kGeneralCounterRequest) {
            ++state.counterGeneration;
            state.counting = true;
        }
        return;
    }
    Q_UNUSED(summary);

    if (header.negative || isRefusingCause(header.cause)) {
        add(Finding::Kind::Refused, linkAddress, header.commonAddress, qMax(0, header.firstObjectAddress),
            QStringLiteral("%1 %2: %3 (%4)%5")
                .arg(ObjectText::typeText(header.typeId))
                .arg(qMax(0, header.firstObjectAddress))
                .arg(causeText(header.cause))
                .arg(header.cause)
                .arg(header.negative ? QStringLiteral(", negative") : QString()),
            frame.timeUs);
        return;
    }
    if (!state.commonAddresses.isEmpty() && !state.commonAddresses.contains(header.commonAddress) &&
        header.commonAddress != settings.broadcastCommonAddress()) {
        QStringList expected;
        for (int ca : qAsConst(state.commonAddresses))
            expected << QString::number(ca);
        add(Finding::Kind::CommonAddress, linkAddress, header.commonAddress, -1,
            QStringLiteral("%1 from common address %2; the station is set up with %3")
                .arg(ObjectText::typeText(header.typeId))
                .arg(header.commonAddress)
                .arg(expected.join(QStringLiteral(", "))),
            frame.timeUs);
    }
    if (ObjectKind::isMonitoring(header.typeId) && header.typeId != M_EI_NA_1) {
        for (InfoObject& object : objects) {
            object.linkAddress = linkAddress;
            this->object(linkAddress, object, frame.timeUs);
        }
    }
    // The termination repeats the qualifier: only the general ones say what is missing.
    const quint8 qualifier = quint8(parsed.frame.userData.back());
    if (header.typeId == C_IC_NA_1 && header.cause == CS101_COT_ACTIVATION_TERMINATION &&
        state.interrogating && qualifier == kGeneralInterrogation)
        interrogationEnded(linkAddress, header.commonAddress, false, frame.timeUs);
    if (header.typeId == C_CI_NA_1 && header.cause == CS101_COT_ACTIVATION_TERMINATION && state.counting &&
        (qualifier & 0x3F) == kGeneralCounterRequest)
        interrogationEnded(linkAddress, header.commonAddress, true, frame.timeUs);
}

void FindingsTracker::Private::object(int linkAddress, const InfoObject& object, qint64 frameTimeUs)
{
    const auto listed = lists.constFind(linkAddress);
    const PointList* list = listed == lists.cend() ? nullptr : &*listed;
    const PointList::Point* point = list ? list->find(object.commonAddress, object.address) : nullptr;
    const QString flags = ObjectText::qualityText(object);
    const QString name = point ? point->name : QString();
    const QString what = name.isEmpty() ? QString() : name + QStringLiteral(": ");
    if (!flags.isEmpty())
        add(Finding::Kind::Quality, linkAddress, object.commonAddress, object.address,
            what + QStringLiteral("%1 with %2")
                       .arg(point ? PointList::engineeringText(*point, object)
                                  : ObjectText::plainValueText(object),
                            flags),
            frameTimeUs, name);
    if (!list)
        return;
    if (!point) {
        add(Finding::Kind::Unexpected, linkAddress, object.commonAddress, object.address,
            QStringLiteral("%1 reported, not listed").arg(ObjectText::typeText(object.typeId)), frameTimeUs);
        return;
    }
    PointState& state = points[pointKey(linkAddress, point->commonAddress, object.address)];
    state.last = object;
    const StationState& owner = station(linkAddress);
    state.generation = ObjectKind::kindOf(point->typeId) == ObjectKind::IntegratedTotal
                           ? owner.counterGeneration
                           : owner.generation;
    state.typeOk = PointList::sameKindOfValue(point->typeId, object.typeId);
    state.valueOk = PointList::inExpectedRange(*point, object);
    state.qualityOk = flags.isEmpty();
    if (!state.typeOk)
        add(Finding::Kind::Type, linkAddress, object.commonAddress, object.address,
            what + QStringLiteral("listed %1, reported %2")
                       .arg(ObjectText::typeText(point->typeId), ObjectText::typeText(object.typeId)),
            frameTimeUs, name);
    if (!state.valueOk)
        add(Finding::Kind::Range, linkAddress, object.commonAddress, object.address,
            what + QStringLiteral("%1, expected %2")
                       .arg(PointList::valueText(*point, object), PointList::expectedText(*point)),
            frameTimeUs, name);
}

void FindingsTracker::Private::interrogationEnded(int linkAddress, int commonAddress, bool counters,
                                                  qint64 frameTimeUs)
{
    StationState& state = station(linkAddress);
    (counters ? state.counting : state.interrogating) = false;
    if (!lists.contains(linkAddress))
        return;
    MissingCheck check;
    check.linkAddress = linkAddress;
    check.commonAddress = commonAddress;
    check.counters = counters;
    check.generation = counters ? state.counterGeneration : state.generation;
    // Points listed without a common address belong to the station's first one.
    check.firstAddress = state.commonAddresses.isEmpty() || state.commonAddresses.first() == commonAddress;
    check.frameTimeUs = frameTimeUs;
    missingChecks.append(check);
    checkMissing(kMissingCheckPoints);
}

bool FindingsTracker::Private::checkMissing(int budget)
{
    while (!missingChecks.isEmpty() && budget > 0) {
        MissingCheck& check = missingChecks.first();
        const auto list = lists.constFind(check.linkAddress);
        const QVector<PointList::Point>& all =
            list == lists.cend() ? QVector<PointList::Point>() : list->all();
        const QString ending = check.counters
                                   ? QStringLiteral(" not reported by the end of the counter interrogation")
                                   : QStringLiteral(" not reported by the end of the general interrogation");
        for (; check.next < all.size() && budget > 0; ++check.next, --budget) {
            const PointList::Point& point = all.at(check.next);
            if (point.commonAddress != check.commonAddress &&
                !(point.commonAddress < 0 && check.firstAddress))
                continue;
            if ((ObjectKind::kindOf(point.typeId) == ObjectKind::IntegratedTotal) != check.counters)
                continue;
            const auto seen =
                points.constFind(pointKey(check.linkAddress, point.commonAddress, point.address));
            if (seen != points.cend() && seen->generation == check.generation)
                continue;
            // Missing again: the words have not changed.
            if (countAgain(Finding::Kind::Missing, check.linkAddress, check.commonAddress, point.address,
                           check.frameTimeUs))
                continue;
            add(Finding::Kind::Missing, check.linkAddress, check.commonAddress, point.address,
                (point.name.isEmpty() ? QString() : point.name + QStringLiteral(": ")) +
                    ObjectText::typeText(point.typeId) + ending,
                check.frameTimeUs, point.name);
        }
        if (check.next >= all.size())
            missingChecks.removeFirst();
    }
    if (missingChecks.isEmpty())
        return true;
    // A large list is gone through a part at a time, so that the thread it lives on (the
    // GUI's, in the view) stays responsive; the rest follows from the event loop.
    if (!continuationScheduled) {
        continuationScheduled = true;
        QMetaObject::invokeMethod(
            q,
            [this] {
                continuationScheduled = false;
                checkMissing(kMissingCheckPoints);
            },
            Qt::QueuedConnection);
    }
    return false;
}

bool FindingsTracker::Private::countAgain(Finding::Kind kind, int linkAddress, int commonAddress, int address,
                                          qint64 frameTimeUs)
{
    const auto existing = foundIndex.constFind(findingKey(kind, linkAddress, commonAddress, address));
    if (existing == foundIndex.cend())
        return false;
    Finding& finding = found[*existing];
    ++finding.count;
    finding.lastTimeMs = frameTimeUs >= 0 ? frameTimeUs / 1000 : QDateTime::currentMSecsSinceEpoch();
    Q_EMIT q->findingUpdated(*existing);
    return true;
}

void FindingsTracker::Private::add(Finding::Kind kind, int linkAddress, int commonAddress, int address,
                                   const QString& detail, qint64 frameTimeUs, const QString& name)
{
    const qint64 nowMs = frameTimeUs >= 0 ? frameTimeUs / 1000 : QDateTime::currentMSecsSinceEpoch();
    const quint64 key = findingKey(kind, linkAddress, commonAddress, address);
    const auto existing = foundIndex.constFind(key);
    if (existing != foundIndex.cend()) {
        found[*existing].detail = detail;
        countAgain(kind, linkAddress, commonAddress, address, frameTimeUs);
        return;
    }
    if (found.size() >= kMaxFindings) {
        ++notKept;
        return;
    }
    Finding finding;
    finding.timeMs = nowMs;
    finding.lastTimeMs = nowMs;
    finding.linkAddress = linkAddress;
    finding.commonAddress = commonAddress;
    finding.objectAddress = address;
    finding.kind = kind;
    finding.name = name;
    finding.detail = detail;
    finding.frameTimeUs = frameTimeUs;
    foundIndex.insert(key, found.size());
    found.append(finding);
    Q_EMIT q->findingAdded(found.size() - 1);
}

} // namespace iec101
