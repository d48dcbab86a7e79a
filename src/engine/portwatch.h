#ifndef IEC101_PORTWATCH_H
#define IEC101_PORTWATCH_H

#include <QString>

namespace iec101 {

// Where the serial port an operator picked lives, and whether it is still there.
//
// A name from the system's port list (ttyUSB0, COM12) opens at the system location Qt
// reports for it (/dev/ttyUSB0, \\.\COM12); an absolute path (a pty link) opens as
// given. The engine asks available() on every polling tick, so the check is cheap:
// an absolute path is one existence check, and a listed port one look at its device
// node, with the system's port list (which costs far more than the rest of an idle
// tick) asked again only when that node appeared, vanished or was replaced. Where
// there are no device nodes to look at, the list is asked each time.
class PortWatch
{
public:
    explicit PortWatch(const QString& portName = QString());

    QString name() const { return portName; }
    // What to open: the system location of a listed port, an absolute path as given,
    // and an unknown name as it is (it will not open).
    QString path() const { return portPath; }
    bool available();

private:
    struct Node
    {
        bool exists = false;
        quint64 device = 0;
        quint64 inode = 0;
        quint64 specialDevice = 0;
        bool operator==(const Node& other) const;
    };
    Node currentNode() const;
    bool listed() const;

    QString portName;
    QString portPath;
    bool byPath = false;
    bool checked = false;
    Node lastNode;
    bool lastListed = false;
};

} // namespace iec101

#endif // IEC101_PORTWATCH_H
