#pragma once

#include <QList>
#include <QString>
#include <QStringList>

// tshark's reading of a capture the product wrote (pcap, serial link type with direction),
// decoded as IEC 60870-5-101 with the default settings' field sizes: one row per frame with
// the asked fields ("iec60870_asdu.typeid", "_ws.malformed"...) in order. An empty list and
// a message in *error when tshark cannot be run or fails.
QList<QStringList> tsharkFields(const QString& path, const QStringList& fields, QString* error);
