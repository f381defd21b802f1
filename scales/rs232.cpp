#include "scales/rs232.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr int kScalesPort = 24;
constexpr const char* kScalesDeviceVariable = "DIMCORE_SCALES_DEVICE";

const char* const comports[RS232_PORTNR] = {
    "/dev/ttyS0",   "/dev/ttyS1",   "/dev/ttyS2",   "/dev/ttyS3",   "/dev/ttyS4",
    "/dev/ttyS5",   "/dev/ttyS6",   "/dev/ttyS7",   "/dev/ttyS8",   "/dev/ttyS9",
    "/dev/ttyS10",  "/dev/ttyS11",  "/dev/ttyS12",  "/dev/ttyS13",  "/dev/ttyS14",
    "/dev/ttyS15",  "/dev/ttyUSB0", "/dev/ttyUSB1", "/dev/ttyUSB2", "/dev/ttyUSB3",
    "/dev/ttyUSB4", "/dev/ttyUSB5", "/dev/ttyAMA0", "/dev/ttyAMA1", "/dev/ttySCALES0",
    "/dev/ttyACM0", "/dev/ttyACM1", "/dev/rfcomm0", "/dev/rfcomm1", "/dev/ircomm0",
    "/dev/ircomm1", "/dev/cuau0",   "/dev/cuau1",   "/dev/cuau2",   "/dev/cuau3",
    "/dev/cuaU0",   "/dev/cuaU1",   "/dev/cuaU2",   "/dev/cuaU3"};

int Cport[RS232_PORTNR] = {-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1,
                           -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1,
                           -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1};
struct termios old_port_settings[RS232_PORTNR];
struct termios new_port_settings;
int error;

bool ValidPort(int comport_number) { return comport_number >= 0 && comport_number < RS232_PORTNR; }

bool OpenPort(int comport_number) {
  return ValidPort(comport_number) && Cport[comport_number] >= 0;
}

// The table entry, except that the scale's device may be placed elsewhere (a board wired
// differently, or a simulator on a pseudo-terminal).
const char* DevicePath(int comport_number) {
  if (comport_number == kScalesPort) {
    const char* device = std::getenv(kScalesDeviceVariable);
    if (device != nullptr && *device != '\0') return device;
  }
  return comports[comport_number];
}

struct Speed {
  int baudrate;
  speed_t constant;
};
const Speed kSpeeds[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},
    {150, B150},         {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
    {3500000, B3500000}, {4000000, B4000000}};

bool SpeedConstant(int baudrate, speed_t* constant) {
  for (const Speed& speed : kSpeeds) {
    if (speed.baudrate == baudrate) {
      *constant = speed.constant;
      return true;
    }
  }
  return false;
}

// A pseudo-terminal or an adapter without modem control has no DTR/RTS to drive; that is not a
// failure of the port.
bool NoModemLines(int err) { return err == ENOTTY || err == EINVAL; }

// Gives up an open that failed after the lock was taken: settings back (when they had been
// changed), lock released, descriptor closed, then the reason.
void AbandonOpen(int fd, const struct termios* saved, const char* message) {
  const int reason = errno;
  if (saved != nullptr) tcsetattr(fd, TCSANOW, saved);
  flock(fd, LOCK_UN);
  close(fd);
  errno = reason;
  perror(message);
}

int ModemStatus(int comport_number, int* status) {
  if (ioctl(Cport[comport_number], TIOCMGET, status) == -1) {
    perror("unable to get portstatus");
    return -1;
  }
  return 0;
}

int ModemLine(int comport_number, int line) {
  if (!OpenPort(comport_number)) return 0;
  int status = 0;
  if (ModemStatus(comport_number, &status) != 0) return 0;
  return (status & line) ? 1 : 0;
}

void SetModemLine(int comport_number, int line, bool raise) {
  if (!OpenPort(comport_number)) return;
  int status = 0;
  if (ModemStatus(comport_number, &status) != 0) return;
  status = raise ? (status | line) : (status & ~line);
  if (ioctl(Cport[comport_number], TIOCMSET, &status) == -1) perror("unable to set portstatus");
}

}  // namespace

