// Run-time start, callback table, panels from the panel file, and event delivery.
#include <QApplication>
#include <QGuiApplication>
#include <QCloseEvent>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFrame>
#include <QIcon>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLibraryInfo>
#include <QMouseEvent>
#include <QPluginLoader>
#include <QStyle>
#include <QStyleFactory>
#include <QtGlobal>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#if defined(Q_OS_LINUX)
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#endif

#include "testhooks.h"
#include "ui_internal.h"

namespace kvor_ui {
void ForgetQuitRequest(); // ui_eventloop.cpp
}

using namespace kvor_ui;

namespace {

QApplication *g_app = nullptr;
QCoreApplication *g_core = nullptr; // a run-time without windows
std::map<std::string, CtrlCallbackPtr> g_ctrlCallbacks;
std::map<std::string, PanelCallbackPtr> g_panelCallbacks;
std::map<int, std::unique_ptr<Panel>> g_panels;
std::uint64_t g_nextSerial = 1;

// Panel widgets whose callback is running, innermost last, and panels discarded meanwhile.
std::vector<QPointer<QWidget>> g_busy;
std::vector<QPointer<QWidget>> g_discarded;

struct BusyScope {
    explicit BusyScope(QWidget *w) { g_busy.emplace_back(w); }
    ~BusyScope() { g_busy.pop_back(); }
    BusyScope(const BusyScope &) = delete;
    BusyScope &operator=(const BusyScope &) = delete;
};

bool IsBusy(const QWidget *w) {
    for (const QPointer<QWidget> &b : g_busy)
        if (b && (b == w || w->isAncestorOf(b))) return true;
    return false;
}

// A top-level panel: the window's close button asks the program (EVENT_CLOSE); the window
// itself stays until the program hides or discards it.
class PanelWindow : public QWidget {
  public:
    PanelWindow(int handle, std::uint64_t serial) : handle_(handle), serial_(serial) {}

  protected:
    void closeEvent(QCloseEvent *event) override {
        event->ignore();
        DeliverPanelEvent(handle_, serial_, EVENT_CLOSE);
    }

  private:
    int handle_;
    std::uint64_t serial_;
};

// Mouse-down on a control raises its left-click event before the widget sees the press.
class ClickFilter : public QObject {
  public:
    bool eventFilter(QObject *watched, QEvent *event) override {
        const QEvent::Type t = event->type();
        if (t != QEvent::MouseButtonPress && t != QEvent::MouseButtonDblClick) return false;
        const auto *me = static_cast<QMouseEvent *>(event);
        if (me->button() != Qt::LeftButton) return false;
        QWidget *w = qobject_cast<QWidget *>(watched);
        while (w && !w->property("kvorCtrl").isValid()) {
            if (w->isWindow()) return false;
            w = w->parentWidget();
        }
        if (!w) return false;
        const int panel = w->property("kvorPanel").toInt();
        const auto serial = static_cast<std::uint64_t>(w->property("kvorSerial").toULongLong());
        const int control = w->property("kvorCtrl").toInt();
        // A press that a child ignores travels on to its parent as a copy of the same press.
        const quint64 stamp = me->timestamp();
        if (stamp != 0 && stamp == lastStamp_ && serial == lastSerial_ && control == lastCtrl_) return false;
        lastStamp_ = stamp;
        lastSerial_ = serial;
        lastCtrl_ = control;
        DeliverCtrlEvent(panel, serial, control, EVENT_LEFT_CLICK);
        // When the callback discarded the panel, the press goes nowhere.
        return FindPanel(panel, serial) == nullptr;
    }

