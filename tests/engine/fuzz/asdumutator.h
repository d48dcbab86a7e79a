// Source of hostile ASDUs for fuzzing the master's receive path.
//
// AsduMutator builds well-formed monitoring ASDUs (single and double points, short
// floats, integrated totals, with and without time tags, SQ=0 and SQ=1) and mangles
// them the way broken or malicious station firmware would: random type identifications,
// element counts and SQ bits, truncated and padded payloads, random causes and zero
// elements. Deterministic for a given seed. Layout: 1-octet type and VSQ, 2-octet cause
// (with originator), 2-octet common address, 3-octet object addresses.
#ifndef IEC101_ASDUMUTATOR_H
#define IEC101_ASDUMUTATOR_H

#include <QByteArray>
#include <QRandomGenerator>
#include <QStringList>

class AsduMutator
{
public:
    explicit AsduMutator(quint32 seed);

    // A well-formed ASDU of a type the master decodes, with cause 3 or 20.
    QByteArray valid();
    // Mostly mutated ASDUs, with a valid one now and then. At most kMaxSize octets.
    QByteArray next();

    // How often each kind of mutation was applied, for the test log.
    QStringList statistics() const;

    static constexpr int kMaxSize = 240;

private:
    enum Mutation { TypeId, Vsq, ZeroElements, OverCount, Truncate, Pad, Cause, FlipBytes, MutationCount };

    void mutate(QByteArray& asdu, Mutation mutation);
    int bounded(int high) { return int(rng.bounded(quint32(high))); }

    QRandomGenerator rng;
    int applied[MutationCount] = {};
    int validCount = 0;
};

#endif // IEC101_ASDUMUTATOR_H
