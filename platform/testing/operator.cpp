// The testing library: the operator's clicks, keys and values, as the tests and the benchmark
// give them. The shipped program does not link it.
#include <QAbstractButton>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QSlider>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QTest>

#include <cmath>

#include "testhooks.h"
#include "ui_internal.h"

using namespace kvor_ui;

// --- acting as the operator -----------------------------------------------------------------------

namespace {

bool Reachable(const Control &c) {
    return c.widget && c.visible && !c.dimmed && c.widget->isEnabled();
}

} // namespace

int UserClick(int panel, int control) {
    Panel *p = FindPanel(panel);
    Control *c = FindControl(panel, control);
    if (!c) return p ? UIEInvalidControl : UIEInvalidPanel;
    if (!c->widget) return UIEInvalidControl;
    const std::uint64_t serial = p->serial;
    const int kind = c->kind; // c may be gone once a callback has run
    QWidget *target = c->widget;
    QPoint pos = target->rect().center();
    if (c->kind == CTRL_RADIO_BUTTON || c->kind == CTRL_TOGGLE_BUTTON) {
        // Only the indicator and the text of a stretched button take the click.
        pos = QPoint(6, target->height() / 2);
    } else if (c->kind == CTRL_SLIDE) {
        QSlider *s = SlideOf(*c);
        if (!s) return UIEInvalidControl;
        QStyleOptionSlider option;
        option.initFrom(s);
        option.orientation = s->orientation();
        option.minimum = s->minimum();
        option.maximum = s->maximum();
        option.sliderPosition = s->sliderPosition();
        option.sliderValue = s->value();
        option.tickPosition = s->tickPosition();
        option.tickInterval = s->tickInterval();
        option.subControls = QStyle::SC_SliderGroove | QStyle::SC_SliderHandle;
        pos = s->style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderHandle, s).center();
        target = s;
    }
    const QPointer<QWidget> guard(target);
    QTest::mousePress(target, Qt::LeftButton, Qt::KeyboardModifiers(), pos);
    // The left-click callback may have taken the panel away.
    if (!guard || !FindPanel(panel, serial)) return 0;
    QTest::mouseRelease(target, Qt::LeftButton, Qt::KeyboardModifiers(), pos);
    if (kind == CTRL_RING && guard && FindPanel(panel, serial))
        if (auto *ring = qobject_cast<QComboBox *>(guard.data())) ring->hidePopup();
    return 0;
}

int UserCommit(int panel, int control) {
    Panel *p = FindPanel(panel);
    Control *c = FindControl(panel, control);
    if (!c) return p ? UIEInvalidControl : UIEInvalidPanel;
    if (!c->widget) return UIEInvalidControl;
    switch (c->kind) {
    case CTRL_COMMAND_BUTTON:
    case CTRL_TOGGLE_BUTTON:
    case CTRL_RADIO_BUTTON:
        QTest::keyClick(c->widget, Qt::Key_Space);
        return 0;
    case CTRL_NUMERIC:
        QTest::keyClick(c->widget, Qt::Key_Return);
        return 0;
    case CTRL_RING:
    case CTRL_SLIDE:
        DeliverCtrlEvent(panel, p->serial, control, EVENT_COMMIT);
        return 0;
    default:
        return UIEInvalidControl;
    }
}

int UserSetValue(int panel, int control, double value) {
    Panel *p = FindPanel(panel);
    Control *c = FindControl(panel, control);
    if (!c) return p ? UIEInvalidControl : UIEInvalidPanel;
    if (!Reachable(*c)) return UIEInvalidControl;
    if (!std::isfinite(value)) return UIEBadValue;
    switch (c->kind) {
    case CTRL_TOGGLE_BUTTON:
    case CTRL_RADIO_BUTTON:
        c->num = value != 0.0 ? 1.0 : 0.0;
        ShowControlValue(*c);
        break;
    case CTRL_NUMERIC:
        if (QDoubleSpinBox *e = NumericEditOf(*c)) {
            const QSignalBlocker block(e);
            e->setValue(value); // held to the range and rounded to the decimals, as typed
            c->shownValue = e->value();
            c->num = ClampValue(*c, CoerceValue(c->type, c->shownValue));
        }
        break;
    case CTRL_RING: {
        if (c->serialPorts) RefreshPortChoices(*c); // what the operator would see on opening it
        const double v = CoerceValue(c->type, value);
        bool found = false;
        for (const RingItem &item : c->items)
            found = found || CoerceValue(c->type, item.value) == v;
        if (!found) return UIEBadValue;
        c->num = v;
        ShowRingControlValue(*c);
        break;
    }
    case CTRL_SLIDE:
        if (QSlider *s = SlideOf(*c)) {
            const QSignalBlocker block(s);
            s->setValue(static_cast<int>(std::lround(std::min(std::max(value, -2e9), 2e9))));
            c->num = ClampValue(*c, CoerceValue(c->type, s->value()));
            ShowSlideReadout(*c);
        }
        break;
    default:
        return UIEInvalidControl;
    }
    const std::uint64_t serial = p->serial;
    DeliverCtrlEvent(panel, serial, control, EVENT_VAL_CHANGED);
    DeliverCtrlEvent(panel, serial, control, EVENT_COMMIT);
    return 0;
}