  private:
    quint64 lastStamp_ = 0;
    std::uint64_t lastSerial_ = 0;
    int lastCtrl_ = 0;
};

ClickFilter *Filter() {
    static ClickFilter *filter = new ClickFilter;
    return filter;
}

// The offscreen platform notes every show(), raise() and keyboard grab it cannot do; that
// means nothing for us.
QtMessageHandler g_previousHandler = nullptr;
void MessageFilter(QtMsgType type, const QMessageLogContext &context, const QString &message) {
    if (message.startsWith(QLatin1String("This plugin does not support"))) return;
    if (g_previousHandler) g_previousHandler(type, context, message);
}

int LowestFreeHandle() {
    int h = 1;
    for (const auto &entry : g_panels) {
        if (entry.first != h) break;
        ++h;
    }
    return h;
}

// --- panel file ---------------------------------------------------------------------------------

bool ReadNumber(const QJsonObject &o, const char *key, double *out) {
    const QJsonValue v = o.value(QLatin1String(key));
    if (v.isUndefined()) return true;
    if (!v.isDouble()) return false;
    const double d = v.toDouble();
    if (!std::isfinite(d)) return false;
    *out = d;
    return true;
}

bool ReadInt(const QJsonObject &o, const char *key, int *out, int lo, int hi) {
    if (o.value(QLatin1String(key)).isUndefined()) return true;
    double d = 0.0;
    if (!ReadNumber(o, key, &d)) return false;
    if (d < lo || d > hi || d != std::floor(d)) return false;
    *out = static_cast<int>(d);
    return true;
}

bool ReadString(const QJsonObject &o, const char *key, QString *out) {
    const QJsonValue v = o.value(QLatin1String(key));
    if (v.isUndefined()) return true;
    if (!v.isString()) return false;
    *out = v.toString();
    return true;
}

bool ReadColor(const QJsonObject &o, const char *key, int *out) {
    return ReadInt(o, key, out, 0, 0xFFFFFF);
}

bool ParseControl(const QJsonValue &value, ControlDesc *desc) {
    if (!value.isObject()) return false;
    const QJsonObject o = value.toObject();
    QString kind;
    if (!ReadString(o, "name", &desc->name) || desc->name.isEmpty()) return false;
    if (!ReadString(o, "kind", &kind)) return false;
    desc->kind = KindFromName(kind);
    if (desc->kind == 0) return false;
    DefaultSize(desc->kind, &desc->width, &desc->height);
    const int big = 1 << 20;
    if (!ReadInt(o, "left", &desc->left, -big, big) || !ReadInt(o, "top", &desc->top, -big, big) ||
        !ReadInt(o, "width", &desc->width, 0, big) || !ReadInt(o, "height", &desc->height, 0, big))
        return false;
    if (!ReadString(o, "label", &desc->label) || !ReadString(o, "callback", &desc->callback)) return false;

    desc->type = DefaultType(desc->kind);
    if (o.contains(QLatin1String("type"))) {
        QString type;
        if (!ReadString(o, "type", &type)) return false;
        desc->type = TypeFromName(type);
        if (desc->type == T_NONE) return false;
    }
    const bool textKind = desc->kind == CTRL_STRING || desc->kind == CTRL_TEXT_MSG;
    const bool valueKind = desc->kind != CTRL_TEXT_BOX && desc->kind != CTRL_PICTURE &&
                           desc->kind != CTRL_DECORATION && desc->kind != CTRL_GRAPH &&
                           desc->kind != CTRL_STRIP_CHART;
    if (textKind && desc->type != T_STRING) return false;
    if (!textKind && desc->type == T_STRING && valueKind) return false;

    desc->hasMin = o.contains(QLatin1String("min"));
    desc->hasMax = o.contains(QLatin1String("max"));
    if (!ReadNumber(o, "min", &desc->min) || !ReadNumber(o, "max", &desc->max)) return false;
    if (desc->hasMin && desc->hasMax && desc->min > desc->max) return false;
    // A slide's positions are the slider's whole numbers (an int): beyond them it would stick.
    auto fitsSlider = [](double v) { return v >= -2147483648.0 && v <= 2147483647.0; };
    if (desc->kind == CTRL_SLIDE &&
        ((desc->hasMin && !fitsSlider(desc->min)) || (desc->hasMax && !fitsSlider(desc->max))))
        return false;

    const QJsonValue v = o.value(QLatin1String("value"));
    if (!v.isUndefined()) {
        desc->hasValue = true;
        if (desc->type == T_STRING) {
            if (!v.isString()) return false;
            desc->text = v.toString();
        } else if (v.isBool()) {
            desc->value = v.toBool() ? 1.0 : 0.0;
        } else if (v.isDouble() && std::isfinite(v.toDouble())) {
            desc->value = v.toDouble();
        } else {
            return false;
        }
    }

    const QJsonValue items = o.value(QLatin1String("items"));
    if (!items.isUndefined()) {
        if (!items.isArray()) return false;
        for (const QJsonValue &iv : items.toArray()) {
            if (!iv.isObject()) return false;
            const QJsonObject io = iv.toObject();
            RingItem item;
            if (!ReadString(io, "label", &item.label)) return false;
            if (!io.value(QLatin1String("value")).isDouble()) return false;
            if (!ReadNumber(io, "value", &item.value)) return false;
            desc->items.push_back(item);
        }
    }
    QString source;
    if (!ReadString(o, "items_source", &source)) return false;
    if (!source.isEmpty()) {
        if (source != QLatin1String("serial_ports") || desc->kind != CTRL_RING) return false;
        desc->serialPorts = true;
    }

    if (!ReadInt(o, "precision", &desc->precision, 0, 15)) return false;
    const QJsonValue visible = o.value(QLatin1String("visible"));
    if (!visible.isUndefined()) {
        if (!visible.isBool()) return false;
        desc->visible = visible.toBool();
    }
    if (!ReadColor(o, "frame_color", &desc->frameColor) || !ReadColor(o, "text_color", &desc->textColor) ||
        !ReadColor(o, "text_bgcolor", &desc->textBgColor))
        return false;
    if (!ReadNumber(o, "font_size", &desc->fontSize) || desc->fontSize < 0 || desc->fontSize > 200)
        return false;

    const QJsonValue lines = o.value(QLatin1String("lines"));
    if (!lines.isUndefined()) {
        if (!lines.isArray()) return false;
        for (const QJsonValue &lv : lines.toArray()) {
            if (!lv.isString()) return false;
            desc->lines << lv.toString();
        }
    }

    if (desc->kind == CTRL_STRIP_CHART) desc->xMax = desc->pointsPerScreen - 1;
    if (!ReadNumber(o, "x_min", &desc->xMin) || !ReadNumber(o, "x_max", &desc->xMax) ||
        !ReadNumber(o, "y_min", &desc->yMin) || !ReadNumber(o, "y_max", &desc->yMax))
        return false;
    if (desc->xMin >= desc->xMax || desc->yMin >= desc->yMax) return false;
    if (!ReadInt(o, "cursors", &desc->cursors, 0, 3)) return false;
    if (!ReadInt(o, "points_per_screen", &desc->pointsPerScreen, 1, 100000)) return false;
    if (!ReadInt(o, "traces", &desc->traces, 1, 64)) return false;
    if (!ReadString(o, "tooltip", &desc->tooltip) || !ReadString(o, "shortcut", &desc->shortcut)) return false;
    if (!desc->shortcut.isEmpty() && !ShortcutValid(desc->shortcut)) return false;

    QString anchor;
    if (!ReadString(o, "anchor", &anchor)) return false;
    if (!anchor.isEmpty() && !ParseAnchors(anchor, &desc->anchors)) return false;
    const QJsonValue zoom = o.value(QLatin1String("zoom"));
    if (!zoom.isUndefined()) {
        if (!zoom.isBool() || desc->kind != CTRL_GRAPH) return false;
        desc->zoom = zoom.toBool();
    }
    const QJsonValue columns = o.value(QLatin1String("csv_columns"));
    if (!columns.isUndefined()) {
        if (!columns.isArray() || (desc->kind != CTRL_GRAPH && desc->kind != CTRL_STRIP_CHART)) return false;
        for (const QJsonValue &cv : columns.toArray()) {
            if (!cv.isString() || cv.toString().isEmpty()) return false;
            desc->csvColumns << cv.toString();
        }
        if (desc->csvColumns.size() < 2) return false; // the x column and at least one more
    }
    return true;
}

struct PanelDesc {
    QString name, title, callback;
    int width = 400, height = 300;
    bool resizable = false;
    std::vector<ControlDesc> controls;
};

bool ParsePanel(const QJsonObject &o, PanelDesc *desc) {
    if (!ReadString(o, "name", &desc->name) || !ReadString(o, "title", &desc->title) ||
        !ReadString(o, "callback", &desc->callback))
        return false;
    if (!ReadInt(o, "width", &desc->width, 1, 1 << 15) || !ReadInt(o, "height", &desc->height, 1, 1 << 15))
        return false;
    const QJsonValue resizable = o.value(QLatin1String("resizable"));
    if (!resizable.isUndefined()) {
        if (!resizable.isBool()) return false;
        desc->resizable = resizable.toBool();
    }
    const QJsonValue controls = o.value(QLatin1String("controls"));
    if (controls.isUndefined()) return true;
    if (!controls.isArray()) return false;
    for (const QJsonValue &cv : controls.toArray()) {
        ControlDesc c;
        if (!ParseControl(cv, &c)) return false;
        desc->controls.push_back(std::move(c));
    }
    return true;
}

QWidget *BuildPanelWidget(Panel &panel, Panel *parent, const PanelDesc &desc) {
    if (!parent) {
        auto *w = new PanelWindow(panel.handle, panel.serial);
        w->setWindowTitle(desc.title);
        w->setAutoFillBackground(true);
        if (desc.resizable)
            BuildResizableWindow(w, panel, desc.width, desc.height);
        else
            w->setFixedSize(desc.width, desc.height);
        return w;
    }
    auto *f = new QFrame(PanelCanvas(*parent));
    f->setFrameStyle(QFrame::StyledPanel | QFrame::Raised);
    f->setAutoFillBackground(true);
    f->setGeometry(0, 0, desc.width, desc.height);
    f->hide();
    return f;
}

} // namespace

