#include "engine/transmit/page_output.h"

#include <algorithm>

#include "engine/files/header_line.h"
#include "engine/session/fax_records.h"
#include "platform/core/error_codes.h"

namespace tv {

namespace {

// EOL and the white run of a whole line (1728: make-up 1728 + terminating
// 0; 2048: make-up 1984 + terminating 64), zero fill, in the modem's bit order.
const std::vector<uint8_t> kWhiteLine = {0x00, 0x80, 0xB2, 0x59, 0x01, 0x00};
const std::vector<uint8_t> kWideWhiteLine = {0x00, 0x80, 0x80, 0xCC, 0x0A, 0x00};

}  // namespace

bool FlushPending(FaxSession& s) {
  if (s.pendingOut.empty()) return true;
  FaxPort* port = s.common.port;
  size_t room = static_cast<size_t>(std::max(0, port->OutputRoom()));
  size_t n = std::min(room, s.pendingOut.size());
  if (n > 0 && port->WriteBlock(s.pendingOut.data(), n) == ecOK)
    s.pendingOut.erase(s.pendingOut.begin(), s.pendingOut.begin() + static_cast<long>(n));
  return s.pendingOut.empty();
}

int SendCodedData(FaxSession& s, const std::vector<uint8_t>& data) {
  for (uint8_t byte : data) {
    s.pendingOut.push_back(byte);
    if (byte == 0x10) s.pendingOut.push_back(0x10);
  }
  FlushPending(s);
  return ecOK;
}

int SendEngineLine(FaxSession& s, const std::vector<uint8_t>& line) {
  std::vector<uint8_t> padded = line;
  if (static_cast<int>(padded.size()) < s.modem.minimumBytes) padded.resize(s.modem.minimumBytes, 0);
  s.common.bytesTransferred += static_cast<long>(padded.size());
  return SendCodedData(s, padded);
}

int SendWhiteLines(FaxSession& s, int n) {
  std::vector<uint8_t> line = s.modem.pageWide ? kWideWhiteLine : kWhiteLine;
  if (s.modem.minimumBytes >= 7) line.resize(line.size() + s.modem.minimumBytes - 5, 0);
  for (int i = 0; i < n; ++i) {
    int rc = SendEngineLine(s, line);
    if (rc != ecOK) return rc;
  }
  return ecOK;
}

int FillOutput(FaxSession& s) {
  FaxPort* port = s.common.port;
  FlushPending(s);
  int waiting = port->OutputQueued();
  if (waiting > s.bufferMinimum) return ecOK;
  std::vector<uint8_t> zeros(static_cast<size_t>(s.bufferMinimum - waiting + 1), 0);
  int room = port->OutputRoom();
  if (static_cast<int>(zeros.size()) > room) zeros.resize(static_cast<size_t>(std::max(0, room)));
  if (zeros.empty()) return ecOK;
  return port->WriteBlock(zeros.data(), zeros.size());
}

int SendTextRows(FaxSession& s, const std::string& text, int heightCode) {
  if (!s.renderer) return ecOK;
  std::vector<std::vector<uint8_t>> rows;
  int rc = s.renderer->Render(text, heightCode, s.modem.pageResolution == '1', s.modem.pageWide,
                              rows);
  if (rc != ecOK) return rc;
  for (const auto& row : rows) {
    rc = SendEngineLine(s, row);
    if (rc != ecOK) return rc;
  }
  return ecOK;
}

}  // namespace tv
