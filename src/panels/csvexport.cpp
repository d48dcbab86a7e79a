#include "csvexport.h"

#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QMessageBox>

namespace iec101 {

namespace CsvExport {

bool toFile(const QString& path, const Writer& write, QString* errorString)
{
    QFile file(path);
    QString reason;
    bool written = false;
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        reason = file.errorString();
    } else {
        written = write(&file, &reason) && file.flush();
        // The file's own words say more than the writer's ("No space left on device").
        if (file.error() != QFileDevice::NoError) {
            written = false;
            reason = file.errorString();
        }
    }
    if (!written && errorString)
        *errorString = QStringLiteral("Cannot write %1: %2").arg(QDir::toNativeSeparators(path), reason);
    return written;
}

void toChosenFile(QWidget* parent, const QString& suggestedName, const Writer& write)
{
    QFileDialog dialog(parent, QObject::tr("Export CSV"));
    dialog.setObjectName(QStringLiteral("exportDialog"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setNameFilter(QObject::tr("CSV files (*.csv)"));
    dialog.setDefaultSuffix(QStringLiteral("csv"));
    dialog.selectFile(suggestedName);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return;
    QString error;
    if (!toFile(dialog.selectedFiles().constFirst(), write, &error))
        QMessageBox::warning(parent, QObject::tr("Export CSV"), error);
}

} // namespace CsvExport

} // namespace iec101
