#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QtTest>

#include "commandview.h"
#include "iec101network.h"

using namespace iec101;

namespace {

template <typename W = QWidget> W* child(CommandView& view, const char* name)
{
    W* w = view.findChild<W*>(QLatin1String(name));
    if (!w)
        qFatal("no child %s", name);
    return w;
}

// Steps "name=value" set a line edit's text or a combo box's index; "name" clicks a button.
void apply(CommandView& view, const QString& steps)
{
    for (const QString& step : steps.split(' ', Qt::SkipEmptyParts)) {
        QWidget* w = child(view, qPrintable(step.section('=', 0, 0)));
        if (auto* edit = qobject_cast<QLineEdit*>(w))
            edit->setText(step.section('=', 1));
        else if (auto* combo = qobject_cast<QComboBox*>(w))
            combo->setCurrentIndex(step.section('=', 1).toInt());
        else
            static_cast<QAbstractButton*>(w)->click();
    }
}

// The object-state icon's name and the enabled buttons, e.g. "bad open close".
QString shown(CommandView& view)
{
    const QImage icon = child<QLabel>(view, "objectStateLabel")->pixmap(Qt::ReturnByValue).toImage();
    QString text = "?";
    for (const char* name : {"connected", "unconnected", "intermediate", "bad"}) {
        const QImage expected(QString(":/icons/%1.png").arg(name));
        if (icon.convertToFormat(QImage::Format_RGB32) == expected.convertToFormat(QImage::Format_RGB32))
            text = name;
    }
    return text + (child(view, "openButton")->isEnabled() ? " open" : "") +
           (child(view, "closeButton")->isEnabled() ? " close" : "");
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
    void objectState_data();
    void objectState();
    void selectionChange();
    void repeatTimer();
};

void TestCommandView::requests_data()
{
    QTest::addColumn<QString>("steps"); // the last step clicks the button that sends
    QTest::addColumn<Command::CommandType>("type");
    QTest::addColumn<QVector<int>>("values");

    QTest::newRow("read") << "readAddressEdit=65537 readSendButton" << Command::Read << QVector<int>{65537};
    QTest::newRow("read garbage") << "readAddressEdit=12ab readSendButton" << Command::Read
                                  << QVector<int>{0};
    QTest::newRow("general interrogation")
        << "interrogationSendButton" << Command::Interrogation << QVector<int>{20};
    QTest::newRow("counter interrogation") << "counterInterrogationRadio interrogationSendButton"
                                           << Command::CounterInterrogation << QVector<int>{5};
    QTest::newRow("single defaults") << "singleSendButton" << Command::Single << QVector<int>{2949121, 1};
    QTest::newRow("single last address off") << "singleAddressCombo=38 singleOffRadio singleSendButton"
                                             << Command::Single << QVector<int>{2949159, 0};
    QTest::newRow("open object 3") << "controlObjectCombo=3 openButton" << Command::Double
                                   << QVector<int>{3014659, 1};
    QTest::newRow("close object 10") << "controlObjectCombo=10 closeButton" << Command::Double
                                     << QVector<int>{3014666, 2};
    QTest::newRow("clock sync") << "timeSyncSendButton" << Command::ClockSync << QVector<int>{0};
    QTest::newRow("clock sync broadcast")
        << "broadcastCheckBox timeSyncSendButton" << Command::ClockSync << QVector<int>{1};
}

void TestCommandView::requests()
{
    QFETCH(QString, steps);
    QFETCH(Command::CommandType, type);
    QFETCH(QVector<int>, values);

    CommandView view;
    const QMetaObject& mo = iec101::Iec101Network::staticMetaObject;
    view.setQccEnum(mo.enumerator(mo.indexOfEnumerator("QCC")));
    view.setQoiEnum(mo.enumerator(mo.indexOfEnumerator("QOI")));
    apply(view, steps.section(' ', 0, -2));
    // Remote mode with the selected object indeterminate: Open and Close both enabled.
    view.checkLocalRemoteSwitch(65537, false);
    view.checkObjectState(196608 + child<QComboBox>(view, "controlObjectCombo")->currentIndex(), 3);
    QSignalSpy spy(&view, &CommandView::requestSendCommand);
    QTest::mouseClick(child<QPushButton>(view, qPrintable(steps.section(' ', -1))), Qt::LeftButton);
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0).at(0).value<Command::CommandType>(), type);
    QCOMPARE(valuesOf(spy.at(0)), values);
    QCOMPARE(child(view, "qccCombo")->isEnabled(), type == Command::CounterInterrogation);
    // Only the operator's Read is handed out, once; the panel's own object-state reads are not.
    QCOMPARE(view.takeRequestedReadAddress(), type == Command::Read ? values[0] : 0);
    QCOMPARE(view.takeRequestedReadAddress(), 0);
}

