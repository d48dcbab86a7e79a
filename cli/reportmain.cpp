// iec101-report: writes a commissioning report's HTML (read from stdin) as a PDF file, with
// the renderer the view uses. iec101-master runs it for --report, so that the master
// itself never loads a GUI library; this program needs QtGui and no display (it uses the
// offscreen platform unless QT_QPA_PLATFORM says otherwise).
//
//   iec101-report FILE.pdf < report.html
//
// Exit status 0 when written, 1 when the file cannot be written, 2 on bad usage.

#include <QFile>
#include <QGuiApplication>

#include <cstdio>

#include "reportpdf.h"

namespace {

// Qt's own remarks (a runtime directory it had to make up, fonts it looked for) are no
// news for iec101-master's user; this program says what went wrong itself.
void quietMessages(QtMsgType type, const QMessageLogContext&, const QString& message)
{
    if (type == QtCriticalMsg || type == QtFatalMsg)
        std::fprintf(stderr, "iec101-report: %s\n", qPrintable(message));
}

} // namespace

int main(int argc, char* argv[])
{
    qInstallMessageHandler(quietMessages);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() != 2 || arguments.at(1).startsWith(QLatin1Char('-'))) {
        std::fprintf(stderr, "Usage: iec101-report FILE.pdf < report.html\n");
        return 2;
    }
    QFile input;
    if (!input.open(stdin, QIODevice::ReadOnly)) {
        std::fprintf(stderr, "iec101-report: cannot read the standard input\n");
        return 2;
    }
    const QString html = QString::fromUtf8(input.readAll());
    QString error;
    if (!iec101::ReportPdf::write(html, arguments.at(1), &error)) {
        std::fprintf(stderr, "iec101-report: %s\n", qPrintable(error));
        return 1;
    }
    return 0;
}
