#ifndef IEC101_ENGINETUNING_H
#define IEC101_ENGINETUNING_H

#include <QMetaType>

#include "iec101engine_export.h"

namespace iec101 {

// How the engine drives the line. The defaults are what the product uses; benchmarks
// set other values to measure against a reference behaviour in the same run.
struct IEC101ENGINE_EXPORT EngineTuning
{
    // Period of the polling tick.
    int tickMs = 200;
    // Worker time one tick may spend draining the line while the station delivers;
    // 0 gives one poll-and-run exchange per tick.
    int drainBudgetMs = 150;
    // A command runs the line at once and until its answer is in, instead of waiting
    // for the ticks.
    bool commandsRunLine = true;
    // While a command waits and the station answers that it has nothing, the next poll
    // follows after this pause rather than at once: on a fast line (a pty, a network
    // bridge) an immediate one would poll thousands of times a second.
    int quietPollMs = 10;
    // The general and counter interrogation the engine sends by itself when the link first
    // comes up. A program that asks for its data itself turns them off.
    bool interrogateOnLinkUp = true;
    // Attempts at each automatic interrogation after the link comes up, and the pause
    // before the second attempt (doubled for each further one).
    int initialInterrogationAttempts = 3;
    int retryBackoffMs = 5000;
    // A station that answers "busy" is left alone for this long before the engine asks
    // for its link status again (doubled while it stays busy, up to busyBackoffMaxMs).
    int busyBackoffMs = 1000;
    int busyBackoffMaxMs = 8000;
    // A station busy for longer than this is given up on for now: the command waiting for it
    // ends timed out and those queued for it end not sent; polling goes on trying.
    int busyPatienceMs = 30000;
};

} // namespace iec101

Q_DECLARE_METATYPE(iec101::EngineTuning)

#endif // IEC101_ENGINETUNING_H
