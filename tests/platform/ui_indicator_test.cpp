// The numeric indicator draws what a framed label with the same text, font and colours draws,
// pixel for pixel, however the text, the font, the colours and the state change.
#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QImage>
#include <QLabel>
#include <QWidget>

#include <cmath>
#include <memory>
#include <random>
#include <vector>

#include "ui_indicator.h"

using kvor_ui::NumIndicator;

namespace {

// The label the indicator stands in for.
QLabel *MakeLabel(QWidget *parent) {
    auto *l = new QLabel(parent);
    l->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    l->setAutoFillBackground(true);
    l->setMargin(NumIndicator::kMargin);
    l->setIndent(NumIndicator::kIndent);
    l->setTextFormat(Qt::PlainText);
    l->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    return l;
}

struct Pair {
    std::unique_ptr<QWidget> window = std::make_unique<QWidget>();
    QLabel *label = MakeLabel(window.get());
    NumIndicator *indicator = new NumIndicator(window.get());

    Pair(QSize size, int pixelSize, bool bold, QColor text, QColor back) {
        window->resize(2 * size.width() + 30, size.height() + 20);
        label->setGeometry(QRect(QPoint(10, 10), size));
        indicator->setGeometry(QRect(QPoint(20 + size.width(), 10), size));
        QFont font = label->font();
        font.setPixelSize(pixelSize);
        font.setBold(bold);
        QPalette pal = label->palette();
        for (QPalette::ColorGroup g : {QPalette::Active, QPalette::Inactive}) {
            pal.setColor(g, QPalette::WindowText, text);
            pal.setColor(g, QPalette::Window, back);
        }
        for (QWidget *w : {static_cast<QWidget *>(label), static_cast<QWidget *>(indicator)}) {
            w->setFont(font);
            w->setPalette(pal);
        }
        window->show();
    }
    void Show(const char *text) {
        label->setText(QString::fromLatin1(text));
        indicator->SetText(text);
    }
    // How many pixels differ between the two.
    int Differences() const {
        const QImage a = label->grab().toImage().convertToFormat(QImage::Format_RGB32);
        const QImage b = indicator->grab().toImage().convertToFormat(QImage::Format_RGB32);
        if (a.size() != b.size()) return -1;
        int n = 0;
        for (int y = 0; y < a.height(); ++y)
            for (int x = 0; x < a.width(); ++x)
                if (a.pixel(x, y) != b.pixel(x, y)) ++n;
        return n;
    }
};

TEST(NumIndicator, LooksAsAFramedLabelForEveryTextFontAndColour) {
    struct Look {
        QSize size;
        int pixelSize;
        bool bold;
        QColor text, back;
    };
    const Look looks[] = {
        {{80, 22}, 12, false, Qt::black, Qt::white},
        {{120, 30}, 14, true, Qt::darkBlue, QColor(255, 255, 192)},
        {{150, 40}, 20, false, Qt::red, Qt::black},
        {{60, 18}, 11, false, Qt::black, QColor(192, 192, 192)},
    };
    const char *texts[] = {"0", "4464", "-12.345", "4294967.295", "1e+20", "", "0.000", "-0"};
    for (const Look &look : looks) {
        Pair pair(look.size, look.pixelSize, look.bold, look.text, look.back);
        for (const char *text : texts) {
            pair.Show(text);
            EXPECT_EQ(pair.Differences(), 0) << "text '" << text << "', " << look.pixelSize << " px";
            EXPECT_EQ(pair.indicator->text(), QString::fromLatin1(text));
        }
    }
}

TEST(NumIndicator, FollowsDimmingAndChangesOfColourFontAndSize) {
    Pair pair(QSize(100, 24), 13, false, Qt::black, Qt::white);
    pair.Show("123.45");
    ASSERT_EQ(pair.Differences(), 0);

    pair.label->setEnabled(false);
    pair.indicator->setEnabled(false);
    EXPECT_EQ(pair.Differences(), 0) << "dimmed";
    pair.label->setEnabled(true);
    pair.indicator->setEnabled(true);

    QPalette pal = pair.label->palette();
    pal.setColor(QPalette::Active, QPalette::Window, Qt::green);
    pal.setColor(QPalette::Inactive, QPalette::Window, Qt::green);
    pal.setColor(QPalette::Active, QPalette::WindowText, Qt::magenta);
    pal.setColor(QPalette::Inactive, QPalette::WindowText, Qt::magenta);
    pair.label->setPalette(pal);
    pair.indicator->setPalette(pal);
    EXPECT_EQ(pair.Differences(), 0) << "new colours";

    QFont font = pair.label->font();
    font.setPixelSize(18);
    pair.label->setFont(font);
    pair.indicator->setFont(font);
    EXPECT_EQ(pair.Differences(), 0) << "new font";

    pair.label->resize(140, 34);
    pair.indicator->resize(140, 34);
    EXPECT_EQ(pair.Differences(), 0) << "new size";
}

// Counts an indicator's paints and keeps the text each one showed.
struct PaintLog : QObject {
    std::vector<QString> texts;
    bool eventFilter(QObject *watched, QEvent *event) override {
        if (event->type() == QEvent::Paint) texts.push_back(static_cast<NumIndicator *>(watched)->text());
        return false;
    }
    // Handles events until the paint after the 'seen' first ones has come, or half a second.
    bool AwaitPaint(size_t seen) {
        QElapsedTimer t;
        t.start();
        while (texts.size() <= seen && t.elapsed() < 500)
            QApplication::processEvents(QEventLoop::AllEvents, 10);
        return texts.size() > seen;
    }
};

// Changes that come faster than the window paints ask for one repaint, and the repaint shows the
// last of them; no change is left unpainted, also across hiding the window.
TEST(NumIndicator, ChangesBeforeAPaintShowTheLastAndNoneIsLeftUnpainted) {
    Pair pair(QSize(100, 24), 13, false, Qt::black, Qt::white);
    PaintLog log;
    pair.indicator->installEventFilter(&log);
    pair.Show("1");
    ASSERT_TRUE(log.AwaitPaint(0));

    size_t seen = log.texts.size();
    for (const char *text : {"2", "3", "4"})
        pair.Show(text);
    ASSERT_TRUE(log.AwaitPaint(seen));
    EXPECT_EQ(log.texts.back(), QStringLiteral("4"));
    QApplication::processEvents();
    EXPECT_EQ(log.texts.size(), seen + 1) << "three changes, one paint";

    // Asked for, then hidden before the paint came, and changed while hidden.
    pair.Show("5");
    pair.window->hide();
    pair.Show("6");
    seen = log.texts.size();
    pair.window->show();
    ASSERT_TRUE(log.AwaitPaint(seen));
    QApplication::processEvents();
    EXPECT_EQ(log.texts.back(), QStringLiteral("6"));
    seen = log.texts.size();
    pair.Show("7");
    ASSERT_TRUE(log.AwaitPaint(seen)) << "a change after the window came back";
    EXPECT_EQ(log.texts.back(), QStringLiteral("7"));
}

// The indicator's own formatting writes what the toolkit writes, ties and signs included.
TEST(FormatFixed, WritesWhatTheToolkitWrites) {
    std::vector<double> values = {0.0,     -0.0,   0.125,  -0.125, 2.5,        -2.5,  0.5,    9.95,
                                  99.5,    -99.5,  0.005,  -0.004, 0.375,      1e16,  -1e16,  4294967.295,
                                  1.0 / 3, 65535,  -65536, 1e-9,   0.00048828125, 999.9999, 1.5, 0.25,
                                  9.5,     999.5,  -0.5,   -9.75,  0.9375,     -0.0625};
    std::mt19937_64 random(20261207);
    std::uniform_real_distribution<double> any(-1e6, 1e6);
    std::uniform_int_distribution<int> whole(-100000, 100000), places(0, 12);
    for (int i = 0; i < 20000; ++i) {
        // Short binary fractions, where the ties are, and any double in the range.
        values.push_back(std::ldexp(static_cast<double>(whole(random)), -places(random)));
        values.push_back(any(random));
    }
    char text[64];
    for (double v : values)
        for (int precision : {0, 1, 2, 3, 5, 9}) {
            ASSERT_TRUE(kvor_ui::FormatFixed(v, precision, text, sizeof text)) << v;
            ASSERT_EQ(QString::fromLatin1(text), QString::number(v, 'f', precision))
                << "value " << v << ", " << precision << " digits";
        }
    // What it leaves to the toolkit, and a buffer too short.
    for (double v : {std::nan(""), HUGE_VAL, -HUGE_VAL, 1e17, -1e300})
        EXPECT_FALSE(kvor_ui::FormatFixed(v, 2, text, sizeof text)) << v;
    EXPECT_FALSE(kvor_ui::FormatFixed(1.0, 31, text, sizeof text));
    EXPECT_FALSE(kvor_ui::FormatFixed(12345.678, 3, text, 6));
}

} // namespace
