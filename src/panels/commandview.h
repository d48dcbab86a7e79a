#ifndef IEC101_COMMANDVIEW_H
#define IEC101_COMMANDVIEW_H

#include <QCheckBox>
#include <QLineEdit>
#include <QMetaEnum>
#include <QTimer>
#include <QVector>
#include <QWidget>

#include "command.h"
#include "infoobject.h"

class QButtonGroup;
class QComboBox;
class QGroupBox;
class QLabel;
class QPushButton;
class QRadioButton;

class TestCommandView;

namespace iec101 {

// The operator's command console: read, interrogation, single and double commands
// and clock synchronisation. Turns clicks into requestSendCommand() and derives the
// station's local/remote mode and the selected switching device's state from the
// answers the main view feeds back, which gate the Open and Close buttons.
class CommandView : public QWidget
{
    Q_OBJECT
public:
    explicit CommandView(QWidget* parent = nullptr);

    void setQccEnum(QMetaEnum metaEnum);
    void setQoiEnum(QMetaEnum metaEnum);
    // Hands out the address of the last Read sent from the Read group, once.
    int takeRequestedReadAddress();
    void readControlObjectState();
    // Back to "mode unknown", no object selected, no clock sync, no repeat.
    void resetState();

Q_SIGNALS:
    void requestSendCommand(Command::CommandType commandType, QVector<int> values);

public Q_SLOTS:
    void checkLocalRemoteSwitch(int address, bool value);
    void checkObjectState(int address, int value);
    void timeSyncReady(InfoObject object);

private Q_SLOTS:
    void interrogationTypeButtonGroupClicked(int index);
    void readCmdButtonClicked();
    void interrogationCmdButtonClicked();
    void singleCmdButtonClicked();
    void doubleCmdOpenButtonClicked();
    void doubleCmdCloseButtonClicked();
    void timeSyncClicked();
    void controlObjectChanged();

private:
    friend class ::TestCommandView;

    void makeReadGroup();
    void makeInterrogationGroup();
    void makeSingleGroup();
    void makeDoubleGroup();
    void makeTimeSyncGroup();
    void sendTimeSync();
    void setLocalMode(bool local);
    void showObjectState(int value);

    QMetaEnum qccEnum;
    QMetaEnum qoiEnum;
    QTimer repeatTimer;

    QGroupBox* readGroup = nullptr;
    QLineEdit* readAddressEdit = nullptr;
    QPushButton* readSendButton = nullptr;
    int requestedReadAddress = 0;

    QGroupBox* interrogationGroup = nullptr;
    QButtonGroup* interrogationTypeGroup = nullptr;
    QRadioButton* generalInterrogationRadio = nullptr;
    QRadioButton* counterInterrogationRadio = nullptr;
    QComboBox* qccCombo = nullptr;
    QComboBox* qoiCombo = nullptr;
    QPushButton* interrogationSendButton = nullptr;

    QGroupBox* singleGroup = nullptr;
    QComboBox* singleAddressCombo = nullptr;
    QButtonGroup* singleValueGroup = nullptr;
    QRadioButton* singleOnRadio = nullptr;
    QRadioButton* singleOffRadio = nullptr;
    QPushButton* singleSendButton = nullptr;

    QGroupBox* doubleGroup = nullptr;
    QComboBox* controlObjectCombo = nullptr;
    QPushButton* openButton = nullptr;
    QPushButton* closeButton = nullptr;
    QLabel* objectStateLabel = nullptr;
    bool localMode = true;
    QLineEdit* localRemoteEdit = nullptr;

    QGroupBox* timeSyncGroup = nullptr;
    QPushButton* timeSyncSendButton = nullptr;
    QLabel* syncStatusLabel = nullptr;
    QCheckBox repeatCheckBox;
    QCheckBox broadcastCheckBox;
    QLineEdit repeatMinutesEdit;
};

} // namespace iec101

#endif // IEC101_COMMANDVIEW_H
