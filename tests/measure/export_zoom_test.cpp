// Against the simulated sensor: the video line and the RUN history saved as CSV are exactly what
// the program drew, and the operator's zoom of the video graph holds while VIDEO runs.
#include <gtest/gtest.h>

#include "state.h"

#include <qcustomplot.h>

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>
#include <QWheelEvent>

#include "K-VOR-RNZazorU30.h"
#include "fixtures.h"
#include "loop_helpers.h"
#include "measure.h"
#include "testhooks.h"
#include "userint.h"
#include "utility.h"

namespace {

const uint16_t kRaw[16] = {900, 1100, 1000, 51234, 0, 1000, 50, 2, 0, 0, 0, 1700, 300, 0, 0, 0};

QByteArray Number(double v) {
    return v == static_cast<long long>(v) ? QByteArray::number(static_cast<long long>(v))
                                          : QByteArray::number(v, 'g', 17);
}

class ExportZoomTest : public SensorTest {
  protected:
    void SetUp() override {
        SensorTest::SetUp();
        if (HasFatalFailure()) return;
        Connect();
        sim->setRawOverride(kRaw);
        ClearFileSelectAnswers();
        DisplayPanel(pHandle);
    }
    void TearDown() override {
        ClearFileSelectAnswers();
        SensorTest::TearDown();
    }
    QByteArray SaveCsv(int control) {
        const QString path = dir.filePath("out.csv");
        PresetFileSelectAnswer(VAL_NEW_FILE_SELECTED, path.toStdString());
        EXPECT_EQ(UserExportGraph(pHandle, control, EXPORT_CSV), 1);
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    QTemporaryDir dir;
    Schedule schedule;
};

TEST_F(ExportZoomTest, VideoLineCsvHoldsThePixelTheValueAndTheThreshold) {
    schedule.when([&] { return GetGraphItems(pHandle, PANEL_VIDEOGRAPH).size() == 2; },
                  [] { stop_flag = 1; });
    schedule.safetyStop(20.0);
    PushVIDEO();
    ASSERT_FALSE(schedule.safetyFired());

    QByteArray expected("pixel,value,threshold\n");
    for (int i = 0; i < 256; ++i)
        expected += Number(xArray8[i]) + ',' + Number(adcbuf[i]) + ',' + Number(thdArray[i]) + '\n';
    EXPECT_EQ(SaveCsv(PANEL_VIDEOGRAPH), expected);
}

TEST_F(ExportZoomTest, RunHistoryCsvHoldsTheHundredSamplesOfTheSixTraces) {
    schedule.when([&] { return sim->requestCount() >= 4; }, [] { stop_flag = 1; });
    schedule.safetyStop(20.0);
    PushRUN();
    ASSERT_FALSE(schedule.safetyFired());

    QByteArray expected("sample,upper_limit,lower_limit,setpoint,measured,analog_a,analog_b\n");
    for (int k = 0; k < 100; ++k) {
        expected += QByteArray::number(k + 1);
        for (int t = 0; t < 6; ++t)
            expected += ',' + Number(arrayNORM[6 * k + t]);
        expected += '\n';
    }
    EXPECT_EQ(SaveCsv(PANEL_STRIPCHART), expected);
}

// The VIDEO loop sets the x axis on every pass; a zoom the operator made during the loop stays
// until the operator resets it, and the reset shows the range the loop asked for.
TEST_F(ExportZoomTest, ZoomHoldsWhileVideoRunsAndTheResetShowsTheProgramsRange) {
    auto *plot = qobject_cast<QCustomPlot *>(static_cast<QWidget *>(CtrlWidget(pHandle, PANEL_VIDEOGRAPH)));
    ASSERT_NE(plot, nullptr);
    QCPRange zoomed;
    size_t requestsAtZoom = 0;
    schedule.when([&] { return GetGraphItems(pHandle, PANEL_VIDEOGRAPH).size() == 2 && plot->isVisible(); },
                  [&] {
                      plot->replot();
                      const QPointF at = plot->axisRect()->rect().center();
                      QWheelEvent wheel(at, plot->mapToGlobal(at), QPoint(), QPoint(0, 240), Qt::NoButton,
                                        Qt::NoModifier, Qt::NoScrollPhase, false);
                      QCoreApplication::sendEvent(plot, &wheel);
                      zoomed = plot->xAxis->range();
                      requestsAtZoom = sim->requestCount();
                  });
    // Three more passes after the zoom (five requests each).
    schedule.when([&] { return requestsAtZoom > 0 && sim->requestCount() >= requestsAtZoom + 15; },
                  [] { stop_flag = 1; });
    schedule.safetyStop(30.0);
    PushVIDEO();
    ASSERT_FALSE(schedule.safetyFired());
    ASSERT_TRUE(GraphZoomed(pHandle, PANEL_VIDEOGRAPH));
    EXPECT_LT(zoomed.size(), static_cast<double>(ccdvirtpixel) - 1.0);
    EXPECT_EQ(plot->xAxis->range(), zoomed);

    const QPoint centre = plot->axisRect()->rect().center();
    for (QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease,
                              QEvent::MouseButtonDblClick, QEvent::MouseButtonRelease}) {
        const bool down = type != QEvent::MouseButtonRelease;
        QMouseEvent e(type, QPointF(centre), QPointF(plot->mapToGlobal(centre)), Qt::LeftButton,
                      down ? Qt::LeftButton : Qt::NoButton, Qt::NoModifier);
        QCoreApplication::sendEvent(plot, &e);
    }
    EXPECT_FALSE(GraphZoomed(pHandle, PANEL_VIDEOGRAPH));
    EXPECT_EQ(plot->xAxis->range(), QCPRange(1.0, static_cast<double>(ccdvirtpixel)));
    EXPECT_EQ(plot->yAxis->range(), QCPRange(0.0, static_cast<double>(ADCMAX)));
}

} // namespace
