// Owning pointers for lib60870's heap objects, so that they are destroyed on every path.
#ifndef IEC101_SLAVESIM_LIB60870PTR_H
#define IEC101_SLAVESIM_LIB60870PTR_H

#include <cs101_information_objects.h>
#include <iec60870_common.h>

#include <memory>

namespace slavesim {

struct IoDeleter
{
    void operator()(sInformationObject* io) const
    {
        if (io) {
            InformationObject_destroy(io);
        }
    }
};
using IoPtr = std::unique_ptr<sInformationObject, IoDeleter>;

struct AsduDeleter
{
    void operator()(sCS101_ASDU* asdu) const
    {
        if (asdu) {
            CS101_ASDU_destroy(asdu);
        }
    }
};
using AsduPtr = std::unique_ptr<sCS101_ASDU, AsduDeleter>;

} // namespace slavesim

#endif // IEC101_SLAVESIM_LIB60870PTR_H
