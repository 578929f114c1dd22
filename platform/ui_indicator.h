// A numeric indicator: a number in a sunken frame, changed by the program up to 25 times a
// second while the sensor measures. It looks exactly as a framed label with the same font and
// colours, but draws its characters from pictures prepared once per font and colour and its
// frame from a picture prepared once per size, so that a new value costs one small repaint and
// no text layout.
#pragma once

#include <QFrame>
#include <QPainter>
#include <QPen>
#include <QPixmap>
#include <QStaticText>
#include <QString>

#include <cstddef>

namespace kvor_ui {

// Writes v with 'precision' digits after the point, exactly as QString::number(v, 'f',
// precision) writes it (a tie rounds away from zero, a negative zero has no sign), but without
// the heap. False when it does not (not finite, very large, more than 30 digits): the caller
// formats such a value the slow way.
bool FormatFixed(double v, int precision, char *out, size_t size);

class NumIndicator : public QFrame {
  public:
    explicit NumIndicator(QWidget *parent);

    // Shows the text (plain ASCII: digits, sign, point, exponent). Repaints only on a change.
    void SetText(const char *text);
    QString text() const { return QString::fromLatin1(shown); }

    // Around the text, as a label's margin and indent.
    static constexpr int kMargin = 2, kIndent = 4;

  protected:
    void paintEvent(QPaintEvent *event) override;
    void changeEvent(QEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

  private:
    void Prepare();
    const QStaticText &Glyph(char ch); // a printable character, laid out on first use
    void PrepareFrame();

    char shown[48] = {};
    // A repaint is asked for and has not come yet: another change until then needs no request
    // of its own (each costs the window's bookkeeping a region on the heap).
    bool repaintAsked = false;
    // A laid-out character for each printable ASCII code (empty until shown), and how far it
    // moves the pen.
    QStaticText glyphs[96];
    qreal advances[96] = {};
    bool glyphsReady = false;
    qreal height = 0;
    // The background and frame for the size, colours and state they were drawn for.
    QPixmap frame;
    QPen textPen;
    QPainter painter; // begun for each paint (see kept_painter.h)
    qint64 framePalette = -1;
    int frameGroup = -1;
};

} // namespace kvor_ui
