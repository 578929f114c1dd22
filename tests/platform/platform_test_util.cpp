#include "platform_test_util.h"

#include <QElapsedTimer>
#include <QFile>

#include "userint.h"

std::function<void(int, int, int)> g_onEvent;

std::vector<RecordedEvent> &Recorded() {
    static std::vector<RecordedEvent> events;
    return events;
}

static int T_Record(int panel, int control, int event, void *, int, int) {
    Recorded().push_back({panel, control, event});
    if (g_onEvent) g_onEvent(panel, control, event);
    return 0;
}

static int T_RecordPanel(int panel, int event, void *, int, int) {
    Recorded().push_back({panel, 0, event});
    if (g_onEvent) g_onEvent(panel, 0, event);
    return 0;
}

void RegisterRecorders() {
    static const CallbackEntry table[] = {{"T_Record", T_Record, nullptr},
                                          {"T_RecordPanel", nullptr, T_RecordPanel}};
    RegisterCallbacks(table, 2);
    Recorded().clear();
    g_onEvent = nullptr;
}

std::vector<int> EventsOf(int panel, int control) {
    std::vector<int> codes;
    for (const RecordedEvent &e : Recorded())
        if (e.panel == panel && e.control == control) codes.push_back(e.event);
    return codes;
}

PanelFile::PanelFile(const std::string &json, const char *name) {
    const QString file = dir.filePath(QString::fromLatin1(name));
    QFile out(file);
    if (out.open(QIODevice::WriteOnly)) out.write(json.data(), static_cast<qint64>(json.size()));
    path_ = file.toStdString();
}

bool PollUntil(const std::function<bool()> &cond, double seconds) {
    QElapsedTimer t;
    t.start();
    while (!cond()) {
        if (t.elapsed() > seconds * 1000.0) return cond();
        ProcessSystemEvents();
    }
    return true;
}
