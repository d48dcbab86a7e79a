#ifndef IEC101_CSVEXPORT_H
#define IEC101_CSVEXPORT_H

#include <QString>

#include <functional>

class QIODevice;
class QWidget;

namespace iec101 {

// Writing a panel's table to a CSV file: to a path a host names (the view's export
// functions), or to a file the operator picks (the panels' "Export CSV..." entries).
namespace CsvExport {

// Writes a whole table into a device open for writing; false with errorString set
// when the device cannot take it.
using Writer = std::function<bool(QIODevice* device, QString* errorString)>;

// Creates or replaces the file at path with what write produces. False, with a
// message naming the file and the reason, when it cannot be opened or written.
bool toFile(const QString& path, const Writer& write, QString* errorString);

// Asks for a file in a save dialog proposing suggestedName, writes it, and says in a
// message box why when it could not be written.
void toChosenFile(QWidget* parent, const QString& suggestedName, const Writer& write);

} // namespace CsvExport

} // namespace iec101

#endif // IEC101_CSVEXPORT_H
