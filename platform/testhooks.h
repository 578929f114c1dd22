// Hooks for tests and benchmarks: read back what the services show, act as the operator, and
// replace the clock and the file dialog. The program itself never calls these.
#pragma once

#include <functional>
#include <string>
#include <vector>

// --- time ------------------------------------------------------------------------------------
// Replaces the clock behind Timer(); nullptr restores the monotonic clock.
void SetTimerFunction(double (*clock)(void));

// --- file dialog -----------------------------------------------------------------------------
// The next FileSelectPopup returns 'result' with 'path' instead of showing a dialog. Answers
// queue up; ClearFileSelectAnswers drops those not used.
void PresetFileSelectAnswer(int result, const std::string &path);
void ClearFileSelectAnswers(void);
// What the last FileSelectPopup was asked for.
struct FileSelectRequest {
    std::string directory, fileName, filter, title;
    int buttonLabel, restrictDirectory, restrictExtension, allowCancel, allowMakeDirectory;
};
FileSelectRequest LastFileSelectRequest(void);

// --- graphs and strip charts -----------------------------------------------------------------
enum { GRAPH_ITEM_XY = 1, GRAPH_ITEM_RECTANGLE = 2 };
struct GraphItem {
    int handle;
    int kind;                  // GRAPH_ITEM_XY or GRAPH_ITEM_RECTANGLE
    int color, fillColor;      // 0xRRGGBB
    double x1, y1, x2, y2;     // rectangle corners as given
    std::vector<double> x, y;  // XY plot points
};
// The plots of a graph, oldest first.
std::vector<GraphItem> GetGraphItems(int panel, int control);
// The samples a strip chart holds for one trace (1-based), oldest first; at most
// points-per-screen of them are shown.
std::vector<double> GetStripChartTrace(int panel, int control, int trace);
int GetTraceColor(int panel, int control, int trace);
// Counters: how often a graph or strip chart was repainted (for benchmarks).
long GraphRepaintCount(int panel, int control);
// What a graph's context menu offers, in order.
std::vector<std::string> GraphMenuEntries(int panel, int control);
// The operator chooses a save entry of a graph's context menu: the file dialog (preset it with
// PresetFileSelectAnswer) and the file. 1 saved, 0 cancelled, negative when nothing was written.
enum { EXPORT_PNG = 1, EXPORT_PDF = 2, EXPORT_SVG = 3, EXPORT_CSV = 4 };
int UserExportGraph(int panel, int control, int format);
// True while the operator's zoom or pan holds a graph's axes.
bool GraphZoomed(int panel, int control);

// --- serial ports ------------------------------------------------------------------------------
// The program's own turnaround on a port: for each write that followed received bytes, the
// seconds from the last of those bytes being taken in to the write, oldest first (the newest
// 4096). Taking them empties the record; the first call only starts recording.
std::vector<double> TakeComTurnarounds(int port);
// How often bytes were taken in from the system on a port since the program started: one for
// every wake-up that found bytes, and for every pull of bytes waiting.
long ComReadCount(int port);
// Where the port list looks for stable device names ("" restores /dev/serial/by-id), and
// forgetting the numbers the list gave to devices outside the numbering rule.
void SetSerialByIdDirectory(const std::string &directory);
void ForgetAssignedComPorts(void);
// Runs fn once, just before the nth write from now on the port (1: the next) hands its bytes to
// the system; fn may take the line away under that write, as a cable pulled out would. A null fn
// cancels what was asked for.
void BeforeComWrite(int port, int nth, std::function<void()> fn);

// --- acting as the operator ------------------------------------------------------------------
// A mouse click on the control as the operator gives it (left click event, then the commit or
// value change the control kind raises).
int UserClick(int panel, int control);
// A commit from the keyboard (no left click), e.g. Space on a button or Enter in an edit.
int UserCommit(int panel, int control);
// The operator enters a value (numeric edits, rings, slides, switches): value changed, then
// commit, as the control kind raises them.
int UserSetValue(int panel, int control, double value);
// The operator closes a panel's window (the panel callback receives EVENT_CLOSE).
int UserClosePanel(int panel);
// Runs fn once, 'seconds' from now, from inside event processing (e.g. a STOP click while RUN
// loops inside the click that started it).
void AfterDelay(double seconds, std::function<void()> fn);

// The Qt widget behind a panel or control (QWidget*), for screenshots and Qt-level tests.
void *PanelWidget(int panel);
void *CtrlWidget(int panel, int control);
// True while the panel's window is shown.
bool PanelVisible(int panel);
// The widget that holds a panel's controls (for a resizable panel, the one inside its scroll
// area; otherwise the panel's own widget).
void *PanelCanvasWidget(int panel);
// Sizes a resizable panel's window for a screen whose free area is the given rectangle, as the
// program does for the real screen at start-up.
int FitPanelToScreenArea(int panel, int left, int top, int width, int height);
