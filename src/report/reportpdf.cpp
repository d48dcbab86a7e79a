#include "reportpdf.h"

#include <QFont>
#include <QMarginsF>
#include <QPageLayout>
#include <QPageSize>
#include <QPdfWriter>
#include <QSaveFile>
#include <QTextDocument>

namespace iec101 {

bool ReportPdf::write(const QString& html, const QString& path, QString* error)
{
    // QPdfWriter says nothing about a file it cannot write; the file is ours to check, and
    // replaced only once the whole document is in it.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        *error = QStringLiteral("Cannot write %1: %2").arg(path, file.errorString());
        return false;
    }
    {
        QPdfWriter writer(&file);
        writer.setCreator(QStringLiteral("iec101"));
        writer.setTitle(QStringLiteral("Commissioning report"));
        writer.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait,
                                         QMarginsF(15, 15, 15, 15), QPageLayout::Millimeter));
        QTextDocument document;
        // Without the font's ligatures "off" stays three letters for whoever searches or
        // copies the report's text.
        QFont font = document.defaultFont();
        font.setStyleStrategy(QFont::PreferNoShaping);
        document.setDefaultFont(font);
        document.setHtml(html);
        document.print(&writer);
    }
    if (!file.commit()) {
        *error = QStringLiteral("Cannot write %1: %2").arg(path, file.errorString());
        return false;
    }
    return true;
}

} // namespace iec101
