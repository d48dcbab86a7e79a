#ifndef IEC101_SCRIPTSTEP_H
#define IEC101_SCRIPTSTEP_H

#include <QString>

#include "commandrequest.h"

namespace iec101 {

// One step of what iec101-master was asked to do: a command for the station, or a pause
// in which the line keeps being polled and whatever arrives is reported.
struct ScriptStep
{
    enum class Kind { Command, Wait };

    Kind kind = Kind::Command;
    CommandRequest request;   // Command
    int waitMs = 0;           // Wait
    bool allStations = false; // Command: to each station on the line in turn (la=all)
    // The step as the user wrote it, comment and extra blanks removed; the command
    // records repeat it so that a script can match them to its own lines.
    QString text;
};

} // namespace iec101

#endif // IEC101_SCRIPTSTEP_H
