#include "outbox.h"

namespace slavesim {

Outbox::Outbox(const Config& stationConfig, const SlaveSim::LogHandler& logHandler)
    : config(stationConfig), log(logHandler)
{}

AsduPtr Outbox::newAsdu(int cot) const
{
    if (!slave) {
        return AsduPtr();
    }
    const int ca = currentCommonAddress < 0 ? config.commonAddress : currentCommonAddress;
    return AsduPtr(CS101_ASDU_create(CS101_Slave_getAppLayerParameters(slave), false,
                                     CS101_CauseOfTransmission(cot), 0, ca, false, false));
}

void Outbox::send(CS101_ASDU asdu)
{
    if (!slave || !asdu) {
        return;
    }
    CS101_Slave_enqueueUserDataClass1(slave, asdu);
    logSent(asdu, QString());
}

void Outbox::sendPeriodic(CS101_ASDU asdu)
{
    if (!slave || !asdu) {
        return;
    }
    CS101_Slave_enqueueUserDataClass2(slave, asdu);
    logSent(asdu, QStringLiteral(" (class 2)"));
}

void Outbox::answer(CS101_ASDU asdu, int cot, bool negative)
{
    CS101_ASDU_setCOT(asdu, CS101_CauseOfTransmission(cot));
    CS101_ASDU_setNegative(asdu, negative);
    send(asdu);
}

void Outbox::sendObject(IoPtr io, int cot)
{
    AsduPtr asdu = newAsdu(cot);
    if (!io || !asdu) {
        if (log) {
            log(QStringLiteral("event dropped: line closed"));
        }
        return;
    }
    CS101_ASDU_addInformationObject(asdu.get(), io.get());
    send(asdu.get());
}

QString Outbox::describe(CS101_ASDU asdu)
{
    return QStringLiteral("%1 COT %2%3 CA %4 n=%5")
        .arg(QString::fromLatin1(TypeID_toString(TypeID(CS101_ASDU_getTypeID(asdu)))))
        .arg(int(CS101_ASDU_getCOT(asdu)))
        .arg(CS101_ASDU_isNegative(asdu) ? QStringLiteral(" negative") : QString())
        .arg(CS101_ASDU_getCA(asdu))
        .arg(CS101_ASDU_getNumberOfElements(asdu));
}

void Outbox::logSent(CS101_ASDU asdu, const QString& suffix) const
{
    if (!log) {
        return;
    }
    // Our own ASDUs and echoed commands of known types are well-formed, so their first
    // element can be decoded safely; an echoed unknown type is left alone.
    const bool decodable =
        CS101_ASDU_getNumberOfElements(asdu) > 0 && CS101_ASDU_getCOT(asdu) != CS101_COT_UNKNOWN_TYPE_ID;
    IoPtr first(decodable ? CS101_ASDU_getElement(asdu, 0) : nullptr);
    log(QStringLiteral("TX %1 IOA %2%3")
            .arg(describe(asdu))
            .arg(first ? InformationObject_getObjectAddress(first.get()) : 0)
            .arg(suffix));
}

} // namespace slavesim