namespace kvor_ui {

bool AppReady() {
    return (g_app != nullptr && QCoreApplication::instance() == g_app) ||
           (g_core != nullptr && QCoreApplication::instance() == g_core);
}

bool WidgetsReady() {
    return g_app != nullptr && QCoreApplication::instance() == g_app;
}

Panel *FindPanel(int handle) {
    auto it = g_panels.find(handle);
    return it == g_panels.end() ? nullptr : it->second.get();
}

Panel *FindPanel(int handle, std::uint64_t serial) {
    Panel *p = FindPanel(handle);
    return p && p->serial == serial ? p : nullptr;
}

Control *FindControl(int panel, int control) {
    Panel *p = FindPanel(panel);
    if (!p) return nullptr;
    auto it = p->controls.find(control);
    return it == p->controls.end() ? nullptr : it->second.get();
}

QString FindDataFile(const QString &name) {
    if (name.isEmpty()) return QString();
    QFileInfo given(name);
    if (given.isAbsolute()) return given.isFile() ? given.absoluteFilePath() : QString();
    QStringList dirs;
    if (QCoreApplication::instance()) {
        const QString bin = QCoreApplication::applicationDirPath();
        dirs << bin;
#ifdef KVOR_DATA_FROM_BIN
        // An installed program finds its data in the tree it was installed into, wherever that
        // tree was put.
        dirs << QDir::cleanPath(bin + QLatin1Char('/') + QString::fromUtf8(KVOR_DATA_FROM_BIN));
#endif
    }
#ifdef KVOR_DATA_DIR
    dirs << QString::fromUtf8(KVOR_DATA_DIR);
#endif
    dirs << QDir::currentPath();
    for (const QString &dir : dirs) {
        QFileInfo candidate(QDir(dir), name);
        if (candidate.isFile()) return candidate.absoluteFilePath();
    }
    return QString();
}

void CollectDiscardedPanels() {
    for (size_t i = 0; i < g_discarded.size();) {
        QPointer<QWidget> w = g_discarded[i];
        if (!w) {
            g_discarded.erase(g_discarded.begin() + static_cast<std::ptrdiff_t>(i));
        } else if (!IsBusy(w)) {
            g_discarded.erase(g_discarded.begin() + static_cast<std::ptrdiff_t>(i));
            delete w.data();
        } else {
            ++i;
        }
    }
}

namespace {
CtrlChangeObserverPtr g_changeObserver = nullptr;
} // namespace

void DeliverCtrlEvent(int panel, std::uint64_t serial, int control, int event) {
    Panel *p = FindPanel(panel, serial);
    if (!p) return;
    auto it = p->controls.find(control);
    if (it == p->controls.end()) return;
    const Control &c = *it->second;
    if (c.dimmed || !c.visible) return;
    if (c.widget && !c.widget->isEnabled()) return;
    if (const CtrlCallbackPtr cb = c.callback) {
        BusyScope busy(p->widget);
        cb(panel, control, event, nullptr, 0, 0);
    }
    if (g_changeObserver && (event == EVENT_VAL_CHANGED || event == EVENT_COMMIT) && FindPanel(panel, serial))
        g_changeObserver(panel, control);
}

void DeliverPanelEvent(int panel, std::uint64_t serial, int event) {
    Panel *p = FindPanel(panel, serial);
    if (!p || !p->callback) return;
    const PanelCallbackPtr cb = p->callback;
    BusyScope busy(p->widget);
    cb(panel, event, nullptr, 0, 0);
}

void AttachControl(QWidget *widget, int panel, std::uint64_t serial, int control) {
    widget->setProperty("kvorPanel", panel);
    widget->setProperty("kvorSerial", static_cast<qulonglong>(serial));
    widget->setProperty("kvorCtrl", control);
    widget->installEventFilter(Filter());
    for (QWidget *child : widget->findChildren<QWidget *>())
        child->installEventFilter(Filter());
}

} // namespace kvor_ui

