// Controls: widgets for each kind, values in the control's own type, attributes.
#include <QApplication>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFontInfo>
#include <QFrame>
#include <QKeyEvent>
#include <QKeySequence>
#include <QLabel>
#include <QLocale>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QShortcut>
#include <QSignalBlocker>
#include <QSlider>
#include <QStyleOptionSlider>
#include <QStylePainter>
#include <QWheelEvent>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>

#include "rs232.h"
#include "ui_indicator.h"
#include "ui_internal.h"

using namespace kvor_ui;

namespace {

const int kCaptionHeight = 16;

// --- conversions ----------------------------------------------------------------------------------

// A double truncated toward zero into 64 bits (NaN gives 0, the ends saturate), so that the
// narrower integer types can wrap like a C cast of an integer.
std::int64_t Truncate64(double v) {
    if (std::isnan(v)) return 0;
    if (v >= 9223372036854775807.0) return INT64_MAX;
    if (v <= -9223372036854775808.0) return INT64_MIN;
    return static_cast<std::int64_t>(std::trunc(v));
}

double Coerce(int type, double v) {
    const std::uint64_t bits = static_cast<std::uint64_t>(Truncate64(v));
    switch (type) {
    case T_UINT16:
        return static_cast<std::uint16_t>(bits);
    case T_INT16:
        return static_cast<std::int16_t>(static_cast<std::uint16_t>(bits));
    case T_INT32:
        return static_cast<std::int32_t>(static_cast<std::uint32_t>(bits));
    case T_UINT32:
        return static_cast<std::uint32_t>(bits);
    case T_FLOAT:
        if (std::isnan(v)) return 0.0;
        if (v > 3.4028234663852886e38) return 3.4028234663852886e38;
        if (v < -3.4028234663852886e38) return -3.4028234663852886e38;
        return static_cast<float>(v);
    default:
        return std::isfinite(v) ? v : 0.0;
    }
}

void TypeRange(int type, double *lo, double *hi) {
    switch (type) {
    case T_UINT16:
        *lo = 0;
        *hi = 65535;
        break;
    case T_INT16:
        *lo = -32768;
        *hi = 32767;
        break;
    case T_INT32:
        *lo = -2147483648.0;
        *hi = 2147483647.0;
        break;
    case T_UINT32:
        *lo = 0;
        *hi = 4294967295.0;
        break;
    default:
        *lo = -1e15;
        *hi = 1e15;
        break;
    }
}

bool IsInteger(int type) {
    return type == T_UINT16 || type == T_INT16 || type == T_INT32 || type == T_UINT32;
}

QString FormatNumber(const Control &c, double v) {
    if (c.type == T_FLOAT || c.type == T_DOUBLE) return QString::number(v, 'f', c.precision);
    return QString::number(static_cast<qlonglong>(v));
}

bool ParseNumber(const QString &text, double *out) {
    bool ok = false;
    const double d = QLocale::c().toDouble(text.trimmed(), &ok);
    if (!ok || !std::isfinite(d)) return false;
    *out = d;
    return true;
}

// Character by character, without a copy of the text on the heap.
void CopyLatin1(const QString &text, char *dest, size_t size) {
    if (size == 0) return;
    const size_t n = std::min(static_cast<size_t>(text.size()), size - 1);
    for (size_t i = 0; i < n; ++i) {
        const char16_t ch = text[static_cast<qsizetype>(i)].unicode();
        dest[i] = ch < 256 ? static_cast<char>(ch) : '?'; // as toLatin1() has it
    }
    dest[n] = '\0';
}

// The same text, written without the heap where it can be: indicators show a new value for
// every answer of the sensor.
void FormatNumberInto(const Control &c, double v, char *out, size_t size) {
    if (c.type == T_FLOAT || c.type == T_DOUBLE) {
        if (FormatFixed(v, c.precision, out, size)) return;
        CopyLatin1(FormatNumber(c, v), out, size);
        return;
    }
    std::snprintf(out, size, "%lld", static_cast<long long>(static_cast<qlonglong>(v)));
}

// --- widgets --------------------------------------------------------------------------------------

// Numeric edit: commits on Enter, on leaving it after a change, and on every arrow step.
class NumEdit : public QDoubleSpinBox {
  public:
    using QDoubleSpinBox::QDoubleSpinBox;
    std::function<void()> onCommit;
    bool dirty = false;

  protected:
    void keyPressEvent(QKeyEvent *event) override {
        const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
        QDoubleSpinBox::keyPressEvent(event);
        if (enter) Commit();
    }
    void focusOutEvent(QFocusEvent *event) override {
        QDoubleSpinBox::focusOutEvent(event);
        if (dirty) Commit();
    }
    void stepBy(int steps) override {
        QDoubleSpinBox::stepBy(steps);
        Commit();
    }
    // The wheel over a field the operator is not working in scrolls nothing and changes nothing.
    void wheelEvent(QWheelEvent *event) override {
        if (!hasFocus()) {
            event->ignore();
            return;
        }
        QDoubleSpinBox::wheelEvent(event);
    }

  private:
    void Commit() {
        dirty = false;
        if (onCommit) onCommit();
    }
};

// Drop-down whose items can be refreshed each time it opens (the serial port choice).
// A value is chosen only in the open list, or by moving through the items with the keyboard on
// the closed box and pressing Enter; the wheel never chooses, and a keyboard selection that is
// not confirmed is dropped when the box loses the focus.
class RingBox : public QComboBox {
  public:
    using QComboBox::QComboBox;
    std::function<void()> beforePopup;
    std::function<void()> onEnter;  // commits the item shown
    std::function<void()> onRevert; // shows the control's value again
    bool browsing = false;          // set while keys move through the items of the closed box
    void showPopup() override {
        if (beforePopup) beforePopup();
        QComboBox::showPopup();
    }

  protected:
    void keyPressEvent(QKeyEvent *event) override {
        if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) &&
            event->modifiers() == Qt::NoModifier) {
            event->accept();
            if (onEnter) onEnter();
            return;
        }
        browsing = true;
        QComboBox::keyPressEvent(event);
        browsing = false;
    }
    void focusOutEvent(QFocusEvent *event) override {
        QComboBox::focusOutEvent(event);
        if (event->reason() != Qt::PopupFocusReason && onRevert) onRevert();
    }
    void wheelEvent(QWheelEvent *event) override { event->ignore(); }
};