extern "C" {

int RS232_OpenComport(int comport_number, int baudrate, const char* mode, int flowctrl) {
  if (!ValidPort(comport_number)) {
    printf("illegal comport number\n");
    return 1;
  }
  speed_t baudr = B0;
  if (!SpeedConstant(baudrate, &baudr)) {
    printf("invalid baudrate\n");
    return 1;
  }
  if (mode == nullptr || strlen(mode) != 3) {
    printf("invalid mode \"%s\"\n", mode == nullptr ? "" : mode);
    return 1;
  }

  int cbits = 0;
  switch (mode[0]) {
    case '8':
      cbits = CS8;
      break;
    case '7':
      cbits = CS7;
      break;
    case '6':
      cbits = CS6;
      break;
    case '5':
      cbits = CS5;
      break;
    default:
      printf("invalid number of data-bits '%c'\n", mode[0]);
      return 1;
  }
  int cpar = 0;
  int ipar = IGNPAR;
  switch (mode[1]) {
    case 'N':
    case 'n':
      cpar = 0;
      ipar = IGNPAR;
      break;
    case 'E':
    case 'e':
      cpar = PARENB;
      ipar = INPCK;
      break;
    case 'O':
    case 'o':
      cpar = PARENB | PARODD;
      ipar = INPCK;
      break;
    default:
      printf("invalid parity '%c'\n", mode[1]);
      return 1;
  }
  int bstop = 0;
  switch (mode[2]) {
    case '1':
      bstop = 0;
      break;
    case '2':
      bstop = CSTOPB;
      break;
    default:
      printf("invalid number of stop bits '%c'\n", mode[2]);
      return 1;
  }

  // The descriptor and the saved settings are committed to the port only once the open has
  // succeeded, so a refused second open of a port leaves the first one intact.
  const int fd = open(DevicePath(comport_number), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd == -1) {
    perror("unable to open comport ");
    return 1;
  }
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int reason = errno;
    close(fd);
    errno = reason;
    perror("Another process has locked the comport.");
    return 1;
  }

  struct termios saved;
  error = tcgetattr(fd, &saved);
  if (error == -1) {
    AbandonOpen(fd, nullptr, "unable to read portsettings ");
    return 1;
  }

  memset(&new_port_settings, 0, sizeof(new_port_settings));
  new_port_settings.c_cflag = static_cast<tcflag_t>(cbits | cpar | bstop | CLOCAL | CREAD);
  if (flowctrl) new_port_settings.c_cflag |= CRTSCTS;
  new_port_settings.c_iflag = static_cast<tcflag_t>(ipar);
  new_port_settings.c_oflag = 0;
  new_port_settings.c_lflag = 0;
  new_port_settings.c_cc[VMIN] = 0;
  new_port_settings.c_cc[VTIME] = 0;
  cfsetispeed(&new_port_settings, baudr);
  cfsetospeed(&new_port_settings, baudr);

  error = tcsetattr(fd, TCSANOW, &new_port_settings);
  if (error == -1) {
    AbandonOpen(fd, &saved, "unable to adjust portsettings ");
    return 1;
  }

  int status = 0;
  if (ioctl(fd, TIOCMGET, &status) == -1) {
    if (!NoModemLines(errno)) {
      AbandonOpen(fd, &saved, "unable to get portstatus");
      return 1;
    }
  } else {
    status |= TIOCM_DTR;
    status |= TIOCM_RTS;
    if (ioctl(fd, TIOCMSET, &status) == -1) {
      AbandonOpen(fd, &saved, "unable to set portstatus");
      return 1;
    }
  }

  Cport[comport_number] = fd;
  old_port_settings[comport_number] = saved;
  return 0;
}

int RS232_PollComport(int comport_number, unsigned char* buf, int size) {
  if (!OpenPort(comport_number) || buf == nullptr || size < 0) return -1;
  const ssize_t n = read(Cport[comport_number], buf, static_cast<size_t>(size));
  if (n < 0) {
    if (errno == EAGAIN || errno == EWOULDBLOCK) return 0;
    return static_cast<int>(n);
  }
  return static_cast<int>(n);
}

int RS232_SendByte(int comport_number, unsigned char byte) {
  if (!OpenPort(comport_number)) return 1;
  const ssize_t n = write(Cport[comport_number], &byte, 1);
  if (n < 0) {
    if (errno == EAGAIN || errno == EWOULDBLOCK) return 0;
    return 1;
  }
  return 0;
}

int RS232_SendBuf(int comport_number, unsigned char* buf, int size) {
  if (!OpenPort(comport_number) || buf == nullptr || size < 0) return -1;
  const ssize_t n = write(Cport[comport_number], buf, static_cast<size_t>(size));
  if (n < 0) {
    if (errno == EAGAIN || errno == EWOULDBLOCK) return 0;
    return -1;
  }
  return static_cast<int>(n);
}

void RS232_CloseComport(int comport_number) {
  if (!OpenPort(comport_number)) return;
  const int fd = Cport[comport_number];
  int status = 0;
  if (ioctl(fd, TIOCMGET, &status) == -1) {
    if (!NoModemLines(errno)) perror("unable to get portstatus");
  } else {
    status &= ~TIOCM_DTR;
    status &= ~TIOCM_RTS;
    if (ioctl(fd, TIOCMSET, &status) == -1) perror("unable to set portstatus");
  }
  tcsetattr(fd, TCSANOW, &old_port_settings[comport_number]);
  flock(fd, LOCK_UN);
  close(fd);
  Cport[comport_number] = -1;
}

void RS232_cputs(int comport_number, const char* text) {
  if (text == nullptr) return;
  while (*text != '\0') RS232_SendByte(comport_number, static_cast<unsigned char>(*text++));
}

int RS232_IsDCDEnabled(int comport_number) { return ModemLine(comport_number, TIOCM_CAR); }
int RS232_IsRINGEnabled(int comport_number) { return ModemLine(comport_number, TIOCM_RNG); }
int RS232_IsCTSEnabled(int comport_number) { return ModemLine(comport_number, TIOCM_CTS); }
int RS232_IsDSREnabled(int comport_number) { return ModemLine(comport_number, TIOCM_DSR); }
void RS232_enableDTR(int comport_number) { SetModemLine(comport_number, TIOCM_DTR, true); }
void RS232_disableDTR(int comport_number) { SetModemLine(comport_number, TIOCM_DTR, false); }
void RS232_enableRTS(int comport_number) { SetModemLine(comport_number, TIOCM_RTS, true); }
void RS232_disableRTS(int comport_number) { SetModemLine(comport_number, TIOCM_RTS, false); }

void RS232_flushRX(int comport_number) {
  if (OpenPort(comport_number)) tcflush(Cport[comport_number], TCIFLUSH);
}
void RS232_flushTX(int comport_number) {
  if (OpenPort(comport_number)) tcflush(Cport[comport_number], TCOFLUSH);
}
void RS232_flushRXTX(int comport_number) {
  if (OpenPort(comport_number)) tcflush(Cport[comport_number], TCIOFLUSH);
}

int RS232_GetPortnr(const char* devname) {
  if (devname == nullptr) return -1;
  char str[32];
  snprintf(str, sizeof(str), "/dev/%.16s", devname);
  for (int i = 0; i < RS232_PORTNR; i++) {
    if (strcmp(DevicePath(i), str) == 0) return i;
  }
  return -1;
}

}  // extern "C"