// --- can the display be reached? ------------------------------------------------------------------
//
// Qt aborts the program when its platform plugin cannot start. So before the application object
// exists, the start checks what Qt will try: the plugin named by -platform or QT_QPA_PLATFORM
// (a ';' list, each tried in turn) or the desktop default, and for the X and Wayland plugins
// whether their server can be reached.

#if defined(Q_OS_LINUX)
namespace {

// Connects a stream socket with a time-out; true when the far end accepted.
bool ConnectWithin(int fd, const sockaddr *address, socklen_t length, int milliseconds) {
    const int flags = fcntl(fd, F_GETFL, 0);
    fcntl(fd, F_SETFL, flags | O_NONBLOCK);
    if (connect(fd, address, length) == 0) return true;
    if (errno != EINPROGRESS) return false;
    pollfd p{fd, POLLOUT, 0};
    if (poll(&p, 1, milliseconds) != 1) return false;
    int error = 0;
    socklen_t size = sizeof error;
    return getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) == 0 && error == 0;
}

bool UnixSocketAnswers(const std::string &path, bool abstractName) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const size_t offset = abstractName ? 1 : 0;
    if (path.size() + offset >= sizeof address.sun_path) return false;
    std::copy(path.begin(), path.end(), address.sun_path + offset);
    const socklen_t length =
        static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + offset + path.size() + (abstractName ? 0 : 1));
    const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    if (fd < 0) return false;
    const bool ok = ConnectWithin(fd, reinterpret_cast<const sockaddr *>(&address), length, 2000);
    close(fd);
    return ok;
}

