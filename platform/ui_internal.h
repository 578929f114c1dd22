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
    int anchors = 0;        // ANCHOR_* bits; 0: left and top
    bool zoom = false;      // a graph the operator can zoom and pan
    QStringList csvColumns; // a graph's or strip chart's data export: the column names
};

// How a control follows a resizable panel's growth: anchored to the left only it keeps its
// place, to the right only it moves with the right edge, to both it grows; likewise top and
// bottom.
enum { ANCHOR_LEFT = 1, ANCHOR_RIGHT = 2, ANCHOR_TOP = 4, ANCHOR_BOTTOM = 8 };

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
    bool marked = false; // ATTR_MARKED: shown on the mark colour instead of textBgColor
    int pointSize = 0;
    QString fontName;
    int scrollMode = 0;
    int cursorCount = 0;

    std::unique_ptr<GraphState> graph;
    std::unique_ptr<StripState> strip;

    int anchors = 0;          // ANCHOR_* bits; 0: left and top
    int growX = 0, growY = 0; // how far its panel has grown beyond the panel file's size
    QStringList csvColumns;   // graphs and strip charts: the columns of their data export

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
    // Where the controls and pages live: the window itself, or for a resizable panel the
    // widget inside its scroll area.
    QPointer<QWidget> canvas;
    int baseWidth = 0, baseHeight = 0; // the size the panel file gives
};

// --- tables (ui_panels.cpp) -------------------------------------------------------------------
bool AppReady();     // an application object of ours runs (with or without windows)
bool WidgetsReady(); // ... and it can show windows
Panel *FindPanel(int handle);
Panel *FindPanel(int handle, std::uint64_t serial);
Control *FindControl(int panel, int control);
// A data file by name: as given when absolute, else beside the executable, then in the data
// directory of the tree the executable was installed into (../share/kvor-zodid), then in the
// configured installed data directory, then in the current directory. Empty when not found.
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

// --- layout (ui_layout.cpp) -------------------------------------------------------------------
// The parent of a panel's controls and pages.
QWidget *PanelCanvas(const Panel &panel);
// The control's left/top/width/height moved and stretched by its panel's growth as its anchors
// say.
QRect LaidOutRect(const Control &c);
// Parses the panel file's "anchor" text ("left right top bottom", any of them); false when
// it names anything else.
bool ParseAnchors(const QString &text, int *anchors);
// Builds the window of a resizable top-level panel: a scroll area around the canvas, which is
// never smaller than the panel file's size and grows with the window.
QWidget *BuildResizableWindow(QWidget *window, Panel &panel, int width, int height);
// Sizes a window for an available screen area: the wanted size or smaller, with room for the
// window frame, placed inside the area when it had to shrink.
void FitWindowToArea(QWidget *window, const QSize &wanted, const QRect &available);
QColor ToColor(int rgb);

// --- lamps and tool tips (ui_led.cpp) -----------------------------------------------------------
QWidget *CreateLed(Control &c, QWidget *parent);
// Shows the lamp in its frame colour.
void ShowLed(Control &c);

// What the testing library's operator needs of the controls (ui_controls.cpp).
double CoerceValue(int type, double v);
double ClampValue(const Control &c, double v);
class QDoubleSpinBox *NumericEditOf(const Control &c);
class QSlider *SlideOf(const Control &c);
void ShowControlValue(Control &c);
void ShowRingControlValue(Control &c);
void RefreshPortChoices(Control &c);
void ShowSlideReadout(Control &c);

// --- graphs (ui_graph.cpp) --------------------------------------------------------------------
QWidget *CreateGraph(Control &c, QWidget *parent, const ControlDesc &desc);
QWidget *CreateStripChart(Control &c, QWidget *parent, const ControlDesc &desc);
int SetStripAttribute(Control &c, int attribute, int value);
// Zoom and pan by the operator, and the export entries of the context menu, as the panel file
// asks for them.
void SetGraphOptions(Control &c, const ControlDesc &desc);
bool GetStripAttribute(const Control &c, int attribute, int *value);

} // namespace kvor_ui
