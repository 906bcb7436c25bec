// An emulated Class 2 or Class 2.0 fax modem.
//
// The fax procedure runs inside the modem, as in a real one: a spandsp T.30
// terminal on the modem's side of the line talks to the far end, and the
// modem translates between it and the program's AT+F commands and +F
// reports. Class 2 uses the older command set (+FDIS, +FDCC, +FLID, +FET=,
// +FK; reports +FCON, +FDCS, +FTSI, +FCSI, +FPTS, +FHNG; XON before it takes
// page data; received data with each byte's bits reversed); Class 2.0 the
// newer one (+FIS, +FCC, +FLI, +FKS, +FPS?; reports +FCO, +FCS, +FTI, +FCI,
// +FPS, +FHS; pages ended by DLE '.' or DLE ','; data in stream order both
// ways). The class in use is the one last selected with AT+FCLASS.
//
// spandsp's T.30 sends only from TIFF files, reads a page's image when the
// page starts and sends MPS or EOP by whether its file has another page. So
// the modem collects each page the program sends and, before the T.30 starts
// that page, writes its document file anew with the page in the T.30's
// current place and a placeholder after it while more pages follow. While the
// program has not yet given the page, the modem's T.30 stands still and the
// line is silent, which the far end takes as a slow sender. Before the first
// AT+FDT a listening T.30 only hears the far end's DIS for the reports; the
// sending one answers a repeated DIS.
// Received rows go to the program while the page arrives, taken from the
// receiving T.30's image as it decodes them and coded afresh as a DLE-coded
// T.4 stream; the end of the page comes from the TIFF file it writes.
#pragma once

#include <deque>
#include <functional>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "tools/telvane-line/line_class2_pages.h"
#include "tools/telvane-line/line_fax_modem.h"
#include "tools/telvane-line/line_spandsp.h"

namespace tv::line {

enum class TTvFaxClass { Class1, Class2, Class20 };

class TTvLineClass2Modem : public TTvLineFaxModem {
 public:
  using TOutput = std::function<void(const uint8_t* data, size_t len)>;

  // `fclass` is the class the modem starts in (Class2 or Class20);
  // `classesReply` what AT+FCLASS=? answers.
  TTvLineClass2Modem(int index, TTvLineModemListener* listener, TOutput output, TTvFaxClass fclass,
                     const std::string& classesReply);
  ~TTvLineClass2Modem() override;
  TTvLineClass2Modem(const TTvLineClass2Modem&) = delete;
  TTvLineClass2Modem& operator=(const TTvLineClass2Modem&) = delete;

  void Input(const uint8_t* data, size_t len) override;
  size_t InputRoom() const override;
  void FeedInput() override;
  void Transmit(int16_t* amp, int n) override;
  void Receive(int16_t* amp, int n) override;
  void CallEvent(int event) override;
  bool TakingTransmitData() const override { return state_ == TState::SendData; }
  size_t BufferedTransmitData() const override {
    return state_ == TState::SendData ? input_.size() : 0;
  }
  bool OffHook() const override { return offHook_; }
  void EnableLog(const char* tag) override;

 private:
  enum class TState {
    Idle,          // on hook, commands
    Dialling,      // ATD given, waiting for the far end to answer
    Listening,     // connected as caller, waiting for the far end's DIS
    SendReady,     // DIS reported; commands (AT+FDT, AT+FK, ATH)
    SendData,      // CONNECT given: page data up to its end
    SendPageEnding,  // Class 2: page ended; OK once the modem would have sent it
    SendPageEnd,   // Class 2: page ended, OK given, waiting for AT+FET
    SendPage,      // the page is on its way; waiting for the far end's answer
    SendLast,      // the last page was accepted; waiting for the call's end
    Answering,     // ATA given, waiting for the caller's DCS
    RecvReady,     // connected as answerer; commands (AT+FDR, AT+FK, ATH)
    RecvWait,      // AT+FDR given, waiting for a page or the call's end
    RecvDc2,       // CONNECT given, waiting for DC2
    RecvData,      // page data on its way to the program as it arrives
    RecvPageEnd,   // page delivered; its reports follow
  };
  enum class TRole { None, Listener, Sender, Receiver };

  struct TPage {
    TTvPageRows rows;
    int postPage = 2;  // +FET value: 0 more pages, 1 new document, 2 end
  };

