#include <QButtonGroup>
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

class TestCommandView : public QObject
{
    Q_OBJECT
private:
    template <typename W> static W* child(CommandView& view, const char* name)
    {
        W* w = view.findChild<W*>(QLatin1String(name));
        if (!w)
            qFatal("no child %s", name);
        return w;
    }
    static void prepare(CommandView& view)
    {
        const QMetaObject& mo = iec101::Iec101Network::staticMetaObject;
        view.setQccEnum(mo.enumerator(mo.indexOfEnumerator("QCC")));
        view.setQoiEnum(mo.enumerator(mo.indexOfEnumerator("QOI")));
    }
    // Remote mode with control object `object` selected and its state reported.
    static void remoteWithState(CommandView& view, int object, int state)
    {
        view.resetState();
        child<QComboBox>(view, "controlObjectCombo")->setCurrentIndex(object);
        view.checkLocalRemoteSwitch(CommandView::LocalRemoteAddress, false);
        view.checkObjectState(CommandView::ObjectStateBaseAddress + object, state);
    }
    static QImage iconOf(CommandView& view)
    {
        return child<QLabel>(view, "objectStateLabel")
            ->pixmap(Qt::ReturnByValue)
            .toImage()
            .convertToFormat(QImage::Format_RGB32);
    }
    static QImage icon(const QString& name)
    {
        return QImage(QStringLiteral(":/icons/%1.png").arg(name)).convertToFormat(QImage::Format_RGB32);
    }

private Q_SLOTS:
    void requests_data();
    void requests();
    void interrogationTypeSwitchesCombo();
    void requestedReadAddressIsTakenOnce();
    void localRemoteStates_data();
    void localRemoteStates();
    void objectState_data();
    void objectState();
    void selectionChange();
    void repeatTimer_data();
    void repeatTimer();
    void repeatStopsOnClickAndReset();
};

void TestCommandView::requests_data()
{
    QTest::addColumn<Setup>("setup");
    QTest::addColumn<QString>("button");
    QTest::addColumn<int>("type");
    QTest::addColumn<QVector<int>>("values");

    const Setup none = [](CommandView&) {
    };
    auto readOf = [](const QString& text) {
        return Setup([text](CommandView& v) { child<QLineEdit>(v, "readAddressEdit")->setText(text); });
    };
    QTest::newRow("read") << readOf("65537") << "readSendButton" << int(Command::Read) << QVector<int>{65537};
    QTest::newRow("read empty") << readOf("") << "readSendButton" << int(Command::Read) << QVector<int>{0};
    QTest::newRow("read garbage") << readOf("12ab") << "readSendButton" << int(Command::Read)
                                  << QVector<int>{0};
    QTest::newRow("read out of int range")
        << readOf("99999999999") << "readSendButton" << int(Command::Read) << QVector<int>{0};
    QTest::newRow("general interrogation")
        << none << "interrogationSendButton" << int(Command::Interrogation) << QVector<int>{20};
    QTest::newRow("group 16") << Setup([](CommandView& v) {
        child<QComboBox>(v, "qoiCombo")->setCurrentIndex(16);
    }) << "interrogationSendButton"
                              << int(Command::Interrogation) << QVector<int>{36};
    QTest::newRow("counter interrogation")
        << Setup([](CommandView& v) { child<QRadioButton>(v, "counterInterrogationRadio")->click(); })
        << "interrogationSendButton" << int(Command::CounterInterrogation) << QVector<int>{5};
    QTest::newRow("counter group 2") << Setup([](CommandView& v) {
        child<QRadioButton>(v, "counterInterrogationRadio")->click();
        child<QComboBox>(v, "qccCombo")->setCurrentIndex(1);
    }) << "interrogationSendButton" << int(Command::CounterInterrogation)
                                     << QVector<int>{2};
    QTest::newRow("single defaults") << none << "singleSendButton" << int(Command::Single)
                                     << QVector<int>{2949121, 1};
    QTest::newRow("single last address off") << Setup([](CommandView& v) {
        child<QComboBox>(v, "singleAddressCombo")->setCurrentIndex(38);
        child<QRadioButton>(v, "singleOffRadio")->click();
    }) << "singleSendButton" << int(Command::Single)
                                             << QVector<int>{2949159, 0};
    QTest::newRow("open object 3") << Setup([](CommandView& v) { remoteWithState(v, 3, 3); }) << "openButton"
                                   << int(Command::Double) << QVector<int>{3014659, 1};
    QTest::newRow("close object 3") << Setup([](CommandView& v) { remoteWithState(v, 3, 3); })
                                    << "closeButton" << int(Command::Double) << QVector<int>{3014659, 2};
    QTest::newRow("close object 10") << Setup([](CommandView& v) { remoteWithState(v, 10, 1); })
                                     << "closeButton" << int(Command::Double) << QVector<int>{3014666, 2};
    QTest::newRow("clock sync") << none << "timeSyncSendButton" << int(Command::ClockSync) << QVector<int>{0};
    QTest::newRow("clock sync broadcast")
        << Setup([](CommandView& v) { v.findChild<QCheckBox*>("broadcastCheckBox")->setChecked(true); })
        << "timeSyncSendButton" << int(Command::ClockSync) << QVector<int>{1};
}