// Slider that commits when the operator lets go of it or moves it by keyboard or wheel (the
// wheel only while it has the keyboard focus). What is typed at it goes into its number box.
class Slide : public QSlider {
  public:
    using QSlider::QSlider;
    std::function<void()> onCommit;
    QPointer<NumEdit> box;

  protected:
    void mouseReleaseEvent(QMouseEvent *event) override {
        QSlider::mouseReleaseEvent(event);
        if (onCommit) onCommit();
    }
    // The focus shows on the slider however it came there (the style shows it only after Tab),
    // so the operator sees whether keys go to the slider or to its box.
    void paintEvent(QPaintEvent *event) override {
        QSlider::paintEvent(event);
        if (!hasFocus()) return;
        QStylePainter painter(this);
        QStyleOptionFocusRect option;
        option.initFrom(this);
        option.state |= QStyle::State_KeyboardFocusChange;
        option.rect = rect().adjusted(1, 1, -1, -1);
        painter.drawPrimitive(QStyle::PE_FrameFocusRect, option);
    }
    void keyPressEvent(QKeyEvent *event) override {
        const QString text = event->text();
        const bool plain = !(event->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier));
        if (box && box->isEnabled() && plain && text.size() == 1 &&
            (text[0].isDigit() || text[0] == QLatin1Char('-') || text[0] == QLatin1Char('.'))) {
            // The typing starts over in the box, where Enter or leaving it commits it.
            box->setFocus(Qt::TabFocusReason);
            box->selectAll();
            QKeyEvent copy(event->type(), event->key(), event->modifiers(), text);
            QCoreApplication::sendEvent(box, &copy);
            event->accept();
            return;
        }
        const int before = value();
        QSlider::keyPressEvent(event);
        // Keys the slider has no use for stop here, whatever holds the focus elsewhere.
        event->accept();
        if (value() != before && onCommit) onCommit();
    }
    void wheelEvent(QWheelEvent *event) override {
        if (!hasFocus()) {
            event->ignore();
            return;
        }
        const int before = value();
        QSlider::wheelEvent(event);
        if (value() != before && onCommit) onCommit();
    }
};

bool HasCaption(int kind) {
    switch (kind) {
    case CTRL_NUMERIC:
    case CTRL_NUMERIC_INDICATOR:
    case CTRL_RING:
    case CTRL_SLIDE:
    case CTRL_STRING:
    case CTRL_TEXT_BOX:
    case CTRL_GRAPH:
    case CTRL_STRIP_CHART:
    case CTRL_DECORATION:
        return true;
    default:
        return false;
    }
}

QAbstractButton *Button(const Control &c) {
    return qobject_cast<QAbstractButton *>(c.widget);
}
NumEdit *Edit(const Control &c) {
    return dynamic_cast<NumEdit *>(c.widget.data());
}
RingBox *Ring(const Control &c) {
    return dynamic_cast<RingBox *>(c.widget.data());
}
Slide *Slider(const Control &c) {
    return c.widget ? c.widget->findChild<Slide *>() : nullptr;
}
NumEdit *Readout(const Control &c) {
    return c.widget ? c.widget->findChild<NumEdit *>(QStringLiteral("readout")) : nullptr;
}

// The slide's number box shows the slide's value.
void ShowReadout(Control &c) {
    if (NumEdit *r = Readout(c)) {
        const QSignalBlocker block(r);
        r->setValue(c.num);
        r->dirty = false;
    }
}

void ShowRingValue(Control &c) {
    RingBox *ring = Ring(c);
    if (!ring) return;
    int index = -1;
    for (size_t i = 0; i < c.items.size(); ++i)
        if (Coerce(c.type, c.items[i].value) == c.num) {
            index = static_cast<int>(i);
            break;
        }
    const QSignalBlocker block(ring);
    ring->setCurrentIndex(index);
    // A value that matches no item is kept and shown as the plain number.
    ring->setPlaceholderText(index < 0 ? FormatNumber(c, c.num) : QString());
}

void FillRing(Control &c) {
    RingBox *ring = Ring(c);
    if (!ring) return;
    const QSignalBlocker block(ring);
    ring->clear();
    for (const RingItem &item : c.items)
        ring->addItem(item.label, item.value);
    ShowRingValue(c);
}

// The ports offered now, each labelled with the device it means.
void RefreshPorts(Control &c) {
    ComPortChoice choices[64];
    const int n = ListComPorts(choices, 64);
    if (n <= 0) return;
    c.items.clear();
    for (int i = 0; i < n && i < 64; ++i) {
        QString label = QStringLiteral("COM%1").arg(choices[i].port);
        if (!choices[i].device.empty()) {
            label += QStringLiteral("  ") + QString::fromLocal8Bit(choices[i].device.c_str());
            if (!choices[i].target.empty())
                label += QStringLiteral("  (") + QString::fromLocal8Bit(choices[i].target.c_str()) + ')';
            if (!choices[i].present) label += QStringLiteral("  (not present)");
        }
        c.items.push_back(RingItem{label, static_cast<double>(choices[i].port)});
    }
    FillRing(c);
}

// The operator chose the item at 'index': value changed (when it is another value), then
// commit. A keyboard choice confirmed with Enter commits only a different value.
void CommitRingIndex(int h, std::uint64_t serial, int id, int index, bool onlyIfChanged) {
    Panel *p = FindPanel(h, serial);
    if (!p || !p->controls.count(id)) return;
    Control &ctl = *p->controls[id];
    if (index < 0 || index >= static_cast<int>(ctl.items.size())) return;
    const double v = Coerce(ctl.type, ctl.items[static_cast<size_t>(index)].value);
    const bool changed = v != ctl.num;
    if (!changed && onlyIfChanged) return;
    ctl.num = v;
    ShowRingValue(ctl);
    if (changed) DeliverCtrlEvent(h, serial, id, EVENT_VAL_CHANGED);
    DeliverCtrlEvent(h, serial, id, EVENT_COMMIT);
}

void ShowText(Control &c) {
    if (c.kind == CTRL_TEXT_BOX) {
        if (auto *box = qobject_cast<QPlainTextEdit *>(c.widget)) box->setPlainText(c.lines.join('\n'));
        return;
    }
    if (auto *label = qobject_cast<QLabel *>(c.widget)) {
        label->setText(c.text);
        if (c.kind == CTRL_TEXT_MSG && c.width == 0) label->adjustSize();
    }
}