bool TcpAnswers(const std::string &host, int port) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo *list = nullptr;
    if (getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &list) != 0) return false;
    bool ok = false;
    for (addrinfo *a = list; a && !ok; a = a->ai_next) {
        const int fd = socket(a->ai_family, a->ai_socktype, a->ai_protocol);
        if (fd < 0) continue;
        ok = ConnectWithin(fd, a->ai_addr, a->ai_addrlen, 2000);
        close(fd);
    }
    freeaddrinfo(list);
    return ok;
}

// Empty when an X server answers at 'display' ("[host]:n[.screen]"), else why not.
QString XServerProblem(const QString &display) {
    if (display.isEmpty()) return QStringLiteral("no display to show the windows on (set DISPLAY, or QT_QPA_PLATFORM=offscreen)");
    const QString unreachable = QStringLiteral("no X server answers at DISPLAY=%1").arg(display);
    if (display.startsWith(QLatin1Char('/'))) {
        // A socket path, possibly followed by the screen number.
        QString path = display.section(QLatin1Char(':'), 0, 0);
        return UnixSocketAnswers(path.toStdString(), false) ? QString() : unreachable;
    }
    const int colon = display.lastIndexOf(QLatin1Char(':'));
    if (colon < 0) return QStringLiteral("DISPLAY=%1 is not of the form host:number").arg(display);
    const QString host = display.left(colon);
    bool ok = false;
    const int number = display.mid(colon + 1).section(QLatin1Char('.'), 0, 0).toInt(&ok);
    if (!ok || number < 0 || number > 59535) return QStringLiteral("DISPLAY=%1 is not of the form host:number").arg(display);
    if (host.isEmpty() || host == QLatin1String("unix")) {
        const std::string path = "/tmp/.X11-unix/X" + std::to_string(number);
        return UnixSocketAnswers(path, false) || UnixSocketAnswers(path, true) ? QString() : unreachable;
    }
    return TcpAnswers(host.toStdString(), 6000 + number) ? QString() : unreachable;
}

QString WaylandProblem() {
    QString name = qEnvironmentVariable("WAYLAND_DISPLAY", QStringLiteral("wayland-0"));
    if (!name.startsWith(QLatin1Char('/'))) {
        const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
        if (runtime.isEmpty()) return QStringLiteral("no Wayland display (XDG_RUNTIME_DIR is not set)");
        name = runtime + QLatin1Char('/') + name;
    }
    return UnixSocketAnswers(name.toStdString(), false) ? QString()
                                                        : QStringLiteral("no Wayland compositor answers at %1").arg(name);
}

