#include "pointencoder.h"

#include <QDateTime>

#include <algorithm>
#include <cmath>

namespace slavesim {

namespace {

template <typename T> InformationObject io(T object)
{
    return reinterpret_cast<InformationObject>(object);
}

// Normalized values cover [-1, 1 - 2^-15] and leave as value x 2^15; scaled values are
// 16-bit integers. The library multiplies a normalized value by 32767 and cuts off the
// fraction: it is handed the number that gives the standard's 16 bits that way.
float normalized(double value)
{
    const long raw =
        std::clamp(std::lround(std::clamp(value, -1.0, 32767.0 / 32768.0) * 32768.0), -32768L, 32767L);
    return float((double(raw) + (raw < 0 ? -0.5 : 0.5)) / 32767.0);
}

int scaled(double value)
{
    return int(std::clamp(std::lround(value), -32768L, 32767L));
}

InformationObject measured(int address, const Point& p, MeasuredFormat format, TimeTag tag, CP24Time2a cp24,
                           CP56Time2a cp56)
{
    const auto q = QualityDescriptor(p.quality);
    switch (format) {
    case MeasuredFormat::Normalized:
        if (tag == TimeTag::CP24)
            return io(
                MeasuredValueNormalizedWithCP24Time2a_create(nullptr, address, normalized(p.value), q, cp24));
        if (tag == TimeTag::CP56)
            return io(
                MeasuredValueNormalizedWithCP56Time2a_create(nullptr, address, normalized(p.value), q, cp56));
        return io(MeasuredValueNormalized_create(nullptr, address, normalized(p.value), q));
    case MeasuredFormat::Scaled:
        if (tag == TimeTag::CP24)
            return io(MeasuredValueScaledWithCP24Time2a_create(nullptr, address, scaled(p.value), q, cp24));
        if (tag == TimeTag::CP56)
            return io(MeasuredValueScaledWithCP56Time2a_create(nullptr, address, scaled(p.value), q, cp56));
        return io(MeasuredValueScaled_create(nullptr, address, scaled(p.value), q));
    case MeasuredFormat::Float:
        break;
    }
    if (tag == TimeTag::CP24)
        return io(MeasuredValueShortWithCP24Time2a_create(nullptr, address, float(p.value), q, cp24));
    if (tag == TimeTag::CP56)
        return io(MeasuredValueShortWithCP56Time2a_create(nullptr, address, float(p.value), q, cp56));
    return io(MeasuredValueShort_create(nullptr, address, float(p.value), q));
}

} // namespace

InformationObject encodePoint(int address, const Point& p, MeasuredFormat format, TimeTag tag, qint64 timeMs,
                              int sequence)
{
    sCP56Time2a cp56{};
    sCP24Time2a cp24{};
    if (tag == TimeTag::CP56) {
        CP56Time2a_setFromMsTimestamp(&cp56, static_cast<uint64_t>(timeMs));
    } else if (tag == TimeTag::CP24) {
        const QTime fields = QDateTime::fromMSecsSinceEpoch(timeMs, Qt::UTC).time();
        CP24Time2a_setMinute(&cp24, fields.minute());
        CP24Time2a_setSecond(&cp24, fields.second());
        CP24Time2a_setMillisecond(&cp24, fields.msec());
    }
    const auto q = QualityDescriptor(p.quality);

    switch (p.kind) {
    case Kind::Single: {
        const bool on = p.value != 0.0;
        if (tag == TimeTag::CP24)
            return io(SinglePointWithCP24Time2a_create(nullptr, address, on, q, &cp24));
        if (tag == TimeTag::CP56)
            return io(SinglePointWithCP56Time2a_create(nullptr, address, on, q, &cp56));
        return io(SinglePointInformation_create(nullptr, address, on, q));
    }
    case Kind::Double: {
        const auto state = DoublePointValue(int(p.value) & 3);
        if (tag == TimeTag::CP24)
            return io(DoublePointWithCP24Time2a_create(nullptr, address, state, q, &cp24));
        if (tag == TimeTag::CP56)
            return io(DoublePointWithCP56Time2a_create(nullptr, address, state, q, &cp56));
        return io(DoublePointInformation_create(nullptr, address, state, q));
    }
    case Kind::Measured:
        return measured(address, p, format, tag, &cp24, &cp56);
    case Kind::Step: {
        const int step = std::clamp(int(p.value), -64, 63);
        if (tag == TimeTag::CP24)
            return io(StepPositionWithCP24Time2a_create(nullptr, address, step, p.transient, q, &cp24));
        if (tag == TimeTag::CP56)
            return io(StepPositionWithCP56Time2a_create(nullptr, address, step, p.transient, q, &cp56));
        return io(StepPositionInformation_create(nullptr, address, step, p.transient, q));
    }
    case Kind::Bitstring: {
        const auto bits = uint32_t(qint64(p.value));
        if (tag == TimeTag::CP24)
            return io(Bitstring32WithCP24Time2a_createEx(nullptr, address, bits, q, &cp24));
        if (tag == TimeTag::CP56)
            return io(Bitstring32WithCP56Time2a_createEx(nullptr, address, bits, q, &cp56));
        return io(BitString32_createEx(nullptr, address, bits, q));
    }
    case Kind::Counter: {
        sBinaryCounterReading bcr{};
        BinaryCounterReading_create(&bcr, int32_t(p.value), sequence & 0x1f, p.quality & 0x20,
                                    p.quality & 0x40, p.quality & 0x80);
        if (tag == TimeTag::CP24)
            return io(IntegratedTotalsWithCP24Time2a_create(nullptr, address, &bcr, &cp24));
        if (tag == TimeTag::CP56)
            return io(IntegratedTotalsWithCP56Time2a_create(nullptr, address, &bcr, &cp56));
        return io(IntegratedTotals_create(nullptr, address, &bcr));
    }
    }
    return nullptr;
}

} // namespace slavesim
