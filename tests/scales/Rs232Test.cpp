#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/file.h>
#include <termios.h>
#include <unistd.h>

#include <string>

#include "scales/rs232.h"
#include "tests/scales/SimulatedScale.h"
#include "tests/support/StationProcess.h"
#include "tests/support/TempDir.h"

namespace {

using scaletest::SimulatedScale;
using namespace std::chrono_literals;

constexpr int kScalesPort = 24;

// Where port 24 points during a failing open.
enum class Device { kSimulator, kMissing, kRegularFile, kLockedSimulator };

struct FailingOpen {
  const char* name;
  Device device;
  int port;
  int baudrate;
  const char* mode;
  std::string out;  // exact standard output
  std::string err;  // exact standard error
};
void PrintTo(const FailingOpen& c, std::ostream* os) { *os << c.name; }

class RefusedOpen : public ::testing::TestWithParam<FailingOpen> {
 protected:
  testsupport::TempDir dir;
  SimulatedScale scale;
};

// Every refused open says why once, returns 1 and leaves the device closed and unlocked.
TEST_P(RefusedOpen, SaysWhyAndLeavesTheDeviceFree) {
  const FailingOpen& c = GetParam();
  ASSERT_TRUE(scale.opened());
  int holder = -1;
  switch (c.device) {
    case Device::kSimulator:
      break;
    case Device::kMissing:
      setenv("DIMCORE_SCALES_DEVICE", dir.file("no-such-tty").c_str(), 1);
      break;
    case Device::kRegularFile:
      testsupport::WriteFile(dir.file("plain-file"), "not a terminal");
      setenv("DIMCORE_SCALES_DEVICE", dir.file("plain-file").c_str(), 1);
      break;
    case Device::kLockedSimulator:
      holder = open(scale.path().c_str(), O_RDWR | O_NOCTTY);
      ASSERT_GE(holder, 0);
      ASSERT_EQ(flock(holder, LOCK_EX | LOCK_NB), 0);
      break;
  }
  ::testing::internal::CaptureStdout();
  ::testing::internal::CaptureStderr();
  const int result = RS232_OpenComport(c.port, c.baudrate, c.mode, 0);
  const std::string out = ::testing::internal::GetCapturedStdout();
  const std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(result, 1);
  EXPECT_EQ(out, c.out);
  EXPECT_EQ(err, c.err);
  if (holder >= 0) close(holder);

  // Nothing was left open or locked: the simulator's device opens at once.
  setenv("DIMCORE_SCALES_DEVICE", scale.path().c_str(), 1);
  ::testing::internal::CaptureStdout();
  ASSERT_EQ(RS232_OpenComport(kScalesPort, 4800, "8N1", 0), 0)
      << ::testing::internal::GetCapturedStdout();
  ::testing::internal::GetCapturedStdout();
  RS232_CloseComport(kScalesPort);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RefusedOpen,
    ::testing::Values(FailingOpen{"PortAboveTable", Device::kSimulator, 39, 4800, "8N1",
                                  "illegal comport number\n", ""},
                      FailingOpen{"NegativePort", Device::kSimulator, -1, 4800, "8N1",
                                  "illegal comport number\n", ""},
                      FailingOpen{"UnsupportedSpeed", Device::kSimulator, kScalesPort, 14400, "8N1",
                                  "invalid baudrate\n", ""},
                      FailingOpen{"ZeroSpeed", Device::kSimulator, kScalesPort, 0, "8N1",
                                  "invalid baudrate\n", ""},
                      FailingOpen{"ModeTooShort", Device::kSimulator, kScalesPort, 4800, "8N",
                                  "invalid mode \"8N\"\n", ""},
                      FailingOpen{"ModeTooLong", Device::kSimulator, kScalesPort, 4800, "8N11",
                                  "invalid mode \"8N11\"\n", ""},
                      FailingOpen{"ModeMissing", Device::kSimulator, kScalesPort, 4800, nullptr,
                                  "invalid mode \"\"\n", ""},
                      FailingOpen{"NineDataBits", Device::kSimulator, kScalesPort, 4800, "9N1",
                                  "invalid number of data-bits '9'\n", ""},
                      FailingOpen{"UnknownParity", Device::kSimulator, kScalesPort, 4800, "8X1",
                                  "invalid parity 'X'\n", ""},
                      FailingOpen{"ThreeStopBits", Device::kSimulator, kScalesPort, 4800, "8N3",
                                  "invalid number of stop bits '3'\n", ""},
                      FailingOpen{"MissingDevice", Device::kMissing, kScalesPort, 4800, "8N1", "",
                                  "unable to open comport : No such file or directory\n"},
                      FailingOpen{"NotATerminal", Device::kRegularFile, kScalesPort, 4800, "8N1",
                                  "",
                                  "unable to read portsettings : Inappropriate ioctl for device\n"},
                      FailingOpen{"LockedByAnotherOpen", Device::kLockedSimulator, kScalesPort,
                                  4800, "8N1", "",
                                  "Another process has locked the comport.: Resource temporarily "
                                  "unavailable\n"}),
    [](const ::testing::TestParamInfo<FailingOpen>& i) { return i.param.name; });

struct AcceptedMode {
  const char* name;
  int baudrate;
  speed_t speed;
  const char* mode;
  bool parity;
  bool odd;
  bool twoStops;
};
void PrintTo(const AcceptedMode& c, std::ostream* os) { *os << c.name; }

class ConfiguredLine : public ::testing::TestWithParam<AcceptedMode> {
 protected:
  termios Settings() {
    const int fd = open(scale.path().c_str(), O_RDWR | O_NOCTTY);
    termios t{};
    EXPECT_EQ(tcgetattr(fd, &t), 0);
    close(fd);
    return t;
  }
  SimulatedScale scale;
};

// The open sets exactly the line it was asked for, raw, and the close puts back what it found.
TEST_P(ConfiguredLine, SetWhileOpenRestoredOnClose) {
  const AcceptedMode& c = GetParam();
  // qemu-user translates only the classic speeds of the terminal interface between architectures.
  if (std::getenv("DIMCORE_TEST_EMULATOR") != nullptr && c.speed > B115200) {
    GTEST_SKIP() << "qemu-user does not carry speeds above 115200 baud";
  }
  ASSERT_TRUE(scale.opened());
  // Something distinctive to be restored: 9600 baud, canonical input with echo.
  {
    const int fd = open(scale.path().c_str(), O_RDWR | O_NOCTTY);
    termios t{};
    ASSERT_EQ(tcgetattr(fd, &t), 0);
    cfsetispeed(&t, B9600);
    cfsetospeed(&t, B9600);
    t.c_lflag |= ICANON | ECHO;
    ASSERT_EQ(tcsetattr(fd, TCSANOW, &t), 0);
    close(fd);
  }

  ::testing::internal::CaptureStdout();
  ::testing::internal::CaptureStderr();
  ASSERT_EQ(RS232_OpenComport(kScalesPort, c.baudrate, c.mode, 0), 0);
  termios t = Settings();
  EXPECT_EQ(cfgetispeed(&t), c.speed);
  EXPECT_EQ(cfgetospeed(&t), c.speed);
  // A pseudo-terminal always reports 8 bits without parity (the kernel forces CS8 and clears
  // PARENB on it); the parity shows in the input flags and PARODD.
  EXPECT_EQ((t.c_cflag & PARODD) != 0, c.odd);
  EXPECT_EQ((t.c_cflag & CSTOPB) != 0, c.twoStops);
  EXPECT_EQ(t.c_cflag & CRTSCTS, 0u);
  EXPECT_NE(t.c_cflag & CREAD, 0u);
  EXPECT_EQ(t.c_iflag & (IGNPAR | INPCK), c.parity ? tcflag_t{INPCK} : tcflag_t{IGNPAR});
  EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG), 0u);
  EXPECT_EQ(t.c_cc[VMIN], 0);
  EXPECT_EQ(t.c_cc[VTIME], 0);
  RS232_CloseComport(kScalesPort);
  // A pseudo-terminal has no modem lines: neither the open nor the close complains about them.
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");

  t = Settings();
  EXPECT_EQ(cfgetispeed(&t), speed_t{B9600});
  EXPECT_NE(t.c_lflag & ICANON, 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Modes, ConfiguredLine,
    ::testing::Values(AcceptedMode{"Scale8N1", 4800, B4800, "8N1", false, false, false},
                      AcceptedMode{"LowerCaseParity", 4800, B4800, "8n1", false, false, false},
                      AcceptedMode{"Even7E2", 50, B50, "7E2", true, false, true},
                      AcceptedMode{"Odd5o1", 115200, B115200, "5o1", true, true, false},
                      AcceptedMode{"Six6e2Fastest", 4000000, B4000000, "6e2", true, false, true}),
    [](const ::testing::TestParamInfo<AcceptedMode>& i) { return i.param.name; });

