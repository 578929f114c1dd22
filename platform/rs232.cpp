// Serial port services over QSerialPort: ports named by number, an input queue of our own, and a
// receive notification that runs only from event processing.
//
// Port numbering. A number means a device by this rule:
//   Linux and other Unix:  1..16 -> /dev/ttyS0..15, 17..32 -> /dev/ttyUSB0..15,
//                          33..48 -> /dev/ttyACM0..15, anything else -> no device;
//   Windows:               N -> COMN.
// SetComPortDevice(N, path) overrides the rule for N with any path (a USB adapter by id, a
// pseudo-terminal); an empty path restores the rule. Numbers run from 1 to kMaxComPort.
//
// Results of OpenComConfig (one rule for every open):
//   a number outside 1..kMaxComPort or without a device    -> kRS_InvalidPortNum (-2)
//   a baud rate, parity, data or stop bit value we refuse  -> kRS_InvalidParameter (-13)
//   a device that does not exist                            -> kRS_NoPortFound (-6)
//   a device that exists but cannot be opened (in use, no
//   permission, locked by another program)                  -> kRS_CanNotOpenPort (-7)
//   a setting the device refuses                            -> kRS_InvalidParameter (-13)
//   anything else                                           -> kRS_UnknownSysError (-1)
#include "rs232.h"

#include "hooks_internal.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QMetaObject>
#include <QPointer>
#include <QSerialPort>
#include <QSerialPortInfo>
#include <QString>

#include <algorithm>
#include <cstring>
#include <map>
#include <vector>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>
#endif

