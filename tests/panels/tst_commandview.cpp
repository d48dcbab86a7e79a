#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QtTest>

#include <functional>

#include "commandview.h"
#include "iec101network.h"

using Setup = std::function<void(CommandView&)>;
Q_DECLARE_METATYPE(Setup)

namespace {

template <typename W = QWidget> W* child(CommandView& view, const char* name)
{
    W* w = view.findChild<W*>(QLatin1String(name));
    if (!w)
        qFatal("no child %s", name);
    return w;
}

void click(CommandView& view, const char* button)
{
    child<QAbstractButton>(view, button)->click();
}

// Remote mode with control object `object` selected and its state reported.
void remoteWithState(CommandView& view, int object, int state)
{
    view.resetState();
    child<QComboBox>(view, "controlObjectCombo")->setCurrentIndex(object);
    view.checkLocalRemoteSwitch(65537, false);
    view.checkObjectState(196608 + object, state);
}

QImage icon(const QString& name)
{
    return QImage(":/icons/" + name + ".png").convertToFormat(QImage::Format_RGB32);
}

QImage shownIcon(CommandView& view)
{
    return child<QLabel>(view, "objectStateLabel")
        ->pixmap(Qt::ReturnByValue)
        .toImage()
        .convertToFormat(QImage::Format_RGB32);
}

QVector<int> valuesOf(const QList<QVariant>& call)
{
    return call.at(1).value<QVector<int>>();
}

} // namespace

class TestCommandView : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void requests_data();
    void requests();
    void readAddressAndInterrogationCombos();
    void objectState_data();
    void objectState();
    void selectionChange();
    void repeatTimer_data();
    void repeatTimer();
};

void TestCommandView::requests_data()
{
    QTest::addColumn<Setup>("setup");
    QTest::addColumn<QString>("button");
    QTest::addColumn<int>("type");
    QTest::addColumn<QVector<int>>("values");

    const Setup none = [](CommandView&) {
    };
    const auto read = [](const char* text) {
        return Setup([text](CommandView& v) { child<QLineEdit>(v, "readAddressEdit")->setText(text); });
    };
    QTest::newRow("read") << read("65537") << "readSendButton" << int(Command::Read) << QVector<int>{65537};
    QTest::newRow("read garbage") << read("12ab") << "readSendButton" << int(Command::Read)
                                  << QVector<int>{0};
    QTest::newRow("general interrogation")
        << none << "interrogationSendButton" << int(Command::Interrogation) << QVector<int>{20};
    QTest::newRow("counter interrogation")
        << Setup([](CommandView& v) { click(v, "counterInterrogationRadio"); }) << "interrogationSendButton"
        << int(Command::CounterInterrogation) << QVector<int>{5};
    QTest::newRow("single defaults") << none << "singleSendButton" << int(Command::Single)
                                     << QVector<int>{2949121, 1};
    QTest::newRow("single last address off") << Setup([](CommandView& v) {
        child<QComboBox>(v, "singleAddressCombo")->setCurrentIndex(38);
        click(v, "singleOffRadio");
    }) << "singleSendButton" << int(Command::Single)
                                             << QVector<int>{2949159, 0};
    QTest::newRow("open object 3") << Setup([](CommandView& v) { remoteWithState(v, 3, 3); }) << "openButton"
                                   << int(Command::Double) << QVector<int>{3014659, 1};
    QTest::newRow("close object 10") << Setup([](CommandView& v) { remoteWithState(v, 10, 3); })
                                     << "closeButton" << int(Command::Double) << QVector<int>{3014666, 2};
    QTest::newRow("clock sync") << none << "timeSyncSendButton" << int(Command::ClockSync) << QVector<int>{0};
    QTest::newRow("clock sync broadcast")
        << Setup([](CommandView& v) { child<QCheckBox>(v, "broadcastCheckBox")->setChecked(true); })
        << "timeSyncSendButton" << int(Command::ClockSync) << QVector<int>{1};
}