void TestCommandView::requests()
{
    QFETCH(Setup, setup);
    QFETCH(QString, button);
    QFETCH(int, type);
    QFETCH(QVector<int>, values);

    CommandView view;
    prepare(view);
    setup(view);
    QSignalSpy spy(&view, &CommandView::requestSendCommand);
    QTest::mouseClick(child<QPushButton>(view, button.toLatin1().constData()), Qt::LeftButton);
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0).at(0).value<Command::CommandType>(), Command::CommandType(type));
    QCOMPARE(spy.at(0).at(1).value<QVector<int>>(), values);
}

void TestCommandView::interrogationTypeSwitchesCombo()
{
    CommandView view;
    prepare(view);
    auto* qoi = child<QComboBox>(view, "qoiCombo");
    auto* qcc = child<QComboBox>(view, "qccCombo");
    child<QRadioButton>(view, "counterInterrogationRadio")->click();
    QVERIFY(qcc->isEnabled() && !qoi->isEnabled());
    child<QRadioButton>(view, "generalInterrogationRadio")->click();
    QVERIFY(qoi->isEnabled() && !qcc->isEnabled());
}

void TestCommandView::requestedReadAddressIsTakenOnce()
{
    CommandView view;
    child<QLineEdit>(view, "readAddressEdit")->setText("65537");
    QTest::mouseClick(child<QPushButton>(view, "readSendButton"), Qt::LeftButton);
    // Reads the panel sends by itself leave the operator's address alone.
    view.readControlObjectState();
    QCOMPARE(view.takeRequestedReadAddress(), 65537);
    QCOMPARE(view.takeRequestedReadAddress(), 0);
}

void TestCommandView::localRemoteStates_data()
{
    QTest::addColumn<Setup>("setup");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QVector<int>>("reads"); // Read requests emitted

    const Setup reset = [](CommandView& v) {
        v.resetState();
    };
    QTest::newRow("reset") << reset << "Unknown local/remote state (try read IOA 65537)" << QVector<int>{};
    QTest::newRow("local") << Setup([](CommandView& v) {
        v.resetState();
        v.checkLocalRemoteSwitch(65537, true);
    }) << "Toggle local/remote switch to enable buttons"
                           << QVector<int>{};
    QTest::newRow("remote, object 2") << Setup([](CommandView& v) {
        v.resetState();
        child<QComboBox>(v, "controlObjectCombo")->setCurrentIndex(2);
        v.checkLocalRemoteSwitch(65537, false);
    }) << "Remote mode. Select object to control"
                                      << QVector<int>{196610, 196610};
    QTest::newRow("other address ignored") << Setup([](CommandView& v) {
        v.resetState();
        v.checkLocalRemoteSwitch(65538, false);
    }) << "Unknown local/remote state (try read IOA 65537)"
                                           << QVector<int>{};
}