class OpenPort : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(scale.opened());
    ASSERT_EQ(RS232_OpenComport(kScalesPort, 4800, "8N1", 0), 0);
    opened = true;
  }
  void TearDown() override {
    if (opened) RS232_CloseComport(kScalesPort);
  }
  SimulatedScale scale;
  bool opened = false;
};

TEST_F(OpenPort, PollWithNothingWaitingReturnsZeroAtOnce) {
  unsigned char buffer[5];
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(RS232_PollComport(kScalesPort, buffer, 5), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
}

TEST_F(OpenPort, RequestAndAnswer) {
  scale.Do({"weight 1.25"});
  EXPECT_EQ(RS232_SendByte(kScalesPort, 0x4A), 0);
  ASSERT_TRUE(scale.WaitForRequests(1));
  unsigned char buffer[8] = {};
  int got = 0;
  testsupport::WaitUntil(
      [&] {
        const int n = RS232_PollComport(kScalesPort, buffer + got, 8 - got);
        if (n > 0) got += n;
        return got >= 5;
      },
      2s, 2ms);
  ASSERT_EQ(got, 5);
  EXPECT_EQ(scalesim::Hex(buffer, 5), "a0 00 e2 04 00");
}

TEST_F(OpenPort, SendBufAndCputsReachTheScale) {
  unsigned char two[] = {0x4A, 0x4A};
  EXPECT_EQ(RS232_SendBuf(kScalesPort, two, 2), 2);
  RS232_cputs(kScalesPort, "xJ");
  EXPECT_TRUE(scale.WaitForRequests(3));
}

// A second open of a port that is already open is refused by the lock and must not disturb the
// first: the port still talks to the scale and closes cleanly.
TEST_F(OpenPort, SecondOpenRefusedFirstKeepsWorking) {
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(RS232_OpenComport(kScalesPort, 4800, "8N1", 0), 1);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            "Another process has locked the comport.: Resource temporarily unavailable\n");
  EXPECT_EQ(RS232_SendByte(kScalesPort, 0x4A), 0);
  EXPECT_TRUE(scale.WaitForRequests(1));
}

