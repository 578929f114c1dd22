// The sensor link: 36-byte frames, the receive notification, time-outs, the start-up exchange,
// the packet mappings, the device information and the data-block reads.
#pragma once

#include <cstdint>

#include "protocol.h"

// Opens port 'port' and runs the start-up exchange with the sensor.
void InitRS232(int port);
// Status text for a negative result of OpenComConfig.
const char *ComErrorText(int code);
// Reads one parameter set during the start-up exchange. The program installs its GET (which
// also fills the panels); without one, the set goes into the parameter record only.
typedef void (*SetReader)(uint16_t target, uint16_t set);
void SetStartupSetReader(SetReader reader);

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

// Parameter sets over the line, without panels.
// Reads set 'set' with CMD_READ_RAM or CMD_READ_EEPROM; the request carries the set's present
// packet words. 1 with the answer's words in pp (and "Parameter-frame received! - Line Ok!" in
// szStatus), 0 with "Timeout-RS-232..." in szStatus.
int ExchangeParameterSet(uint16_t command, uint16_t set);
// Writes set 'set' with CMD_WRITE_RAM or CMD_WRITE_EEPROM, no answer awaited; "Line Ok!" on the
// status line when the whole frame went out. 1 then, else 0.
int SendParameterSet(uint16_t command, uint16_t set);
// The read and write commands for a memory target (RAM or EEPROM).
uint16_t ReadCommandFor(int memory);
uint16_t WriteCommandFor(int memory);
