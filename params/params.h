// The parameter set: binding to the panel controls, with its limits, and the parameter file.
#pragma once

#include <cstdint>

void GetPanelValues(void);
void SetPanelValues(void);

// Scale factor conversions between the CALIB_Scale value and parameter.scale (times 16384).
// Doubles: a float cannot hold every quotient of the 32-bit field.
uint32_t ScaleFromFloat(double value);
double ScaleToFloat(uint32_t scale);

// Parameter file: 30 values, default name "KVORpara.cfg", filter "*.cfg".
void SendParaToFile(void);
void ReadParaFromFile(void);