// The platform names the installed plugins offer.
QStringList PlatformPlugins() {
    QStringList dirs;
    for (const char *var : {"QT_QPA_PLATFORM_PLUGIN_PATH"})
        dirs += qEnvironmentVariable(var).split(QLatin1Char(':'), Qt::SkipEmptyParts);
    for (const QString &d : qEnvironmentVariable("QT_PLUGIN_PATH").split(QLatin1Char(':'), Qt::SkipEmptyParts))
        dirs << d + QStringLiteral("/platforms");
    dirs << QLibraryInfo::path(QLibraryInfo::PluginsPath) + QStringLiteral("/platforms");
    const QString exe = QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath();
    if (!exe.isEmpty()) dirs << QFileInfo(exe).absolutePath() + QStringLiteral("/platforms");
    QStringList names;
    for (const QString &dir : dirs) {
        for (const QFileInfo &file : QDir(dir).entryInfoList({QStringLiteral("*.so")}, QDir::Files)) {
            const QJsonArray keys = QPluginLoader(file.absoluteFilePath())
                                        .metaData()
                                        .value(QLatin1String("MetaData"))
                                        .toObject()
                                        .value(QLatin1String("Keys"))
                                        .toArray();
            for (const QJsonValue &key : keys)
                names << key.toString().toLower();
            if (keys.isEmpty()) { // no metadata readable: the file name says it (libqxcb.so)
                QString stem = file.completeBaseName();
                if (stem.startsWith(QLatin1String("libq"))) names << stem.mid(4).toLower();
            }
        }
    }
    names.removeDuplicates();
    names.sort();
    return names;
}

// Empty when Qt can start on one of the platforms it will try, else why not.
QString DisplayProblem(const std::vector<std::string> &args) {
    QString platforms, display = qEnvironmentVariable("DISPLAY");
    bool explicitPlatform = false;
    for (size_t i = 0; i + 1 < args.size(); ++i) {
        if (args[i] == "-platform" || args[i] == "--platform") {
            platforms = QString::fromLocal8Bit(args[i + 1].c_str());
            explicitPlatform = true;
        }
        if (args[i] == "-display" || args[i] == "--display") display = QString::fromLocal8Bit(args[i + 1].c_str());
    }
    if (!explicitPlatform && !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        platforms = qEnvironmentVariable("QT_QPA_PLATFORM");
        explicitPlatform = true;
    }
    if (!explicitPlatform) {
        const bool waylandSession = qEnvironmentVariable("XDG_SESSION_TYPE") == QLatin1String("wayland");
        platforms = waylandSession ? QStringLiteral("wayland;xcb") : QStringLiteral("xcb");
        if (display.isEmpty() && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
            return XServerProblem(QString());
    }
    const QStringList offered = PlatformPlugins();
    QStringList problems;
    for (const QString &entry : platforms.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        const QString name = entry.section(QLatin1Char(':'), 0, 0).trimmed().toLower();
        if (!offered.contains(name)) {
            problems << QStringLiteral("no platform plugin \"%1\" (there are: %2)").arg(name, offered.join(QStringLiteral(", ")));
            continue;
        }
        QString problem;
        if (name == QLatin1String("xcb"))
            problem = XServerProblem(display);
        else if (name.startsWith(QLatin1String("wayland")))
            problem = WaylandProblem();
        if (problem.isEmpty()) return QString();
        problems << problem;
    }
    if (problems.isEmpty()) return QStringLiteral("no platform plugin named (QT_QPA_PLATFORM is empty)");
    return problems.join(QStringLiteral("; "));
}

} // namespace
#endif

// --- run-time -------------------------------------------------------------------------------------

namespace {

// The program's arguments as the application keeps them. Qt holds on to argc and argv for the
// application's whole life, so they live here, never on a caller's stack.
struct KeptArguments {
    std::vector<std::string> text;
    std::vector<char *> pointers;
    int count = 0;
};

KeptArguments &KeepArguments(int argc, char **argv) {
    static KeptArguments kept;
    kept.text.clear();
    for (int i = 0; argv && i < argc; ++i)
        if (argv[i]) kept.text.emplace_back(argv[i]);
    if (kept.text.empty()) kept.text.emplace_back("kvor-zodid");
    kept.pointers.clear();
    for (std::string &a : kept.text)
        kept.pointers.push_back(&a[0]);
    kept.pointers.push_back(nullptr);
    kept.count = static_cast<int>(kept.text.size());
    return kept;
}

} // namespace

int InitRunTime(int argc, char **argv) {
    if (QCoreApplication *core = QCoreApplication::instance()) {
        auto *app = qobject_cast<QApplication *>(core);
        if (!app) {
            std::fprintf(stderr, "kvor-zodid: cannot show windows from a program without a GUI\n");
            return 0;
        }
        g_app = app;
        return 1;
    }
    KeptArguments &args = KeepArguments(argc, argv);

#if defined(Q_OS_LINUX)
    // Without a display Qt would abort; the program reports a failed start instead.
    const QString problem = DisplayProblem(args.text);
    if (!problem.isEmpty()) {
        std::fprintf(stderr, "kvor-zodid: %s\n", problem.toLocal8Bit().constData());
        return 0;
    }
#endif

    g_previousHandler = qInstallMessageHandler(MessageFilter);
    g_app = new QApplication(args.count, args.pointers.data());
    QApplication::setApplicationName(QStringLiteral("kvor-zodid"));
    // The installed icon and desktop entry name the windows in task bars and window lists.
    QGuiApplication::setDesktopFileName(QStringLiteral("example.arvensa.kvorzodid"));
    QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("kvor-zodid")));
    QApplication::setQuitOnLastWindowClosed(false);
    if (QStyle *fusion = QStyleFactory::create(QStringLiteral("Fusion"))) {
        QApplication::setStyle(fusion);
        QApplication::setPalette(fusion->standardPalette());
    }
    return 1;
}

