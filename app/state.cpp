// Definitions of the shared state declared in state.h. Values here are load values; InitVars
// gives the defaults.
#include "state.h"

uint16_t ADCMAX = 1024;

int pHandle = 0;
int pPopup = 0;
int pPara1 = 0;
int pPara2 = 0;
int pCalib = 0;

int com = 0;
char szWriteBuf[kSerialBufSize];
char szReadBuf[kSerialBufSize];
int nBytesW = 0;
int nBytesR = 0;
int ret = 0;
int rx_flag = 0;
int graph_flag = 0;
int stop_flag = 0;
int target = 0;
double tstart = 0.0;
double tdiff = 0.0;

ParameterRecord parameter;
uint16_t pp[16];

uint16_t Ledge, Redge, Mvalue;
uint32_t umValue;
uint16_t tol;
uint16_t edcnt;
uint16_t mvstart, mvend;
uint16_t dynpow;
uint16_t anaMax, anaMin;
uint16_t in0, raw14, raw15;

uint16_t ccdtype;
uint16_t ccdmaxpixel;
uint16_t ccdresolution;
uint16_t pcbtype;
uint16_t ccdvirtpixel;
uint16_t ccdsubpixel;
uint16_t ccdpixB;
uint16_t ccdpixE;
uint16_t softversion;
uint16_t refdistance;
uint16_t adcmax;
uint16_t pixB;
uint16_t pixE;

uint16_t thdArray[256];
double xArray8[256];
uint16_t adcbuf[256];
uint16_t thdArrayEE[256];
double arrayNORM[600];

char szStatus[kTextSize];
char szVersion[kTextSize];
char szSoftVersion[kTextSize];
char szSoftName[kTextSize];
char szHwLine[3][kTextSize] = {"No hardware information", "", ""};
char szFirmware[kTextSize];
std::string proj_dir;
std::string file_name;
