#include "portwatch.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSerialPortInfo>

#include <algorithm>

#ifdef Q_OS_UNIX
#include <sys/stat.h>

namespace iec101 {
#endif

PortWatch::PortWatch(const QString& name) : portName(name)
{
    byPath = QDir::isAbsolutePath(portName);
    if (byPath || portName.isEmpty()) {
        portPath = portName;
        return;
    }
    // A name the system does not list has no location; it stays as typed and fails to open.
    const QString location = QSerialPortInfo(portName).systemLocation();
    portPath = location.isEmpty() ? portName : location;
}

bool PortWatch::Node::operator==(const Node& other) const
{
    return exists == other.exists && device == other.device && inode == other.inode &&
           specialDevice == other.specialDevice;
}

PortWatch::Node PortWatch::currentNode() const
{
    Node node;
#ifdef Q_OS_UNIX
    struct stat status
    {
    };
    if (::stat(QFile::encodeName(portPath).constData(), &status) == 0) {
        node.exists = true;
        node.device = status.st_dev;
        node.inode = status.st_ino;
        node.specialDevice = status.st_rdev;
    }
#endif
    return node;
}

bool PortWatch::listed() const
{
    const auto ports = QSerialPortInfo::availablePorts();
    return std::any_of(ports.cbegin(), ports.cend(),
                       [this](const QSerialPortInfo& info) { return info.portName() == portName; });
}

bool PortWatch::available()
{
    // A pty link or other absolute path is not listed by the system; it counts as
    // present as long as the path exists.
    if (byPath)
        return QFileInfo::exists(portPath);
#ifdef Q_OS_UNIX
    const Node node = currentNode();
    if (checked && node == lastNode)
        return lastListed;
    lastNode = node;
#endif
    lastListed = listed();
    checked = true;
    return lastListed;
}

} // namespace iec101
