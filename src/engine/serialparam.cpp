#include "serialparam.h"

namespace iec101 {

SerialParam::SerialParam(QObject* parent) : QObject(parent) {}

SerialParam::SerialParam(const SerialParam& other)
    : QObject(nullptr), portName(other.portName), baudRate(other.baudRate), dataBits(other.dataBits),
      parity(other.parity), stopBits(other.stopBits)
{}

SerialParam& SerialParam::operator=(const SerialParam& other)
{
    portName = other.portName;
    baudRate = other.baudRate;
    dataBits = other.dataBits;
    parity = other.parity;
    stopBits = other.stopBits;
    return *this;
}

SerialParam::~SerialParam() = default;

} // namespace iec101
