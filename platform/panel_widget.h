// The widget of a panel, for the folders that build Qt widgets of their own inside a panel
// (record/). Folders that keep to the run-time services' vocabulary do not include this header.
#pragma once

class QWidget;

// The panel's window (or, for a child panel, its frame); nullptr for an unknown handle.
QWidget *PanelQWidget(int panel);
