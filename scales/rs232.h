#pragma once

// Serial ports addressed by number (an index into a fixed table of device paths). Port 24 is the
// scale; the environment variable DIMCORE_SCALES_DEVICE, when set, names its device instead of
// "/dev/ttySCALES0".
//
// The module keeps one state per port and has no lock: two opens must not run at the same time,
// and one port is used from one thread at a time.

#ifdef __cplusplus
extern "C" {
#endif

// Number of entries in the port table (ports 0 to 38).
#define RS232_PORTNR 39

// 0 when open (locked, configured, DTR and RTS raised where the port has modem lines), 1 on any
// failure after printing why. mode is "8N1" and the like; flowctrl non-zero enables RTS/CTS.
int RS232_OpenComport(int comport_number, int baudrate, const char* mode, int flowctrl);
// Bytes read, 0 when nothing is waiting, negative on another read error. Never blocks.
int RS232_PollComport(int comport_number, unsigned char* buf, int size);
// 0 when written or when the write would block (the byte is then lost), 1 on another error.
int RS232_SendByte(int comport_number, unsigned char byte);
// Bytes written, 0 when the write would block, -1 on another error.
int RS232_SendBuf(int comport_number, unsigned char* buf, int size);
// Drops DTR and RTS, restores the settings found at open, closes and unlocks.
void RS232_CloseComport(int comport_number);
void RS232_cputs(int comport_number, const char* text);
int RS232_IsDCDEnabled(int comport_number);
int RS232_IsRINGEnabled(int comport_number);
int RS232_IsCTSEnabled(int comport_number);
int RS232_IsDSREnabled(int comport_number);
void RS232_enableDTR(int comport_number);
void RS232_disableDTR(int comport_number);
void RS232_enableRTS(int comport_number);
void RS232_disableRTS(int comport_number);
void RS232_flushRX(int comport_number);
void RS232_flushTX(int comport_number);
void RS232_flushRXTX(int comport_number);
// The port whose device path is "/dev/" + devname, else -1.
int RS232_GetPortnr(const char* devname);

#ifdef __cplusplus
}
#endif
