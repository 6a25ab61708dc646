// A serial driver that keeps its own line settings, played on a
// pseudo-terminal: this program's tcsetattr, which the library binds to,
// behaves as such a driver does when asked to.
#include <dlfcn.h>
#include <termios.h>

#include <atomic>

#include "tests/integration/serial_pty_fixture.h"

namespace {

std::atomic<bool> driverKeepsItsSettings{false};

}  // namespace

// The virtual console's set_termios puts the old hardware settings back
// (tty_termios_copy_hw: every c_cflag bit but HUPCL, CREAD and CLOCAL, and
// both speeds), and tcsetattr still reports success because the other
// changes took effect (tcsetattr(3)).
extern "C" __attribute__((visibility("default"))) int tcsetattr(int fd, int actions,
                                                                const struct termios* wanted) {
    using Real = int (*)(int, int, const struct termios*);
    static Real real = reinterpret_cast<Real>(dlsym(RTLD_NEXT, "tcsetattr"));
    if (!driverKeepsItsSettings) return real(fd, actions, wanted);
    struct termios old {};
    if (tcgetattr(fd, &old) != 0) return -1;
    struct termios kept = *wanted;
    const tcflag_t software = HUPCL | CREAD | CLOCAL;
    kept.c_cflag = (wanted->c_cflag & software) | (old.c_cflag & ~software);
    cfsetispeed(&kept, cfgetispeed(&old));
    cfsetospeed(&kept, cfgetospeed(&old));
    return real(fd, actions, &kept);
}

namespace {

class SerialDriverSettings : public serial_pty::PtyPrinter {
protected:
    void TearDown() override {
        driverKeepsItsSettings = false;
        PtyPrinter::TearDown();
    }
};

TEST_F(SerialDriverSettings, AnOpenFailsWhenTheDriverKeepsItsOwnSettings) {
    OpenCom9(9600, 0, 8, 0, 2);
    ASSERT_EQ(0, Close());
    driverKeepsItsSettings = true;
    // What the line already carries needs no change, and opens.
    ASSERT_EQ(0, Open());
    ASSERT_EQ(0, Close());
    ASSERT_EQ(0, InitSerialPort("COM9", 19200, 2, 7, 2, 0));
    EXPECT_EQ(108, Open());
    int error = 0;
    ASSERT_EQ(0, GetLastErrorComm(&error));
    EXPECT_EQ(87, error);
    struct termios line {};
    ASSERT_EQ(0, tcgetattr(master, &line));
    EXPECT_EQ(static_cast<speed_t>(B9600), cfgetospeed(&line));
    EXPECT_EQ(0u, line.c_cflag & (CSTOPB | CRTSCTS));
}

}  // namespace