void ShowValue(Control &c) {
    switch (c.kind) {
    case CTRL_TOGGLE_BUTTON:
    case CTRL_RADIO_BUTTON:
        if (QAbstractButton *b = Button(c)) {
            const QSignalBlocker block(b);
            b->setChecked(c.num != 0.0);
        }
        break;
    case CTRL_NUMERIC:
        if (NumEdit *e = Edit(c)) {
            const QSignalBlocker block(e);
            e->setValue(c.num);
            e->dirty = false;
        }
        break;
    case CTRL_NUMERIC_INDICATOR:
        if (auto *indicator = dynamic_cast<NumIndicator *>(c.widget.data())) {
            char text[48];
            FormatNumberInto(c, c.num, text, sizeof text);
            indicator->SetText(text);
        }
        break;
    case CTRL_RING:
        ShowRingValue(c);
        break;
    case CTRL_SLIDE:
        if (Slide *s = Slider(c)) {
            const QSignalBlocker block(s);
            s->setValue(static_cast<int>(c.num));
        }
        ShowReadout(c);
        break;
    default:
        ShowText(c);
        break;
    }
}

// The value the numeric edit shows for the stored value (it rounds to its decimals).
double Shown(const Control &c) {
    NumEdit *e = Edit(c);
    return e ? e->value() : c.num;
}

double Clamp(const Control &c, double v) {
    if (c.kind != CTRL_NUMERIC && c.kind != CTRL_SLIDE) return v;
    return std::min(std::max(v, c.min), c.max);
}

void ApplyColors(Control &c) {
    QWidget *w = c.widget;
    if (!w) return;
    if (c.kind == CTRL_LED) return ShowLed(c);
    QPalette pal = w->palette();
    // Colours apply to the active and inactive looks only, so that a dimmed control still
    // greys out as the operator expects.
    auto set = [&pal](QPalette::ColorRole role, const QColor &color) {
        pal.setColor(QPalette::Active, role, color);
        pal.setColor(QPalette::Inactive, role, color);
    };
    const QColor text = ToColor(c.textColor), back = ToColor(c.marked ? VAL_MARK_COLOR : c.textBgColor);
    if (c.marked) set(QPalette::Button, back); // a drop-down shows its value on the button colour
    switch (c.kind) {
    case CTRL_DECORATION:
        set(QPalette::Window, ToColor(c.frameColor));
        w->setAutoFillBackground(true);
        break;
    case CTRL_NUMERIC_INDICATOR:
    case CTRL_STRING:
    case CTRL_TEXT_MSG:
        set(QPalette::WindowText, text);
        set(QPalette::Window, back);
        break;
    case CTRL_COMMAND_BUTTON:
    case CTRL_TOGGLE_BUTTON:
    case CTRL_RADIO_BUTTON:
        set(QPalette::ButtonText, text);
        set(QPalette::WindowText, text);
        break;
    default:
        set(QPalette::Text, text);
        set(QPalette::Base, back);
        set(QPalette::ButtonText, text);
        break;
    }
    w->setPalette(pal);
}

void ApplyFont(Control &c) {
    QWidget *w = c.widget;
    if (!w) return;
    QFont font = w->font();
    if (!c.fontName.isEmpty()) {
        if (c.fontName == QLatin1String(VAL_APP_META_FONT))
            font.setFamily(QApplication::font().family());
        else
            font.setFamily(c.fontName);
    }
    // Text sizes are character heights in pixels: the panel layout and the program's logo
    // lines are spaced for that, whatever the screen's resolution.
    if (c.pointSize > 0) font.setPixelSize(c.pointSize);
    w->setFont(font);
    if (c.kind == CTRL_TEXT_MSG && c.width == 0) w->adjustSize();
}

QLabel *MakeCaption(const Control &c, QWidget *parent, const QString &text) {
    auto *caption = new QLabel(text, parent);
    if (c.kind == CTRL_DECORATION) {
        QFont f = caption->font();
        f.setPointSizeF(f.pointSizeF() * 0.9);
        f.setBold(true);
        caption->setFont(f);
        caption->setAutoFillBackground(true);
        caption->setContentsMargins(4, 0, 4, 0);
        QPalette pal = caption->palette();
        pal.setColor(QPalette::WindowText, QColor(0x44, 0x4C, 0x56));
        caption->setPalette(pal);
    }
    return caption;
}

