#include "commandparser.h"

#include <QRegularExpression>

#include <algorithm>
#include <cmath>
#include <iterator>
#include <vector>

#include <iec60870_common.h>

#include "objecttext.h"

namespace iec101 {

namespace {

// Where a number of the command goes in the request.
enum class Field { ObjectAddress, OnOff, State, Qualifier, LinkAddress, CommonAddress };

// Stands for the largest object address the configured size holds.
constexpr qint64 kObjectAddressMax = -1;

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

// Words that stand alone and switch something of the request on.
enum Switch : unsigned { NoSwitch = 0, SelectSwitch = 1, BroadcastSwitch = 2 };

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
    {BroadcastSwitch, "broadcast",
     [](CommandRequest& request) {
         request.broadcast = true;
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

const std::vector<Syntax>& syntaxTable()
{
    static const std::vector<Syntax> table{
        {C_IC_NA_1, {}, {{"qoi", "qoi=20", Field::Qualifier, 0, 255, 20}}},
        {C_CI_NA_1, {}, {{"qcc", "qcc=5", Field::Qualifier, 0, 255, 5}}},
        {C_RD_NA_1, {kAddress}, {}},
        {C_CS_NA_1, {}, {}, BroadcastSwitch},
        {C_SC_NA_1, {kAddress, {"state", "0|1", Field::OnOff, 0, 1}}, {kQu}, SelectSwitch},
        {C_DC_NA_1, {kAddress, {"state", "1|2", Field::State, 1, 2}}, {kQu}, SelectSwitch},
    };
    return table;
}

const QLatin1String kWait("wait");
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
        request.value = int(value);
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
const Parameter kLinkAddress{"la", "la=N", Field::LinkAddress, 0, 65535, CommandRequest::kOwnAddress};
const Parameter kCommonAddress{"ca", "ca=N", Field::CommonAddress, 0, 65535, CommandRequest::kOwnAddress};

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
        if (syntax.switches & word.flag)
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

// The text without its comment, as words.
QStringList wordsOf(const QString& text)
{
    static const QRegularExpression blanks(QStringLiteral("\\s+"));
    const int comment = text.indexOf(QLatin1Char('#'));
    return (comment < 0 ? text : text.left(comment)).split(blanks, Qt::SkipEmptyParts);
}

} // namespace

CommandParser::CommandParser(const ProtocolSettings& protocol)
    : objectAddressMax((qint64(1) << (8 * protocol.objectAddressOctets())) - 1)
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

    const std::vector<Syntax>& table = syntaxTable();
    const auto syntax = std::find_if(table.cbegin(), table.cend(), [&name](const Syntax& entry) {
        return ObjectText::typeName(entry.typeId).compare(name, Qt::CaseInsensitive) == 0;
    });
    if (syntax == table.cend()) {
        QStringList known;
        for (const Syntax& entry : table)
            known << ObjectText::typeName(entry.typeId);
        known << kWait;
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
            const qint64 max = parameter.max == kObjectAddressMax ? objectAddressMax : parameter.max;
            qint64 value = 0;
            if (!readNumber(token, &value) || value < parameter.min || value > max) {
                return fail(QStringLiteral("%1 must be %2, not \"%3\"")
                                .arg(QLatin1String(parameter.name), rangeText(parameter.min, max), token));
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
        if (parse(lines.at(i), &step, &error))
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
        if (parse(arguments.at(i), &step, &error))
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
    lines << QStringLiteral("wait SECONDS");
    return lines;
}

} // namespace iec101
