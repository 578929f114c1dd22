// Utility services: clock, delay, program directory, file dialog, array files, formatting.
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLocale>
#include <QSaveFile>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <deque>
#include <thread>
#include <utility>
#include <vector>

#include "hooks_internal.h"
#include "userint.h"
#include "utility.h"

namespace kvor_ui {
double (*g_clockOverride)(void) = nullptr;
bool (*g_fileSelectPreset)(int *result, std::string *path) = nullptr;
FileSelectRequest g_lastFileSelect{};
} // namespace kvor_ui

namespace {

const QElapsedTimer &Clock() {
    static const QElapsedTimer clock = [] {
        QElapsedTimer t;
        t.start();
        return t;
    }();
    return clock;
}


std::string Text(const char *s) {
    return s ? std::string(s) : std::string();
}

// --- array files ----------------------------------------------------------------------------------

size_t ElementSize(int type) {
    switch (type) {
    case VAL_CHAR:
    case VAL_UNSIGNED_CHAR:
        return 1;
    case VAL_SHORT_INTEGER:
    case VAL_UNSIGNED_SHORT_INTEGER:
        return 2;
    case VAL_INTEGER:
    case VAL_UNSIGNED_INTEGER:
    case VAL_FLOAT:
        return 4;
    case VAL_DOUBLE:
        return 8;
    default:
        return 0;
    }
}

bool IsFloating(int type) {
    return type == VAL_FLOAT || type == VAL_DOUBLE;
}

bool IsSigned(int type) {
    return type == VAL_CHAR || type == VAL_SHORT_INTEGER || type == VAL_INTEGER;
}

// The range of an integer type, as (lowest, highest).
void IntegerRange(int type, long long *lo, long long *hi) {
    switch (type) {
    case VAL_CHAR:
        *lo = -128;
        *hi = 127;
        break;
    case VAL_UNSIGNED_CHAR:
        *lo = 0;
        *hi = 255;
        break;
    case VAL_SHORT_INTEGER:
        *lo = -32768;
        *hi = 32767;
        break;
    case VAL_UNSIGNED_SHORT_INTEGER:
        *lo = 0;
        *hi = 65535;
        break;
    case VAL_INTEGER:
        *lo = -2147483648LL;
        *hi = 2147483647LL;
        break;
    default:
        *lo = 0;
        *hi = 4294967295LL;
        break;
    }
}

QByteArray FormatElement(const void *array, int type, size_t i, bool *ok) {
    *ok = true;
    switch (type) {
    case VAL_CHAR:
        return QByteArray::number(static_cast<const signed char *>(array)[i]);
    case VAL_UNSIGNED_CHAR:
        return QByteArray::number(static_cast<const unsigned char *>(array)[i]);
    case VAL_SHORT_INTEGER:
        return QByteArray::number(static_cast<const std::int16_t *>(array)[i]);
    case VAL_UNSIGNED_SHORT_INTEGER:
        return QByteArray::number(static_cast<const std::uint16_t *>(array)[i]);
    case VAL_INTEGER:
        return QByteArray::number(static_cast<const std::int32_t *>(array)[i]);
    case VAL_UNSIGNED_INTEGER:
        return QByteArray::number(static_cast<const std::uint32_t *>(array)[i]);
    default: {
        const double v =
            type == VAL_FLOAT ? static_cast<const float *>(array)[i] : static_cast<const double *>(array)[i];
        if (!std::isfinite(v)) { // nothing could read it back
            *ok = false;
            return QByteArray();
        }
        return QString::number(v, 'g', QLocale::FloatingPointShortest).toLatin1();
    }
    }
}

bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

// One field of the file: a decimal integer in the type's range, or a finite real number.
bool ParseElement(const char *begin, const char *end, int type, double *out) {
    if (IsFloating(type)) {
        for (const char *p = begin; p != end; ++p) {
            const char c = *p;
            const bool allowed =
                (c >= '0' && c <= '9') || c == '.' || c == '-' || c == '+' || c == 'e' || c == 'E';
            if (!allowed) return false;
        }
        bool ok = false;
        const double v = QByteArray(begin, static_cast<int>(end - begin)).toDouble(&ok);
        if (!ok || !std::isfinite(v)) return false;
        if (type == VAL_FLOAT && std::fabs(v) > 3.4028234663852886e38) return false;
        *out = v;
        return true;
    }
    bool negative = false;
    if (begin != end && *begin == '-' && IsSigned(type)) {
        negative = true;
        ++begin;
    }
    if (begin == end) return false;
    long long lo, hi;
    IntegerRange(type, &lo, &hi);
    const long long limit = negative ? -lo : hi;
    long long v = 0;
    for (const char *p = begin; p != end; ++p) {
        if (*p < '0' || *p > '9') return false;
        v = v * 10 + (*p - '0');
        if (v > limit) return false;
    }
    *out = static_cast<double>(negative ? -v : v);
    return true;
}

void StoreElement(void *array, int type, size_t i, double v) {
    switch (type) {
    case VAL_CHAR:
        static_cast<signed char *>(array)[i] = static_cast<signed char>(v);
        break;
    case VAL_UNSIGNED_CHAR:
        static_cast<unsigned char *>(array)[i] = static_cast<unsigned char>(v);
        break;
    case VAL_SHORT_INTEGER:
        static_cast<std::int16_t *>(array)[i] = static_cast<std::int16_t>(v);
        break;
    case VAL_UNSIGNED_SHORT_INTEGER:
        static_cast<std::uint16_t *>(array)[i] = static_cast<std::uint16_t>(v);
        break;
    case VAL_INTEGER:
        static_cast<std::int32_t *>(array)[i] = static_cast<std::int32_t>(v);
        break;
    case VAL_UNSIGNED_INTEGER:
        static_cast<std::uint32_t *>(array)[i] = static_cast<std::uint32_t>(v);
        break;
    case VAL_FLOAT:
        static_cast<float *>(array)[i] = static_cast<float>(v);
        break;
    default:
        static_cast<double *>(array)[i] = v;
        break;
    }
}

// The name Qt opens for the bytes of a path, or false when those bytes are not text in the
// system's encoding: Qt would replace the bad bytes and open a file of another name.
bool SpelledFileName(const char *fileName, QString *name) {
    const QByteArray bytes(fileName);
    *name = QFile::decodeName(bytes);
    return QFile::encodeName(*name) == bytes;
}

QString FilterName(const QString &patterns) {
    if (patterns == QLatin1String("*.cfg")) return QStringLiteral("Parameter files");
    return QStringLiteral("Files");
}

} // namespace