void TestCommandView::requests()
{
    QFETCH(Setup, setup);
    QFETCH(QString, button);
    QFETCH(int, type);
    QFETCH(QVector<int>, values);

    CommandView view;
    const QMetaObject& mo = iec101::Iec101Network::staticMetaObject;
    view.setQccEnum(mo.enumerator(mo.indexOfEnumerator("QCC")));
    view.setQoiEnum(mo.enumerator(mo.indexOfEnumerator("QOI")));
    setup(view);
    QSignalSpy spy(&view, &CommandView::requestSendCommand);
    QTest::mouseClick(child<QPushButton>(view, button.toLatin1().constData()), Qt::LeftButton);
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0).at(0).value<Command::CommandType>(), Command::CommandType(type));
    QCOMPARE(valuesOf(spy.at(0)), values);
}

void TestCommandView::readAddressAndInterrogationCombos()
{
    CommandView view;
    child<QLineEdit>(view, "readAddressEdit")->setText("65537");
    click(view, "readSendButton");
    view.readControlObjectState(); // the panel's own reads leave the operator's address alone
    QCOMPARE(view.takeRequestedReadAddress(), 65537);
    QCOMPARE(view.takeRequestedReadAddress(), 0);

    click(view, "counterInterrogationRadio");
    QVERIFY(child(view, "qccCombo")->isEnabled() && !child(view, "qoiCombo")->isEnabled());
    click(view, "generalInterrogationRadio");
    QVERIFY(child(view, "qoiCombo")->isEnabled() && !child(view, "qccCombo")->isEnabled());
}

void TestCommandView::objectState_data()
{
    QTest::addColumn<bool>("local");
    QTest::addColumn<int>("object");
    QTest::addColumn<int>("address");
    QTest::addColumn<int>("value");
    QTest::addColumn<QString>("icon");
    QTest::addColumn<bool>("open");
    QTest::addColumn<bool>("close");

    // Every case starts from state 2 (closed) reported for the selected object.
    QTest::newRow("off") << false << 2 << 196610 << 1 << "unconnected" << false << true;
    QTest::newRow("on") << false << 2 << 196610 << 2 << "connected" << true << false;
    QTest::newRow("intermediate") << false << 2 << 196610 << 0 << "intermediate" << false << false;
    QTest::newRow("indeterminate") << false << 2 << 196610 << 3 << "bad" << true << true;
    QTest::newRow("value 4 ignored") << false << 2 << 196610 << 4 << "connected" << true << false;
    QTest::newRow("value -1 ignored") << false << 2 << 196610 << -1 << "connected" << true << false;
    QTest::newRow("other object ignored") << false << 2 << 196609 << 1 << "connected" << true << false;
    QTest::newRow("local: icon only") << true << 2 << 196610 << 3 << "bad" << false << false;
    QTest::newRow("<Select> takes 196608") << false << 0 << 196608 << 3 << "bad" << true << true;
}

void TestCommandView::objectState()
{
    QFETCH(bool, local);
    QFETCH(int, object);
    QFETCH(int, address);
    QFETCH(int, value);
    QFETCH(QString, icon);
    QFETCH(bool, open);
    QFETCH(bool, close);

    CommandView view;
    remoteWithState(view, object, 2);
    if (local)
        view.checkLocalRemoteSwitch(65537, true);
    view.checkObjectState(address, value);
    QCOMPARE(shownIcon(view), ::icon(icon));
    QCOMPARE(child(view, "openButton")->isEnabled(), open);
    QCOMPARE(child(view, "closeButton")->isEnabled(), close);
    auto* status = child<QLineEdit>(view, "localRemoteEdit");
    QCOMPARE(status->text(), QString(local ? "Toggle local/remote switch to enable buttons"
                                           : "Remote mode. Select object to control"));
    QCOMPARE(status->styleSheet(), QString("background-color: cyan; color: black;"));
}