void TestCommandView::objectState_data()
{
    QTest::addColumn<int>("switchAddress"); // reports "local" after the remote setup; 0: nothing
    QTest::addColumn<int>("address");
    QTest::addColumn<int>("value");
    QTest::addColumn<QString>("shown");

    // Every case starts from state 2 (closed) reported for the selected object 2 in remote mode.
    QTest::newRow("off") << 0 << 196610 << 1 << "unconnected close";
    QTest::newRow("on") << 0 << 196610 << 2 << "connected open";
    QTest::newRow("intermediate") << 0 << 196610 << 0 << "intermediate";
    QTest::newRow("indeterminate") << 0 << 196610 << 3 << "bad open close";
    QTest::newRow("value 4 ignored") << 0 << 196610 << 4 << "connected open";
    QTest::newRow("value -1 ignored") << 0 << 196610 << -1 << "connected open";
    QTest::newRow("other object ignored") << 0 << 196609 << 1 << "connected open";
    QTest::newRow("local: icon only") << 65537 << 196610 << 3 << "bad";
    QTest::newRow("other switch address ignored") << 65538 << 196610 << 3 << "bad open close";
}

void TestCommandView::objectState()
{
    QFETCH(int, switchAddress);
    QFETCH(int, address);
    QFETCH(int, value);
    QFETCH(QString, shown);

    CommandView view;
    apply(view, "controlObjectCombo=2");
    view.checkLocalRemoteSwitch(65537, false);
    view.checkObjectState(196610, 2);
    if (switchAddress)
        view.checkLocalRemoteSwitch(switchAddress, true);
    view.checkObjectState(address, value);
    QCOMPARE(::shown(view), shown);
    QCOMPARE(child<QLineEdit>(view, "localRemoteEdit")->text(),
             QString(switchAddress == 65537 ? "Toggle local/remote switch to enable buttons"
                                            : "Remote mode. Select object to control"));
}

void TestCommandView::selectionChange()
{
    CommandView view;
    QSignalSpy spy(&view, &CommandView::requestSendCommand);
    view.resetState();
    QCOMPARE(child<QLineEdit>(view, "localRemoteEdit")->text(),
             QString("Unknown local/remote state (try read IOA 65537)"));
    QCOMPARE(child<QLineEdit>(view, "localRemoteEdit")->cursorPosition(), 0); // the text's beginning shows
    apply(view, "controlObjectCombo=2");
    view.checkLocalRemoteSwitch(65537, false); // entering remote asks for the object's state again
    QCOMPARE(spy.count(), 2);
    QCOMPARE(valuesOf(spy.at(1)), QVector<int>{196610});
    QCOMPARE(shown(view), QString("unconnected"));
    view.checkObjectState(196610, 2);

    // Asks for object 5 and shows object 2 until the answer comes.
    apply(view, "controlObjectCombo=5");
    QCOMPARE(spy.count(), 3);
    QCOMPARE(valuesOf(spy.at(2)), QVector<int>{196613});
    QCOMPARE(shown(view), QString("connected open"));

    apply(view, "controlObjectCombo=0");
    QCOMPARE(spy.count(), 3);
    QCOMPARE(shown(view), QString("unconnected"));
    view.checkObjectState(196608, 3); // <Select> takes the state of 196608
    QCOMPARE(shown(view), QString("bad open close"));
}

void TestCommandView::repeatTimer()
{
    CommandView view;
    QSignalSpy spy(&view, &CommandView::requestSendCommand);
    auto* button = child<QPushButton>(view, "timeSyncSendButton");
    const auto state = [&] {
        const QTimer& timer = view.repeatTimer;
        return button->text() +
               (timer.isActive() && !timer.isSingleShot() ? QString(" %1").arg(timer.interval()) : "");
    };
    // Not ticked, empty or zero minutes: a single request, no repeat.
    for (const char* steps :
         {"repeatMinutesEdit=5 timeSyncSendButton", "repeatCheckBox repeatMinutesEdit= timeSyncSendButton",
          "repeatMinutesEdit=0 timeSyncSendButton"}) {
        apply(view, steps);
        QCOMPARE(state(), QString("Send"));
    }
    QCOMPARE(spy.count(), 3);
    apply(view, "repeatMinutesEdit=5 timeSyncSendButton");
    QCOMPARE(spy.count(), 4);
    QCOMPARE(state(), QString("Stop 300000"));

    // Each tick sends again, reading "Broadcast" at that moment.
    apply(view, "broadcastCheckBox");
    QVERIFY(QMetaObject::invokeMethod(&view.repeatTimer, "timeout"));
    QCOMPARE(spy.count(), 5);
    QCOMPARE(valuesOf(spy.at(4)), QVector<int>{1});

    button->click(); // "Stop"
    QCOMPARE(spy.count(), 5);
    QCOMPARE(state(), QString("Send"));

    button->click();
    view.resetState();
    QCOMPARE(state(), QString("Send"));
}

QTEST_MAIN(TestCommandView)
#include "tst_commandview.moc"
