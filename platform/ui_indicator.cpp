// The numeric indicator (see ui_indicator.h).
#include "ui_indicator.h"

#include <QEvent>
#include <QFontMetricsF>
#include <QPainter>

#include <cmath>
#include <cstdio>
#include <cstring>

#include "kept_painter.h"

namespace kvor_ui {

namespace {

constexpr int kFirstChar = 32, kChars = 96;

bool Printable(char ch) {
    return ch >= kFirstChar && ch < kFirstChar + kChars;
}

// Adds one unit in the last digit of the decimal number in 'text' (digits, perhaps a sign and a
// point), carrying as far as it goes; a carry out of the first digit puts a 1 before it.
bool RoundUpLastDigit(char *text, size_t size) {
    const size_t length = std::strlen(text);
    for (size_t i = length; i-- > 0;) {
        if (text[i] == '.') continue;
        if (text[i] < '0' || text[i] > '9') break; // the sign: the carry goes before the digits
        if (text[i] != '9') {
            ++text[i];
            return true;
        }
        text[i] = '0';
    }
    if (length + 2 > size) return false;
    const size_t first = text[0] == '-' ? 1 : 0;
    std::memmove(text + first + 1, text + first, length - first + 1);
    text[first] = '1';
    return true;
}

} // namespace

bool FormatFixed(double v, int precision, char *out, size_t size) {
    if (!std::isfinite(v) || precision < 0 || precision > 30 || std::fabs(v) >= 1e17 || size < 2) return false;
    if (v == 0.0) v = 0.0; // no sign on a zero
    // The C library rounds the exact binary value half to even, the toolkit half away from
    // zero. They differ only on an exact tie: a value whose exact decimal digits end in a 5
    // just after the last digit kept, which is a value with precision + 1 binary places.
    double fraction = std::fabs(v) - std::floor(std::fabs(v));
    int places = 0;
    while (fraction != 0.0 && places <= precision + 1) {
        fraction *= 2.0; // exact, as is taking off the whole part
        fraction -= std::floor(fraction);
        ++places;
    }
    const bool tie = fraction == 0.0 && places == precision + 1;
    const int written = std::snprintf(out, size, "%.*f", tie ? precision + 1 : precision, v);
    if (written < 0 || static_cast<size_t>(written) >= size) return false;
    if (!tie) return true;
    // Exact digits ending in that 5: drop it (and a point left bare), and round away from zero.
    out[written - 1] = '\0';
    if (precision == 0) out[written - 2] = '\0';
    return RoundUpLastDigit(out, size);
}

NumIndicator::NumIndicator(QWidget *parent) : QFrame(parent) {
    setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    // It paints every pixel of itself: nothing beneath it is painted first, and no background
    // fill comes before its own.
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void NumIndicator::SetText(const char *text) {
    if (!text) text = "";
    if (std::strncmp(text, shown, sizeof shown) == 0) return;
    std::strncpy(shown, text, sizeof shown - 1);
    shown[sizeof shown - 1] = '\0';
    // Until the asked-for paint comes, it will show this text too. (Asked while hidden, the
    // request goes nowhere; showing the widget paints it.)
    if (repaintAsked) return;
    update();
    repaintAsked = isVisible();
}

void NumIndicator::changeEvent(QEvent *event) {
    QFrame::changeEvent(event);
    // The characters depend on the font only (the pen gives their colour), the frame on the
    // colours and the style: a measured value that turns red keeps its characters.
    switch (event->type()) {
    case QEvent::FontChange:
        glyphsReady = false;
        break;
    case QEvent::PaletteChange:
    case QEvent::StyleChange:
        frame = QPixmap();
        break;
    default:
        break;
    }
}

void NumIndicator::resizeEvent(QResizeEvent *event) {
    QFrame::resizeEvent(event);
    frame = QPixmap();
}

// The font's measures and every character's advance; the characters themselves are laid out
// when first shown (an indicator shows a dozen of them), each once for the font.
void NumIndicator::Prepare() {
    const QFontMetricsF metrics(font());
    height = metrics.height();
    for (int i = 0; i < kChars; ++i) {
        advances[i] = metrics.horizontalAdvance(QChar(kFirstChar + i));
        glyphs[i] = QStaticText();
    }
    glyphsReady = true;
}

const QStaticText &NumIndicator::Glyph(char ch) {
    QStaticText &glyph = glyphs[ch - kFirstChar];
    if (glyph.text().isEmpty()) {
        QTextOption option;
        option.setWrapMode(QTextOption::NoWrap);
        glyph = QStaticText(QString(QChar(ch)));
        glyph.setTextFormat(Qt::PlainText);
        glyph.setTextOption(option);
        glyph.prepare(QTransform(), font());
    }
    return glyph;
}

// The background and the frame, drawn as a framed label's are.
void NumIndicator::PrepareFrame() {
    const qreal ratio = devicePixelRatioF();
    frame = QPixmap(size() * ratio);
    frame.setDevicePixelRatio(ratio);
    // The widget's palette is in the colours of the state it is in (enabled, active window).
    const QPalette &pal = palette();
    QPainter p(&frame);
    p.fillRect(rect(), pal.brush(backgroundRole()));
    drawFrame(&p);
    framePalette = pal.cacheKey();
    frameGroup = pal.currentColorGroup();
}

void NumIndicator::paintEvent(QPaintEvent *) {
    repaintAsked = false;
    const QPalette &pal = palette();
    if (frame.isNull() || frame.size() != size() * devicePixelRatioF() || framePalette != pal.cacheKey() ||
        frameGroup != pal.currentColorGroup())
        PrepareFrame();
    if (!glyphsReady) Prepare();
    QPainter &p = painter;
    PaintScope<QPainter> scope(p, this);
    p.drawPixmap(0, 0, frame);
    // The text's box: inside the frame and the margin, short of the indent on the right.
    QRect box = contentsRect().adjusted(kMargin, kMargin, -kMargin, -kMargin);
    box.setRight(box.right() - kIndent);
    qreal width = 0;
    for (const char *s = shown; *s; ++s)
        if (Printable(*s)) width += advances[*s - kFirstChar];
    // Right-aligned, and centred from top to bottom as a label centres one line.
    qreal x = box.x() + box.width() - width;
    const qreal y = box.y() + (box.height() - height) / 2;
    // The painter starts in the widget's font; the pen is kept, as making one costs the heap.
    if (textPen.color() != pal.color(foregroundRole())) textPen = QPen(pal.color(foregroundRole()));
    p.setPen(textPen);
    // Text larger than its box is cut off at the box, as a label cuts it.
    if (width > box.width() || height > box.height()) p.setClipRect(box);
    for (const char *s = shown; *s; ++s) {
        if (!Printable(*s)) continue;
        p.drawStaticText(QPointF(x, y), Glyph(*s));
        x += advances[*s - kFirstChar];
    }
}

} // namespace kvor_ui
