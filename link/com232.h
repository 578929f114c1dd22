// The sensor link: 36-byte frames, the receive notification, time-outs, the start-up exchange,
// the packet mappings, the device information and the data-block reads.
#pragma once

#include <cstdint>

constexpr int kFrameSize = 36;

// Opens port 'port' and runs the start-up exchange with the sensor.
void InitRS232(int port);
// Status text for a negative result of OpenComConfig.
const char *ComErrorText(int code);

// Builds the 36-byte frame in szWriteBuf; sends nothing.
void FillTxBuf(uint16_t command, uint16_t argument, const uint16_t *values);
// The receive notification, installed with InstallComCallback.
void RX_Receive_Function(int port, int events, void *data);
// Decodes szReadBuf into pp: 1 for a raw-data answer, 0 for any other frame.
int GetRxBuf(void);
// Standard wait for rx_flag: 1 in time, 0 on time-out.
int WaitRxFull(void);
// Installs the receive notification as every requester re-installs it.
void InstallRxNotification(void);
// Switches the receive notification off.
void RemoveRxNotification(void);

// Packet mappings between pp and the named variables.
void CopyVarsToPP(uint16_t set);
void CopyPPtoVars(uint16_t set);
void CopyPPtoRAWVars(void);

// Line check and device information.
int CheckComLine(int port);
int GetHARDWAREInfo(void);
int GetVERSIONInfo(void);

// Data reads.
int PushGETRAW(void);
int ReadData64(uint16_t start, uint16_t selector);