void TestCommandView::selectionChange()
{
    CommandView view;
    QSignalSpy spy(&view, &CommandView::requestSendCommand);
    view.resetState();
    view.checkLocalRemoteSwitch(65538, false); // not the switch: ignored
    QCOMPARE(child<QLineEdit>(view, "localRemoteEdit")->text(),
             QString("Unknown local/remote state (try read IOA 65537)"));
    child<QComboBox>(view, "controlObjectCombo")->setCurrentIndex(2);
    view.checkLocalRemoteSwitch(65537, false); // entering remote asks for the object's state again
    QCOMPARE(spy.count(), 2);
    QCOMPARE(valuesOf(spy.at(1)), QVector<int>{196610});
    QVERIFY(!child(view, "openButton")->isEnabled() && !child(view, "closeButton")->isEnabled());
    view.checkObjectState(196610, 2);

    // Asks for object 5 and shows object 2 until the answer comes.
    child<QComboBox>(view, "controlObjectCombo")->setCurrentIndex(5);
    QCOMPARE(spy.count(), 3);
    QCOMPARE(valuesOf(spy.at(2)), QVector<int>{196613});
    QCOMPARE(shownIcon(view), icon("connected"));
    QVERIFY(child(view, "openButton")->isEnabled());

    child<QComboBox>(view, "controlObjectCombo")->setCurrentIndex(0);
    QCOMPARE(spy.count(), 3);
    QCOMPARE(shownIcon(view), icon("unconnected"));
    QVERIFY(!child(view, "openButton")->isEnabled() && !child(view, "closeButton")->isEnabled());
}

void TestCommandView::repeatTimer_data()
{
    QTest::addColumn<bool>("repeat");
    QTest::addColumn<QString>("minutes");
    QTest::addColumn<int>("interval"); // 0: a single request, no repeat

    QTest::newRow("5 minutes") << true << "5" << 300000;
    QTest::newRow("60 minutes") << true << "60" << 3600000;
    QTest::newRow("empty") << true << "" << 0;
    QTest::newRow("zero") << true << "0" << 0;
    QTest::newRow("not ticked") << false << "5" << 0;
}

void TestCommandView::repeatTimer()
{
    QFETCH(bool, repeat);
    QFETCH(QString, minutes);
    QFETCH(int, interval);

    CommandView view;
    child<QCheckBox>(view, "repeatCheckBox")->setChecked(repeat);
    child<QLineEdit>(view, "repeatMinutesEdit")->setText(minutes);
    QSignalSpy spy(&view, &CommandView::requestSendCommand);
    auto* button = child<QPushButton>(view, "timeSyncSendButton");
    button->click();
    QCOMPARE(spy.count(), 1);
    QCOMPARE(view.repeatTimer.isActive(), interval > 0);
    QCOMPARE(button->text(), QString(interval > 0 ? "Stop" : "Send"));
    if (interval == 0)
        return;
    QCOMPARE(view.repeatTimer.interval(), interval);
    QVERIFY(!view.repeatTimer.isSingleShot());

    // Each tick sends again, reading "Broadcast" at that moment.
    child<QCheckBox>(view, "broadcastCheckBox")->setChecked(true);
    QVERIFY(QMetaObject::invokeMethod(&view.repeatTimer, "timeout"));
    QCOMPARE(spy.count(), 2);
    QCOMPARE(valuesOf(spy.at(1)), QVector<int>{1});

    button->click(); // "Stop"
    QCOMPARE(spy.count(), 2);
    QVERIFY(!view.repeatTimer.isActive());
    QCOMPARE(button->text(), QString("Send"));

    button->click();
    view.resetState();
    QVERIFY(!view.repeatTimer.isActive());
    QCOMPARE(button->text(), QString("Send"));
}

QTEST_MAIN(TestCommandView)
#include "tst_commandview.moc"
