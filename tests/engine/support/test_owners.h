// Owners of a fax session for the state-machine tests: they record what the
// machine reports and answer its questions the way the test asks.
#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "engine/session/fax_session.h"
#include "engine/session/fax_status.h"

namespace tv::test {

// The sending side: hands out the fax files one by one at FaxMsgNextFile.
struct TransmitOwner : FaxOwner {
  std::vector<std::string> faxFiles;
  std::string number = "5551234";
  std::vector<int> errors;
  std::vector<int> logs;
  std::vector<int> statuses;  // every status the machine set
  bool finished = false;
  int finishCode = 1;
  std::function<void(FaxSession&)> onStatus;

  int Send(FaxSession& s, int message, int wParam) override {
    switch (message) {
      case FaxMsgNextFile:
        if (faxFiles.empty()) return 0;
        SetNextFax(s, number, faxFiles.front(), "");
        faxFiles.erase(faxFiles.begin());
        return 1;
      case FaxMsgError: errors.push_back(wParam); break;
      case FaxMsgLog: logs.push_back(wParam); break;
      case FaxMsgStatus:
        statuses.push_back(s.common.status);
        if (onStatus) onStatus(s);
        break;
      default: break;
    }
    return 0;
  }
  void Post(FaxSession&, int message, int wParam) override {
    if (message == FaxMsgFinish) {
      finished = true;
      finishCode = wParam;
    }
  }
};

// The receiving side: accepts calls (or not) and names each received file
// FAX0001.APF, FAX0002.APF, ... in `dir`.
struct ReceiveOwner : FaxOwner {
  std::filesystem::path dir;
  bool accept = true;
  std::vector<int> errors;
  std::vector<int> logs;
  std::vector<std::string> files;
  std::vector<std::string> callers;
  bool finished = false;
  int finishCode = 1;

  int Send(FaxSession& s, int message, int wParam) override {
    switch (message) {
      case FaxMsgAccept:
        callers.push_back(GetRemoteStationId(s));
        return accept ? 1 : 0;
      case FaxMsgReceiveName: {
        std::string name = (dir / ("FAX000" + std::to_string(files.size() + 1) + ".APF")).string();
        files.push_back(name);
        SetReceiveFileName(s, name);
        break;
      }
      case FaxMsgError: errors.push_back(wParam); break;
      case FaxMsgLog: logs.push_back(wParam); break;
      default: break;
    }
    return 0;
  }
  void Post(FaxSession&, int message, int wParam) override {
    if (message == FaxMsgFinish) {
      finished = true;
      finishCode = wParam;
    }
  }
};

}  // namespace tv::test
