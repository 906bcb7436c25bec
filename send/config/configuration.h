// The configuration record: every user and modem setting, loaded from ZT.INI
// in the data folder at start-up and written back when a dialog that edits
// them is accepted.
#pragma once

#include <array>
#include <filesystem>
#include <string>

namespace tv {

// Six serial port slots "Com1".."Com6"; Modem/ComPort is the index 0..5.
inline constexpr int kPortSlots = 6;

struct TConfiguration {
  // [User]
  std::string UserFax;      // own fax number, the station identification
  std::string UserName;     // own name, printed in the page header
  std::string UserVoice;    // own voice number
  std::string UserCompany;  // own company name
  // [Dialing]
  std::string DialPrefix;
  int DialAttempts = 3;     // attempts for a busy number
  int RetryWait = 60;       // seconds between attempts
  bool BlindDial = false;   // dial without waiting for a dial tone
  bool IgnoreBusy = false;  // do not detect busy signals
  int ToneOrPulse = 0;      // 0 tone, 1 pulse
  int Timeout = 60;         // seconds to wait for a connection after dialling
  // [Modem]
  std::string InitString;   // extra modem initialisation command
  int ComPort = -1;         // 0 for Com1 .. 5 for Com6; -1 not yet configured
  int FaxClass = 0;         // 0 auto detect, 1 Class 1, 2 Class 2, 3 Class 2.0
  int MaximumBPS = 9600;
  // [Resetting]
  std::string ResetString = "AT&F";
  bool ResetAlways = false;  // reset before every send and receive
  // [Receive]
  std::string ReceiveWav;    // sound played when a fax arrives
  int AnswerOnRing = 1;      // 1 to 3
  // [Hints]
  bool HintsOn = true;
  // [Ports] Com1..Com6: the device path of each slot.
  std::array<std::string, kPortSlots> PortDevices = DefaultPortDevices();

  static std::array<std::string, kPortSlots> DefaultPortDevices();
};

// The program's one configuration record.
TConfiguration& Configuration();

// Reads every key in one pass over the file; a missing file or key gives the
// defaults. Without a path: ZT.INI in the data folder, into Configuration().
void LoadConfiguration(TConfiguration& config, const std::filesystem::path& iniPath);
void LoadConfiguration();

// Writes every key in the designed order (User/Fax, User/Name, User/Voice,
// User/Company, Dialing/DialPrefix, Modem/InitString, Dialing/DialAttempts,
// Dialing/RetryWait, Dialing/BlindDial, Dialing/IgnoreBusy, Modem/ComPort,
// Modem/FaxClass, Modem/MaximumBPS, Dialing/ToneOrPulse, Dialing/Timeout,
// Resetting/String, Resetting/Always, Receive/Wav, Receive/AnswerOnRing,
// Hints/On), then the [Ports] slots. Other sections and keys of the file
// survive. A write failure raises EInOutError (the file error) and leaves the
// old file whole.
void SaveConfiguration(const TConfiguration& config, const std::filesystem::path& iniPath);
void SaveConfiguration();

// "Com1".."Com6" for the slot index 0..5.
std::string PortSlotName(int slot);
// The device path of a slot ("" for an index outside 0..5).
std::string PortDevice(const TConfiguration& config, int slot);
// How dialogs show a slot: "Com1 (/dev/ttyACM0)".
std::string PortCaption(const TConfiguration& config, int slot);

}  // namespace tv
