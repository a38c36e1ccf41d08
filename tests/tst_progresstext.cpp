// The time and frame panels' texts.
#include "progresstext.h"

#include <QtTest>

using namespace velmora;

class ProgressTextTest : public QObject
{
    Q_OBJECT
private slots:
    void framePanel_data();
    void framePanel();
    void timePanel_data();
    void timePanel();
};

void ProgressTextTest::framePanel_data()
{
    QTest::addColumn<qint64>("value");
    QTest::addColumn<qint64>("maximum");
    QTest::addColumn<qint64>("frames");
    QTest::addColumn<QString>("text");
    QTest::newRow("start") << 0LL << 9000LL << 9000LL << "帧数: 0/9000";
    QTest::newRow("end") << 9000LL << 9000LL << 9000LL << "帧数: 9000/9000";
    QTest::newRow("1234") << 1234LL << 9000LL << 9000LL << "帧数: 1234/9000";
    QTest::newRow("half to even down") << 1LL << 4LL << 2LL << "帧数: 0/2";   // 0.5 -> 0
    QTest::newRow("half to even up") << 3LL << 4LL << 2LL << "帧数: 2/2";     // 1.5 -> 2
    QTest::newRow("above 16 bits") << 40000LL << 50000LL << 50000LL << "帧数: 40000/50000";
    QTest::newRow("maximum 0") << 0LL << 0LL << 9000LL << "帧数: 0/9000";
    QTest::newRow("scaled") << 5LL << 10LL << 9000LL << "帧数: 4500/9000";
}

void ProgressTextTest::framePanel()
{
    QFETCH(qint64, value);
    QFETCH(qint64, maximum);
    QFETCH(qint64, frames);
    QFETCH(QString, text);
    QCOMPARE(framePanelText(value, maximum, frames), text);
}

void ProgressTextTest::timePanel_data()
{
    QTest::addColumn<qint64>("value");
    QTest::addColumn<qint64>("maximum");
    QTest::addColumn<qint64>("duration");
    QTest::addColumn<QString>("text");
    // Values chosen so that value/maximum * duration is the elapsed time named.
    QTest::newRow("start") << 0LL << 9000LL << 235000LL << "时间: 0分00秒/3分55秒";
    QTest::newRow("end") << 9000LL << 9000LL << 235000LL << "时间: 3分55秒/3分55秒";
    QTest::newRow("65.4 s") << 65400LL << 235000LL << 235000LL << "时间: 1分05秒/3分55秒";
    QTest::newRow("short total") << 0LL << 100LL << 45000LL << "时间: 0分00秒/0分45秒";
    QTest::newRow("5.4 s") << 5400LL << 235000LL << 235000LL << "时间: 0分05秒/3分55秒";
    QTest::newRow("5.5 s away from zero") << 5500LL << 235000LL << 235000LL << "时间: 0分06秒/3分55秒";
    QTest::newRow("59.6 s carries") << 59600LL << 235000LL << 235000LL << "时间: 1分00秒/3分55秒";
    QTest::newRow("59.4 s") << 59400LL << 235000LL << 235000LL << "时间: 0分59秒/3分55秒";
    QTest::newRow("total carries") << 0LL << 100LL << 119500LL << "时间: 0分00秒/2分00秒";
    QTest::newRow("maximum 0") << 5LL << 0LL << 235000LL << "时间: 0分00秒/3分55秒";
    QTest::newRow("long track") << 1LL << 1LL << 3723000LL << "时间: 62分03秒/62分03秒";
}

void ProgressTextTest::timePanel()
{
    QFETCH(qint64, value);
    QFETCH(qint64, maximum);
    QFETCH(qint64, duration);
    QFETCH(QString, text);
    QCOMPARE(timePanelText(value, maximum, duration), text);
}

QTEST_APPLESS_MAIN(ProgressTextTest)
#include "tst_progresstext.moc"
