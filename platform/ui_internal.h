// Private to the user-interface services: the tables of panels and controls and the pieces the
// service files share. Nothing outside platform/ includes this header.
#pragma once

#include <QLabel>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QWidget>

#include <cstdint>
#include <map>
#include <memory>
#include <vector>

#include "userint.h"

namespace kvor_ui {

// Value types of controls (the "type" strings of the panel file).
enum ValueType { T_NONE = 0, T_UINT16, T_INT16, T_INT32, T_UINT32, T_FLOAT, T_DOUBLE, T_STRING };

struct RingItem {
    QString label;
    double value = 0.0;
};

// A control as the panel file (or NewCtrl) describes it, before any widget exists.
struct ControlDesc {
    QString name;
    int kind = 0;
    int left = 0, top = 0, width = 0, height = 0;
    QString label;
    int type = T_NONE;
    bool hasMin = false, hasMax = false;
    double min = 0.0, max = 0.0;
    bool hasValue = false;
    double value = 0.0;
    QString text;
    std::vector<RingItem> items;
    bool serialPorts = false;
    QString callback;
    int precision = -1;
    bool visible = true;
    int frameColor = -1, textColor = -1, textBgColor = -1;
    double fontSize = 0.0;
    QStringList lines;
    double xMin = 0.0, xMax = 100.0, yMin = 0.0, yMax = 100.0;
    int cursors = 0;
    int pointsPerScreen = 100;
    int traces = 1;
    QString tooltip;  // what the control is, its range and unit
    QString shortcut; // a key sequence ("F5", "Ctrl+1") that acts as a click on the control
};

struct GraphState; // ui_graph.cpp
struct StripState; // ui_graph.cpp

struct Control {
    int id = 0;
    int kind = 0;
    int type = T_NONE;
    QString name;
    QPointer<QWidget> widget; // the control itself (the outer box for a slide)
    QPointer<QLabel> caption; // the label above the control, if it has one
    CtrlCallbackPtr callback = nullptr;

    // The value as the program sees it. The widget shows it, rounded to what it can display;
    // the stored value stays exact, so a value read back is the value set.
    double num = 0.0;
    double shownValue = 0.0; // what a numeric edit shows for num (rounded to its decimals)
    QString text;
    double min = 0.0, max = 0.0;
    int precision = 2;
    std::vector<RingItem> items;
    bool serialPorts = false;
    QStringList lines; // text box

    int left = 0, top = 0, width = 0, height = 0;
    bool dimmed = false, visible = true;
    int frameColor = 0xE8EBEF, textColor = 0x000000, textBgColor = 0xFFFFFF;
    int pointSize = 0;
    QString fontName;
    int scrollMode = 0;
    int cursorCount = 0;

    std::unique_ptr<GraphState> graph;
    std::unique_ptr<StripState> strip;

    Control();
    ~Control();
};

struct Panel {
    int handle = 0;
    std::uint64_t serial = 0; // never reused, so a stale reference never finds a newer panel
    int resourceId = 0;
    int parent = 0;
    QString name;
    QPointer<QWidget> widget;
    PanelCallbackPtr callback = nullptr;
    std::map<int, std::unique_ptr<Control>> controls;
    int nextId = 2;
};

// --- tables (ui_panels.cpp) -------------------------------------------------------------------
bool AppReady();     // an application object of ours runs (with or without windows)
bool WidgetsReady(); // ... and it can show windows
Panel *FindPanel(int handle);
Panel *FindPanel(int handle, std::uint64_t serial);
Control *FindControl(int panel, int control);
// A data file by name: as given when absolute, else beside the executable, then in the
// installed data directory, then in the current directory. Empty when not found.
QString FindDataFile(const QString &name);
// Deletes panels discarded while one of their callbacks was running, once none is.
void CollectDiscardedPanels();
// True while a control or panel callback runs.
bool CallbackRunning();

// --- event delivery (ui_panels.cpp) -----------------------------------------------------------
// Both look the panel and the control up again, so a caller never holds a pointer across a
// callback; they deliver nothing to a dimmed or hidden control.
void DeliverCtrlEvent(int panel, std::uint64_t serial, int control, int event);
void DeliverPanelEvent(int panel, std::uint64_t serial, int event);
// Marks a widget (and, through its parents, its children) as belonging to a control, and lets
// mouse-down on it raise the left-click event.
void AttachControl(QWidget *widget, int panel, std::uint64_t serial, int control);

// --- controls (ui_controls.cpp) ---------------------------------------------------------------
int KindFromName(const QString &name);
// A key sequence of the panel file ("F5", "Esc", "Ctrl+1"): one key, known to Qt.
bool ShortcutValid(const QString &text);
int TypeFromName(const QString &name);
int DefaultType(int kind);
void DefaultSize(int kind, int *width, int *height);
std::unique_ptr<Control> CreateControl(Panel &panel, int id, const ControlDesc &desc);
// Places the control's widget and its label at the control's left/top/width/height.
void PlaceControl(Control &c);
QColor ToColor(int rgb);

// --- lamps and tool tips (ui_led.cpp) -----------------------------------------------------------
QWidget *CreateLed(Control &c, QWidget *parent);
// Shows the lamp in its frame colour.
void ShowLed(Control &c);

// --- graphs (ui_graph.cpp) --------------------------------------------------------------------
QWidget *CreateGraph(Control &c, QWidget *parent, const ControlDesc &desc);
QWidget *CreateStripChart(Control &c, QWidget *parent, const ControlDesc &desc);
int SetStripAttribute(Control &c, int attribute, int value);
bool GetStripAttribute(const Control &c, int attribute, int *value);

} // namespace kvor_ui