// --- time -----------------------------------------------------------------------------------------

double Timer(void) {
    if (double (*clock)(void) = kvor_ui::g_clockOverride) return clock();
    return static_cast<double>(Clock().nsecsElapsed()) / 1e9;
}

void Delay(double seconds) {
    if (!(seconds > 0.0)) return;
    if (seconds > 86400.0) seconds = 86400.0;
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
}

// --- program directory ----------------------------------------------------------------------------

int GetProjectDir(std::string *directory) {
    if (!directory) return UTIL_BadArgument;
    const QString dir =
        QCoreApplication::instance() ? QCoreApplication::applicationDirPath() : QDir::currentPath();
    *directory = QDir::toNativeSeparators(dir).toLocal8Bit().toStdString();
    return 0;
}

// --- file dialog ----------------------------------------------------------------------------------

int FileSelectPopup(const char *defaultDirectory, const char *defaultFileName, const char *filter,
                    const char *title, int buttonLabel, int restrictDirectory, int restrictExtension,
                    int allowCancel, int allowMakeDirectory, std::string *pathName) {
    kvor_ui::g_lastFileSelect = FileSelectRequest{
        Text(defaultDirectory), Text(defaultFileName), Text(filter), Text(title),       buttonLabel,
        restrictDirectory,      restrictExtension,     allowCancel,  allowMakeDirectory};
    if (!pathName) return UTIL_BadArgument;
    int preset = 0;
    std::string presetPath;
    if (kvor_ui::g_fileSelectPreset && kvor_ui::g_fileSelectPreset(&preset, &presetPath)) {
        if (preset > 0) *pathName = presetPath;
        return preset;
    }
    if (!qobject_cast<QApplication *>(QCoreApplication::instance())) return UTIL_BadArgument;
    const QString platform = QGuiApplication::platformName();
    if (platform == QLatin1String("offscreen") || platform == QLatin1String("minimal")) {
        // Nobody could answer a dialog here; waiting for one would hang.
        std::fprintf(stderr, "kvor-zodid: no file dialog on the %s platform, taken as cancelled\n",
                     qPrintable(platform));
        return VAL_NO_FILE_SELECTED;
    }

    const QString startDir = QString::fromLocal8Bit(defaultDirectory ? defaultDirectory : "");
    const QString startFile = QString::fromLocal8Bit(defaultFileName ? defaultFileName : "");
    QFileDialog dialog(QApplication::activeWindow(), QString::fromLatin1(title ? title : ""),
                       startDir.isEmpty() ? startFile : QDir(startDir).filePath(startFile));
    const bool load = buttonLabel == VAL_LOAD_BUTTON || buttonLabel == VAL_SELECT_BUTTON;
    dialog.setAcceptMode(load ? QFileDialog::AcceptOpen : QFileDialog::AcceptSave);
    dialog.setFileMode(buttonLabel == VAL_LOAD_BUTTON ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
    const char *label = buttonLabel == VAL_LOAD_BUTTON     ? "Load"
                        : buttonLabel == VAL_SELECT_BUTTON ? "Select"
                        : buttonLabel == VAL_SAVE_BUTTON   ? "Save"
                                                           : "OK";
    dialog.setLabelText(QFileDialog::Accept, QString::fromLatin1(label));

    const QString patterns = QString::fromLatin1(filter ? filter : "").trimmed();
    QStringList filters;
    QString suffix;
    if (!patterns.isEmpty() && patterns != QLatin1String("*") && patterns != QLatin1String("*.*")) {
        const QString list = QString(patterns).replace(';', ' ').simplified();
        filters << QStringLiteral("%1 (%2)").arg(FilterName(patterns), list);
        const QString first = list.section(' ', 0, 0);
        if (first.startsWith(QLatin1String("*.")) && first.indexOf('*', 2) < 0) suffix = first.mid(2);
    }
    if (!restrictExtension || filters.isEmpty()) filters << QStringLiteral("All files (*)");
    dialog.setNameFilters(filters);
    if (restrictExtension && !suffix.isEmpty()) dialog.setDefaultSuffix(suffix);
    dialog.setOption(QFileDialog::ReadOnly, allowMakeDirectory == 0);
    if (restrictDirectory && !startDir.isEmpty()) {
        QObject::connect(&dialog, &QFileDialog::directoryEntered, &dialog,
                         [&dialog, startDir](const QString &dir) {
                             if (QDir(dir) != QDir(startDir)) dialog.setDirectory(startDir);
                         });
    }
    if (dialog.exec() != QDialog::Accepted) return VAL_NO_FILE_SELECTED;
    const QString chosen = dialog.selectedFiles().value(0);
    if (chosen.isEmpty()) return VAL_NO_FILE_SELECTED;
    *pathName = QDir::toNativeSeparators(chosen).toLocal8Bit().toStdString();
    return QFileInfo::exists(chosen) ? VAL_EXISTING_FILE_SELECTED : VAL_NEW_FILE_SELECTED;
}

// --- array files ----------------------------------------------------------------------------------

int ArrayToFile(const char *fileName, const void *array, int dataType, int numberOfElements,
                int numberOfGroups, int arrayDataOrder, int fileLayout, int columnSeparation, int fieldWidth,
                int fileType, int fileAction) {
    (void)arrayDataOrder; // one group: every order is the same
    (void)fileLayout;
    (void)columnSeparation;
    if (!fileName || !*fileName || !array || numberOfElements < 1 || numberOfGroups != 1 ||
        fileType != VAL_ASCII || fileAction != VAL_TRUNCATE || fieldWidth < 0 || fieldWidth > 1024 ||
        ElementSize(dataType) == 0)
        return UTIL_BadArgument;

    // One value per line, right-aligned in the field width.
    QByteArray text;
    text.reserve(numberOfElements * (std::max(fieldWidth, 24) + 1));
    for (size_t i = 0; i < static_cast<size_t>(numberOfElements); ++i) {
        bool ok = false;
        const QByteArray field = FormatElement(array, dataType, i, &ok);
        if (!ok) return UTIL_BadArgument;
        if (field.size() < fieldWidth) text.append(fieldWidth - field.size(), ' ');
        text.append(field);
        text.append('\n');
    }
    return WriteWholeFile(fileName, text.constData(), text.size());
}

int WriteWholeFile(const char *fileName, const char *data, long long size) {
    QString name;
    if (!fileName || !*fileName || (!data && size > 0) || size < 0 || !SpelledFileName(fileName, &name))
        return UTIL_FileIOError;
    QSaveFile file(name);
    if (!file.open(QIODevice::WriteOnly)) return UTIL_FileIOError;
    // The bytes sit in a buffer until they are flushed, and a failure to write them out then (a
    // full disk, a file-size limit) does not stop commit() from putting the cut-off file in the
    // old one's place. So they are flushed here, and any error gives the save up.
    if (file.write(data, size) != size || !file.flush() || file.error() != QFileDevice::NoError) {
        file.cancelWriting();
        file.commit(); // removes the temporary file
        return UTIL_FileIOError;
    }
    return file.commit() ? 0 : UTIL_FileIOError;
}

int FileToArray(const char *fileName, void *array, int dataType, int numberOfElements, int numberOfGroups,
                int arrayDataOrder, int fileLayout, int fileType) {
    (void)arrayDataOrder;
    (void)fileLayout;
    if (!fileName || !*fileName || !array || numberOfElements < 1 || numberOfGroups != 1 ||
        fileType != VAL_ASCII || ElementSize(dataType) == 0)
        return UTIL_BadArgument;
    QString name;
    if (!SpelledFileName(fileName, &name)) return UTIL_FileIOError;
    QFile file(name);
    if (!file.open(QIODevice::ReadOnly)) return UTIL_FileIOError;
    const qint64 limit = 16 << 20;
    if (file.size() > limit) return UTIL_BadFileFormat;
    // Read in pieces: read(limit + 1) would set aside the whole 16 MiB for a file of 300 bytes.
    QByteArray text;
    while (text.size() <= limit) {
        const QByteArray piece = file.read(64 << 10);
        if (piece.isEmpty()) break;
        text.append(piece);
    }
    if (file.error() != QFileDevice::NoError) return UTIL_FileIOError;
    if (text.size() > limit) return UTIL_BadFileFormat;

    // Everything is checked before the caller's array is touched.
    std::vector<double> values;
    values.reserve(static_cast<size_t>(numberOfElements));
    const char *p = text.constData();
    const char *end = p + text.size();
    while (p != end) {
        if (IsSpace(*p)) {
            ++p;
            continue;
        }
        const char *start = p;
        while (p != end && !IsSpace(*p))
            ++p;
        if (values.size() == static_cast<size_t>(numberOfElements)) return UTIL_BadFileFormat;
        double v = 0.0;
        if (!ParseElement(start, p, dataType, &v)) return UTIL_BadFileFormat;
        values.push_back(v);
    }
    if (values.size() != static_cast<size_t>(numberOfElements)) return UTIL_BadFileFormat;
    for (size_t i = 0; i < values.size(); ++i)
        StoreElement(array, dataType, i, values[i]);
    return 0;
}

// --- formatting -----------------------------------------------------------------------------------

int Fmt(char *dest, size_t destSize, const char *format, const int *values, int count) {
    if (!dest || destSize == 0) return UTIL_BadArgument;
    dest[0] = '\0';
    // "%72c<%36i": up to 72 characters from up to 36 integers, one character (the low byte)
    // from each; a zero byte ends the text.
    if (!format || std::strcmp(format, "%72c<%36i") != 0 || !values || count < 0) return UTIL_BadArgument;
    const size_t limit = std::min<size_t>(destSize - 1, 72);
    const int n = std::min(count, 36);
    size_t length = 0;
    for (int i = 0; i < n && length < limit; ++i) {
        const char c = static_cast<char>(values[i] & 0xFF);
        if (c == '\0') break;
        dest[length++] = c;
    }
    dest[length] = '\0';
    return static_cast<int>(length);
}
