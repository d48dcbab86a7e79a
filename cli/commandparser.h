#ifndef IEC101_COMMANDPARSER_H
#define IEC101_COMMANDPARSER_H

#include <QString>
#include <QStringList>
#include <QVector>

#include "protocolsettings.h"
#include "scriptstep.h"

namespace iec101 {

// Reads iec101-master's commands: a type name and its arguments, one command per
// argument or per script line ("C_SC_NA_1 2949121 1 select qu=0", "wait 2.5"), '#'
// to the end of the text a comment. The types and what each takes are a table in the
// .cpp; everything is checked here, before the port is opened, so a run never stops
// halfway over a typing error.
class CommandParser
{
public:
    // Object addresses are checked against the size in the settings.
    explicit CommandParser(const ProtocolSettings& protocol = ProtocolSettings());

    // One command; false with what is wrong (and the usage of its type) in *error. A
    // "deactivate IOA" without type= comes back with type 0: the lists below give it the
    // select-only of that object that came before it.
    bool parse(const QString& text, ScriptStep* step, QString* error) const;
    // Each line of a script, blank and comment lines skipped; every malformed line is
    // reported as "line N: ...".
    bool parseScript(const QString& script, QVector<ScriptStep>* steps, QStringList* errors) const;
    // Each argument one command; every malformed one is reported as "argument N: ...",
    // counting the commands from 1.
    bool parseArguments(const QStringList& arguments, QVector<ScriptStep>* steps, QStringList* errors) const;

    // One line per command, "C_SC_NA_1 IOA 0|1 [select] [qu=N]", for --help.
    static QStringList usage();

private:
    bool parseDeactivation(const QStringList& words, ScriptStep* step, QString* error) const;

    qint64 objectAddressMax = 0;
    qint64 linkAddressMax = 0;
    qint64 commonAddressMax = 0;
};

} // namespace iec101

#endif // IEC101_COMMANDPARSER_H
