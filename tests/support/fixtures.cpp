#include "fixtures.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include "K-VOR-RNZazorU30.h"
#include "com232.h"
#include "testhooks.h"
#include "rs232.h"
#include "state.h"
#include "userint.h"
#include "utility.h"

double FakeClock::now = 1000.0;
void FakeClock::install() { SetTimerFunction(&FakeClock::read); }
void FakeClock::remove() { SetTimerFunction(nullptr); }

bool WaitUntil(const std::function<bool()> &cond, double seconds) {
    QElapsedTimer t;
    t.start();
    while (!cond()) {
        if (t.elapsed() > seconds * 1000.0) return cond();
        ProcessSystemEvents();
    }
    return true;
}

std::string StatusText() {
    char text[512] = {0};
    GetCtrlVal(pHandle, PANEL_STATUS, text, sizeof text);
    return text;
}

void ProgramTest::SetUp() {
    ASSERT_EQ(LoadAllPanels("K-VOR-RNZazorU30.uir"), 0);
    GetProjectDir(&proj_dir);
    InitVars();
}

void ProgramTest::TearDown() {
    CloseCom(com);
    SetTimerFunction(nullptr);
    ClearFileSelectAnswers();
    for (int *h : {&pPara1, &pPara2, &pCalib, &pPopup, &pHandle}) {
        if (*h > 0) DiscardPanel(*h);
        *h = 0;
    }
}

SensorTest::SensorTest(bool pacing) { options.pacing = pacing; }

void SensorTest::SetUp() {
    sim = new kvorsim::Simulator(options);
    ASSERT_TRUE(sim->start()) << sim->error();
    SetComPortDevice(1, sim->devicePath());
    ProgramTest::SetUp();
}

void SensorTest::TearDown() {
    ProgramTest::TearDown();
    delete sim;
    sim = nullptr;
}

void SensorTest::Connect(bool clearLog) {
    com = 1;
    InitRS232(com);
    if (clearLog) sim->clearRequests();
}
