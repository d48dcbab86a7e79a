#ifndef IEC101_IEC101VIEWPLUGIN_H
#define IEC101_IEC101VIEWPLUGIN_H

#include <QObject>
#include <QtUiPlugin/QDesignerCustomWidgetInterface>

// Offers iec101::Iec101View to Qt Designer's widget box and to QUiLoader, so a host can
// place the view in a form like any other widget.
class Iec101ViewPlugin : public QObject, public QDesignerCustomWidgetInterface
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID "org.qt-project.Qt.QDesignerCustomWidgetInterface")
    Q_INTERFACES(QDesignerCustomWidgetInterface)
public:
    explicit Iec101ViewPlugin(QObject* parent = nullptr);

    QString name() const override;
    QString group() const override;
    QString toolTip() const override;
    QString whatsThis() const override;
    QString includeFile() const override;
    QIcon icon() const override;
    bool isContainer() const override;
    QWidget* createWidget(QWidget* parent) override;
    QString domXml() const override;
};

#endif // IEC101_IEC101VIEWPLUGIN_H
