// The set-up sheet as a PDF: an HTML document laid out by QTextDocument onto QPdfWriter pages,
// with the bar graph drawn from the set's values (setpoint, tolerance band, edge limits on the
// pixel axis), so that the sheet looks the same from the window and from the command line.
#include "report.h"

#include <QBuffer>
#include <QDateTime>
#include <QImage>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QTextDocument>
#include <QUrl>

#include "protocol.h"
#include "rs232.h"
#include "state.h"
#include "utility.h"

namespace {

QString Esc(const std::string &text) { return QString::fromStdString(text).toHtmlEscaped(); }

// The bar graph as the main panel draws it: the pixel axis from 1 to its end, the grey field, the
// green tolerance band around the setpoint, the setpoint and the two edge limits as cursors.
QImage BarGraphImage(const SetupSheet &sheet) {
    const int width = 900, height = 170, left = 40, right = 20, top = 14, barHeight = 110;
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing, false);
    const double axisEnd = sheet.axisEnd > 1 ? sheet.axisEnd : 4096;
    const int plotWidth = width - left - right;
    auto x = [&](double pixel) {
        const double clamped = std::min(std::max(pixel, 1.0), axisEnd);
        return left + static_cast<int>((clamped - 1.0) / (axisEnd - 1.0) * plotWidth);
    };
    const uint16_t *w = sheet.sets.w[0];
    p.fillRect(left, top, plotWidth, barHeight, QColor(0xA0, 0xA0, 0xA0));
    const double setpoint = w[SET0_SETPOINT], tolerance = w[SET0_TOLERANCE];
    const int bandLeft = x(setpoint - tolerance), bandRight = x(setpoint + tolerance);
    p.fillRect(bandLeft, top + barHeight * 3 / 4, std::max(1, bandRight - bandLeft), barHeight / 4, QColor(0, 0xC0, 0));
    p.setPen(QPen(QColor(0xD0, 0, 0), 2));
    p.drawLine(x(setpoint), top, x(setpoint), top + barHeight);
    p.setPen(QPen(QColor(0, 0, 0xD0), 2));
    p.drawLine(x(w[SET0_LEFT_EDGE]), top, x(w[SET0_LEFT_EDGE]), top + barHeight);
    p.drawLine(x(w[SET0_RIGHT_EDGE]), top, x(w[SET0_RIGHT_EDGE]), top + barHeight);
    p.setPen(Qt::black);
    p.drawRect(left, top, plotWidth, barHeight);
    QFont font = p.font();
    font.setPixelSize(12);
    p.setFont(font);
    for (int i = 0; i <= 8; ++i) {
        const double pixel = 1.0 + (axisEnd - 1.0) * i / 8.0;
        const int px = x(pixel);
        p.drawLine(px, top + barHeight, px, top + barHeight + 5);
        p.drawText(QRect(px - 40, top + barHeight + 6, 80, 16), Qt::AlignHCenter, QString::number(qRound(pixel)));
    }
    p.drawText(QRect(left, top + barHeight + 24, plotWidth, 16), Qt::AlignHCenter,
               QStringLiteral("pixel  (red: setpoint, blue: edge limits, green: tolerance band)"));
    return image;
}

QString ValuesTable(const SetupSheet &sheet, int set) {
    QString html = QStringLiteral("<table border=\"1\" cellspacing=\"0\" cellpadding=\"3\" width=\"100%\">"
                                  "<tr><th align=\"left\">Parameter</th><th align=\"left\">Value</th>"
                                  "<th align=\"left\">Word</th></tr>");
    for (const ValueDesc &d : ParameterValues()) {
        if (d.set != set) continue;
        const std::string words = d.words == 2 ? std::to_string(d.word) + "-" + std::to_string(d.word + 1)
                                               : std::to_string(d.word);
        html += QStringLiteral("<tr><td>%1</td><td>%2</td><td>%3</td></tr>")
                    .arg(Esc(ValueName(d)), Esc(ValueText(d, sheet.sets)), Esc(words));
    }
    return html + QStringLiteral("</table>");
}

QString SheetHtml(const SetupSheet &sheet) {
    QString html = QStringLiteral("<html><body>");
    html += QStringLiteral("<h2>Set-up sheet</h2>");
    html += QStringLiteral("<table cellpadding=\"2\">");
    auto row = [&html](const char *name, const std::string &value) {
        html += QStringLiteral("<tr><td><b>%1</b></td><td>%2</td></tr>").arg(QString::fromLatin1(name), Esc(value));
    };
    row("Date and time", sheet.when);
    row("Program", sheet.program + " " + sheet.version);
    row("Port", sheet.port + (sheet.device.empty() ? std::string() : " (" + sheet.device + ")"));
    for (int i = 0; i < 3; ++i)
        row(i == 0 ? "Hardware" : "", sheet.hw[i]);
    row("Firmware", sheet.firmware);
    row("Values from", sheet.source);
    html += QStringLiteral("</table>");
    html += QStringLiteral("<h3>Parameter set 0</h3>") + ValuesTable(sheet, 0);
    html += QStringLiteral("<h3>Parameter set 1</h3>") + ValuesTable(sheet, 1);
    html += QStringLiteral("<h3>Bar graph</h3><p><img src=\"kvor:bargraph.png\" width=\"640\"></p>");
    return html + QStringLiteral("</body></html>");
}

void BuildDocument(const SetupSheet &sheet, QTextDocument *doc) {
    doc->addResource(QTextDocument::ImageResource, QUrl(QStringLiteral("kvor:bargraph.png")), BarGraphImage(sheet));
    doc->setHtml(SheetHtml(sheet));
}

std::string Trimmed(const char *text) { return QString::fromLatin1(text).trimmed().toStdString(); }

} // namespace

SetupSheet CurrentSetupSheet(const SetWords &sets, const std::string &source) {
    SetupSheet sheet;
    sheet.when = QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")).toStdString();
    sheet.program = szSoftName[0] ? szSoftName : "K-VOR-RN-Zodid";
    sheet.version = szSoftVersion[0] ? szSoftVersion : "Version 3.0b";
    sheet.port = "COM" + std::to_string(com);
    sheet.device = ComPortDevice(com);
    for (int i = 0; i < 3; ++i)
        sheet.hw[i] = Trimmed(szHwLine[i]);
    sheet.firmware = Trimmed(szFirmware);
    sheet.source = source;
    sheet.sets = sets;
    sheet.axisEnd = ccdvirtpixel;
    return sheet;
}

std::string SetupSheetText(const SetupSheet &sheet) {
    QTextDocument doc;
    BuildDocument(sheet, &doc);
    return doc.toPlainText().toStdString();
}

int WriteSetupSheet(const std::string &path, const SetupSheet &sheet) {
    // The sheet is laid out in memory first: the PDF writer says nothing of bytes it could not
    // write.
    QByteArray pdf;
    {
        QBuffer buffer(&pdf);
        buffer.open(QIODevice::WriteOnly);
        QPdfWriter writer(&buffer);
        writer.setPageSize(QPageSize(QPageSize::A4));
        writer.setResolution(300);
        writer.setTitle(QStringLiteral("Set-up sheet"));
        writer.setCreator(QString::fromStdString(sheet.program + " " + sheet.version));
        QTextDocument doc;
        BuildDocument(sheet, &doc);
        doc.print(&writer);
    }
    // It replaces a sheet of the same name only once it is on the disk whole; a full disk leaves
    // the old one as it was.
    if (pdf.isEmpty() || WriteWholeFile(path.c_str(), pdf.constData(), pdf.size()) != 0) return -1;
    return 0;
}
