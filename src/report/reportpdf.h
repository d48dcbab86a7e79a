#ifndef IEC101_REPORTPDF_H
#define IEC101_REPORTPDF_H

#include <QString>

namespace iec101 {

// Lays a report's HTML out on A4 pages with QTextDocument and writes them as PDF with
// QPdfWriter: the one renderer behind the view's report and iec101-report. Needs a
// QGuiApplication (the offscreen platform will do).
class ReportPdf
{
public:
    ReportPdf() = delete;

    // Creates or replaces the file; false with a reason naming the file when it cannot
    // be written.
    static bool write(const QString& html, const QString& path, QString* error);
};

} // namespace iec101

#endif // IEC101_REPORTPDF_H
