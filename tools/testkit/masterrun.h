#pragma once

#include <QJsonObject>
#include <QProcess>
#include <QStringList>
#include <QVector>

#include <functional>

// One run of the command-line master as a script runs it: the program started with its
// arguments, its stdout read as JSON lines while it runs (each a record with a UTC time and
// an event; anything else is kept apart as a bad line), and its exit status and stderr
// taken when it ends. A run still going when this is destroyed is killed.
class MasterRun
{
public:
    static constexpr int kTimeoutMs = 90000;

    MasterRun(const QString& program, const QStringList& arguments,
              const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment());
    ~MasterRun();
    MasterRun(const MasterRun&) = delete;
    MasterRun& operator=(const MasterRun&) = delete;

    // The exit status, or -1 when the program did not end in time or crashed.
    int finish();
    // Reads what has arrived; true once a record matches, false when none did before the
    // program ended or the time ran out.
    bool waitFor(const std::function<bool(const QJsonObject&)>& match);
    // The records of one event ("link", "object", "command", "finding"...).
    QVector<QJsonObject> ofEvent(const QString& event) const;
    // The commands the user gave, as "text -> outcome".
    QStringList outcomes() const;

    QProcess process;
    QVector<QJsonObject> records;
    QStringList badLines;
    QString errors;

private:
    void readRecords();

    QByteArray pending;
};
