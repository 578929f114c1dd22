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
int ComWrt(int port, const char *buffer, int count); // bytes handed to the OS, or negative
int ComRd(int port, char *buffer, int count);        // bytes copied (at most count)
int GetInQLen(int port);                             // bytes waiting (pulls pending bytes in)

// Port numbering. The device a port number means ("" when none), and an override.
std::string ComPortDevice(int port);
void SetComPortDevice(int port, const std::string &device);
// The port numbers worth offering to the operator now (re-scanned on every call), each with the
// device it means.
struct ComPortChoice {
    int port;
    std::string device;
    bool present; // the device exists right now
};
int ListComPorts(ComPortChoice *choices, int maxChoices);
