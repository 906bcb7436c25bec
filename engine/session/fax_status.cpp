#include "engine/session/fax_status.h"

namespace tv {

std::string FaxStatusText(int status) {
  switch (status) {
    case 1: return "Initializing modem for fax processing";
    case 2: return "Dialing";
    case 3: return "Busy, waiting until redial...";
    case 4: return "Sending page data";
    case 5: return "Sending EOP";
    case 6: return "Error sending page";
    case 7: return "Page accepted by remote";
    case 20: return "Waiting for incoming call";
    case 21: return "No connect on this call";
    case 22: return "Answering incoming call";
    case 23: return "Incoming call validated as fax";
    case 24: return "Getting page data";
    case 25: return "Getting end-of-page signal";
    case 26: return "Getting end-of-document status";
    case 27: return "Getting hangup command";
    case 28: return "Got Class 2 FHNG code";
    case 40: return "Getting connection params";
    case 41: return "Got called-station ID";
    case 42: return "User abort";
    default: return "";
  }
}

}  // namespace tv