  static void FrameHandler(t30_state_t* s, void* user, int incoming, const uint8_t* msg, int len);
  static void PhaseE(t30_state_t* s, void* user, int code);
  static int PhaseD(t30_state_t* s, void* user, int result);

  bool Class20() const { return class_ == TTvFaxClass::Class20; }
  void Send(const std::string& text);
  void Reply(const std::string& text);
  void Final(bool ok) { Reply(ok ? "OK" : "ERROR"); }
  std::string Report(const char* class2, const char* class20) const {
    return Class20() ? class20 : class2;
  }
  std::string HangupReport(int code) const;

  void DoCommandLine(const std::string& line);
  // Runs one command of a line; `pos` moves past it. Returns 1 done, 0 the
  // command finishes later (the rest of the line is dropped), -1 ERROR.
  int DoCommand(const std::string& line, size_t* pos);
  int DoExtended(const std::string& name, char op, const std::string& value);
  void Dial(const std::string& number);
  void Answer();
  void HangUp(bool notify);
  void Abort();

  void ResetCall();
  void StartFax(TRole role, const std::string& file);
  void RetireFax();
  void DestroyRetired();
  void SendPageData(const uint8_t* p, size_t n);
  void PageCollected(int postPage);
  TTvPageRows PlaceholderPage() const;
  void InstallPage();
  void PageResult(int ppr);
  void RemoteCapabilities();
  void CallerParameters();
  void PageReceived(int postPage);
  void CollectReceivedPages();
  bool RowsInProgress(TTvPageRows* out) const;
  void ServeReceive();
  void DeliverPage();
  void ReportPage();
  void CallOver(int code);

  int index_;
  TTvLineModemListener* listener_;
  TOutput output_;
  TTvFaxClass class_;
  TTvFaxClass startClass_;
  std::string fclass_;  // the selected class as the program wrote it
  std::string classesReply_;
  std::string folder_;
  std::string tag_;
  bool log_ = false;

  std::vector<uint8_t> input_;
  std::string line_;
  bool echo_ = true;
  bool offHook_ = false;
  TState state_ = TState::Idle;
  int rings_ = 0;
  int autoAnswer_ = 0;  // S0

  // Settings of the program.
  std::string localId_;
  TTvFaxParams local_;  // +FDIS / +FIS
  TTvFaxParams capabilities_;  // +FDCC / +FCC
  bool receiveEnabled_ = true;
  std::map<std::string, std::string> settings_;

  // The modem's T.30.
  fax_state_t* fax_ = nullptr;
  TRole role_ = TRole::None;
  bool frozen_ = false;
  bool retire_ = false;
  bool callEnded_ = false;
  int hangupCode_ = 0;
  bool aborted_ = false;

  // Sending.
  std::string remoteId_;
  TTvFaxParams remote_;
  bool remoteKnown_ = false;
  std::vector<uint8_t> pageData_;
  bool dled_ = false;
  int dataBudget_ = 0;  // page data bytes the modem takes in this block
  int pagesCollected_ = 0;
  TTvPageRows page_;       // the page to send next
  bool pageReady_ = false;  // page_ is the program's, not yet answered
  std::string docFile_;
  int documents_ = 0;
  int64_t blocks_ = 0;      // FeedInput calls: the modem's clock
  int64_t connectBlock_ = 0;
  TTvFaxParams session_;  // what AT+FDT reported
  int lastPpr_ = 1;
  int pagesSent_ = 0;
  bool lastPage_ = false;

  // Receiving.
  std::string rxFile_;
  TTvFaxParams received_;
  bool callerReported_ = false;
  bool paramsChanged_ = false;
  int postPage_ = 2;
  int pagesReceived_ = 0;  // pages the T.30 has finished
  int pagesRead_ = 0;      // pages read back from its file
  int readTries_ = 0;
  std::vector<int> postPages_;  // +FET value of each page finished
  int calls_ = 0;
  std::deque<TPage> pages_;
  int64_t dc2Wait_ = 0;
  int streamedRows_ = 0;  // rows of the page in progress already delivered
  int deliveredRows_ = 0;
  int deliveredPostPage_ = 2;
  int64_t reportAt_ = 0;
};

}  // namespace tv::line
