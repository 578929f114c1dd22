// Serial port services: ports named by number, over QSerialPort.
//
// Port numbers map to devices by one rule (see ComPortDevice); --port N=DEVICE on the command
// line (SetComPortDevice) maps any number to any device path.
#pragma once

#include <string>

// Receive-notification event bits.
enum {
    LWRS_RXFLAG = 0x0002,   // the event character arrived
    LWRS_TXEMPTY = 0x0004,  // the output queue went empty
    LWRS_RECEIVE = 0x8000   // the input queue holds at least the notify count
};

// Results of the serial services (negative: error).
enum {
    kRS_UnknownSysError = -1,
    kRS_InvalidPortNum = -2,
    kRS_PortNotOpen = -3,
    kRS_UnknownIOError = -4,
    kRS_InternalError = -5,
    kRS_NoPortFound = -6,
    kRS_CanNotOpenPort = -7,
    kRS_InvalidParameter = -13,
    kRS_TimeOutErr = -99
};

typedef void (*ComCallbackPtr)(int port, int eventMask, void *callbackData);

int OpenComConfig(int port, const char *deviceName, long baudRate, int parity, int dataBits,
                  int stopBits, int inputQueueSize, int outputQueueSize);
int CloseCom(int port);
int SetComTime(int port, double timeoutSeconds);
int SetCTSMode(int port, int mode);
int FlushInQ(int port);
int FlushOutQ(int port);
// eventMask 0 or a null callback switches the notification off.
int InstallComCallback(int port, int eventMask, int notifyCount, int eventCharacter,
                       ComCallbackPtr callback, void *callbackData);
// For a receive notification that acts on a whole notify count only: the system wakes the
// program for received bytes once the input queue can reach the notify count, not for every
// piece the line delivers (a frame comes in several). An event character is then reported with
// that wake, not at once. Off at every open; 1 on, 0 off.
int SetComWholeCountWake(int port, int on);
int ComWrt(int port, const char *buffer, int count); // bytes handed to the OS, or negative
int ComRd(int port, char *buffer, int count);        // bytes copied (at most count)
int GetInQLen(int port);                             // bytes waiting (pulls pending bytes in)

// Port numbering. The device a port number means ("" when none), and an override.
std::string ComPortDevice(int port);
void SetComPortDevice(int port, const std::string &device);
// The port numbers worth offering to the operator now (re-scanned on every call), each with the
// device it means.
//
// Besides the rule's ports (1 to 4 always, the others when their device exists) and every
// override, the list offers every serial device the system has outside the rule, and every
// name in /dev/serial/by-id. Each of those gets a free number (above the rule's numbers) the
// first time it is seen, and keeps it for the rest of the run: ComPortDevice(number) then gives
// that device path, or the by-id name itself, so that opening the number opens the name.
struct ComPortChoice {
    int port;
    std::string device;
    bool present;       // the device exists right now
    std::string target; // for a link such as a by-id name: the device it leads to now
};
int ListComPorts(ComPortChoice *choices, int maxChoices);
// The highest port number.
int MaxComPort(void);

// What became of a port: closed (never opened, or closed by the program), open, or closed by
// the services because its device failed or went away while it was open.
enum { kComClosed = 0, kComOpen = 1, kComLost = 2 };
int ComPortStatus(int port);

// Why the last OpenComConfig on the port returned kRS_CanNotOpenPort, when the reason is one
// the operator can mend: "" otherwise (also when the port is merely in use or locked).
std::string ComOpenErrorReason(int port);
// The text for a device that this user may not open: the group that may open it (its group,
// when the group may read and write it), or "" when no group helps.
std::string ComPermissionText(const std::string &group);
