#include "recorder_app.h"

#include <QPointer>
#include <QString>
#include <QWidget>

#include <chrono>
#include <memory>

#include "K-VOR-RNZazorU30.h"
#include "facts.h"
#include "panel_widget.h"
#include "recorder.h"
#include "recorder_window.h"
#include "state.h"
#include "userint.h"
#include "utility.h"

namespace {

QPointer<RecorderWindow> g_window;

// The whole text: the status line is wide enough for a path that szStatus would cut.
void ShowOnStatusLine(const std::string &text) {
    CopyText(szStatus, text.c_str());
    SetCtrlVal(pHandle, PANEL_STATUS, text.c_str());
}

int64_t WallNowMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

} // namespace

Recorder &TheRecorder(void) {
    static Recorder recorder;
    return recorder;
}

RecorderWindow *TheRecorderWindow(void) {
    return g_window.data();
}

bool SetUpRecorder(int popupPanel) {
    QWidget *panel = PanelQWidget(popupPanel);
    if (!panel) return false;
    delete g_window.data();
    auto *w = new RecorderWindow(TheRecorder(), panel);
    w->setGeometry(0, 0, panel->width(), panel->height());
    w->SetStatusLine(ShowOnStatusLine);
    w->show();
    g_window = w;
    return true;
}

bool CheckRecordFile(const std::string &path, std::string *error) {
    return CsvWriter::Check(path, error);
}

bool StartRecordingInto(const std::string &path, std::string *error) {
    if (RecorderWindow *w = TheRecorderWindow()) {
        w->SetFilePath(QString::fromStdString(path));
        if (w->StartRecording()) return true;
        *error = w->Message().toStdString();
        return false;
    }
    return TheRecorder().Start(path, CollectRecordFacts(), Timer(), WallNowMs(), error);
}

bool ShutDownRecorder(std::string *failure) {
    std::string text;
    TheRecorder().OnFailure([&text](const std::string &t) { text = t; });
    const bool whole = TheRecorder().Stop();
    TheRecorder().OnFailure(nullptr);
    delete g_window.data();
    g_window = nullptr;
    if (failure) *failure = text;
    return whole;
}
