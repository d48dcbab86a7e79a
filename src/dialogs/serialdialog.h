#ifndef IEC101_SERIALDIALOG_H
#define IEC101_SERIALDIALOG_H

#include <QDialog>
#include <QList>
#include <QMetaEnum>
#include <QStringList>

#include <functional>

#include "serialparam.h"

class QComboBox;
class QVBoxLayout;

namespace iec101 {

// Picks baud rate, data bits, parity and stop bits from the engine's enumerations,
// keeps the chosen numbers in a SerialParam and persists the key names in the
// settings group named after the parent's object name.
class SerialDialog : public QDialog
{
    Q_OBJECT
public:
    enum StandardComboBoxes { BaudRate = 1, DataBits = 2, Parity = 4, StopBits = 8 };
    Q_ENUM(StandardComboBoxes)

    SerialDialog(int comboBoxes, QWidget* parent);

    // One enumeration per shown combo box, in flag order.
    void setMetaEnumList(const QList<QMetaEnum>& enums);
    SerialParam serialParam() const;
    void saveSettings();

    static QStringList enumKeys(const QMetaEnum& metaEnum);

Q_SIGNALS:
    void metaEnumListSet();

private Q_SLOTS:
    void acceptClicked();
    void rejectClicked();

private:
    void loadSettings();
    void makeLayout();
    void makeComboBox(int flag, QVBoxLayout* labels, QVBoxLayout* combos);
    QString settingsGroup() const;
    qint32* paramField(int flag);
    // Calls visit for each shown combo box, in flag order, with its field of param and its enumeration.
    void forEachShown(const std::function<void(QComboBox*, qint32&, const QMetaEnum&)>& visit);

    SerialParam param;
    int comboBoxes = 0;
    QList<QComboBox*> comboBoxList;
    QStringList settingsKeys;
    QList<QMetaEnum> metaEnums;
};

} // namespace iec101

#endif // IEC101_SERIALDIALOG_H
