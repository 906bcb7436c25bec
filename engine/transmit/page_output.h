// Page data on its way to the modem: DLE doubling, white lines, the header
// rows, and keeping the modem's buffer fed.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tv {

struct FaxSession;

// Sends coded data with every 0x10 doubled. Bytes the output buffer has no
// room for are kept and go first at the next call (FlushPending).
int SendCodedData(FaxSession& s, const std::vector<uint8_t>& data);
// Sends what an earlier call kept; true when nothing is left waiting.
bool FlushPending(FaxSession& s);

// Sends one coded line built by the engine, padded with zero bytes to the
// minimum bytes per line; adds its length to the bytes transferred.
int SendEngineLine(FaxSession& s, const std::vector<uint8_t>& line);

// n blank lines as wide as the page (1728 or 2048 pixels).
int SendWhiteLines(FaxSession& s, int n);

// Writes zero bytes until more than BufferMinimum bytes wait for the modem.
int FillOutput(FaxSession& s);

// Expands and draws a text line (header line height 16, cover text 48);
// without a renderer nothing is drawn.
int SendTextRows(FaxSession& s, const std::string& text, int heightCode);

}  // namespace tv
