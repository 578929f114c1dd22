#include "panel_widget.h"

#include "ui_internal.h"

QWidget *PanelQWidget(int panel) {
    kvor_ui::Panel *p = kvor_ui::FindPanel(panel);
    return p ? p->widget.data() : nullptr;
}
