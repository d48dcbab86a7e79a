// A host that builds its window from a .ui file at run time: QUiLoader, with only the
// installed Designer plugin on its path, must give a real view, not a placeholder.

#include <QFile>
#include <QPushButton>
#include <QTest>
#include <QUiLoader>

#include <memory>

#include <iec101view.h>

class TestDesignerForm : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void formBuildsTheView();
};

void TestDesignerForm::formBuildsTheView()
{
    QUiLoader loader;
    loader.clearPluginPaths();
    loader.addPluginPath(QStringLiteral(IEC101_PLUGIN_DIR));
    QVERIFY(loader.availableWidgets().contains(QStringLiteral("iec101::Iec101View")));

    QFile form(QStringLiteral(IEC101_FORM));
    QVERIFY(form.open(QIODevice::ReadOnly));
    const std::unique_ptr<QWidget> window(loader.load(&form));
    QVERIFY2(window, qPrintable(loader.errorString()));
    auto* view = qobject_cast<iec101::Iec101View*>(window->findChild<QWidget*>(QStringLiteral("iec101View")));
    QVERIFY(view);
    QVERIFY(view->findChild<QPushButton*>(QStringLiteral("connectButton")));
}

QTEST_MAIN(TestDesignerForm)
#include "tst_designerform.moc"
