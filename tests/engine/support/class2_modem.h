// A port on virtual time with an emulated Class 2 or Class 2.0 modem: the
// modem runs the fax procedure itself and speaks AT+F commands and +F
// reports, with DLE-coded page data, XON before a Class 2 page is sent, DC2
// before a received page is delivered, page status, post-page reports and
// the hang-up report. Class2Remote scripts the far end; everything the
// engine sends is recorded for the tests.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "virtual_port.h"

namespace tv::test {

// One page that the far end sends to the engine.
struct Class2Delivery {
  std::vector<uint8_t> data;  // as the modem delivers it, before DLE coding
  int quality = 1;            // the page status the modem reports after it
  int postPage = -1;          // +FET value; -1: 0 while deliveries follow, else 2
  bool error = false;         // ERROR instead of page status and post-page report
  bool errorAfterStatus = false;  // the page status, then ERROR instead of +FET and OK
  bool dleSub = false;  // two data DLEs in a row go as DLE SUB, as some modems send them
};

struct Class2Remote {
  bool class20 = false;
  std::string fclassReply = "0,1,2";  // the answer to AT+FCLASS=?
  bool echo = false;                  // echoes commands until an ATE0
  std::string errorCommand;           // commands beginning so are answered ERROR

  // Sending side: what the dial brings.
  std::vector<std::string> dialResults;  // one per dial; empty: a fax connection
  bool connectReport = true;             // +FCON / +FCO after the dial
  std::string csi = "\"12 34 567\"";     // empty: no called-station id report
  std::string remoteCaps = "1,5,0,2,0,0,0,0";
  std::string sessionParams = "0,3,0,2,0,0,0,0";
  // Page status for each page the engine sends, in order; missing ones are 1.
  // Class 2: the +FPTS value. Class 2.0: 1 and 3 are OK, 2 is ERROR (OK
  // with refusalOk), others +FPS:n and OK.
  std::vector<int> pageStatus;
  bool statusReports = false;  // Class 2.0: +FPS:n before the final result
  bool refusalOk = false;      // Class 2.0: a refusal ends with OK after +FPS:2
  bool xon = true;             // Class 2: XON after CONNECT
  bool xonWithConnect = false;  // the XON arrives together with CONNECT
  int hangupAtSend = 0;        // the hang-up report answers this AT+FDT (1-based)
  int hangupAfterPage = 0;     // the far end hangs up after this page (1-based):
                               // hang-up report 50 and ERROR instead of its status

  // Receiving side: the caller.
  int rings = 1;
  std::string tsi = "\"CALLER 9\"";  // empty: no transmitting-station id report
  std::string callerParams = "0,3,0,2,0,0,0,0";
  std::vector<Class2Delivery> deliveries;
  int hangupAtDelivery = -1;  // the hang-up report answers AT+FDR for this delivery
};

class Class2Modem : public VirtualPort {
 public:
  explicit Class2Modem(Class2Remote remote)
      : VirtualPort(true), remote_(std::move(remote)), echo_(remote_.echo) {}
  ~Class2Modem() override = default;

  // The far end calls: RING reports follow, the first after firstMs.
  void Ring(int64_t firstMs = 3000);

  // Records.
  std::vector<std::string> commands;         // every command line, in order
  std::vector<std::vector<uint8_t>> pages;   // page data the engine sent, DLE coding undone
  std::vector<uint8_t> pageEnds;             // what followed DLE: ETX, ',', ';' or '.'
  int dc2Count = 0;                          // DC2 bytes the engine wrote
  int xonWaits = 0;                          // XONs the modem sent
  std::vector<int64_t> dataDelays;           // ms from CONNECT to each page's first byte
  bool InPageData() const { return inData_; }

  // FaxPort.
  int WriteBlock(const uint8_t* data, size_t size) override;

 private:

  void Command(const std::string& command);
  void Dial();
  void PageSent(uint8_t end);
  void PostPage(int code);
  void NextDelivery();
  void Deliver();
  std::string Name(const char* class2, const char* class20) const {
    return remote_.class20 ? class20 : class2;
  }
  int StatusOf(size_t page) const {
    return page < remote_.pageStatus.size() ? remote_.pageStatus[page] : 1;
  }

  Class2Remote remote_;
  bool echo_ = false;
  bool inData_ = false;  // page data from the engine until DLE ETX / DLE , / DLE .
  bool dle_ = false;
  std::string line_;
  std::vector<uint8_t> data_;
  int sends_ = 0;          // AT+FDT commands taken
  size_t delivery_ = 0;    // the next page the far end sends
  bool awaitDc2_ = false;  // CONNECT for AT+FDR went out; data follows DC2
  int64_t connectAt_ = 0;  // when the CONNECT for AT+FDT arrives
  std::string params_;     // the program's last AT+FDIS / AT+FIS value
};

}  // namespace tv::test
