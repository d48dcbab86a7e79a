#include "datacallbackwrapper.h"

DataCallbackWrapper::DataCallbackWrapper(QObject* parent) : QObject(parent) {}