int InitHeadlessRunTime(int argc, char **argv, int withFonts) {
    if (QCoreApplication *core = QCoreApplication::instance()) {
        g_core = core;
        return 1;
    }
    KeptArguments &args = KeepArguments(argc, argv);
    if (withFonts) {
        // Text layout needs a GUI application; the offscreen platform gives one without a display.
        qputenv("QT_QPA_PLATFORM", "offscreen");
        g_core = new QGuiApplication(args.count, args.pointers.data());
    } else {
        g_core = new QCoreApplication(args.count, args.pointers.data());
    }
    QCoreApplication::setApplicationName(QStringLiteral("kvor-zodid"));
    return 1;
}

void SetCtrlChangeObserver(CtrlChangeObserverPtr observer) { kvor_ui::g_changeObserver = observer; }

void RegisterCallbacks(const CallbackEntry *table, int count) {
    if (!table) return;
    for (int i = 0; i < count; ++i) {
        if (!table[i].name) continue;
        const std::string name = table[i].name;
        if (table[i].ctrl) g_ctrlCallbacks[name] = table[i].ctrl;
        if (table[i].panel) g_panelCallbacks[name] = table[i].panel;
    }
}

// --- panels ---------------------------------------------------------------------------------------

int LoadPanel(int parentPanel, const char *panelFile, int resourceId) {
    if (!WidgetsReady()) return UIENotInitialised;
    CollectDiscardedPanels();
    Panel *parent = nullptr;
    if (parentPanel < 0) return UIEInvalidPanel;
    if (parentPanel > 0) {
        parent = FindPanel(parentPanel);
        if (!parent || !parent->widget) return UIEInvalidPanel;
    }
    if (!panelFile) return UIEPanelFileNotFound;
    const QString path = FindDataFile(QString::fromLocal8Bit(panelFile));
    if (path.isEmpty()) return UIEPanelFileNotFound;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return UIEPanelFileNotFound;
    if (file.size() > (16 << 20)) return UIEBadPanelFile;
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(file.readAll(), &error);
    if (doc.isNull() || !doc.isObject()) return UIEBadPanelFile;
    const QJsonValue panels = doc.object().value(QLatin1String("panels"));
    if (!panels.isArray()) return UIEBadPanelFile;

    QJsonObject found;
    bool have = false;
    for (const QJsonValue &pv : panels.toArray()) {
        if (!pv.isObject()) return UIEBadPanelFile;
        const QJsonValue id = pv.toObject().value(QLatin1String("resource_id"));
        if (!id.isDouble()) return UIEBadPanelFile;
        if (!have && id.toDouble() == resourceId) {
            found = pv.toObject();
            have = true;
        }
    }
    if (!have) return UIEResourceNotFound;
    PanelDesc desc;
    if (!ParsePanel(found, &desc)) return UIEBadPanelFile;

    // Every callback must exist before anything is built.
    PanelCallbackPtr panelCb = nullptr;
    if (!desc.callback.isEmpty()) {
        auto it = g_panelCallbacks.find(desc.callback.toStdString());
        if (it == g_panelCallbacks.end()) return UIECallbackNotFound;
        panelCb = it->second;
    }
    for (const ControlDesc &c : desc.controls)
        if (!c.callback.isEmpty() && !g_ctrlCallbacks.count(c.callback.toStdString()))
            return UIECallbackNotFound;

    // A quit requested in an earlier session of panels does not end the next one.
    if (g_panels.empty()) ForgetQuitRequest();

    const int handle = LowestFreeHandle();
    auto panel = std::make_unique<Panel>();
    panel->handle = handle;
    panel->serial = g_nextSerial++;
    panel->resourceId = resourceId;
    panel->parent = parentPanel;
    panel->name = desc.name;
    panel->callback = panelCb;
    panel->widget = BuildPanelWidget(*panel, parent, desc);
    int id = 2;
    for (const ControlDesc &c : desc.controls) {
        std::unique_ptr<Control> ctrl = CreateControl(*panel, id, c);
        ctrl->anchors = c.anchors;
        SetGraphOptions(*ctrl, c);
        if (!c.callback.isEmpty()) ctrl->callback = g_ctrlCallbacks[c.callback.toStdString()];
        panel->controls[id] = std::move(ctrl);
        ++id;
    }
    panel->nextId = id;
    g_panels[handle] = std::move(panel);
    return handle;
}

