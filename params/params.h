// The parameter set: binding to the panel controls, with its limits, and the parameter file.
#pragma once

#include <cstdint>
#include <string>

void GetPanelValues(void);
void SetPanelValues(void);
// Holds parameter set 0 to the ranges the sensor works with (SetPanelValues does it first).
void LimitParameters(void);
// The tolerance in mm (PANEL_TOLVALUE) and the tolerance field's dimming by hardware variant, as
// parameter set 0 and the scale stand now.
void ShowToleranceDisplay(void);

// Scale factor conversions between the CALIB_Scale value and parameter.scale (times 16384).
// Doubles: a float cannot hold every quotient of the 32-bit field.
uint32_t ScaleFromFloat(double value);
double ScaleToFloat(uint32_t scale);

// Parameter file: 30 values, default name "KVORpara.cfg", filter "*.cfg".
// Both sets of the record into 'path' (written beside it and put in its place only when
// complete): 0, or negative when the file could not be written (the old file is then intact).
int WriteParaFile(const std::string &path);
// Both sets from 'path' into the record: 0, or negative when the file is not exactly 30
// unsigned numbers (the record is then unchanged).
int ReadParaFile(const std::string &path);
// The 30 values of 'path' as they stand in the file, before they are cut to 16 bits: 0, or
// negative as ReadParaFile (then 'values' is unchanged).
int ReadParaFileValues(const std::string &path, uint32_t values[30]);
// The 30 values of the file format from the record, and back.
void ParaFileValues(uint32_t values[30]);
void TakeParaFileValues(const uint32_t values[30]);
// The dialog-driven forms used by SEND and GET with the file target. ReadParaFromFile: 1 read,
// 0 dialog cancelled (nothing changed), -1 the file could not be read (record unchanged).
void SendParaToFile(void);
int ReadParaFromFile(void);
