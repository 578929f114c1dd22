// Lamps (a small round indicator in one colour) and the tool tips of controls.
#include <QPainter>
#include <QWidget>

#include <algorithm>
#include <cstring>

#include "ui_internal.h"

using namespace kvor_ui;

namespace {

class Lamp : public QWidget {
  public:
    using QWidget::QWidget;
    QColor color = Qt::gray;

  protected:
    void paintEvent(QPaintEvent *) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const int d = std::max(4, std::min(width(), height()) - 2);
        const QRectF r((width() - d) / 2.0, (height() - d) / 2.0, d, d);
        // A lit lamp has a lighter spot; the rim keeps a pale colour visible on the panel.
        QRadialGradient glow(r.center() - QPointF(d / 6.0, d / 6.0), d / 1.6);
        glow.setColorAt(0.0, color.lighter(160));
        glow.setColorAt(1.0, color);
        painter.setBrush(glow);
        painter.setPen(QPen(color.darker(170), 1.0));
        painter.drawEllipse(r);
    }
};

} // namespace

namespace kvor_ui {

QWidget *CreateLed(Control &c, QWidget *parent) {
    auto *lamp = new Lamp(parent);
    lamp->color = ToColor(c.frameColor);
    return lamp;
}

void ShowLed(Control &c) {
    if (auto *lamp = dynamic_cast<Lamp *>(c.widget.data())) {
        lamp->color = ToColor(c.frameColor);
        lamp->update();
    }
}

} // namespace kvor_ui

int SetCtrlToolTip(int panel, int control, const char *text) {
    Control *c = FindControl(panel, control);
    if (!c) return FindPanel(panel) ? UIEInvalidControl : UIEInvalidPanel;
    if (!c->widget) return UIEInvalidControl;
    c->widget->setToolTip(QString::fromLatin1(text ? text : ""));
    return 0;
}

int GetCtrlToolTip(int panel, int control, char *text, size_t size) {
    if (!text || size == 0) return UIEBadValue;
    text[0] = '\0';
    Control *c = FindControl(panel, control);
    if (!c) return FindPanel(panel) ? UIEInvalidControl : UIEInvalidPanel;
    if (!c->widget) return UIEInvalidControl;
    const QByteArray bytes = c->widget->toolTip().toLatin1();
    const size_t n = std::min(static_cast<size_t>(bytes.size()), size - 1);
    std::memcpy(text, bytes.constData(), n);
    text[n] = '\0';
    return 0;
}