int DisplayPanel(int panel) {
    Panel *p = FindPanel(panel);
    if (!p || !p->widget) return UIEInvalidPanel;
    p->widget->show();
    p->widget->raise();
    if (p->widget->isWindow()) p->widget->activateWindow();
    return 0;
}

int HidePanel(int panel) {
    Panel *p = FindPanel(panel);
    if (!p || !p->widget) return UIEInvalidPanel;
    p->widget->hide();
    return 0;
}

int DiscardPanel(int panel) {
    Panel *p = FindPanel(panel);
    if (!p) return UIEInvalidPanel;
    const QPointer<QWidget> widget = p->widget;
    // The panel's child panels go with it.
    std::vector<int> gone{panel};
    for (size_t i = 0; i < gone.size(); ++i)
        for (const auto &entry : g_panels)
            if (entry.second->parent == gone[i]) gone.push_back(entry.first);
    for (int h : gone)
        g_panels.erase(h);
    if (widget) {
        if (IsBusy(widget)) {
            // One of its callbacks is still running: the widgets must outlive it.
            widget->hide();
            g_discarded.push_back(widget);
        } else {
            delete widget.data();
        }
    }
    return 0;
}

int SetPanelAttribute(int panel, int attribute, int value) {
    Panel *p = FindPanel(panel);
    if (!p || !p->widget) return UIEInvalidPanel;
    QWidget *w = p->widget;
    switch (attribute) {
    case ATTR_LEFT:
        w->move(value, w->y());
        return 0;
    case ATTR_TOP:
        w->move(w->x(), value);
        return 0;
    case ATTR_VISIBLE:
        w->setVisible(value != 0);
        return 0;
    case ATTR_DIMMED:
        w->setEnabled(value == 0);
        return 0;
    case ATTR_WIDTH:
    case ATTR_HEIGHT: {
        if (value < 1) return UIEBadValue;
        QSize s = w->size();
        (attribute == ATTR_WIDTH ? s.rwidth() : s.rheight()) = value;
        if (w->isWindow() && !p->canvas)
            w->setFixedSize(s);
        else
            w->resize(s);
        return 0;
    }
    default:
        return UIEInvalidAttribute;
    }
}

int SetPanelAttribute(int panel, int attribute, const char *value) {
    Panel *p = FindPanel(panel);
    if (!p || !p->widget) return UIEInvalidPanel;
    if (attribute != ATTR_TITLE) return UIEInvalidAttribute;
    p->widget->setWindowTitle(QString::fromLatin1(value ? value : ""));
    return 0;
}

int GetPanelAttribute(int panel, int attribute, int *value) {
    Panel *p = FindPanel(panel);
    if (!p || !p->widget) return UIEInvalidPanel;
    if (!value) return UIEBadValue;
    const QWidget *w = p->widget;
    switch (attribute) {
    case ATTR_LEFT:
        *value = w->x();
        return 0;
    case ATTR_TOP:
        *value = w->y();
        return 0;
    case ATTR_VISIBLE:
        *value = w->isHidden() ? 0 : 1;
        return 0;
    case ATTR_DIMMED:
        *value = w->isEnabled() ? 0 : 1;
        return 0;
    case ATTR_WIDTH:
        *value = w->width();
        return 0;
    case ATTR_HEIGHT:
        *value = w->height();
        return 0;
    default:
        return UIEInvalidAttribute;
    }
}

// --- data files -----------------------------------------------------------------------------------

int FindDataFilePath(const char *name, char *path, size_t size) {
    if (!path || size == 0) return UIEBadValue;
    path[0] = '\0';
    const QByteArray found = FindDataFile(QString::fromLocal8Bit(name ? name : "")).toLocal8Bit();
    if (found.isEmpty()) return UIEPanelFileNotFound;
    if (static_cast<size_t>(found.size()) >= size) return UIEBadValue;
    std::memcpy(path, found.constData(), static_cast<size_t>(found.size()) + 1);
    return 0;
}

bool kvor_ui::CallbackRunning() {
    return !g_busy.empty();
}
