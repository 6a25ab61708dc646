// The DCB fields a Linux terminal can carry, and their termios settings.
#include "platform/posix/serial_termios.h"

#include <cstdint>
#include <initializer_list>

namespace plat::posix {

namespace {

struct Speed {
    std::uint32_t baud;
    speed_t code;
};

// Every rate Linux has a code for. B0 (hang up) is no rate: a line in that
// state reads as rate 0, as does one whose speed has no code here.
const Speed kSpeeds[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},
    {150, B150},         {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
    {3500000, B3500000}, {4000000, B4000000},
};

bool SpeedCode(std::uint32_t baud, speed_t* code) {
    for (const Speed& speed : kSpeeds) {
        if (speed.baud == baud) {
            *code = speed.code;
            return true;
        }
    }
    return false;
}

std::uint32_t BaudOf(speed_t code) {
    for (const Speed& speed : kSpeeds) {
        if (speed.code == code) return speed.baud;
    }
    return 0;
}

}  // namespace

bool DcbToTermios(const Dcb& dcb, struct termios* settings) {
    speed_t speed = B9600;
    bool knownSpeed = SpeedCode(dcb.BaudRate, &speed);
    // A state read from the line and written back must not fail on the
    // line's own speed: the rate it read as (0 for B0 or a speed without a
    // code) leaves both speeds as they are.
    bool lineSpeed = !knownSpeed && dcb.BaudRate == BaudOf(::cfgetospeed(settings));
    if ((!knownSpeed && !lineSpeed) || dcb.ByteSize < 5 || dcb.ByteSize > 8 ||
        dcb.Parity > kSpaceParity || dcb.StopBits > kTwoStopBits) {
        return false;
    }
    // Raw bytes both ways: no line editing, echo, signals or translation.
    settings->c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR |
                                                ICRNL | IXON | IXOFF | IXANY | INPCK);
    settings->c_oflag &= ~static_cast<tcflag_t>(OPOST);
    settings->c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    settings->c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
#ifdef CMSPAR
    settings->c_cflag &= ~static_cast<tcflag_t>(CMSPAR);
#endif
    settings->c_cflag |= CLOCAL | CREAD;
    static const tcflag_t kSizes[] = {CS5, CS6, CS7, CS8};
    settings->c_cflag |= kSizes[dcb.ByteSize - 5];
    switch (dcb.Parity) {
        case kOddParity:
            settings->c_cflag |= PARENB | PARODD;
            break;
        case kEvenParity:
            settings->c_cflag |= PARENB;
            break;
#ifdef CMSPAR
        case kMarkParity:
            settings->c_cflag |= PARENB | PARODD | CMSPAR;
            break;
        case kSpaceParity:
            settings->c_cflag |= PARENB | CMSPAR;
            break;
#endif
        default:
            break;
    }
    if ((settings->c_cflag & PARENB) != 0 && dcb.fParity != 0) settings->c_iflag |= INPCK;
    // Linux has no one-and-a-half stop bits: the longer setting is closer.
    if (dcb.StopBits != kOneStopBit) settings->c_cflag |= CSTOPB;
    // CRTSCTS is both directions at once: either handshake asks for it.
    if (dcb.fOutxCtsFlow != 0 || dcb.fRtsControl == kRtsControlHandshake) {
        settings->c_cflag |= CRTSCTS;
    }
    if (dcb.fOutX != 0) settings->c_iflag |= IXON;
    if (dcb.fInX != 0) settings->c_iflag |= IXOFF;
    if (dcb.fOutX != 0 || dcb.fInX != 0) {
        settings->c_cc[VSTART] = static_cast<cc_t>(dcb.XonChar);
        settings->c_cc[VSTOP] = static_cast<cc_t>(dcb.XoffChar);
    }
    // Reads wait in poll with the COMMTIMEOUTS, never in the driver.
    settings->c_cc[VMIN] = 0;
    settings->c_cc[VTIME] = 0;
    if (knownSpeed) {
        ::cfsetispeed(settings, speed);
        ::cfsetospeed(settings, speed);
    }
    return true;
}

bool CarriesAllButFraming(const struct termios& wanted, const struct termios& line) {
    tcflag_t framing = CSIZE | PARENB | PARODD;
#ifdef CMSPAR
    framing |= CMSPAR;
#endif
    for (int slot : {VMIN, VTIME, VSTART, VSTOP}) {
        if (wanted.c_cc[slot] != line.c_cc[slot]) return false;
    }
    return wanted.c_iflag == line.c_iflag && wanted.c_oflag == line.c_oflag &&
           wanted.c_lflag == line.c_lflag &&
           (wanted.c_cflag & ~framing) == (line.c_cflag & ~framing) &&
           ::cfgetispeed(&wanted) == ::cfgetispeed(&line) &&
           ::cfgetospeed(&wanted) == ::cfgetospeed(&line);
}

void TermiosToDcb(const struct termios& settings, Dcb* dcb) {
    dcb->DCBlength = kDcbLength;
    dcb->BaudRate = BaudOf(::cfgetospeed(&settings));
    switch (settings.c_cflag & CSIZE) {
        case CS5:
            dcb->ByteSize = 5;
            break;
        case CS6:
            dcb->ByteSize = 6;
            break;
        case CS7:
            dcb->ByteSize = 7;
            break;
        default:
            dcb->ByteSize = 8;
            break;
    }
    dcb->Parity = kNoParity;
    if ((settings.c_cflag & PARENB) != 0) {
        bool odd = (settings.c_cflag & PARODD) != 0;
        dcb->Parity = odd ? kOddParity : kEvenParity;
#ifdef CMSPAR
        if ((settings.c_cflag & CMSPAR) != 0) dcb->Parity = odd ? kMarkParity : kSpaceParity;
#endif
    }
    dcb->fParity = (settings.c_iflag & INPCK) != 0 ? 1 : 0;
    dcb->StopBits = (settings.c_cflag & CSTOPB) != 0 ? kTwoStopBits : kOneStopBit;
    dcb->fOutxCtsFlow = (settings.c_cflag & CRTSCTS) != 0 ? 1 : 0;
    dcb->fOutX = (settings.c_iflag & IXON) != 0 ? 1 : 0;
    dcb->fInX = (settings.c_iflag & IXOFF) != 0 ? 1 : 0;
    dcb->XonChar = static_cast<char>(settings.c_cc[VSTART]);
    dcb->XoffChar = static_cast<char>(settings.c_cc[VSTOP]);
}

}  // namespace plat::posix
