// User-interface services: panels, controls, graphs, strip charts and the event loop.
//
// A plain C-style interface over Qt: panels are named by int handles, controls by the panel
// handle and a control id (generated from the panel file), events by int codes. Nothing above
// the platform folder sees a Qt type.
#pragma once

#include <cstddef>


// Events delivered to control and panel callbacks.
enum {
    EVENT_NONE = 0,
    EVENT_COMMIT = 1,      // the operator committed a value or pressed a button
    EVENT_VAL_CHANGED = 2, // the value changed by an operator action (never from code)
    EVENT_LEFT_CLICK = 3,  // mouse-down on the control, delivered before the commit
    EVENT_CLOSE = 12       // the operator asked to close a panel (panel callbacks only)
};

typedef int (*CtrlCallbackPtr)(int panel, int control, int event, void *callbackData,
                                         int eventData1, int eventData2);
typedef int (*PanelCallbackPtr)(int panel, int event, void *callbackData, int eventData1,
                                          int eventData2);

// Callbacks are bound by name when a panel is loaded. The program hands the table of its
// callbacks over once, before the first LoadPanel (the table is generated from the panel file).
struct CallbackEntry {
    const char *name;
    CtrlCallbackPtr ctrl;   // for control callbacks
    PanelCallbackPtr panel; // for panel callbacks
};
void RegisterCallbacks(const CallbackEntry *table, int count);

// Control kinds (also the "kind" strings of the panel file) used by NewCtrl.
enum {
    CTRL_COMMAND_BUTTON = 1,
    CTRL_TOGGLE_BUTTON,
    CTRL_RADIO_BUTTON,
    CTRL_NUMERIC,           // numeric edit
    CTRL_NUMERIC_INDICATOR,
    CTRL_RING,              // drop-down
    CTRL_SLIDE,
    CTRL_STRING,            // string / status line
    CTRL_TEXT_BOX,
    CTRL_TEXT_MSG,
    CTRL_PICTURE,
    CTRL_DECORATION,
    CTRL_GRAPH,
    CTRL_STRIP_CHART,
    CTRL_LED                // a round lamp: its colour is ATTR_FRAME_COLOR
};

// Value / data types (value type of a control, data type of plotted arrays and array files).
enum {
    VAL_CHAR = 0,
    VAL_INTEGER = 1,                // signed 32-bit
    VAL_SHORT_INTEGER = 2,          // signed 16-bit
    VAL_FLOAT = 3,                  // 32-bit float
    VAL_DOUBLE = 4,                 // 64-bit double
    VAL_STRING = 5,
    VAL_UNSIGNED_SHORT_INTEGER = 6, // unsigned 16-bit
    VAL_UNSIGNED_INTEGER = 7,       // unsigned 32-bit
    VAL_UNSIGNED_CHAR = 8
};

// Attributes of controls and panels.
enum {
    ATTR_DIMMED = 1,
    ATTR_VISIBLE = 2,
    ATTR_LEFT = 3,
    ATTR_TOP = 4,
    ATTR_WIDTH = 5,
    ATTR_HEIGHT = 6,
    ATTR_FRAME_COLOR = 7,
    ATTR_TEXT_COLOR = 8,
    ATTR_TEXT_BGCOLOR = 9,
    ATTR_TEXT_FONT = 10,       // string value
    ATTR_TEXT_POINT_SIZE = 11, // character height in pixels
    ATTR_POINTS_PER_SCREEN = 12,
    ATTR_NUM_TRACES = 13,
    ATTR_TRACE_COLOR = 14,     // SetTraceAttribute
    ATTR_LABEL_TEXT = 15,      // string value
    ATTR_TITLE = 16,           // panels: the window title (string value)
    ATTR_MARKED = 17,          // 1: the control stands out on the mark colour (VAL_MARK_COLOR)
    ATTR_SCROLL_MODE = 1088    // strip chart: 1 = continuous scrolling
};

// The application font name accepted by ATTR_TEXT_FONT.
#define VAL_APP_META_FONT "ApplicationFont"

// Graph axes, scaling modes, refresh codes, plot styles.
enum { VAL_XAXIS = 0, VAL_LEFT_YAXIS = 1, VAL_RIGHT_YAXIS = 2 };
enum { VAL_MANUAL = 0, VAL_AUTOSCALE = 1 };
enum { VAL_DELAYED_DRAW = 0, VAL_IMMEDIATE_DRAW = 1 };
enum { VAL_THIN_LINE = 0, VAL_CONNECTED_POINTS = 5 };       // plot styles
enum { VAL_EMPTY_SQUARE = 0, VAL_NO_POINT = 10 };             // point styles
enum { VAL_SOLID = 0 };                                       // line styles

// Colours are 0xRRGGBB.
enum {
    VAL_WHITE = 0xFFFFFF,
    VAL_BLACK = 0x000000,
    VAL_RED = 0xFF0000,
    VAL_GREEN = 0x00FF00,
    VAL_DK_GREEN = 0x008000,
    VAL_BLUE = 0x0000FF,
    VAL_GRAY = 0x808080,
    VAL_LT_GRAY = 0xA0A0A0,
    VAL_MARK_COLOR = 0xFFD27F // the background of a control with ATTR_MARKED
};

// Results of the services: 0 or a handle for success, negative for failure.
enum {
    UIENoError = 0,
    UIEPanelFileNotFound = -1,
    UIEBadPanelFile = -2,      // malformed panel file
    UIEResourceNotFound = -3,  // no panel with that resource id in the file
    UIEInvalidPanel = -4,
    UIEInvalidControl = -5,
    UIEInvalidAttribute = -6,
    UIECallbackNotFound = -7,  // a callback named in the file is not in the program
    UIEBadValue = -8,
    UIENotInitialised = -9
};

