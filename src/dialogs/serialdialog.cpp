#include "serialdialog.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QListView>
#include <QSettings>
#include <QVBoxLayout>

namespace iec101 {

namespace {

// Flag order of the combo boxes, their settings keys and fields of the record.
const SerialDialog::StandardComboBoxes kFlags[] = {SerialDialog::BaudRate, SerialDialog::DataBits,
                                                   SerialDialog::Parity, SerialDialog::StopBits};

} // namespace

SerialDialog::SerialDialog(int shownBoxes, QWidget* parent) : QDialog(parent), comboBoxes(shownBoxes)
{
    setObjectName(QStringLiteral("serialDialog"));
    setWindowTitle(tr("Serial parameter"));
    makeLayout();
    connect(this, &SerialDialog::metaEnumListSet, this, &SerialDialog::loadSettings);
    resize(300, height());
}

QStringList SerialDialog::enumKeys(const QMetaEnum& metaEnum)
{
    QStringList keys;
    for (int i = 0; i < metaEnum.keyCount(); ++i)
        keys << QLatin1String(metaEnum.key(i));
    return keys;
}

void SerialDialog::makeComboBox(int flag, QVBoxLayout* labels, QVBoxLayout* combos)
{
    if (!(comboBoxes & flag))
        return;
    const QString key = QLatin1String(QMetaEnum::fromType<StandardComboBoxes>().valueToKey(flag));
    settingsKeys << key;
    labels->addWidget(new QLabel(tr(key.toLatin1().constData()) + QStringLiteral(": ")));
    auto* combo = new QComboBox;
    combo->setObjectName(key); // "BaudRate", "DataBits", "Parity", "StopBits"
    combo->setView(new QListView(combo));
    comboBoxList << combo;
    combos->addWidget(combo);
}

void SerialDialog::makeLayout()
{
    auto* labels = new QVBoxLayout;
    auto* combos = new QVBoxLayout;
    for (StandardComboBoxes flag : kFlags)
        makeComboBox(flag, labels, combos);

    auto* buttonBox = new QDialogButtonBox(QDialogButtonBox::Save | QDialogButtonBox::Cancel);
    buttonBox->setObjectName(QStringLiteral("buttonBox"));

    auto* grid = new QGridLayout(this);
    grid->addLayout(labels, 0, 0);
    grid->addLayout(combos, 0, 1);
    grid->addWidget(buttonBox, 1, 0, 1, 2);
    grid->setSpacing(20);

    connect(buttonBox, &QDialogButtonBox::accepted, this, &SerialDialog::acceptClicked);
    connect(buttonBox, &QDialogButtonBox::rejected, this, &SerialDialog::rejectClicked);
}

void SerialDialog::setMetaEnumList(const QList<QMetaEnum>& enums)
{
    metaEnums = enums;
    // A short list leaves the remaining combo boxes empty rather than reading past its end.
    for (int k = 0; k < comboBoxList.size() && k < metaEnums.size(); ++k)
        comboBoxList[k]->insertItems(comboBoxList[k]->count(), enumKeys(metaEnums[k]));
    Q_EMIT metaEnumListSet();
}

SerialParam SerialDialog::serialParam() const
{
    return param;
}

QString SerialDialog::settingsGroup() const
{
    return parentWidget() ? parentWidget()->objectName() : QString();
}

qint32* SerialDialog::paramField(int flag)
{
    switch (flag) {
    case BaudRate:
        return &param.baudRate;
    case DataBits:
        return &param.dataBits;
    case Parity:
        return &param.parity;
    case StopBits:
        return &param.stopBits;
    }
    return nullptr;
}

void SerialDialog::loadSettings()
{
    QSettings settings;
    settings.beginGroup(settingsGroup());
    for (int k = 0; k < comboBoxList.size(); ++k)
        comboBoxList[k]->setCurrentText(settings.value(settingsKeys[k]).toString());
    acceptClicked();
    settings.endGroup();
}

void SerialDialog::saveSettings()
{
    QSettings settings;
    settings.beginGroup(settingsGroup());
    for (int k = 0; k < comboBoxList.size(); ++k)
        settings.setValue(settingsKeys[k], comboBoxList[k]->currentText());
    settings.endGroup();
}

void SerialDialog::forEachShown(const std::function<void(QComboBox*, qint32&, const QMetaEnum&)>& visit)
{
    int k = 0;
    for (StandardComboBoxes flag : kFlags) {
        if (!(comboBoxes & flag))
            continue;
        visit(comboBoxList[k], *paramField(flag), k < metaEnums.size() ? metaEnums[k] : QMetaEnum());
        ++k;
    }
}

void SerialDialog::acceptClicked()
{
    // A text that is no key of the enumeration gives -1, as QMetaEnum reports it.
    forEachShown([](QComboBox* combo, qint32& field, const QMetaEnum& metaEnum) {
        field = metaEnum.keyToValue(combo->currentText().toLatin1().constData());
    });
    accept();
}

void SerialDialog::rejectClicked()
{
    forEachShown([](QComboBox* combo, qint32& field, const QMetaEnum& metaEnum) {
        combo->setCurrentText(QLatin1String(metaEnum.valueToKey(field)));
    });
    reject();
}

} // namespace iec101
