// The line settings each link mode leaves on the port, read from the
// terminal itself while the program waits for the device's first answer.
// Under Wine this is the only place where the DCB fields the Windows port
// sets can be seen: Wine turns them into the terminal's settings.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <future>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include "support/e2e.h"
#include "support/e2e_wine.h"

namespace {

constexpr int first_byte_wait_ms = 20000;

struct Observed {
  bool host_wrote = false;
  termios line{};
};

// A device that never answers: once the host's first byte arrives the host
// has configured the line, so the settings are read then; closing the
// terminal afterwards fails the host's wait for an answer at once.
Observed observe_then_hang_up(int master, int slave) {
  Observed observed;
  pollfd host{master, POLLIN, 0};
  observed.host_wrote = poll(&host, 1, first_byte_wait_ms) == 1 && (host.revents & POLLIN) != 0;
  tcgetattr(slave, &observed.line);
  close(slave);
  close(master);
  return observed;
}

// What another program may have left on the port: mark or space parity,
// parity marking, flow control, stripping and translation of input bytes.
void leave_port_as_another_program_would(int slave) {
  termios line{};
  tcgetattr(slave, &line);
  line.c_cflag |= CMSPAR | CRTSCTS;
  line.c_iflag |= PARMRK | IXON | IXOFF | ISTRIP | ICRNL | IGNBRK;
  line.c_lflag |= ICANON | ECHO;
  line.c_oflag |= OPOST;
  tcsetattr(slave, TCSANOW, &line);
}

TEST(LineSettings, EachModeSetsEveryLineSettingWhateverThePortHeld) {
  struct Mode {
    const char* option;
    speed_t speed;
    bool parity;
  };
  for (const Mode& mode : {Mode{"-s0", B9600, false}, Mode{"-s1", B19200, false}, Mode{"-s3", B9600, false},
                           Mode{"-s2", B9600, true}}) {
    SCOPED_TRACE(mode.option);
    int master = -1, slave = -1;
    ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
    // Not inherited by the program, or its copies would keep the line up.
    fcntl(master, F_SETFD, FD_CLOEXEC);
    fcntl(slave, F_SETFD, FD_CLOEXEC);
    leave_port_as_another_program_would(slave);
    Emulator port;
    port.pty_path = ttyname(slave);
    std::future<Observed> device = std::async(std::launch::async, observe_then_hang_up, master, slave);

    RunResult run = run_device_program(port, "qvrestart", {mode.option, "-r"});
    Observed observed = device.get();

    ASSERT_TRUE(observed.host_wrote) << run.err;
    const termios& line = observed.line;
    EXPECT_EQ(cfgetospeed(&line), mode.speed);
    EXPECT_EQ(cfgetispeed(&line), mode.speed);
    EXPECT_EQ(line.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(line.c_cflag & (CSTOPB | CRTSCTS), 0u);
    EXPECT_EQ(line.c_iflag & (IXON | IXOFF), 0u);
    EXPECT_EQ(run.exit_code, 1) << run.err;
    EXPECT_NE(run.err.find("TimeOut\n"), std::string::npos) << run.err;
    // Wine makes its own terminal settings of the Windows port's; the rest
    // is what the programs set themselves.
    if (wine_mode()) continue;
    EXPECT_EQ(line.c_cflag & CMSPAR, 0u);
    EXPECT_EQ(line.c_cflag & (CLOCAL | CREAD), static_cast<tcflag_t>(CLOCAL | CREAD));
    EXPECT_EQ(line.c_iflag, static_cast<tcflag_t>(PARMRK | INPCK));
    EXPECT_EQ(line.c_lflag & (ICANON | ECHO | ISIG), 0u);
    EXPECT_EQ(line.c_oflag & OPOST, 0u);
  }
}

// Under Wine: a port that another program left listening to DSR (which
// discards all input on a cable that does not wire it) gets a DCB that
// listens to no DSR, with DTR held on; one whose driver reports both
// flow-control characters as 0 gets the usual two, which Windows accepts.
TEST(LineSettings, APortLeftListeningToDsrIsSetToIgnoreIt) {
  if (!wine_mode()) GTEST_SKIP() << "the DCB is the Windows port's";
  int master = -1, slave = -1;
  ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
  fcntl(master, F_SETFD, FD_CLOEXEC);
  fcntl(slave, F_SETFD, FD_CLOEXEC);
  RunResult run = run_program("port_settings_probe", {wine_port_name(ttyname(slave))});
  close(slave);
  close(master);
  EXPECT_EQ(run.exit_code, 0) << run.out << run.err;
  EXPECT_NE(run.out.find("left: fOutxDsrFlow=1 fDsrSensitivity=1"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("set: fOutxDsrFlow=0 fDsrSensitivity=0 fDtrControl=1"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("XonChar=17 XoffChar=19\nread back"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("read back: fOutxDsrFlow=0 fDsrSensitivity=0"), std::string::npos) << run.out;
}

}  // namespace
