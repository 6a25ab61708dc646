// The DCB fields a Linux terminal can carry, and their termios settings.
#pragma once

#include <termios.h>

#include "platform/types.h"

namespace plat::posix {

// Raw settings carrying the DCB's speed, framing and flow control, made
// from the line's current settings. False (settings unchanged in meaning)
// for a speed or framing Linux cannot give; a rate equal to the one the
// line's speed reads as keeps the line's speed.
bool DcbToTermios(const Dcb& dcb, struct termios* settings);
// True when the line carries every setting asked for except the byte
// framing (size and parity), which a driver may keep as it can give it.
bool CarriesAllButFraming(const struct termios& wanted, const struct termios& line);
// Overwrites the DCB fields that termios carries; the others stay.
void TermiosToDcb(const struct termios& settings, Dcb* dcb);

}  // namespace plat::posix
