#ifndef IEC101_TESTS_FRAMEBUILDER_H
#define IEC101_TESTS_FRAMEBUILDER_H

#include <QByteArray>

#include <initializer_list>

// FT1.2 frames and ASDUs built by hand, for tests that feed the line monitor's parser and
// statistics frames the library would not produce itself. The framing is the engine's
// (Ft12), whose own test pins it down octet by octet.
namespace FrameBuilder {

QByteArray octets(std::initializer_list<int> values);
// 10 C A.. CS 16 with a little-endian link address of addressSize octets.
QByteArray fixed(int control, int address = 1, int addressSize = 2);
// 68 L L 68 C A.. ASDU CS 16; empty if the ASDU does not fit the length octet.
QByteArray variable(int control, const QByteArray& asdu, int address = 1, int addressSize = 2);

// ASDUs in the default layout (2-octet cause and common address 1, 3-octet object addresses).
// C_IC_NA_1 with the given cause octet (P/N and T included), QOI 20.
QByteArray interrogation(int cause);
// `count` single points in one sequence from object address 1001, cause 20.
QByteArray interrogatedPoints(int count);

} // namespace FrameBuilder

#endif // IEC101_TESTS_FRAMEBUILDER_H
