// The remote fax machine at the far end of the line: a spandsp fax terminal
// that answers and stores what it receives, or calls and sends a document.
#pragma once

#include <cstdint>
#include <string>

#include "tools/telvane-line/line_spandsp.h"

namespace tv::line {

struct TTvFarEndOptions {
  bool calling = false;      // true: sends `file`; false: receives into `file`
  std::string file;
  std::string ident;         // the far end's station id
  int modems = T30_SUPPORT_V17 | T30_SUPPORT_V29 | T30_SUPPORT_V27TER;
  bool ecm = false;
  bool log = false;
  int refusePage = 0;        // answers RTN to this page once (0: never)
  int hangupAfterPage = 0;   // drops the call after this page (0: never)
};

struct TTvFarEndResult {
  bool finished = false;
  int code = -1;             // T30_ERR_...
  std::string text;          // T.30 completion text
  int pages = 0;
  int bitRate = 0;
  int xDpi = 0;
  int yDpi = 0;
  std::string remoteIdent;   // the station id the program sent
};

// Checks that a TIFF file holds fax pages the far end can send: one bit per
// pixel, a fax page width, fax resolutions. Returns the number of pages, or 0
// with a message.
int CheckFaxTiff(const std::string& path, std::string* error);

class TTvFarEnd {
 public:
  explicit TTvFarEnd(const TTvFarEndOptions& options);
  ~TTvFarEnd();
  TTvFarEnd(const TTvFarEnd&) = delete;
  TTvFarEnd& operator=(const TTvFarEnd&) = delete;

  void Transmit(int16_t* amp, int n);
  void Receive(int16_t* amp, int n);
  // The line was dropped: the far end ends its call now.
  void LineDropped();

  const TTvFarEndResult& Result() const { return result_; }
  // Pages so far, for progress messages.
  int PagesSoFar();

 private:
  static void PhaseE(t30_state_t* s, void* user, int code);
  static int PhaseD(t30_state_t* s, void* user, int result);
  static void Frame(t30_state_t* s, void* user, int incoming, const uint8_t* msg, int len);

  TTvFarEndOptions options_;
  fax_state_t* fax_ = nullptr;
  TTvFarEndResult result_;
  bool refused_ = false;
  bool hangUpNow_ = false;
};

}  // namespace tv::line