TEST_F(OpenPort, ModemLineQueriesWithoutModemLines) {
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(RS232_IsCTSEnabled(kScalesPort), 0);
  EXPECT_EQ(RS232_IsDSREnabled(kScalesPort), 0);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            "unable to get portstatus: Inappropriate ioctl for device\n"
            "unable to get portstatus: Inappropriate ioctl for device\n");
}

TEST(ClosedPort, CallsAreHarmless) {
  unsigned char buffer[5];
  EXPECT_LT(RS232_PollComport(kScalesPort, buffer, 5), 0);
  EXPECT_EQ(RS232_SendByte(kScalesPort, 0x4A), 1);
  EXPECT_LT(RS232_PollComport(99, buffer, 5), 0);
  RS232_CloseComport(kScalesPort);
  RS232_CloseComport(-3);
}

struct PortName {
  const char* name;
  const char* device;
  const char* override;  // DIMCORE_SCALES_DEVICE, nullptr: unset
  int port;
};
void PrintTo(const PortName& c, std::ostream* os) { *os << c.name; }

class PortNumbers : public ::testing::TestWithParam<PortName> {
 protected:
  void TearDown() override { unsetenv("DIMCORE_SCALES_DEVICE"); }
};

TEST_P(PortNumbers, FoundByDeviceName) {
  const PortName& c = GetParam();
  if (c.override != nullptr) {
    setenv("DIMCORE_SCALES_DEVICE", c.override, 1);
  } else {
    unsetenv("DIMCORE_SCALES_DEVICE");
  }
  EXPECT_EQ(RS232_GetPortnr(c.device), c.port);
}

INSTANTIATE_TEST_SUITE_P(
    Table, PortNumbers,
    ::testing::Values(
        PortName{"Scale", "ttySCALES0", nullptr, 24}, PortName{"FirstSerial", "ttyS0", nullptr, 0},
        PortName{"LastSerial", "ttyS15", nullptr, 15},
        PortName{"BeyondSerials", "ttyS16", nullptr, -1},
        PortName{"LastUsb", "ttyUSB5", nullptr, 21}, PortName{"Acm", "ttyACM1", nullptr, 26},
        PortName{"LastInTable", "cuaU3", nullptr, 38}, PortName{"Unknown", "ttyXYZ", nullptr, -1},
        PortName{"LongNameCutAt16", "ttySCALES0-and-a-long-tail", nullptr, -1},
        PortName{"ScaleElsewhere", "pts/7", "/dev/pts/7", 24},
        PortName{"TableNameReplaced", "ttySCALES0", "/dev/pts/7", -1},
        PortName{"OthersUnchanged", "ttyAMA1", "/dev/pts/7", 23},
        PortName{"EmptyOverrideIgnored", "ttySCALES0", "", 24}),
    [](const ::testing::TestParamInfo<PortName>& i) { return i.param.name; });

}  // namespace
