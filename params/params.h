// The parameter set: binding to the panel controls, with its limits, and the parameter file.
#pragma once

#include <cstdint>

void GetPanelValues(void);
void SetPanelValues(void);

// Scale factor conversions between the CALIB_Scale float and parameter.scale (times 16384).
uint32_t ScaleFromFloat(float value);
float ScaleToFloat(uint32_t scale);

// Parameter file: 30 values, default name "KVORpara.cfg", filter "*.cfg".
void SendParaToFile(void);
void ReadParaFromFile(void);
