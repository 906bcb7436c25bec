// The page header line: expanding its $ tags, and drawing the expanded text
// into coded lines through a renderer that the fax font provides.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace tv {

struct FaxSession;

struct HeaderValues {
  std::string date;       // $D
  std::string time;       // $T
  std::string stationId;  // $I
  std::string sender;     // $F
  std::string recipient;  // $R
  std::string title;      // $S
  std::string pages;      // $N
  std::string page;       // $P
};

// Replaces each tag (from '$' to the next blank or the end) by the value
// its letter chooses, case-insensitively; unknown tags become empty. The
// search goes on after each inserted value, so a value holding '$' stays.
std::string ExpandHeaderTags(const std::string& line, const HeaderValues& values);

// The values for the page now being sent: $N is the total pages plus the
// cover count; $P is "1" while the cover is sent, the current page without
// a cover, and the current page + 1 for file pages after a cover.
HeaderValues HeaderValuesFor(const FaxSession& session);

// Draws a text line as coded T.4 lines, one per glyph row, in the bit order
// the modem takes. heightCode 16 is the header font, 48 the cover font. The
// rows are as wide as the page they top (2048 pixels when wide, else 1728):
// a row of another width is a bad row to the receiving machine.
class HeaderLineRenderer {
 public:
  virtual ~HeaderLineRenderer() = default;
  virtual int Render(const std::string& text, int heightCode, bool fine, bool wide,
                     std::vector<std::vector<uint8_t>>& codedRows) = 0;
};

// The renderer made with the fax font; null when memory is short.
std::unique_ptr<HeaderLineRenderer> CreateHeaderLineRenderer();

}  // namespace tv