// --- run-time ------------------------------------------------------------------------------
// Initialises the run-time (creates the application object). Returns 0 on failure, after one
// "kvor-zodid: ..." line on standard error saying why (e.g. a display that cannot be reached).
int InitRunTime(int argc, char **argv);
// A run-time without windows, for a process that has no display: serial ports, the event loop,
// timers and files work; panels do not. withFonts: text can still be laid out (for documents),
// on Qt's offscreen platform. Returns 0 on failure.
int InitHeadlessRunTime(int argc, char **argv, int withFonts);

// Called after every value change or commit the operator makes on any control (whether the
// control has a callback or not), after its callback. None: nullptr.
typedef void (*CtrlChangeObserverPtr)(int panel, int control);
void SetCtrlChangeObserver(CtrlChangeObserverPtr observer);

// --- panels ----------------------------------------------------------------------------------
int LoadPanel(int parentPanel, const char *panelFile, int resourceId);
int DisplayPanel(int panel);
int HidePanel(int panel);
int DiscardPanel(int panel);
int SetPanelAttribute(int panel, int attribute, int value);
int SetPanelAttribute(int panel, int attribute, const char *value);
int GetPanelAttribute(int panel, int attribute, int *value);
// Where the program finds a data file (the panel file, a bitmap) by name, the way LoadPanel
// and DisplayImageFile look for it. 0, or UIEPanelFileNotFound.
int FindDataFilePath(const char *name, char *path, size_t size);

// --- controls --------------------------------------------------------------------------------
// Values are converted to the control's own value type; a value set from code raises no event.
int SetCtrlVal(int panel, int control, int value);
int SetCtrlVal(int panel, int control, unsigned int value);
int SetCtrlVal(int panel, int control, double value);
int SetCtrlVal(int panel, int control, const char *value); // Latin-1 text
int GetCtrlVal(int panel, int control, unsigned short *value);
int GetCtrlVal(int panel, int control, short *value);
int GetCtrlVal(int panel, int control, int *value);
int GetCtrlVal(int panel, int control, unsigned int *value);
int GetCtrlVal(int panel, int control, float *value);
int GetCtrlVal(int panel, int control, double *value);
int GetCtrlVal(int panel, int control, char *value, size_t size); // Latin-1, always terminated
int SetCtrlAttribute(int panel, int control, int attribute, int value);
int SetCtrlAttribute(int panel, int control, int attribute, const char *value);
int GetCtrlAttribute(int panel, int control, int attribute, int *value);
// String attributes (ATTR_LABEL_TEXT, ATTR_TEXT_FONT), Latin-1, always terminated.
int GetCtrlAttribute(int panel, int control, int attribute, char *value, size_t size);
// Gives the control the keyboard focus. A dimmed control takes it as soon as it is undimmed
// (unless another control was made active meanwhile). Dimming the control that has the focus
// leaves no control with it, so keys pressed then go nowhere.
int SetActiveCtrl(int panel, int control);
int NewCtrl(int panel, int kind, const char *label, int top, int left);
int DisplayImageFile(int panel, int control, const char *file);
int ReplaceTextBoxLine(int panel, int control, int line, const char *text); // Latin-1 text
int GetTextBoxLine(int panel, int control, int line, char *text, size_t size);
// The text shown when the pointer rests on a control (Latin-1; "" for none).
int SetCtrlToolTip(int panel, int control, const char *text);
int GetCtrlToolTip(int panel, int control, char *text, size_t size);

// --- graphs ----------------------------------------------------------------------------------
int PlotXY(int panel, int control, const void *x, const void *y, int count, int xType, int yType,
           int plotStyle, int pointStyle, int lineStyle, int pointFrequency, int color);
int PlotRectangle(int panel, int control, double x1, double y1, double x2, double y2, int color,
                  int fillColor);
int DeleteGraphPlot(int panel, int control, int plotHandle, int refresh); // -1 = all plots
int SetGraphCursor(int panel, int control, int cursor, double x, double y); // cursors 1 to 3
int GetGraphCursor(int panel, int control, int cursor, double *x, double *y);
int SetAxisScalingMode(int panel, int control, int axis, int mode, double min, double max);
int GetAxisScalingMode(int panel, int control, int axis, int *mode, double *min, double *max);

// --- strip charts ----------------------------------------------------------------------------
// Appends count values (interleaved by trace) from start, skipping skip values after each one.
int PlotStripChart(int panel, int control, const void *values, int count, int start, int skip,
                   int dataType);
int SetTraceAttribute(int panel, int control, int trace, int attribute, int value);

// --- graph export ----------------------------------------------------------------------------
// The operator saves a graph from its context menu; the outcome ("Saved ...", "Cannot save
// ...") goes to this function, e.g. into the status line. None: standard error.
typedef void (*ExportReportPtr)(const char *text);
void SetExportReport(ExportReportPtr report);

// --- event loop ------------------------------------------------------------------------------
int RunUserInterface(void);
int QuitUserInterface(int code);
// Handles every pending event (controls, serial receive notifications) and returns; waits
// briefly for the next event instead of spinning when nothing is pending.
int ProcessSystemEvents(void);
// One pass as ProcessSystemEvents, for a caller that has nothing to look at without an event
// but its own time-out at 'deadline' (on Timer()'s clock): the pass may wait until then. A wait
// for the sensor thus wakes for its answer only, not every few milliseconds as well.
int ProcessSystemEventsUntil(double deadline);
