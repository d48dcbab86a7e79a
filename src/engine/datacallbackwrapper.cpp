#include "datacallbackwrapper.h"

namespace iec101 {

DataCallbackWrapper::DataCallbackWrapper(QObject* parent) : QObject(parent) {}

} // namespace iec101
