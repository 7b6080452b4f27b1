// What the window shows of the session's exchanges: the status texts, the progress panel of
// the recording and of the transfer, and the cycle named at its transfer. The session runs
// without a port (it sends into nothing), so each state is reached by the handlers.

#include "acquisition/measurementsession.h"
#include "acquisition/sessionport.h"
#include "app/sessionpresenter.h"
#include "app/statusbar.h"

#include <QGroupBox>
#include <QLabel>
#include <QProgressBar>
#include <QTest>
#include <cstring>
#include <gtest/gtest.h>

using namespace acquisition;
using app::SessionPresenter;

namespace {

// The board's side as bytes handed to the session when a test says so.
struct FakePort : SessionPort
{
    bool isOpen() const override { return true; }
    int readBytes(void *buffer, int count) override
    {
        const int n = std::min(count, int(in.size()));
        std::memcpy(buffer, in.constData(), size_t(n));
        in.remove(0, n);
        return n;
    }
    bool writeString(const QByteArray &) override { return true; }
    int inputCount() override { return int(in.size()); }
    void purgeAll() override { in.clear(); }
    void purgeInput() override { in.clear(); }
    void give(const QByteArray &bytes)
    {
        in += bytes;
        onRxChar(int(in.size()));
    }
    QByteArray in;
};

struct Rig
{
    Rig()
        : panel(&chart)
        , bar(&panel)
        , all(&panel)
        , elapsed(&panel)
        , rest(&panel)
        , percent(&chart)
        , restPercent(&chart)
        , presenter(session, status,
              { &panel, &bar, &all, &elapsed, &rest, &percent, &restPercent }, &gbFile)
    {
        panel.hide();
        chart.show();
        presenter.setTickSource([this] { return now; });
        session.setPort(&port);
    }
    bool panelShown() const { return panel.isVisibleTo(&chart); }

    QWidget chart;
    QWidget panel;
    QProgressBar bar;
    QLabel all, elapsed, rest, percent, restPercent;
    app::StatusBar status;
    QGroupBox gbFile;
    FakePort port;
    MeasurementSession session;
    quint32 now = 0xFFFFF000u;
    SessionPresenter presenter;
};

MeasurementRequest request(int blocks, int d1, int d2, bool averaging = false)
{
    MeasurementRequest r;
    r.plan.d1 = d1;
    r.plan.d2 = d2;
    r.plan.sramBlocks = blocks;
    r.plan.averaging = averaging;
    return r;
}

} // namespace

