// A connected pair of pseudo-terminals for serial-line tests.
//
// PtyPair runs socat with two raw ptys linked at <tmp>/A and <tmp>/B: bytes written to one end
// come out of the other. kill() ends socat so both links vanish (a port that disappears), and
// restart() brings a new pair up on the same two paths.
#pragma once

#include <QProcess>
#include <QString>
#include <QTemporaryDir>

class PtyPair
{
public:
    PtyPair();
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
    QString errorString() const { return m_error; }

private:
    QTemporaryDir m_dir;
    QProcess m_socat;
    QString m_error;
};
