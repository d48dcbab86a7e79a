#include "commandparser.h"

#include <QRegularExpression>

#include <algorithm>
#include <cmath>
#include <iterator>
#include <vector>

#include <iec60870_common.h>

#include "commandencoder.h"
#include "objecttext.h"

namespace iec101 {

namespace {

// Where a number of the command goes in the request. Number takes a decimal fraction
// (its range is the type's, checked by the encoder), Direction the words lower and higher,
// Bits 32 bits, best written in hex; the others whole numbers.
enum class Field {
    ObjectAddress,
    OnOff,
    State,
    Qualifier,
    LinkAddress,
    CommonAddress,
    Number,
    Direction,
    Bits
};

// Stand for the largest object, link and common address the configured sizes hold.
constexpr qint64 kObjectAddressMax = -1;
constexpr qint64 kLinkAddressMax = -2;
constexpr qint64 kCommonAddressMax = -3;

// A number a command takes: by position (all required, in order) or as name=value
// (optional, the fallback without it).
struct Parameter
{
    const char* name;  // named: the key before '='; positional: what messages call it
    const char* usage; // as the usage line shows it
    Field field;
    qint64 min;
    qint64 max;
    qint64 fallback = 0;
};

// Words that stand alone and switch something of the request on. TimeSwitch also admits
// time=ISO8601.
enum Switch : unsigned {
    NoSwitch = 0,
    SelectSwitch = 1,
    BroadcastSwitch = 2,
    SelectOnlySwitch = 4,
    TimeSwitch = 8,
    DelaySwitch = 16,
};

struct SwitchWord
{
    Switch flag;
    const char* word;
    void (*apply)(CommandRequest& request);
};

const SwitchWord kSwitchWords[] = {
    {SelectSwitch, "select",
     [](CommandRequest& request) {
         request.execution = CommandRequest::Execution::SelectBeforeExecute;
     }},
    {SelectOnlySwitch, "select-only",
     [](CommandRequest& request) {
         request.execution = CommandRequest::Execution::SelectOnly;
     }},
    {BroadcastSwitch, "broadcast",
     [](CommandRequest& request) {
         request.broadcast = true;
     }},
    // Stamped as the frame is built; the word only says so.
    {TimeSwitch, "time",
     [](CommandRequest&) {
     }},
    {DelaySwitch, "delay",
     [](CommandRequest& request) {
         request.addMeasuredDelay = true;
     }},
};

// What one command type takes. A new type is one more row of syntaxTable(); a new kind of
// argument a Field (and, for other than whole numbers, a way to read it).
struct Syntax
{
    int typeId;
    std::vector<Parameter> positional;
    std::vector<Parameter> named;
    unsigned switches = NoSwitch;
};

const Parameter kAddress{"IOA", "IOA", Field::ObjectAddress, 0, kObjectAddressMax};
const Parameter kQu{"qu", "qu=N", Field::Qualifier, 0, 31, 0};
const Parameter kQl{"ql", "ql=N", Field::Qualifier, 0, 127, 0};
const Parameter kKpa{"kpa", "kpa=1", Field::Qualifier, 1, 63, 1};
const Parameter kOnOff{"state", "0|1", Field::OnOff, 0, 1};
const Parameter kState{"state", "1|2", Field::State, 1, 2};
const Parameter kDirection{"direction", "lower|higher", Field::Direction, 1, 2};
const Parameter kValue{"VALUE", "VALUE", Field::Number, 0, 0};
const Parameter kBits{"bits", "0xHHHHHHHH", Field::Bits, 0, 0xffffffffLL};
constexpr unsigned kSelectable = SelectSwitch | SelectOnlySwitch;

const std::vector<Syntax>& syntaxTable()
{
    static const std::vector<Syntax> table{
        {C_IC_NA_1, {}, {{"qoi", "qoi=20", Field::Qualifier, 0, 255, 20}}},
        {C_CI_NA_1, {}, {{"qcc", "qcc=5", Field::Qualifier, 0, 255, 5}}},
        {C_RD_NA_1, {kAddress}, {}},
        {C_CS_NA_1, {}, {}, BroadcastSwitch | DelaySwitch},
        {C_SC_NA_1, {kAddress, kOnOff}, {kQu}, kSelectable},
        {C_DC_NA_1, {kAddress, kState}, {kQu}, kSelectable},
        {C_RC_NA_1, {kAddress, kDirection}, {kQu}, kSelectable},
        {C_SE_NA_1, {kAddress, kValue}, {kQl}, kSelectable},
        {C_SE_NB_1, {kAddress, kValue}, {kQl}, kSelectable},
        {C_SE_NC_1, {kAddress, kValue}, {kQl}, kSelectable},
        {C_BO_NA_1, {kAddress, kBits}, {}},
        {C_SC_TA_1, {kAddress, kOnOff}, {kQu}, kSelectable | TimeSwitch},
        {C_DC_TA_1, {kAddress, kState}, {kQu}, kSelectable | TimeSwitch},
        {C_RC_TA_1, {kAddress, kDirection}, {kQu}, kSelectable | TimeSwitch},
        {C_SE_TA_1, {kAddress, kValue}, {kQl}, kSelectable | TimeSwitch},
        {C_SE_TB_1, {kAddress, kValue}, {kQl}, kSelectable | TimeSwitch},
        {C_SE_TC_1, {kAddress, kValue}, {kQl}, kSelectable | TimeSwitch},
        {C_BO_TA_1, {kAddress, kBits}, {}, TimeSwitch},
        {C_TS_NA_1, {}, {}},
        {C_RP_NA_1, {}, {{"qrp", "qrp=1", Field::Qualifier, 1, 255, 1}}},
        {C_CD_NA_1, {}, {}},
        {P_ME_NA_1, {kAddress, kValue}, {kKpa}},
        {P_ME_NB_1, {kAddress, kValue}, {kKpa}},
        {P_ME_NC_1, {kAddress, kValue}, {kKpa}},
        {P_AC_NA_1, {kAddress}, {{"qpa", "qpa=2", Field::Qualifier, 1, 255, 2}}},
    };
    return table;
}

const QLatin1String kWait("wait");
const QLatin1String kDeactivate("deactivate");
const QLatin1String kTime("time");
// What a timer holds, rounded down to whole days: 24 days.
constexpr double kMaxWaitSeconds = 24 * 86400;

void apply(Field field, qint64 value, CommandRequest& request)
{
    switch (field) {
    case Field::ObjectAddress:
        request.objectAddress = int(value);
        break;
    case Field::OnOff:
        request.value = value != 0;
        break;
    case Field::State:
    case Field::Direction:
        request.value = int(value);
        break;
    case Field::Bits:
        request.value = uint(value);
        break;
    case Field::Number:
        request.value = double(value);
        break;
    case Field::Qualifier:
        request.qualifier = int(value);
        break;
    case Field::LinkAddress:
        request.linkAddress = int(value);
        break;
    case Field::CommonAddress:
        request.commonAddress = int(value);
        break;
    }
}

// Where a command goes, for every type: the station (link address) and common address;
// without them, the first station and its first common address.
const Parameter kLinkAddress{"la", "la=N",          Field::LinkAddress,
                             0,    kLinkAddressMax, CommandRequest::kOwnAddress};
const Parameter kCommonAddress{
    "ca", "ca=N", Field::CommonAddress, 0, kCommonAddressMax, CommandRequest::kOwnAddress};

// Types that may go to every station in turn (la=all).
bool toAllStations(int typeId)
{
    return typeId == C_IC_NA_1 || typeId == C_CI_NA_1 || typeId == C_CS_NA_1;
}

QString usageOf(const Syntax& syntax)
{
    QStringList parts{ObjectText::typeName(syntax.typeId)};
    for (const Parameter& parameter : syntax.positional)
        parts << QLatin1String(parameter.usage);
    for (const SwitchWord& word : kSwitchWords) {
        if (!(syntax.switches & word.flag) || word.flag == SelectOnlySwitch)
            continue;
        if (word.flag == SelectSwitch && (syntax.switches & SelectOnlySwitch))
            parts << QStringLiteral("[select|select-only]");
        else if (word.flag == TimeSwitch)
            parts << QStringLiteral("[time|time=ISO8601]");
        else
            parts << QStringLiteral("[%1]").arg(QLatin1String(word.word));
    }
    for (const Parameter& parameter : syntax.named)
        parts << QStringLiteral("[%1]").arg(QLatin1String(parameter.usage));
    parts << (toAllStations(syntax.typeId) ? QStringLiteral("[la=N|all]") : QStringLiteral("[la=N]"))
          << QStringLiteral("[ca=N]");
    return parts.join(QLatin1Char(' '));
}

// Decimal, or hexadecimal after 0x; no octal surprise from a leading zero.
bool readNumber(const QString& token, qint64* value)
{
    bool ok = false;
    if (token.startsWith(QLatin1String("0x"), Qt::CaseInsensitive))
        *value = token.mid(2).toLongLong(&ok, 16);
    else
        *value = token.toLongLong(&ok, 10);
    return ok;
}

QString rangeText(qint64 min, qint64 max)
{
    if (max == min + 1)
        return QStringLiteral("%1 or %2").arg(min).arg(max);
    return QStringLiteral("%1..%2").arg(min).arg(max);
}

// A time as ISO 8601; without an offset it is local time.
QDateTime readTime(const QString& text)
{
    QDateTime time = QDateTime::fromString(text, Qt::ISODateWithMs);
    if (!time.isValid())
        time = QDateTime::fromString(text, Qt::ISODate);
    return time;
}

const Syntax* syntaxOf(const QString& name)
{
    const std::vector<Syntax>& table = syntaxTable();
    const auto syntax = std::find_if(table.cbegin(), table.cend(), [&name](const Syntax& entry) {
        return ObjectText::typeName(entry.typeId).compare(name, Qt::CaseInsensitive) == 0;
    });
    return syntax == table.cend() ? nullptr : &*syntax;
}

const char kDeactivateUsage[] = "deactivate IOA [type=NAME] [la=N] [ca=N]";

// A deactivation copies the select-only of the same object earlier in the run, so that it
// carries what was selected; one without such a select names its type and carries that
// type's plainest value.
bool resolveDeactivation(ScriptStep* step, const QVector<ScriptStep>& before, QString* error)
{
    CommandRequest& request = step->request;
    if (step->kind != ScriptStep::Kind::Command ||
        request.execution != CommandRequest::Execution::Deactivate || request.typeId != 0)
        return true;
    for (auto it = before.crbegin(); it != before.crend(); ++it) {
        const CommandRequest& earlier = it->request;
        if (it->kind == ScriptStep::Kind::Command &&
            earlier.execution == CommandRequest::Execution::SelectOnly &&
            earlier.objectAddress == request.objectAddress) {
            CommandRequest cancel = earlier;
            cancel.execution = CommandRequest::Execution::Deactivate;
            cancel.timeTag = QDateTime();
            if (request.linkAddress != CommandRequest::kOwnAddress)
                cancel.linkAddress = request.linkAddress;
            if (request.commonAddress != CommandRequest::kOwnAddress)
                cancel.commonAddress = request.commonAddress;
            request = cancel;
            return true;
        }
    }
    *error = QStringLiteral("no select-only of object %1 before it: name its type with type= (%2)")
                 .arg(request.objectAddress)
                 .arg(QLatin1String(kDeactivateUsage));
    return false;
}

// The text without its comment, as words.
QStringList wordsOf(const QString& text)
{
    static const QRegularExpression blanks(QStringLiteral("\\s+"));
    const int comment = text.indexOf(QLatin1Char('#'));
    return (comment < 0 ? text : text.left(comment)).split(blanks, Qt::SkipEmptyParts);
}

} // namespace

CommandParser::CommandParser(const ProtocolSettings& protocol)
    : objectAddressMax((qint64(1) << (8 * protocol.objectAddressOctets())) - 1),
      linkAddressMax(protocol.broadcastLinkAddress()), commonAddressMax(protocol.broadcastCommonAddress())
{}

bool CommandParser::parse(const QString& text, ScriptStep* step, QString* error) const
{
    const QStringList words = wordsOf(text);
    if (words.isEmpty()) {
        *error = QStringLiteral("empty command");
        return false;
    }
    ScriptStep result;
    result.text = words.join(QLatin1Char(' '));
    const QString& name = words.first();

    if (name.compare(kWait, Qt::CaseInsensitive) == 0) {
        bool ok = false;
        const double seconds = words.size() == 2 ? words.at(1).toDouble(&ok) : 0.0;
        if (!ok || !std::isfinite(seconds) || seconds < 0 || seconds > kMaxWaitSeconds) {
            *error = QStringLiteral("wait takes one number of seconds, 0..%1 (wait SECONDS)")
                         .arg(qint64(kMaxWaitSeconds));
            return false;
        }
        result.kind = ScriptStep::Kind::Wait;
        result.waitMs = int(std::lround(seconds * 1000));
        *step = result;
        return true;
    }

    if (name.compare(kDeactivate, Qt::CaseInsensitive) == 0)
        return parseDeactivation(words, step, error);

    const std::vector<Syntax>& table = syntaxTable();
    const Syntax* syntax = syntaxOf(name);
    if (!syntax) {
        QStringList known;
        for (const Syntax& entry : table)
            known << ObjectText::typeName(entry.typeId);
        known << kWait << kDeactivate;
        *error =
            QStringLiteral("unknown command \"%1\" (known: %2)").arg(name, known.join(QStringLiteral(", ")));
        return false;
    }
    const QString usage = usageOf(*syntax);
    const auto fail = [&](const QString& what) {
        *error = QStringLiteral("%1 (%2)").arg(what, usage);
        return false;
    };

    CommandRequest& request = result.request;
    request.typeId = syntax->typeId;
    for (const Parameter& parameter : syntax->named)
        apply(parameter.field, parameter.fallback, request);

    size_t positional = 0;
    unsigned switchesSeen = NoSwitch;
    QStringList namesSeen;
    for (int i = 1; i < words.size(); ++i) {
        const QString& word = words.at(i);
        const auto readInto = [&](const Parameter& parameter, const QString& token) {
            if (parameter.field == Field::Number) {
                // Its range is the type's: the encoder checks it below.
                bool ok = false;
                const double number = token.toDouble(&ok);
                if (!ok || !std::isfinite(number))
                    return fail(QStringLiteral("VALUE must be a number, not \"%1\"").arg(token));
                request.value = number;
                return true;
            }
            if (parameter.field == Field::Direction) {
                const bool lower = token.compare(QLatin1String("lower"), Qt::CaseInsensitive) == 0;
                if (!lower && token.compare(QLatin1String("higher"), Qt::CaseInsensitive) != 0)
                    return fail(QStringLiteral("direction must be lower or higher, not \"%1\"").arg(token));
                apply(parameter.field, lower ? IEC60870_STEP_LOWER : IEC60870_STEP_HIGHER, request);
                return true;
            }
            const qint64 max = parameter.max == kObjectAddressMax   ? objectAddressMax
                               : parameter.max == kLinkAddressMax   ? linkAddressMax
                               : parameter.max == kCommonAddressMax ? commonAddressMax
                                                                    : parameter.max;
            qint64 value = 0;
            if (!readNumber(token, &value) || value < parameter.min || value > max) {
                const QString range = parameter.field == Field::Bits
                                          ? QStringLiteral("0x00000000..0xFFFFFFFF")
                                          : rangeText(parameter.min, max);
                return fail(QStringLiteral("%1 must be %2, not \"%3\"")
                                .arg(QLatin1String(parameter.name), range, token));
            }
            apply(parameter.field, value, request);
            return true;
        };

        const int equals = word.indexOf(QLatin1Char('='));
        if (equals >= 0) {
            const QString key = word.left(equals).toLower();
            if (namesSeen.contains(key))
                return fail(QStringLiteral("%1= given twice").arg(key));
            namesSeen << key;
            if (key == kTime && (syntax->switches & TimeSwitch)) {
                if (switchesSeen & TimeSwitch)
                    return fail(QStringLiteral("\"time\" given twice"));
                switchesSeen |= TimeSwitch;
                request.timeTag = readTime(word.mid(equals + 1));
                if (!request.timeTag.isValid())
                    return fail(QStringLiteral("time must be ISO 8601 (2026-12-06T09:30:00.000Z), not \"%1\"")
                                    .arg(word.mid(equals + 1)));
                continue;
            }
            if (key == QLatin1String(kLinkAddress.name) &&
                word.mid(equals + 1).compare(QLatin1String("all"), Qt::CaseInsensitive) == 0) {
                if (!toAllStations(syntax->typeId))
                    return fail(QStringLiteral("la=all applies to interrogations and clock syncs only"));
                result.allStations = true;
                continue;
            }
            const Parameter* named = key == QLatin1String(kLinkAddress.name)     ? &kLinkAddress
                                     : key == QLatin1String(kCommonAddress.name) ? &kCommonAddress
                                                                                 : nullptr;
            for (const Parameter& parameter : syntax->named) {
                if (key == QLatin1String(parameter.name))
                    named = &parameter;
            }
            if (!named)
                return fail(QStringLiteral("unknown argument \"%1\"").arg(word));
            if (!readInto(*named, word.mid(equals + 1)))
                return false;
            continue;
        }
        const auto switchWord =
            std::find_if(std::cbegin(kSwitchWords), std::cend(kSwitchWords), [&](const SwitchWord& entry) {
                return (syntax->switches & entry.flag) &&
                       word.compare(QLatin1String(entry.word), Qt::CaseInsensitive) == 0;
            });
        if (switchWord != std::cend(kSwitchWords)) {
            if (switchesSeen & switchWord->flag)
                return fail(QStringLiteral("\"%1\" given twice").arg(QLatin1String(switchWord->word)));
            if ((switchWord->flag | switchesSeen) & SelectSwitch &&
                (switchWord->flag | switchesSeen) & SelectOnlySwitch)
                return fail(QStringLiteral("select and select-only exclude each other"));
            switchesSeen |= switchWord->flag;
            switchWord->apply(request);
            continue;
        }
        if (positional >= syntax->positional.size())
            return fail(QStringLiteral("unexpected \"%1\"").arg(word));
        if (!readInto(syntax->positional[positional++], word))
            return false;
    }
    if (positional < syntax->positional.size())
        return fail(QStringLiteral("missing %1").arg(QLatin1String(syntax->positional[positional].usage)));
    // Values the type cannot carry (a normalized 1.5, a scaled 1e6) are refused here too.
    const QString problem = CommandEncoder::validate(request);
    if (!problem.isEmpty())
        return fail(problem);
    *step = result;
    return true;
}

bool CommandParser::parseDeactivation(const QStringList& words, ScriptStep* step, QString* error) const
{
    const QString usage = QLatin1String(kDeactivateUsage);
    const auto fail = [&](const QString& what) {
        *error = QStringLiteral("%1 (%2)").arg(what, usage);
        return false;
    };
    ScriptStep result;
    result.text = words.join(QLatin1Char(' '));
    CommandRequest& request = result.request;
    request.execution = CommandRequest::Execution::Deactivate;
    bool addressSeen = false;
    for (int i = 1; i < words.size(); ++i) {
        const QString& word = words.at(i);
        const int equals = word.indexOf(QLatin1Char('='));
        if (equals < 0) {
            qint64 address = 0;
            if (addressSeen)
                return fail(QStringLiteral("unexpected \"%1\"").arg(word));
            if (!readNumber(word, &address) || address < 0 || address > objectAddressMax)
                return fail(
                    QStringLiteral("IOA must be %1, not \"%2\"").arg(rangeText(0, objectAddressMax), word));
            request.objectAddress = int(address);
            addressSeen = true;
            continue;
        }
        const QString key = word.left(equals).toLower();
        const QString text = word.mid(equals + 1);
        if (key == QLatin1String("type")) {
            const Syntax* syntax = syntaxOf(text);
            if (!syntax || (!CommandEncoder::hasSelect(syntax->typeId) && syntax->typeId != P_AC_NA_1))
                return fail(
                    QStringLiteral("type must be a command that can be selected, or P_AC_NA_1, not \"%1\"")
                        .arg(text));
            request.typeId = syntax->typeId;
            continue;
        }
        const Parameter* named = key == QLatin1String(kLinkAddress.name)     ? &kLinkAddress
                                 : key == QLatin1String(kCommonAddress.name) ? &kCommonAddress
                                                                             : nullptr;
        qint64 value = 0;
        if (!named)
            return fail(QStringLiteral("unknown argument \"%1\"").arg(word));
        if (!readNumber(text, &value) || value < named->min || value > named->max)
            return fail(QStringLiteral("%1 must be %2, not \"%3\"")
                            .arg(QLatin1String(named->name), rangeText(named->min, named->max), text));
        apply(named->field, value, request);
    }
    if (!addressSeen)
        return fail(QStringLiteral("missing IOA"));
    // The plainest value of the type; a station takes a deactivation by its address.
    switch (CommandEncoder::untimedType(request.typeId)) {
    case C_SC_NA_1:
        request.value = false;
        break;
    case C_DC_NA_1:
    case C_RC_NA_1:
        request.value = 1;
        break;
    case C_SE_NA_1:
    case C_SE_NB_1:
    case C_SE_NC_1:
        request.value = 0.0;
        break;
    case P_AC_NA_1:
        request.qualifier = 2;
        break;
    default:
        break;
    }
    *step = result;
    return true;
}

bool CommandParser::parseScript(const QString& script, QVector<ScriptStep>* steps, QStringList* errors) const
{
    const QStringList lines = script.split(QLatin1Char('\n'));
    for (int i = 0; i < lines.size(); ++i) {
        if (wordsOf(lines.at(i)).isEmpty())
            continue;
        ScriptStep step;
        QString error;
        if (parse(lines.at(i), &step, &error) && resolveDeactivation(&step, *steps, &error))
            steps->append(step);
        else
            errors->append(QStringLiteral("line %1: %2").arg(i + 1).arg(error));
    }
    return errors->isEmpty();
}

bool CommandParser::parseArguments(const QStringList& arguments, QVector<ScriptStep>* steps,
                                   QStringList* errors) const
{
    for (int i = 0; i < arguments.size(); ++i) {
        ScriptStep step;
        QString error;
        if (parse(arguments.at(i), &step, &error) && resolveDeactivation(&step, *steps, &error))
            steps->append(step);
        else
            errors->append(QStringLiteral("argument %1 \"%2\": %3").arg(i + 1).arg(arguments.at(i), error));
    }
    return errors->isEmpty();
}

QStringList CommandParser::usage()
{
    QStringList lines;
    for (const Syntax& syntax : syntaxTable())
        lines << usageOf(syntax);
    lines << QLatin1String(kDeactivateUsage) << QStringLiteral("wait SECONDS");
    return lines;
}

} // namespace iec101