QWidget *MakeWidget(Control &c, Panel &panel, const ControlDesc &desc) {
    QWidget *parent = PanelCanvas(panel);
    const int h = panel.handle;
    const std::uint64_t serial = panel.serial;
    const int id = c.id;
    switch (c.kind) {
    case CTRL_COMMAND_BUTTON: {
        auto *b = new QPushButton(desc.label, parent);
        b->setAutoDefault(false);
        QObject::connect(b, &QPushButton::clicked, b,
                         [h, serial, id] { DeliverCtrlEvent(h, serial, id, EVENT_COMMIT); });
        return b;
    }
    case CTRL_TOGGLE_BUTTON:
    case CTRL_RADIO_BUTTON: {
        QAbstractButton *b;
        if (c.kind == CTRL_TOGGLE_BUTTON) {
            auto *p = new QPushButton(desc.label, parent);
            p->setAutoDefault(false);
            b = p;
        } else {
            auto *r = new QRadioButton(desc.label, parent);
            r->setAutoExclusive(false); // each radio button is its own control
            b = r;
        }
        b->setCheckable(true);
        QObject::connect(b, &QAbstractButton::clicked, b, [h, serial, id](bool checked) {
            Panel *p = FindPanel(h, serial);
            if (!p || !p->controls.count(id)) return;
            p->controls[id]->num = checked ? 1.0 : 0.0;
            DeliverCtrlEvent(h, serial, id, EVENT_VAL_CHANGED);
            DeliverCtrlEvent(h, serial, id, EVENT_COMMIT);
        });
        return b;
    }
    case CTRL_NUMERIC: {
        auto *e = new NumEdit(parent);
        e->setFocusPolicy(Qt::StrongFocus); // the wheel alone does not take the focus
        e->setLocale(QLocale::c());
        e->setKeyboardTracking(false);
        e->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        e->setAccelerated(true);
        const bool real = c.type == T_FLOAT || c.type == T_DOUBLE;
        e->setDecimals(real ? c.precision : 0);
        e->setSingleStep(real ? std::pow(10.0, -std::min(c.precision, 3)) : 1.0);
        e->setRange(c.min, c.max);
        e->onCommit = [h, serial, id] { DeliverCtrlEvent(h, serial, id, EVENT_COMMIT); };
        QObject::connect(e, &QDoubleSpinBox::valueChanged, e, [h, serial, id, e](double v) {
            Panel *p = FindPanel(h, serial);
            if (!p || !p->controls.count(id)) return;
            Control &ctl = *p->controls[id];
            // Enter re-announces the value it shows; only a different value is a change.
            if (v == ctl.shownValue) return;
            ctl.shownValue = v;
            ctl.num = Clamp(ctl, Coerce(ctl.type, v));
            e->dirty = true;
            DeliverCtrlEvent(h, serial, id, EVENT_VAL_CHANGED);
        });
        return e;
    }
    case CTRL_NUMERIC_INDICATOR:
        return new NumIndicator(parent);
    case CTRL_STRING: {
        auto *l = new QLabel(parent);
        l->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
        l->setAutoFillBackground(true);
        l->setMargin(NumIndicator::kMargin); // as the numeric indicator beside it
        l->setIndent(NumIndicator::kIndent);
        l->setTextFormat(Qt::PlainText);
        l->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        return l;
    }
    case CTRL_TEXT_MSG:
    case CTRL_PICTURE: {
        auto *l = new QLabel(parent);
        l->setTextFormat(Qt::PlainText);
        l->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        return l;
    }
    case CTRL_RING: {
        auto *r = new RingBox(parent);
        r->setFocusPolicy(Qt::StrongFocus);
        r->onEnter = [h, serial, id, r] { CommitRingIndex(h, serial, id, r->currentIndex(), true); };
        r->onRevert = [h, serial, id] {
            if (Panel *p = FindPanel(h, serial))
                if (p->controls.count(id)) ShowRingValue(*p->controls[id]);
        };
        if (c.serialPorts)
            r->beforePopup = [h, serial, id] {
                if (Panel *p = FindPanel(h, serial))
                    if (p->controls.count(id)) RefreshPorts(*p->controls[id]);
            };
        QObject::connect(r, &QComboBox::activated, r, [h, serial, id, r](int index) {
            // Keys on the closed box only move the selection shown; Enter commits it.
            if (!r->browsing) CommitRingIndex(h, serial, id, index, false);
        });
        return r;
    }
    case CTRL_SLIDE: {
        auto *box = new QWidget(parent);
        auto *s = new Slide(Qt::Horizontal, box);
        s->setRange(static_cast<int>(c.min), static_cast<int>(c.max));
        s->setTickPosition(QSlider::TicksBelow);
        s->setTickInterval(std::max(1, static_cast<int>((c.max - c.min) / 10)));
        s->setPageStep(std::max(1, static_cast<int>((c.max - c.min) / 20)));
        s->setFocusPolicy(Qt::StrongFocus);
        // The number box takes typed values within the slide's range, as a numeric field does.
        auto *readout = new NumEdit(box);
        readout->setObjectName(QStringLiteral("readout"));
        readout->setFocusPolicy(Qt::StrongFocus);
        readout->setLocale(QLocale::c());
        readout->setKeyboardTracking(false);
        readout->setButtonSymbols(QAbstractSpinBox::NoButtons);
        readout->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        readout->setDecimals(IsInteger(c.type) ? 0 : c.precision);
        readout->setRange(c.min, c.max);
        s->box = readout;
        readout->onCommit = [h, serial, id] { DeliverCtrlEvent(h, serial, id, EVENT_COMMIT); };
        QObject::connect(readout, &QDoubleSpinBox::valueChanged, readout, [h, serial, id](double v) {
            Panel *p = FindPanel(h, serial);
            if (!p || !p->controls.count(id)) return;
            Control &ctl = *p->controls[id];
            const double value = Clamp(ctl, Coerce(ctl.type, v));
            if (value == ctl.num) return;
            ctl.num = value;
            if (Slide *sl = Slider(ctl)) {
                const QSignalBlocker block(sl);
                sl->setValue(static_cast<int>(value));
            }
            if (NumEdit *r = Readout(ctl)) r->dirty = true;
            DeliverCtrlEvent(h, serial, id, EVENT_VAL_CHANGED);
        });
        s->onCommit = [h, serial, id] { DeliverCtrlEvent(h, serial, id, EVENT_COMMIT); };
        QObject::connect(s, &QSlider::valueChanged, s, [h, serial, id](int v) {
            Panel *p = FindPanel(h, serial);
            if (!p || !p->controls.count(id)) return;
            Control &ctl = *p->controls[id];
            ctl.num = Clamp(ctl, Coerce(ctl.type, v));
            ShowReadout(ctl);
            DeliverCtrlEvent(h, serial, id, EVENT_VAL_CHANGED);
        });
        return box;
    }
    case CTRL_TEXT_BOX: {
        auto *t = new QPlainTextEdit(parent);
        t->setReadOnly(true);
        t->setLineWrapMode(QPlainTextEdit::NoWrap);
        return t;
    }
    case CTRL_DECORATION: {
        auto *f = new QFrame(parent);
        f->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
        return f;
    }
    case CTRL_GRAPH:
        return CreateGraph(c, parent, desc);
    case CTRL_STRIP_CHART:
        return CreateStripChart(c, parent, desc);
    case CTRL_LED:
        return CreateLed(c, parent);
    default:
        return new QWidget(parent);
    }
}

// The slide's slider and read-out share its box.
void LayoutSlide(Control &c) {
    Slide *s = Slider(c);
    NumEdit *r = Readout(c);
    if (!s || !r) return;
    const int readout = std::min(64, c.width / 3);
    s->setGeometry(0, 0, std::max(0, c.width - readout - 6), c.height);
    r->setGeometry(c.width - readout, std::max(0, (c.height - 24) / 2), readout, std::min(24, c.height));
}

// --- keyboard focus and shortcuts -------------------------------------------------------------

// The widget that takes the keyboard focus for a control.
QWidget *FocusTarget(const Control &c) {
    if (c.kind == CTRL_SLIDE) return Slider(c);
    return c.widget;
}

// A control made active while dimmed takes the focus once it is undimmed.
struct PendingFocus {
    int panel = 0;
    std::uint64_t serial = 0;
    int control = 0;
} g_pendingFocus;