void TestCommandView::localRemoteStates()
{
    QFETCH(Setup, setup);
    QFETCH(QString, text);
    QFETCH(QVector<int>, reads);

    CommandView view;
    QSignalSpy spy(&view, &CommandView::requestSendCommand);
    setup(view);
    auto* edit = child<QLineEdit>(view, "localRemoteEdit");
    QCOMPARE(edit->text(), text);
    QCOMPARE(edit->styleSheet(), QString("background-color: cyan; color: black;"));
    QVERIFY(!child<QPushButton>(view, "openButton")->isEnabled());
    QVERIFY(!child<QPushButton>(view, "closeButton")->isEnabled());
    QVector<int> emitted;
    for (const auto& call : spy) {
        QCOMPARE(call.at(0).value<Command::CommandType>(), Command::Read);
        emitted << call.at(1).value<QVector<int>>();
    }
    QCOMPARE(emitted, reads);
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
    QCOMPARE(iconOf(view), TestCommandView::icon(icon));
    QCOMPARE(child<QPushButton>(view, "openButton")->isEnabled(), open);
    QCOMPARE(child<QPushButton>(view, "closeButton")->isEnabled(), close);
}

void TestCommandView::selectionChange()
{
    CommandView view;
    remoteWithState(view, 2, 2);
    auto* combo = child<QComboBox>(view, "controlObjectCombo");
    QSignalSpy spy(&view, &CommandView::requestSendCommand);

    combo->setCurrentIndex(5); // asks for object 5, shows object 2 until it answers
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0).at(1).value<QVector<int>>(), QVector<int>{196613});
    QCOMPARE(iconOf(view), icon("connected"));
    QVERIFY(child<QPushButton>(view, "openButton")->isEnabled());

    combo->setCurrentIndex(0);
    QCOMPARE(spy.count(), 1);
    QCOMPARE(iconOf(view), icon("unconnected"));
    QVERIFY(!child<QPushButton>(view, "openButton")->isEnabled());
    QVERIFY(!child<QPushButton>(view, "closeButton")->isEnabled());
}

void TestCommandView::repeatTimer_data()
{
    QTest::addColumn<bool>("repeat");
    QTest::addColumn<QString>("minutes");
    QTest::addColumn<int>("interval"); // 0: single request, no repeat

    QTest::newRow("5 minutes") << true << "5" << 300000;
    QTest::newRow("60 minutes") << true << "60" << 3600000;
    QTest::newRow("1 minute") << true << "1" << 60000;
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
    view.findChild<QCheckBox*>("repeatCheckBox")->setChecked(repeat);
    view.findChild<QLineEdit*>("repeatMinutesEdit")->setText(minutes);
    QSignalSpy spy(&view, &CommandView::requestSendCommand);
    auto* button = child<QPushButton>(view, "timeSyncSendButton");
    QTest::mouseClick(button, Qt::LeftButton);
    QCOMPARE(spy.count(), 1);
    QCOMPARE(view.repeatTimer.isActive(), interval > 0);
    QCOMPARE(button->text(), interval > 0 ? QString("Stop") : QString("Send"));
    if (interval == 0)
        return;
    QCOMPARE(view.repeatTimer.interval(), interval);
    QVERIFY(!view.repeatTimer.isSingleShot());

    // Each tick sends again and reads "Broadcast" at that moment.
    view.findChild<QCheckBox*>("broadcastCheckBox")->setChecked(true);
    QVERIFY(QMetaObject::invokeMethod(&view.repeatTimer, "timeout"));
    QCOMPARE(spy.count(), 2);
    QCOMPARE(spy.at(1).at(0).value<Command::CommandType>(), Command::ClockSync);
    QCOMPARE(spy.at(1).at(1).value<QVector<int>>(), QVector<int>{1});
}

void TestCommandView::repeatStopsOnClickAndReset()
{
    CommandView view;
    view.findChild<QCheckBox*>("repeatCheckBox")->setChecked(true);
    view.findChild<QLineEdit*>("repeatMinutesEdit")->setText("5");
    auto* button = child<QPushButton>(view, "timeSyncSendButton");
    QSignalSpy spy(&view, &CommandView::requestSendCommand);

    QTest::mouseClick(button, Qt::LeftButton);
    QTest::mouseClick(button, Qt::LeftButton); // "Stop"
    QCOMPARE(spy.count(), 1);
    QVERIFY(!view.repeatTimer.isActive());
    QCOMPARE(button->text(), QString("Send"));

    QTest::mouseClick(button, Qt::LeftButton);
    QVERIFY(view.repeatTimer.isActive());
    view.resetState();
    QVERIFY(!view.repeatTimer.isActive());
    QCOMPARE(button->text(), QString("Send"));
    QCOMPARE(child<QLabel>(view, "syncStatusLabel")->text(), QString("Never sync"));
}

QTEST_MAIN(TestCommandView)
#include "tst_commandview.moc"
