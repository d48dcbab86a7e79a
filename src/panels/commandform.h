#ifndef IEC101_COMMANDFORM_H
#define IEC101_COMMANDFORM_H

#include <QDateTime>
#include <QSet>
#include <QString>
#include <QVector>
#include <QWidget>

#include "commandoutcome.h"
#include "commandrequest.h"
#include "iec101view_export.h"

class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QIODevice;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;
class QStackedWidget;
class QTimer;
class QTreeWidget;

namespace iec101 {

// A form for any command the engine sends: the type, the object address, a value editor
// that fits the type, its qualifier, select or direct execute, with or without time tag;
// the outcome of each command with its cause, a history of the last ones that exports as
// CSV, and an optional periodic test command. Iec101View builds it, sends what it asks
// for and hands it the outcomes of its own requests; a host places it where it likes
// (see Iec101View::commandForm()).
class IEC101VIEW_EXPORT CommandForm : public QWidget
{
    Q_OBJECT
public:
    // Entries the history keeps, newest first.
    static constexpr int kHistoryLimit = 200;

    explicit CommandForm(QWidget* parent = nullptr);
    ~CommandForm() override;

    // The request the form shows, for an execution of its own choice.
    CommandRequest request(CommandRequest::Execution execution) const;
    // Whether the request with this id came from this form.
    bool isOwnRequest(quint64 id) const;
    // Whether clock syncs (the command panel's included) should carry the line delay the
    // last delay acquisition measured.
    bool addsDelayToClockSync() const;
    // Whether a line is open: the periodic test command waits for one.
    void setLineOpen(bool open) { lineOpen = open; }

    // The history as CSV: time, command, outcome, cause, round trip in ms, line delay in ms.
    bool exportHistory(QIODevice* device, QString* errorString) const;
    int historySize() const { return history.size(); }

public Q_SLOTS:
    // The outcome of a request of this form (others are ignored).
    void commandFinished(const iec101::CommandRequest& request, const iec101::CommandOutcome& outcome);
    void sendCommand();
    void deactivateSelect();
    void sendTestCommand();

Q_SIGNALS:
    void sendRequested(const iec101::CommandRequest& request);
    // For the host's status bar: a periodic test command that went unanswered.
    void statusMessage(const QString& text);

private:
    bool lineOpen = false;
    struct Entry
    {
        QDateTime time;
        QString command;
        QString outcome;
        int cause = 0;
        qint64 roundTripMs = -1;
        qint64 delayMs = -1;
    };

    void buildTypes();
    void typeChanged();
    // The request's id, or 0 when it is not fit to send.
    quint64 send(CommandRequest request);
    void addEntry(const Entry& entry);
    void periodicTestToggled(bool on);
    int currentType() const;

    QComboBox* typeComboBox = nullptr;
    QCheckBox* timeTagCheckBox = nullptr;
    QSpinBox* addressSpinBox = nullptr;
    QStackedWidget* valueStack = nullptr;
    QWidget* noValuePage = nullptr;
    QComboBox* onOffComboBox = nullptr;
    QComboBox* doubleStateComboBox = nullptr;
    QComboBox* directionComboBox = nullptr;
    QDoubleSpinBox* normalizedSpinBox = nullptr;
    QSpinBox* scaledSpinBox = nullptr;
    QLineEdit* floatEdit = nullptr;
    QLineEdit* bitstringEdit = nullptr;
    QLabel* qualifierLabel = nullptr;
    QSpinBox* qualifierSpinBox = nullptr;
    QLabel* qualifierHint = nullptr;
    QComboBox* executionComboBox = nullptr;
    QPushButton* sendButton = nullptr;
    QPushButton* deactivateButton = nullptr;
    QLabel* outcomeLabel = nullptr;
    QCheckBox* addDelayCheckBox = nullptr;
    QTreeWidget* historyView = nullptr;
    QPushButton* exportButton = nullptr;
    QCheckBox* periodicTestCheckBox = nullptr;
    QSpinBox* testIntervalSpinBox = nullptr;
    QTimer* testTimer = nullptr;

    QString qualifierKind; // QU, QL, QRP, KPA, QPA: what the spin box holds now
    QSet<quint64> ownIds;
    quint64 testId = 0; // the periodic test command in flight
    quint64 nextId = 0;
    QVector<Entry> history;
};

} // namespace iec101

#endif // IEC101_COMMANDFORM_H