bool Operable(const Control &c) {
    return c.widget && c.visible && !c.dimmed && c.widget->isEnabled();
}

Control *OperableControl(int h, std::uint64_t serial, int id) {
    Panel *p = FindPanel(h, serial);
    if (!p || !p->controls.count(id) || !Operable(*p->controls[id])) return nullptr;
    return p->controls[id].get();
}

// A shortcut acts as a mouse click on its control, in the same order: the control takes the
// focus (so an edit left behind commits first), then the left-click event, then what the click
// itself raises. A dimmed or hidden control ignores its shortcut.
void ActivateByShortcut(int h, std::uint64_t serial, int id) {
    Control *c = OperableControl(h, serial, id);
    if (!c || !c->widget->isVisibleTo(c->widget->window())) return;
    QWidget *target = FocusTarget(*c);
    if (target && (target->focusPolicy() & Qt::ClickFocus)) target->setFocus(Qt::ShortcutFocusReason);
    // Each callback on the way may have dimmed the control or taken the panel away.
    if (!OperableControl(h, serial, id)) return;
    DeliverCtrlEvent(h, serial, id, EVENT_LEFT_CLICK);
    c = OperableControl(h, serial, id);
    if (!c) return;
    if (QAbstractButton *b = Button(*c)) b->click();
}

void ApplyHelp(Control &c, const ControlDesc &desc) {
    QString tip = desc.tooltip;
    if (!desc.shortcut.isEmpty()) {
        const QString key = QKeySequence::fromString(desc.shortcut, QKeySequence::PortableText)
                                .toString(QKeySequence::NativeText);
        tip += (tip.isEmpty() ? QString() : QStringLiteral("\n")) + QStringLiteral("Shortcut: ") + key;
    }
    if (tip.isEmpty() || !c.widget) return;
    c.widget->setToolTip(tip);
    for (QWidget *child : c.widget->findChildren<QWidget *>())
        child->setToolTip(tip);
    if (c.caption) c.caption->setToolTip(tip);
}

void MakeShortcut(Control &c, const Panel &panel, const ControlDesc &desc) {
    if (desc.shortcut.isEmpty() || !c.widget) return;
    // Bound to the control's widget: it acts only while that widget is shown in the active
    // window (not on a hidden page).
    auto *shortcut =
        new QShortcut(QKeySequence::fromString(desc.shortcut, QKeySequence::PortableText), c.widget);
    shortcut->setContext(Qt::WindowShortcut);
    shortcut->setAutoRepeat(false);
    const int h = panel.handle;
    const std::uint64_t serial = panel.serial;
    const int id = c.id;
    QObject::connect(shortcut, &QShortcut::activated, c.widget,
                     [h, serial, id] { ActivateByShortcut(h, serial, id); });
}

} // namespace