namespace {

constexpr int kMaxComPort = 255;
constexpr int kDefaultQueueSize = 512;
// How often one notification check calls the function again while the queue still holds the
// notify count. The program's own notification empties the queue, so this only bounds a
// notification that reads nothing.
constexpr int kMaxNotifyRounds = 64;

struct ComPort {
    QPointer<QSerialPort> serial; // kept for the life of the program, reused for every open
    bool open = false;
    bool broken = false;       // the device failed while open: close at the next safe point
    bool lost = false;         // closed because the device failed (until the next open or close)
    std::string openReason;    // why the last open failed, when the operator can mend it
    bool configuring = false;  // errors raised while we set the port up are ours to report
    bool checkPending = false; // a notification check is queued
    bool notifying = false;    // the notification function is running
    QByteArray inQueue;
    int inQueueSize = kDefaultQueueSize;
    int outQueueSize = kDefaultQueueSize;
    double timeout = 10.0;
    ComCallbackPtr callback = nullptr;
    int callbackMask = 0;
    int notifyCount = 1;
    char eventCharacter = 0;
    void *callbackData = nullptr;
    int pendingEvents = 0; // event-character and output-empty events not yet reported
    bool wholeCountWake = false; // wake only when the notify count can be reached
    int wakeCount = 0;           // bytes the system waits for before it wakes us (0: any byte)
};

ComPort g_ports[kMaxComPort + 1];
std::map<int, std::string> g_overrides;
// Numbers given to devices outside the rule (and to by-id names) as the list found them.
std::map<int, std::string> g_assigned;

// Tells the traffic watcher, if there is one (the shipped program has none).
inline void Watch(int port, kvor_com::Traffic traffic) {
    if (void (*watch)(int, kvor_com::Traffic) = kvor_com::g_trafficWatch) watch(port, traffic);
}

bool ValidPortNumber(int port) {
    return port >= 1 && port <= kMaxComPort;
}

std::string RuleDevice(int port) {
#ifdef Q_OS_WIN
    return ValidPortNumber(port) ? "COM" + std::to_string(port) : std::string();
#else
    if (port >= 1 && port <= 16) return "/dev/ttyS" + std::to_string(port - 1);
    if (port >= 17 && port <= 32) return "/dev/ttyUSB" + std::to_string(port - 17);
    if (port >= 33 && port <= 48) return "/dev/ttyACM" + std::to_string(port - 33);
    return std::string();
#endif
}

// The number the rule gives a device, or 0.
int RuleNumber(const QString &systemLocation, const QString &portName) {
#ifdef Q_OS_WIN
    Q_UNUSED(systemLocation);
    if (portName.startsWith("COM", Qt::CaseInsensitive)) {
        bool ok = false;
        const int n = portName.mid(3).toInt(&ok);
        if (ok && ValidPortNumber(n)) return n;
    }
    return 0;
#else
    Q_UNUSED(portName);
    struct Family {
        const char *prefix;
        int first;
    };
    static const Family families[] = {{"/dev/ttyS", 1}, {"/dev/ttyUSB", 17}, {"/dev/ttyACM", 33}};
    for (const Family &f : families) {
        const QString prefix = QString::fromLatin1(f.prefix);
        if (!systemLocation.startsWith(prefix)) continue;
        bool ok = false;
        const int index = systemLocation.mid(prefix.size()).toInt(&ok);
        if (ok && index >= 0 && index < 16) return f.first + index;
    }
    return 0;
#endif
}

bool DeviceExists(const QString &device) {
#ifdef Q_OS_WIN
    for (const QSerialPortInfo &info : QSerialPortInfo::availablePorts())
        if (info.portName().compare(device, Qt::CaseInsensitive) == 0 ||
            info.systemLocation().compare(device, Qt::CaseInsensitive) == 0)
            return true;
    return false;
#else
    return QFileInfo::exists(device);
#endif
}

ComPort *OpenPort(int port) {
    if (!ValidPortNumber(port)) return nullptr;
    ComPort &p = g_ports[port];
    return p.open && p.serial ? &p : nullptr;
}

void ClosePort(ComPort &p) {
    p.open = false;
    p.broken = false;
    p.callback = nullptr;
    p.callbackMask = 0;
    p.pendingEvents = 0;
    p.inQueue.clear();
    Watch(static_cast<int>(&p - g_ports), kvor_com::kTrafficClosed);
    // An explicit close: the lock file goes with it, and the read notifier stops.
    if (p.serial && p.serial->isOpen()) p.serial->close();
}

// The safe points where a port that failed is closed: outside every signal of its QSerialPort.
bool CloseIfBroken(ComPort &p) {
    if (!p.broken) return false;
    ClosePort(p);
    p.lost = true;
    return true;
}

void RunNotification(int port);

// Tells the system how many received bytes to wait for before it reports the port readable.
void SetSystemWake(ComPort &p, int count) {
#ifdef Q_OS_UNIX
    if (count == p.wakeCount || !p.serial || !p.serial->isOpen()) return;
    const int fd = static_cast<int>(p.serial->handle());
    termios t{};
    if (fd < 0 || ::tcgetattr(fd, &t) != 0) return;
    t.c_cc[VMIN] = static_cast<cc_t>(count);
    t.c_cc[VTIME] = 0; // with a byte timer the count would no longer hold back the wake
    if (::tcsetattr(fd, TCSANOW, &t) == 0) p.wakeCount = count;
#else
    Q_UNUSED(p);
    Q_UNUSED(count);
#endif
}

// A frame comes in pieces at the pace of the line, each a wake-up of the program that costs it
// more than taking the frame in. Where only the notify count matters, the system holds the
// pieces back until the queue can reach it; short of one byte it wakes for every byte again.
void UpdateSystemWake(ComPort &p) {
    int count = 0;
    if (p.open && p.wholeCountWake && p.callback && (p.callbackMask & LWRS_RECEIVE)) {
        const qsizetype missing = p.notifyCount - p.inQueue.size();
        if (missing > 1) count = static_cast<int>(std::min<qsizetype>(missing, 255));
    }
    SetSystemWake(p, count);
}

void ScheduleNotificationCheck(int port) {
    ComPort &p = g_ports[port];
    if (p.checkPending || !p.serial) return;
    p.checkPending = true;
    QMetaObject::invokeMethod(
        p.serial.data(),
        [port]() {
            g_ports[port].checkPending = false;
            RunNotification(port);
        },
        Qt::QueuedConnection);
}

// True when a notification check would call the function: the queue holds the notify count, or
// an event that the function asked for occurred.
bool NotificationDue(const ComPort &p) {
    if (!p.callback) return false;
    if (p.pendingEvents & p.callbackMask & (LWRS_RXFLAG | LWRS_TXEMPTY)) return true;
    return (p.callbackMask & LWRS_RECEIVE) && p.inQueue.size() >= p.notifyCount;
}

// Moves what QSerialPort has read into our queue; beyond the queue size the bytes are dropped.
void MoveBytes(int port) {
    ComPort &p = g_ports[port];
    if (!p.open || !p.serial) return;
    // Through a buffer of our own: a readAll() for every arrival would allocate every time.
    char chunk[1024];
    bool any = false;
    for (;;) {
        const qint64 n = p.serial->read(chunk, sizeof chunk);
        if (n <= 0) break;
        any = true;
        const qsizetype room = std::max<qsizetype>(0, p.inQueueSize - p.inQueue.size());
        p.inQueue.append(chunk, std::min<qsizetype>(room, static_cast<qsizetype>(n)));
        Watch(port, kvor_com::kTrafficIn);
        if (p.callback && std::memchr(chunk, static_cast<unsigned char>(p.eventCharacter),
                                      static_cast<size_t>(n)) != nullptr)
            p.pendingEvents |= LWRS_RXFLAG;
    }
    // A frame arrives in pieces at the pace of the line. A piece that leaves the queue short of
    // the notify count, and brings no event the function asked for, needs no event pass.
    if (any && NotificationDue(p))
        ScheduleNotificationCheck(port); // which sets the wake count once the function has read
    else
        UpdateSystemWake(p);
}

// Brings in bytes that reached the device while no events were processed.
void PullBytes(int port) {
    ComPort &p = g_ports[port];
    if (!p.open || !p.serial) return;
    // Bytes the system holds back for the wake count are wanted now too.
    SetSystemWake(p, 0);
    // With nothing to read this raises a time-out "error"; readyRead (if any) is emitted inside.
    p.serial->waitForReadyRead(0);
    if (CloseIfBroken(p)) return;
    MoveBytes(port);
    if (p.serial->error() == QSerialPort::TimeoutError) p.serial->clearError();
    UpdateSystemWake(p);
}

void RunNotification(int port) {
    ComPort &p = g_ports[port];
    if (CloseIfBroken(p)) return;
    // A notification that processes events may see this check again; the outer loop goes on.
    if (p.notifying) return;
    for (int round = 0; round < kMaxNotifyRounds; ++round) {
        if (!p.open || !p.callback || p.callbackMask == 0) return;
        int events = p.pendingEvents & p.callbackMask & (LWRS_RXFLAG | LWRS_TXEMPTY);
        if ((p.callbackMask & LWRS_RECEIVE) && p.inQueue.size() >= p.notifyCount) events |= LWRS_RECEIVE;
        p.pendingEvents = 0;
        if (events == 0) return;
        p.notifying = true;
        p.callback(port, events, p.callbackData);
        p.notifying = false;
        if (CloseIfBroken(p)) return;
        UpdateSystemWake(p);
    }
}

// True when the line behind an open port has gone: hung up, or the handle no longer valid.
bool LineGone(QSerialPort *s) {
#ifdef Q_OS_UNIX
    const int fd = static_cast<int>(s->handle());
    if (fd < 0) return true;
    pollfd check{fd, POLLIN, 0};
    int rc;
    do {
        rc = ::poll(&check, 1, 0);
    } while (rc < 0 && errno == EINTR);
    if (rc < 0) return true;
    return (check.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
#else
    Q_UNUSED(s);
    return true;
#endif
}

void OnError(int port, QSerialPort::SerialPortError error) {
    ComPort &p = g_ports[port];
    // open() reports NoError, and a poll with nothing to read reports TimeoutError: neither is a
    // failure. Errors while we configure the port are reported by OpenComConfig itself.
    if (error == QSerialPort::NoError || error == QSerialPort::TimeoutError) return;
    if (!p.open || p.configuring || p.broken) return;
    // Bytes that woke the reader can be flushed before it gets to them; the empty read that
    // follows is reported as a read error, yet the line is fine. While the system waits for a
    // whole frame before it wakes us, that read finds nothing "for now" instead, which the
    // serial library reports as short of resources and stops reading: a read from the queue
    // starts it again. Only a line that is gone closes the port.
    if ((error == QSerialPort::ReadError || error == QSerialPort::ResourceError) &&
        !LineGone(p.serial.data())) {
        p.serial->clearError();
        if (error == QSerialPort::ResourceError)
            QMetaObject::invokeMethod(p.serial.data(), [port]() { MoveBytes(port); }, Qt::QueuedConnection);
        return;
    }
    // A device that went away keeps raising errors as fast as the loop turns, with the port
    // still open. We cannot close it from inside its own signal, so mark it and close it at
    // the next safe point: the queued call below, or the next service call on this port.
    p.broken = true;
    QMetaObject::invokeMethod(
        p.serial.data(), [port]() { CloseIfBroken(g_ports[port]); }, Qt::QueuedConnection);
}

QSerialPort *SerialFor(int port) {
    ComPort &p = g_ports[port];
    if (!p.serial) {
        p.serial = new QSerialPort(QCoreApplication::instance());
        QSerialPort *s = p.serial.data();
        QObject::connect(s, &QSerialPort::readyRead, s, [port]() { MoveBytes(port); });
        QObject::connect(s, &QSerialPort::errorOccurred, s,
                         [port](QSerialPort::SerialPortError e) { OnError(port, e); });
        QObject::connect(s, &QSerialPort::bytesWritten, s, [port](qint64) {
            ComPort &q = g_ports[port];
            if (q.open && q.serial && q.serial->bytesToWrite() == 0) {
                q.pendingEvents |= LWRS_TXEMPTY;
                if (q.callbackMask & LWRS_TXEMPTY) ScheduleNotificationCheck(port);
            }
        });
    }
    return p.serial.data();
}

bool MapParity(int parity, QSerialPort::Parity *out) {
    switch (parity) {
    case 0:
        *out = QSerialPort::NoParity;
        return true;
    case 1:
        *out = QSerialPort::OddParity;
        return true;
    case 2:
        *out = QSerialPort::EvenParity;
        return true;
    case 3:
        *out = QSerialPort::MarkParity;
        return true;
    case 4:
        *out = QSerialPort::SpaceParity;
        return true;
    default:
        return false;
    }
}

int OpenErrorCode(QSerialPort::SerialPortError error) {
    switch (error) {
    case QSerialPort::DeviceNotFoundError:
        return kRS_NoPortFound;
    case QSerialPort::PermissionError:
    case QSerialPort::OpenError:
        return kRS_CanNotOpenPort;
    case QSerialPort::UnsupportedOperationError:
        return kRS_InvalidParameter;
    default:
        return kRS_UnknownSysError;
    }
}

// Why a device that exists cannot be opened, when it is for lack of permission: the check is
// made with the rights the process opens files with (so a test may take them away for a while).
// A device we may open but could not is in use or locked: no reason the operator can mend.
std::string PermissionReason(const std::string &device) {
#ifdef Q_OS_UNIX
    if (::faccessat(AT_FDCWD, device.c_str(), R_OK | W_OK, AT_EACCESS) == 0) return std::string();
    if (errno != EACCES && errno != EPERM) return std::string();
    struct stat st;
    std::string group;
    if (::stat(device.c_str(), &st) == 0 && (st.st_mode & (S_IRGRP | S_IWGRP)) == (S_IRGRP | S_IWGRP)) {
        char buf[1024];
        struct group entry;
        struct group *found = nullptr;
        if (::getgrgid_r(st.st_gid, &entry, buf, sizeof buf, &found) == 0 && found && found->gr_name)
            group = found->gr_name;
    }
    return ComPermissionText(group);
#else
    Q_UNUSED(device);
    return std::string();
#endif
}

} // namespace

namespace kvor_com {
void (*g_trafficWatch)(int port, Traffic traffic) = nullptr;
std::string g_byIdDirectory;

void ForgetAssignedPorts(void) {
    g_assigned.clear();
}
} // namespace kvor_com

std::string ComPortDevice(int port) {
    if (!ValidPortNumber(port)) return std::string();
    const auto it = g_overrides.find(port);
    if (it != g_overrides.end()) return it->second;
    const auto a = g_assigned.find(port);
    return a != g_assigned.end() ? a->second : RuleDevice(port);
}

void SetComPortDevice(int port, const std::string &device) {
    if (!ValidPortNumber(port)) return;
    if (device.empty()) {
        g_overrides.erase(port);
        return;
    }
    g_overrides[port] = device;
    // A device the list had numbered now has the number the program gave it.
    for (auto it = g_assigned.begin(); it != g_assigned.end();)
        it = (it->first == port || it->second == device) ? g_assigned.erase(it) : std::next(it);
}

int MaxComPort(void) {
    return kMaxComPort;
}

int ComPortStatus(int port) {
    if (!ValidPortNumber(port)) return kComClosed;
    const ComPort &p = g_ports[port];
    if (p.open && !p.broken) return kComOpen;
    return p.lost || p.broken ? kComLost : kComClosed;
}

std::string ComOpenErrorReason(int port) {
    return ValidPortNumber(port) ? g_ports[port].openReason : std::string();
}

std::string ComPermissionText(const std::string &group) {
    if (group.empty()) return "permission denied: the user may not read and write the device";
    return "permission denied: add the user to the " + group + " group";
}

int ListComPorts(ComPortChoice *choices, int maxChoices) {
    std::map<int, ComPortChoice> found;
    auto add = [&found](int port) {
        if (found.count(port)) return;
        const std::string device = ComPortDevice(port);
        const QString qdevice = QString::fromStdString(device);
        ComPortChoice choice{port, device, !device.empty() && DeviceExists(qdevice), std::string()};
        const QFileInfo info(qdevice);
        if (choice.present && info.isSymLink()) choice.target = info.canonicalFilePath().toStdString();
        found[port] = choice;
    };
    for (int port = 1; port <= 4; ++port)
        add(port);
    for (const auto &o : g_overrides)
        add(o.first);
    // A device keeps the number it was given; a new one takes the lowest number nobody uses.
    auto numberFor = [](const std::string &device) {
        for (const auto &o : g_overrides)
            if (o.second == device) return o.first;
        for (const auto &a : g_assigned)
            if (a.second == device) return a.first;
        for (int port = 1; port <= kMaxComPort; ++port)
            if (!g_overrides.count(port) && !g_assigned.count(port) && RuleDevice(port).empty()) {
                g_assigned[port] = device;
                return port;
            }
        return 0;
    };
    std::vector<std::string> outside;
    for (const QSerialPortInfo &info : QSerialPortInfo::availablePorts()) {
        const int port = RuleNumber(info.systemLocation(), info.portName());
        // An overridden number means its override, not the device the rule would give it.
        if (port > 0 && !g_overrides.count(port)) add(port);
        if (port == 0) outside.push_back(info.systemLocation().toStdString());
    }
#ifndef Q_OS_WIN
    // The stable names of USB adapters: each is offered by that name, which survives a device
    // coming back under another number (ttyUSB0 as ttyUSB1). A device outside the rule that has
    // such a name is offered by the name only.
    const std::string &byIdDirectory = kvor_com::g_byIdDirectory;
    const QDir byId(QString::fromStdString(byIdDirectory.empty() ? "/dev/serial/by-id" : byIdDirectory));
    for (const QFileInfo &link :
         byId.entryInfoList(QDir::Files | QDir::System | QDir::NoDotAndDotDot, QDir::Name)) {
        const std::string target = link.canonicalFilePath().toStdString();
        outside.erase(std::remove(outside.begin(), outside.end(), target), outside.end());
        if (const int port = numberFor(link.absoluteFilePath().toStdString())) add(port);
    }
#endif
    for (const std::string &device : outside)
        if (const int port = numberFor(device)) add(port);
    // Every number given out stays on offer: a device that went away is shown as not present.
    for (const auto &a : g_assigned)
        add(a.first);
    int n = 0;
    for (const auto &entry : found) {
        if (choices && n >= maxChoices) break;
        if (choices) choices[n] = entry.second;
        ++n;
    }
    return n;
}

int OpenComConfig(int port, const char *deviceName, long baudRate, int parity, int dataBits, int stopBits,
                  int inputQueueSize, int outputQueueSize) {
    if (!ValidPortNumber(port)) return kRS_InvalidPortNum;
    QSerialPort::Parity qparity = QSerialPort::NoParity;
    if (baudRate <= 0 || baudRate > 4000000 || !MapParity(parity, &qparity) || dataBits < 5 || dataBits > 8 ||
        (stopBits != 1 && stopBits != 2))
        return kRS_InvalidParameter;

    ComPort &p = g_ports[port];
    if (p.open || p.broken) ClosePort(p);
    p.lost = false;
    p.openReason.clear();

    const std::string device =
        (deviceName && deviceName[0] != '\0') ? std::string(deviceName) : ComPortDevice(port);
    if (device.empty()) return kRS_InvalidPortNum;
    const QString qdevice = QString::fromStdString(device);
    if (!DeviceExists(qdevice)) return kRS_NoPortFound;

    QSerialPort *s = SerialFor(port);
    p.configuring = true;
    s->setPortName(qdevice);
    if (!s->open(QIODevice::ReadWrite)) {
        p.configuring = false;
        const int code = OpenErrorCode(s->error());
        s->clearError();
        if (code == kRS_CanNotOpenPort) p.openReason = PermissionReason(device);
        return code;
    }
    const bool settled = s->setBaudRate(static_cast<qint32>(baudRate)) && s->setParity(qparity) &&
                         s->setDataBits(static_cast<QSerialPort::DataBits>(dataBits)) &&
                         s->setStopBits(stopBits == 2 ? QSerialPort::TwoStop : QSerialPort::OneStop) &&
                         s->setFlowControl(QSerialPort::NoFlowControl);
    if (!settled) {
        s->close();
        s->clearError();
        p.configuring = false;
        return kRS_InvalidParameter;
    }
    // Bytes left over from before the open differ between versions of the serial library.
    s->clear();
    s->clearError();
    p.configuring = false;

    p.open = true;
    p.broken = false;
    p.wholeCountWake = false;
    p.wakeCount = 0; // as the serial library opens a port: any byte wakes us
    p.inQueue.clear();
    p.inQueueSize = inputQueueSize > 0 ? inputQueueSize : kDefaultQueueSize;
    p.outQueueSize = outputQueueSize > 0 ? outputQueueSize : kDefaultQueueSize;
    p.callback = nullptr;
    p.callbackMask = 0;
    p.pendingEvents = 0;
    return 0;
}

int CloseCom(int port) {
    if (!ValidPortNumber(port)) return kRS_InvalidPortNum;
    ClosePort(g_ports[port]);
    g_ports[port].lost = false;
    return 0;
}

int SetComTime(int port, double timeoutSeconds) {
    ComPort *p = OpenPort(port);
    if (!p) return kRS_PortNotOpen;
    if (timeoutSeconds < 0.0) return kRS_InvalidParameter;
    p->timeout = timeoutSeconds;
    return 0;
}

int SetCTSMode(int port, int mode) {
    ComPort *p = OpenPort(port);
    if (!p) return kRS_PortNotOpen;
    if (CloseIfBroken(*p)) return kRS_PortNotOpen;
    p->configuring = true;
    const bool ok =
        p->serial->setFlowControl(mode == 0 ? QSerialPort::NoFlowControl : QSerialPort::HardwareControl);
    p->serial->clearError();
    p->configuring = false;
    if (!ok) return kRS_InvalidParameter;
    return 0;
}

int FlushInQ(int port) {
    ComPort *p = OpenPort(port);
    if (!p) return kRS_PortNotOpen;
    if (CloseIfBroken(*p)) return kRS_PortNotOpen;
    p->inQueue.resize(0); // keeps its storage: the queue is emptied before every request
    p->serial->clear(QSerialPort::Input);
    if (CloseIfBroken(*p)) return kRS_PortNotOpen;
    return 0;
}

int FlushOutQ(int port) {
    ComPort *p = OpenPort(port);
    if (!p) return kRS_PortNotOpen;
    if (CloseIfBroken(*p)) return kRS_PortNotOpen;
    // Only what we still hold is unsent. A frame that ComWrt handed to the system goes out whole:
    // discarding the system's buffer too would cut it on the line (on a pseudo-terminal, even
    // before the far end has read any of it), and the sensor would get half a request.
    if (p->serial->bytesToWrite() > 0) p->serial->clear(QSerialPort::Output);
    if (CloseIfBroken(*p)) return kRS_PortNotOpen;
    return 0;
}

int InstallComCallback(int port, int eventMask, int notifyCount, int eventCharacter, ComCallbackPtr callback,
                       void *callbackData) {
    ComPort *p = OpenPort(port);
    if (!p) return kRS_PortNotOpen;
    if (eventMask == 0 || callback == nullptr) {
        p->callback = nullptr;
        p->callbackMask = 0;
        p->pendingEvents = 0;
        UpdateSystemWake(*p);
        return 0;
    }
    if (notifyCount < 1) return kRS_InvalidParameter;
    p->callback = callback;
    p->callbackMask = eventMask;
    p->notifyCount = notifyCount;
    p->eventCharacter = static_cast<char>(eventCharacter & 0xFF);
    p->callbackData = callbackData;
    p->pendingEvents = 0;
    UpdateSystemWake(*p);
    // Bytes already waiting are reported at the next event processing, never from in here.
    if ((eventMask & LWRS_RECEIVE) && p->inQueue.size() >= notifyCount) ScheduleNotificationCheck(port);
    return 0;
}

int SetComWholeCountWake(int port, int on) {
    ComPort *p = OpenPort(port);
    if (!p) return kRS_PortNotOpen;
    p->wholeCountWake = on != 0;
    UpdateSystemWake(*p);
    return 0;
}

int ComWrt(int port, const char *buffer, int count) {
    ComPort *p = OpenPort(port);
    if (!p) return kRS_PortNotOpen;
    if (CloseIfBroken(*p)) return kRS_PortNotOpen;
    if (count < 0 || (count > 0 && buffer == nullptr)) return kRS_InvalidParameter;
    const qint64 room = std::max<qint64>(0, p->outQueueSize - p->serial->bytesToWrite());
    const qint64 n = std::min<qint64>(room, count);
    if (count > 0) Watch(port, kvor_com::kTrafficWriting);
    const qint64 written = n > 0 ? p->serial->write(buffer, n) : 0;
    // write() only buffers; flush() hands the bytes to the system before we return. Should the
    // system not take them all at once, we give it the port's time-out for the rest.
    p->serial->flush();
    if (CloseIfBroken(*p)) return kRS_PortNotOpen;
    if (p->serial->bytesToWrite() > 0) {
        p->serial->waitForBytesWritten(static_cast<int>(p->timeout * 1000.0));
        if (CloseIfBroken(*p)) return kRS_PortNotOpen;
        if (p->serial->error() == QSerialPort::TimeoutError) p->serial->clearError();
    }
    if (written < 0) return kRS_UnknownIOError;
    return static_cast<int>(written);
}

int ComRd(int port, char *buffer, int count) {
    ComPort *p = OpenPort(port);
    if (!p) return kRS_PortNotOpen;
    if (CloseIfBroken(*p)) return kRS_PortNotOpen;
    if (count < 0 || (count > 0 && buffer == nullptr)) return kRS_InvalidParameter;
    // Bytes still on their way in come after those queued: only a short queue needs them. (The
    // receive notification reads a frame that is already queued, once for every answer.)
    if (p->inQueue.size() < count) PullBytes(port);
    if (!p->open) return kRS_PortNotOpen;
    const int n = static_cast<int>(std::min<qsizetype>(count, p->inQueue.size()));
    if (n > 0) {
        std::copy(p->inQueue.constData(), p->inQueue.constData() + n, buffer);
        p->inQueue.remove(0, n);
    }
    if (!p->notifying) UpdateSystemWake(*p); // a notification sets it once it has read
    return n;
}

int GetInQLen(int port) {
    ComPort *p = OpenPort(port);
    if (!p) return kRS_PortNotOpen;
    if (CloseIfBroken(*p)) return kRS_PortNotOpen;
    PullBytes(port);
    if (!p->open) return kRS_PortNotOpen;
    return static_cast<int>(p->inQueue.size());
}
