// A connected pair of virtual serial ports for tests.
//
// PtyPair runs socat with two raw ptys linked at <tmp>/A and <tmp>/B: bytes written to one end
// come out of the other. Bridged over TCP, the two ends are joined through a connection on the
// loopback interface instead, the way a station behind a serial-to-Ethernet converter in raw
// TCP mode is reached: one socat stands for the converter (B, the station's serial port, served
// on a TCP port), a second one is the master's bridge (A, connected to that TCP port).
// kill() ends socat so both links vanish (a port that disappears), and restart() brings a new
// pair up on the same two paths.
#ifndef IEC101_PTYPAIR_H
#define IEC101_PTYPAIR_H

#include <QProcess>
#include <QString>
#include <QTemporaryDir>

class PtyPair
{
public:
    enum class Bridge { Direct, Tcp };

    explicit PtyPair(Bridge bridge = Bridge::Direct);
    ~PtyPair();
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    // Starts socat and waits until both links exist. False (see errorString) on failure.
    bool start(int timeoutMs = 5000);
    // Ends socat and waits until both links are gone.
    void kill();
    // kill() then start() on the same paths.
    bool restart(int timeoutMs = 5000);
    bool isRunning() const;

    // Absolute paths of the two ends (symlinks to /dev/pts/N while running).
    QString pathA() const;
    QString pathB() const;
    // The loopback TCP port of a bridged pair, 0 for a direct one.
    int tcpPort() const { return port; }
    QString errorString() const { return error; }

private:
    bool startSocat(QProcess& process, const QStringList& args, int timeoutMs);

    Bridge bridge;
    QTemporaryDir dir;
    QProcess socat;
    QProcess bridgeSocat; // the master's side of a TCP bridge
    int port = 0;
    QString error;
};

#endif // IEC101_PTYPAIR_H