namespace kvor_ui {

bool ShortcutValid(const QString &text) {
    const QKeySequence key = QKeySequence::fromString(text, QKeySequence::PortableText);
    return key.count() == 1 && key[0].key() != Qt::Key_unknown && !key.toString().isEmpty();
}

int KindFromName(const QString &name) {
    static const char *const names[] = {
        "command_button", "toggle_button", "radio_button", "numeric",    "numeric_indicator",
        "ring",           "slide",         "string",       "text_box",   "text_msg",
        "picture",        "decoration",    "graph",        "strip_chart", "led"};
    for (int i = 0; i < static_cast<int>(sizeof names / sizeof names[0]); ++i)
        if (name == QLatin1String(names[i])) return CTRL_COMMAND_BUTTON + i;
    return 0;
}

int TypeFromName(const QString &name) {
    if (name == QLatin1String("uint16")) return T_UINT16;
    if (name == QLatin1String("int16")) return T_INT16;
    if (name == QLatin1String("int32")) return T_INT32;
    if (name == QLatin1String("uint32")) return T_UINT32;
    if (name == QLatin1String("float")) return T_FLOAT;
    if (name == QLatin1String("double")) return T_DOUBLE;
    if (name == QLatin1String("string")) return T_STRING;
    return T_NONE;
}

int DefaultType(int kind) {
    switch (kind) {
    case CTRL_NUMERIC:
    case CTRL_NUMERIC_INDICATOR:
        return T_DOUBLE;
    case CTRL_STRING:
    case CTRL_TEXT_MSG:
    case CTRL_TEXT_BOX:
        return T_STRING;
    case CTRL_PICTURE:
    case CTRL_DECORATION:
    case CTRL_GRAPH:
    case CTRL_STRIP_CHART:
        return T_NONE;
    default:
        return T_INT32;
    }
}

void DefaultSize(int kind, int *width, int *height) {
    switch (kind) {
    case CTRL_TEXT_MSG:
        *width = 0;
        *height = 0;
        break; // sized to its text
    case CTRL_TEXT_BOX:
        *width = 200;
        *height = 80;
        break;
    case CTRL_GRAPH:
    case CTRL_STRIP_CHART:
        *width = 300;
        *height = 200;
        break;
    case CTRL_SLIDE:
        *width = 200;
        *height = 40;
        break;
    case CTRL_DECORATION:
    case CTRL_PICTURE:
        *width = 100;
        *height = 100;
        break;
    default:
        *width = 100;
        *height = 24;
        break;
    }
}

QColor ToColor(int rgb) {
    return QColor((rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF);
}

void PlaceControl(Control &c) {
    if (!c.widget) return;
    const QRect r = LaidOutRect(c); // the panel file's place, moved as the panel grew
    if (c.kind == CTRL_TEXT_MSG && c.width == 0) {
        c.widget->move(r.topLeft());
        c.widget->adjustSize();
    } else if (c.kind == CTRL_PICTURE && c.width == 0) {
        c.widget->move(r.topLeft());
    } else {
        c.widget->setGeometry(r);
    }
    if (c.kind == CTRL_SLIDE) LayoutSlide(c);
    if (c.caption) {
        const int w = std::max(c.caption->sizeHint().width(), c.kind == CTRL_DECORATION ? 0 : r.width());
        if (c.kind == CTRL_DECORATION)
            c.caption->setGeometry(r.left() + 10, r.top() - kCaptionHeight / 2, w, kCaptionHeight);
        else
            c.caption->setGeometry(r.left(), r.top() - kCaptionHeight - 1, w, kCaptionHeight);
    }
}

std::unique_ptr<Control> CreateControl(Panel &panel, int id, const ControlDesc &desc) {
    auto c = std::make_unique<Control>();
    c->id = id;
    c->kind = desc.kind;
    c->type = desc.type;
    c->name = desc.name;
    c->left = desc.left;
    c->top = desc.top;
    c->width = desc.width;
    c->height = desc.height;
    c->precision = desc.precision >= 0 ? desc.precision : 2;
    c->items = desc.items;
    c->serialPorts = desc.serialPorts;
    c->lines = desc.lines;
    c->visible = desc.visible;
    c->cursorCount = desc.cursors;
    if (desc.frameColor >= 0) c->frameColor = desc.frameColor;
    if (desc.textColor >= 0) c->textColor = desc.textColor;
    if (desc.textBgColor >= 0) c->textBgColor = desc.textBgColor;
    if (desc.fontSize > 0) c->pointSize = static_cast<int>(std::lround(desc.fontSize));
    if (IsInteger(c->type) || c->type == T_FLOAT || c->type == T_DOUBLE) {
        double lo, hi;
        TypeRange(c->type, &lo, &hi);
        c->min = desc.hasMin ? std::max(lo, Coerce(c->type, desc.min)) : lo;
        c->max = desc.hasMax ? std::min(hi, Coerce(c->type, desc.max)) : hi;
        if (c->kind == CTRL_SLIDE && !desc.hasMin) c->min = 0;
        if (c->kind == CTRL_SLIDE && !desc.hasMax) c->max = 100;
        if (c->min > c->max) c->max = c->min;
    }
    if (c->kind == CTRL_TEXT_MSG && desc.text.isEmpty() && desc.label.size())
        c->text = desc.label; // a text message shows its label when it has no text of its own
    else
        c->text = desc.text;

    QWidget *w = MakeWidget(*c, panel, desc);
    c->widget = w;
    if (HasCaption(c->kind) && !desc.label.isEmpty())
        c->caption = MakeCaption(*c, PanelCanvas(panel), desc.label);
    // The stored value starts inside the range and in the control's type.
    const double start =
        desc.hasValue ? desc.value : (c->kind == CTRL_NUMERIC || c->kind == CTRL_SLIDE ? c->min : 0.0);
    c->num = c->type == T_STRING || c->type == T_NONE ? 0.0 : Clamp(*c, Coerce(c->type, start));
    if (c->kind == CTRL_TOGGLE_BUTTON || c->kind == CTRL_RADIO_BUTTON) c->num = c->num != 0.0;
    if (c->kind == CTRL_RING) FillRing(*c);
    if (c->serialPorts) RefreshPorts(*c);
    if (c->kind == CTRL_TEXT_MSG && desc.textBgColor >= 0) w->setAutoFillBackground(true);
    ApplyColors(*c);
    ApplyFont(*c);
    ShowValue(*c);
    c->shownValue = Shown(*c);
    PlaceControl(*c);
    AttachControl(w, panel.handle, panel.serial, id);
    ApplyHelp(*c, desc);
    MakeShortcut(*c, panel, desc);
    w->setVisible(c->visible);
    if (c->caption) {
        c->caption->setVisible(c->visible);
        c->caption->raise();
    }
    return c;
}

} // namespace kvor_ui

// --- values ---------------------------------------------------------------------------------------

namespace {

int SetNumber(int panel, int control, double v) {
    Control *c = FindControl(panel, control);
    if (!c) return FindPanel(panel) ? UIEInvalidControl : UIEInvalidPanel;
    switch (c->kind) {
    case CTRL_COMMAND_BUTTON:
        return 0;
    case CTRL_TOGGLE_BUTTON:
    case CTRL_RADIO_BUTTON:
        c->num = v != 0.0 ? 1.0 : 0.0;
        break;
    case CTRL_NUMERIC:
    case CTRL_NUMERIC_INDICATOR:
    case CTRL_RING:
    case CTRL_SLIDE:
        c->num = Clamp(*c, Coerce(c->type, v));
        if (c->serialPorts) RefreshPorts(*c); // the port set may be one the list has not shown yet
        break;
    case CTRL_STRING:
    case CTRL_TEXT_MSG:
        c->text = QString::number(v, 'g', 15);
        break;
    default:
        return UIEBadValue;
    }
    ShowValue(*c);
    c->shownValue = Shown(*c);
    return 0;
}

int GetNumber(int panel, int control, double *out) {
    if (!out) return UIEBadValue;
    Control *c = FindControl(panel, control);
    if (!c) return FindPanel(panel) ? UIEInvalidControl : UIEInvalidPanel;
    if (c->type == T_STRING) {
        if (!ParseNumber(c->text, out)) {
            *out = 0.0;
            return UIEBadValue;
        }
        return 0;
    }
    if (c->type == T_NONE) return UIEBadValue;
    *out = c->num;
    return 0;
}

template <typename T> int GetAs(int panel, int control, T *value) {
    if (!value) return UIEBadValue;
    double d = 0.0;
    const int r = GetNumber(panel, control, &d);
    if (r < 0) return r;
    if (std::is_floating_point<T>::value)
        *value = static_cast<T>(d);
    else
        *value = static_cast<T>(static_cast<std::uint64_t>(Truncate64(d)));
    return 0;
}

} // namespace

int SetCtrlVal(int panel, int control, int value) {
    return SetNumber(panel, control, value);
}
int SetCtrlVal(int panel, int control, unsigned int value) {
    return SetNumber(panel, control, value);
}
int SetCtrlVal(int panel, int control, double value) {
    return SetNumber(panel, control, value);
}

int SetCtrlVal(int panel, int control, const char *value) {
    Control *c = FindControl(panel, control);
    if (!c) return FindPanel(panel) ? UIEInvalidControl : UIEInvalidPanel;
    const QString text = QString::fromLatin1(value ? value : "");
    switch (c->kind) {
    case CTRL_STRING:
    case CTRL_TEXT_MSG:
        c->text = text;
        break;
    case CTRL_TEXT_BOX: {
        // A text box collects what it is given.
        QString all = c->lines.join('\n') + text;
        c->lines = all.split('\n');
        break;
    }
    default: {
        double d = 0.0;
        if (!ParseNumber(text, &d)) return UIEBadValue;
        return SetNumber(panel, control, d);
    }
    }
    ShowText(*c);
    return 0;
}

int GetCtrlVal(int panel, int control, unsigned short *value) {
    return GetAs(panel, control, value);
}
int GetCtrlVal(int panel, int control, short *value) {
    return GetAs(panel, control, value);
}
int GetCtrlVal(int panel, int control, int *value) {
    return GetAs(panel, control, value);
}
int GetCtrlVal(int panel, int control, unsigned int *value) {
    return GetAs(panel, control, value);
}
int GetCtrlVal(int panel, int control, float *value) {
    return GetAs(panel, control, value);
}
int GetCtrlVal(int panel, int control, double *value) {
    return GetAs(panel, control, value);
}

int GetCtrlVal(int panel, int control, char *value, size_t size) {
    if (!value || size == 0) return UIEBadValue;
    value[0] = '\0';
    Control *c = FindControl(panel, control);
    if (!c) return FindPanel(panel) ? UIEInvalidControl : UIEInvalidPanel;
    QString text;
    if (c->kind == CTRL_TEXT_BOX)
        text = c->lines.join('\n');
    else if (c->type == T_STRING)
        text = c->text;
    else if (c->type == T_NONE)
        return UIEBadValue;
    else
        text = FormatNumber(*c, c->num);
    CopyLatin1(text, value, size);
    return 0;
}

// --- attributes -----------------------------------------------------------------------------------

int SetCtrlAttribute(int panel, int control, int attribute, int value) {
    Control *c = FindControl(panel, control);
    if (!c) return FindPanel(panel) ? UIEInvalidControl : UIEInvalidPanel;
    switch (attribute) {
    case ATTR_DIMMED:
        if (value != 0 && c->widget) {
            // Qt would hand the focus of a control being dimmed on to the next control (after
            // VIDEO that is Teach, where a second Space would teach): the window keeps it instead.
            QWidget *focus = c->widget->window()->focusWidget();
            if (focus && (focus == c->widget || c->widget->isAncestorOf(focus)))
                c->widget->window()->setFocus(Qt::OtherFocusReason);
        }
        c->dimmed = value != 0;
        if (c->widget) c->widget->setEnabled(!c->dimmed);
        if (c->caption) c->caption->setEnabled(!c->dimmed);
        if (!c->dimmed && g_pendingFocus.control == control && g_pendingFocus.panel == panel &&
            FindPanel(panel, g_pendingFocus.serial)) {
            g_pendingFocus = PendingFocus();
            if (QWidget *t = FocusTarget(*c)) t->setFocus(Qt::OtherFocusReason);
        }
        return 0;
    case ATTR_VISIBLE:
        c->visible = value != 0;
        if (c->widget) c->widget->setVisible(c->visible);
        if (c->caption) c->caption->setVisible(c->visible);
        return 0;
    case ATTR_LEFT:
        c->left = value;
        break;
    case ATTR_TOP:
        c->top = value;
        break;
    case ATTR_WIDTH:
    case ATTR_HEIGHT:
        if (value < 0) return UIEBadValue;
        if (c->kind == CTRL_TEXT_MSG && c->width == 0 && c->widget) {
            // A text message sized to its text keeps that size from now on.
            c->width = c->widget->width();
            c->height = c->widget->height();
        }
        (attribute == ATTR_WIDTH ? c->width : c->height) = value;
        break;
    case ATTR_FRAME_COLOR:
        c->frameColor = value & 0xFFFFFF;
        ApplyColors(*c);
        return 0;
    case ATTR_TEXT_COLOR:
        c->textColor = value & 0xFFFFFF;
        ApplyColors(*c);
        return 0;
    case ATTR_TEXT_BGCOLOR:
        if (c->kind == CTRL_TEXT_MSG && c->widget) c->widget->setAutoFillBackground(true);
        // The measured value is coloured on every answer, mostly with the colour it has.
        if (c->textBgColor == (value & 0xFFFFFF)) return 0;
        c->textBgColor = value & 0xFFFFFF;
        ApplyColors(*c);
        return 0;
    case ATTR_MARKED:
        if (c->marked == (value != 0)) return 0;
        c->marked = value != 0;
        if (c->widget) c->widget->setPalette(QPalette()); // the mark's button colour goes with it
        ApplyColors(*c);
        return 0;
    case ATTR_TEXT_POINT_SIZE:
        if (value < 1 || value > 200) return UIEBadValue;
        c->pointSize = value;
        ApplyFont(*c);
        break;
    case ATTR_SCROLL_MODE:
        c->scrollMode = value;
        return c->kind == CTRL_STRIP_CHART ? SetStripAttribute(*c, attribute, value) : 0;
    case ATTR_POINTS_PER_SCREEN:
    case ATTR_NUM_TRACES:
        if (c->kind != CTRL_STRIP_CHART) return UIEInvalidAttribute;
        return SetStripAttribute(*c, attribute, value);
    default:
        return UIEInvalidAttribute;
    }
    PlaceControl(*c);
    return 0;
}

int SetCtrlAttribute(int panel, int control, int attribute, const char *value) {
    Control *c = FindControl(panel, control);
    if (!c) return FindPanel(panel) ? UIEInvalidControl : UIEInvalidPanel;
    const QString text = QString::fromLatin1(value ? value : "");
    switch (attribute) {
    case ATTR_TEXT_FONT:
        c->fontName = text;
        ApplyFont(*c);
        PlaceControl(*c);
        return 0;
    case ATTR_LABEL_TEXT:
        if (QAbstractButton *b = Button(*c)) {
            b->setText(text);
        } else if (c->kind == CTRL_TEXT_MSG) {
            c->text = text;
            ShowText(*c);
        } else if (HasCaption(c->kind) && c->widget) {
            if (!c->caption) {
                c->caption = MakeCaption(*c, c->widget->parentWidget(), text);
                c->caption->setVisible(c->visible);
            }
            c->caption->setText(text);
            c->caption->setHidden(text.isEmpty() || !c->visible);
        } else {
            return UIEInvalidAttribute;
        }
        PlaceControl(*c);
        return 0;
    default:
        return UIEInvalidAttribute;
    }
}

int GetCtrlAttribute(int panel, int control, int attribute, int *value) {
    if (!value) return UIEBadValue;
    Control *c = FindControl(panel, control);
    if (!c) return FindPanel(panel) ? UIEInvalidControl : UIEInvalidPanel;
    switch (attribute) {
    case ATTR_DIMMED:
        *value = c->dimmed;
        return 0;
    case ATTR_VISIBLE:
        *value = c->visible;
        return 0;
    case ATTR_LEFT:
        *value = c->left;
        return 0;
    case ATTR_TOP:
        *value = c->top;
        return 0;
    case ATTR_WIDTH:
        *value = c->widget ? c->widget->width() : c->width;
        return 0;
    case ATTR_HEIGHT:
        *value = c->widget ? c->widget->height() : c->height;
        return 0;
    case ATTR_FRAME_COLOR:
        *value = c->frameColor;
        return 0;
    case ATTR_TEXT_COLOR:
        *value = c->textColor;
        return 0;
    case ATTR_TEXT_BGCOLOR:
        *value = c->textBgColor;
        return 0;
    case ATTR_MARKED:
        *value = c->marked ? 1 : 0;
        return 0;
    case ATTR_TEXT_POINT_SIZE:
        *value = c->pointSize > 0 || !c->widget ? c->pointSize : QFontInfo(c->widget->font()).pixelSize();
        return 0;
    case ATTR_SCROLL_MODE:
        *value = c->scrollMode;
        return 0;
    case ATTR_POINTS_PER_SCREEN:
    case ATTR_NUM_TRACES:
        return GetStripAttribute(*c, attribute, value) ? 0 : UIEInvalidAttribute;
    default:
        return UIEInvalidAttribute;
    }
}

int GetCtrlAttribute(int panel, int control, int attribute, char *value, size_t size) {
    if (!value || size == 0) return UIEBadValue;
    value[0] = '\0';
    Control *c = FindControl(panel, control);
    if (!c) return FindPanel(panel) ? UIEInvalidControl : UIEInvalidPanel;
    QString text;
    switch (attribute) {
    case ATTR_TEXT_FONT:
        text = c->fontName.isEmpty() && c->widget ? c->widget->font().family() : c->fontName;
        break;
    case ATTR_LABEL_TEXT:
        if (QAbstractButton *b = Button(*c))
            text = b->text();
        else if (c->kind == CTRL_TEXT_MSG)
            text = c->text;
        else if (c->caption)
            text = c->caption->text();
        break;
    default:
        return UIEInvalidAttribute;
    }
    CopyLatin1(text, value, size);
    return 0;
}

int SetActiveCtrl(int panel, int control) {
    Panel *p = FindPanel(panel);
    Control *c = FindControl(panel, control);
    if (!c) return p ? UIEInvalidControl : UIEInvalidPanel;
    QWidget *target = FocusTarget(*c);
    if (!target || target->focusPolicy() == Qt::NoFocus) return UIEInvalidControl;
    g_pendingFocus = PendingFocus();
    if (c->dimmed || !target->isEnabled()) {
        g_pendingFocus = PendingFocus{panel, p->serial, control};
        return 0;
    }
    target->setFocus(Qt::OtherFocusReason);
    return 0;
}

// --- new controls, pictures, text boxes ----------------------------------------------------------

int NewCtrl(int panel, int kind, const char *label, int top, int left) {
    Panel *p = FindPanel(panel);
    if (!p || !p->widget) return UIEInvalidPanel;
    if (kind < CTRL_COMMAND_BUTTON || kind > CTRL_STRIP_CHART) return UIEBadValue;
    ControlDesc desc;
    desc.kind = kind;
    desc.type = DefaultType(kind);
    desc.label = QString::fromLatin1(label ? label : "");
    desc.top = top;
    desc.left = left;
    DefaultSize(kind, &desc.width, &desc.height);
    desc.name = QStringLiteral("CTRL%1").arg(p->nextId);
    if (kind == CTRL_TEXT_MSG) desc.text = desc.label;
    const int id = p->nextId++;
    p->controls[id] = CreateControl(*p, id, desc);
    return id;
}

int DisplayImageFile(int panel, int control, const char *file) {
    Control *c = FindControl(panel, control);
    if (!c) return FindPanel(panel) ? UIEInvalidControl : UIEInvalidPanel;
    if (c->kind != CTRL_PICTURE) return UIEInvalidControl;
    const QString path = FindDataFile(QString::fromLocal8Bit(file ? file : ""));
    if (path.isEmpty()) return UIEPanelFileNotFound;
    QPixmap image;
    if (!image.load(path)) return UIEBadValue;
    auto *label = qobject_cast<QLabel *>(c->widget);
    if (!label) return UIEInvalidControl;
    label->setPixmap(image);
    // The picture takes the size of its image.
    c->width = image.width();
    c->height = image.height();
    PlaceControl(*c);
    return 0;
}

int ReplaceTextBoxLine(int panel, int control, int line, const char *text) {
    Control *c = FindControl(panel, control);
    if (!c) return FindPanel(panel) ? UIEInvalidControl : UIEInvalidPanel;
    if (c->kind != CTRL_TEXT_BOX) return UIEInvalidControl;
    if (line < 0 || line > 100000) return UIEBadValue;
    while (c->lines.size() <= line)
        c->lines << QString();
    c->lines[line] = QString::fromLatin1(text ? text : "");
    ShowText(*c);
    return 0;
}

int GetTextBoxLine(int panel, int control, int line, char *text, size_t size) {
    if (!text || size == 0) return UIEBadValue;
    text[0] = '\0';
    Control *c = FindControl(panel, control);
    if (!c) return FindPanel(panel) ? UIEInvalidControl : UIEInvalidPanel;
    if (c->kind != CTRL_TEXT_BOX) return UIEInvalidControl;
    if (line < 0 || line >= c->lines.size()) return UIEBadValue;
    CopyLatin1(c->lines[line], text, size);
    return 0;
}

// --- what the testing library's operator needs of the controls -------------------------------

namespace kvor_ui {
double CoerceValue(int type, double v) { return Coerce(type, v); }
double ClampValue(const Control &c, double v) { return Clamp(c, v); }
QDoubleSpinBox *NumericEditOf(const Control &c) { return Edit(c); }
QSlider *SlideOf(const Control &c) { return Slider(c); }
void ShowControlValue(Control &c) { ShowValue(c); }
void ShowRingControlValue(Control &c) { ShowRingValue(c); }
void RefreshPortChoices(Control &c) { RefreshPorts(c); }
void ShowSlideReadout(Control &c) { ShowReadout(c); }
} // namespace kvor_ui
