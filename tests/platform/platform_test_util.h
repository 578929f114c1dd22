// Helpers of the platform tests: panel files written on the fly, and callbacks that record
// what they receive.
#pragma once

#include <QTemporaryDir>

#include <functional>
#include <string>
#include <vector>

struct RecordedEvent {
    int panel, control, event;
    bool operator==(const RecordedEvent &o) const {
        return panel == o.panel && control == o.control && event == o.event;
    }
};

// Everything T_Record and T_RecordPanel received, in order. T_RecordPanel records control 0.
std::vector<RecordedEvent> &Recorded();
// Runs after each recorded event (nullptr: nothing); tests put their callback bodies here.
extern std::function<void(int panel, int control, int event)> g_onEvent;
// Registers T_Record (control) and T_RecordPanel (panel) and clears the record.
void RegisterRecorders();
// Only the events of one control, as event codes.
std::vector<int> EventsOf(int panel, int control);

// Writes 'json' as a panel file into a fresh temporary directory; returns its path.
class PanelFile {
  public:
    explicit PanelFile(const std::string &json, const char *name = "test.uir");
    const std::string &path() const { return path_; }
    QTemporaryDir dir;

  private:
    std::string path_;
};

// Processes events until cond() holds or 'seconds' have passed.
bool PollUntil(const std::function<bool()> &cond, double seconds = 5.0);
