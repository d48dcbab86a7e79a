#ifndef IEC101_COMMANDOUTCOME_H
#define IEC101_COMMANDOUTCOME_H

#include <QMetaType>
#include <QString>

#include "iec101engine_export.h"

namespace iec101 {

// How a command ended, and why.
struct IEC101ENGINE_EXPORT CommandOutcome
{
    enum class Result {
        Confirmed,  // the station confirmed it (or answered a Read); see terminationMissing
        Terminated, // confirmed and terminated: the station carried it out
        Refused,    // a negative confirmation (P/N = 1) or a cause that refuses it (44 to 47)
        TimedOut,   // a step did not come in time (see step)
        NotSent,    // never went on the line (see reason)
    };
    // The step of a command that was refused or did not come.
    enum class Step { None, Answer, SelectConfirmation, Confirmation, DeactivationConfirmation };
    enum class Reason {
        None,
        NotConnected, // no line open
        LinkDown,     // the station does not answer
        QueueFull,    // too many commands are waiting
        Invalid,      // the request itself is wrong (see detail)
        Closed,       // the connection was closed while it waited
    };

    Result result = Result::NotSent;
    Step step = Step::None;
    Reason reason = Reason::None;
    int cause = 0;         // cause of transmission of the answer that decided, without P/N
    bool negative = false; // that answer's P/N bit
    // Confirmed: the termination that should have followed never came.
    bool terminationMissing = false;
    // The engine tries it again later (its own interrogations after the link comes up).
    bool retrying = false;
    qint64 roundTripMs = -1; // from the first frame sent to the end; -1 when nothing was sent
    // A confirmed delay acquisition (C_CD_NA_1): the one-way line delay it measured; -1
    // for every other command.
    qint64 measuredDelayMs = -1;
    QString detail; // what is wrong with an invalid request

    bool succeeded() const { return result == Result::Confirmed || result == Result::Terminated; }
    // The outcome as one word, as the command-line master writes it: "confirmed",
    // "terminated", "refused", "timed-out" or "not-sent".
    QString name() const;
    // For people: "terminated", "confirmed, not terminated", "confirmed, line delay 12 ms",
    // "refused: unknown object address (47)", "timed out waiting for the confirmation of
    // the select", "not sent: link down".
    QString text() const;
};

// The meaning of a cause of transmission in words: "activation confirmation",
// "unknown object address", ...
IEC101ENGINE_EXPORT QString causeText(int cause);
// Causes by what they answer: a general interrogation (20..36), a counter interrogation
// (37..41), or a refusal (unknown type, cause, common or object address: 44..47).
IEC101ENGINE_EXPORT bool isInterrogatedCause(int cause);
IEC101ENGINE_EXPORT bool isCounterCause(int cause);
IEC101ENGINE_EXPORT bool isRefusingCause(int cause);

} // namespace iec101

Q_DECLARE_METATYPE(iec101::CommandOutcome)

#endif // IEC101_COMMANDOUTCOME_H