// The recording wait shows its progress only beyond 2000 ms; the transfer names its seconds
// (rounded halves to even) and shows its panel unless averaged; a transfer started by a cycle
// run names its cycle; a chart built hides the panel and counts the cycle.
TEST(SessionPresenter, StatusTextsAndTheProgressPanel)
{
    Rig rig;
    rig.gbFile.setTitle(QStringLiteral("ФАЙЛ a.kdx"));
    rig.session.startMeasurement(request(1, 2, 103));
    EXPECT_EQ(rig.session.MeasurementMs(), 1998);
    EXPECT_FALSE(rig.panelShown());
    EXPECT_EQ(rig.status.panelText(0), QStringLiteral("ИЗМЕРЕНИЕ"));
    rig.session.startMeasurement(request(3, 6, 13));
    EXPECT_EQ(rig.session.MeasurementMs(), 2002);
    EXPECT_TRUE(rig.panelShown());
    EXPECT_EQ(rig.all.text(), QStringLiteral("00:02"));
    EXPECT_EQ(rig.bar.maximum(), 2002);
    rig.session.giveUp();

    // The transfer: reached by the end byte the session takes while Measuring.
    bool cycle = false;
    rig.presenter.setNamesCycle([&] { return cycle; });
    const struct
    {
        int blocks;
        bool averaging;
        const char *text;
    } cases[] = { { 1, false, "ПЕРЕДАЧА МАССИВА, 1с" }, { 4, true, "ПЕРЕДАЧА МАССИВА, 4с" },
        { 5, false, "ПЕРЕДАЧА МАССИВА, 4с" }, { 8, false, "ПЕРЕДАЧА МАССИВА, 7с" } };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text);
        rig.panel.hide();
        rig.gbFile.setTitle(QStringLiteral("ФАЙЛ a.kdx"));
        rig.status.setPanelText(2, QString());
        cycle = c.blocks == 8;
        rig.session.startMeasurement(request(c.blocks, 1, 1, c.averaging));
        rig.port.give(QByteArray(1, char(0x0A)));
        ASSERT_TRUE(QTest::qWaitFor(
            [&] { return rig.session.state() == SessionState::WaitingToTransfer; }));
        EXPECT_EQ(rig.status.panelText(0), QString::fromUtf8(c.text));
        EXPECT_EQ(rig.panelShown(), !c.averaging);
        EXPECT_EQ(rig.gbFile.title(), QStringLiteral("Комментарий"));
        EXPECT_EQ(rig.status.panelText(2), cycle ? QStringLiteral("Цикл №0") : QString());
        rig.session.giveUp(); // the failure is shown, and the panel hidden
        EXPECT_EQ(rig.status.panelText(0), QStringLiteral("Нет ответа от платы"));
        EXPECT_FALSE(rig.panelShown());
    }
    EXPECT_EQ(SessionPresenter::transferStatusText(875), QStringLiteral("ПЕРЕДАЧА МАССИВА, 1с"));
    EXPECT_EQ(SessionPresenter::transferStatusText(3500), QStringLiteral("ПЕРЕДАЧА МАССИВА, 4с"));
    EXPECT_EQ(SessionPresenter::transferStatusText(4375), QStringLiteral("ПЕРЕДАЧА МАССИВА, 4с"));
    EXPECT_EQ(SessionPresenter::timeText(125), QStringLiteral("02:05"));
    EXPECT_EQ(SessionPresenter::timeText(6000), QStringLiteral("100:00"));

    // A cancelled wait says so; a chart built says so and counts.
    rig.session.startMeasurement(request(8, 99, 10));
    EXPECT_TRUE(rig.panelShown());
    rig.session.cancelMeasurement();
    EXPECT_EQ(rig.status.panelText(0), QStringLiteral("Измерение отменено"));
    EXPECT_FALSE(rig.panelShown());
    rig.presenter.setCycleNumber(3);
    rig.presenter.chartBuilt();
    EXPECT_EQ(rig.status.panelText(0), QStringLiteral("ПОСТРОЕНИЕ ГРАФИКА"));
    EXPECT_EQ(rig.presenter.CycleNumber(), 4);
}

// The longest measurement, 3213 s, with the tick counter about to wrap: the bar moves to its
// end without going backwards, and the panel hides itself when it gets there.
TEST(SessionPresenter, ProgressOfTheLongestMeasurement)
{
    Rig rig;
    const quint32 start = rig.now;
    rig.session.startMeasurement(request(8, 256, 256));
    ASSERT_EQ(rig.session.MeasurementMs(), 3213395);
    ASSERT_EQ(rig.presenter.progressClock().total, 3213);
    ASSERT_TRUE(rig.presenter.progressTimerActive());

    int last = 0;
    quint64 t = 0;
    for (; rig.presenter.progressTimerActive() && t < 3300000; t += 250) {
        rig.now = start + quint32(t);
        rig.presenter.TimPrgssBarTimer();
        ASSERT_GE(rig.bar.value(), last) << t;
        ASSERT_LE(rig.bar.value(), rig.bar.maximum()) << t;
        last = rig.bar.value();
        if (t == 1606500) {
            EXPECT_EQ(rig.percent.text(), QStringLiteral("49%"));
            EXPECT_EQ(rig.restPercent.text(), QStringLiteral("51%"));
            EXPECT_EQ(rig.elapsed.text(), QStringLiteral("26:46"));
            EXPECT_EQ(rig.rest.text(), QStringLiteral("26:47"));
            EXPECT_TRUE(rig.panelShown());
        }
    }
    EXPECT_EQ(t, 3213000u + 250); // stopped at the first tick with 3213 s elapsed
    EXPECT_EQ(last, 3213395);
    EXPECT_FALSE(rig.panelShown());
    EXPECT_EQ(rig.percent.text(), QStringLiteral("100%"));
    EXPECT_EQ(rig.rest.text(), QStringLiteral("00:00"));
}
