// Assembles the modem's replies, byte by byte, into the session's
// ResponseLine: text lines ended by CR LF, and Class 1 HDLC frames, which
// begin with the address octet 0xFF and end with DLE ETX (DLE DLE inside a
// frame stands for one 0x10). Inside a frame CR LF ends nothing, so a frame
// whose octets happen to hold CR LF is read whole.
#pragma once

#include <cstdint>
#include <string>

namespace tv {

struct FaxModemData;

enum class Assembled { Nothing, Line, Frame };

// Feeds one received byte. Line: ResponseLine holds the trimmed, non-empty
// line. Frame: ResponseLine holds the frame's octets. Either stays there
// until the next byte is fed or the line is cleared.
Assembled AssembleResponseByte(FaxModemData& modem, uint8_t byte);

// Empties the ResponseLine and forgets a partial line or frame.
void ClearResponse(FaxModemData& modem);

// The synchronous reader's line: keeps characters of code 32 or more, ends
// a line at CR when it is not empty, and keeps at most 129 characters (the
// oldest is dropped). Returns true when a line is complete in `line`.
bool AssembleSyncByte(std::string& line, bool& complete, uint8_t byte);

}  // namespace tv
