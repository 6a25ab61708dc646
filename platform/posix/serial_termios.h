// The DCB fields a Linux terminal can carry, and their termios settings.
#pragma once

#include <termios.h>

#include "platform/types.h"

namespace plat::posix {

// Raw settings carrying the DCB's speed, framing and flow control. False
// (settings unchanged in meaning) for a speed or framing Linux cannot give.
bool DcbToTermios(const Dcb& dcb, struct termios* settings);
// Overwrites the DCB fields that termios carries; the others stay.
void TermiosToDcb(const struct termios& settings, Dcb* dcb);

}  // namespace plat::posix
