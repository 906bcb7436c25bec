#include "send/config/configuration.h"

#include "platform/core/error_codes.h"
#include "platform/core/exceptions.h"
#include "platform/ini/ini_file.h"
#include "send/config/app_folder.h"

namespace tv {

std::array<std::string, kPortSlots> TConfiguration::DefaultPortDevices() {
  return {"/dev/ttyACM0", "/dev/ttyACM1", "/dev/ttyUSB0",
          "/dev/ttyUSB1", "/dev/ttyS0",   "/dev/ttyS1"};
}

TConfiguration& Configuration() {
  static TConfiguration config;
  return config;
}

void LoadConfiguration(TConfiguration& c, const std::filesystem::path& iniPath) {
  TIniFile ini(iniPath);
  // An unreadable file is read as a missing one: the defaults apply.
  if (ini.Load() != ecOK) ini.SetText("");
  const TConfiguration d;
  c.UserFax = ini.ReadString("User", "Fax", d.UserFax);
  c.UserName = ini.ReadString("User", "Name", d.UserName);
  c.UserVoice = ini.ReadString("User", "Voice", d.UserVoice);
  c.UserCompany = ini.ReadString("User", "Company", d.UserCompany);
  c.DialPrefix = ini.ReadString("Dialing", "DialPrefix", d.DialPrefix);
  c.DialAttempts = ini.ReadInteger("Dialing", "DialAttempts", d.DialAttempts);
  c.RetryWait = ini.ReadInteger("Dialing", "RetryWait", d.RetryWait);
  c.BlindDial = ini.ReadBool("Dialing", "BlindDial", d.BlindDial);
  c.IgnoreBusy = ini.ReadBool("Dialing", "IgnoreBusy", d.IgnoreBusy);
  c.ToneOrPulse = ini.ReadInteger("Dialing", "ToneOrPulse", d.ToneOrPulse);
  c.Timeout = ini.ReadInteger("Dialing", "Timeout", d.Timeout);
  c.InitString = ini.ReadString("Modem", "InitString", d.InitString);
  c.ComPort = ini.ReadInteger("Modem", "ComPort", d.ComPort);
  c.FaxClass = ini.ReadInteger("Modem", "FaxClass", d.FaxClass);
  c.MaximumBPS = ini.ReadInteger("Modem", "MaximumBPS", d.MaximumBPS);
  c.ResetString = ini.ReadString("Resetting", "String", d.ResetString);
  c.ResetAlways = ini.ReadBool("Resetting", "Always", d.ResetAlways);
  c.ReceiveWav = ini.ReadString("Receive", "Wav", d.ReceiveWav);
  c.AnswerOnRing = ini.ReadInteger("Receive", "AnswerOnRing", d.AnswerOnRing);
  c.HintsOn = ini.ReadBool("Hints", "On", d.HintsOn);
  for (int i = 0; i < kPortSlots; ++i) {
    std::string device = ini.ReadString("Ports", PortSlotName(i), d.PortDevices[i]);
    c.PortDevices[i] = device.empty() ? d.PortDevices[i] : device;
  }
}

void LoadConfiguration() { LoadConfiguration(Configuration(), ConfigurationPath()); }

void SaveConfiguration(const TConfiguration& c, const std::filesystem::path& iniPath) {
  TIniFile ini(iniPath);
  if (int err = ini.Load(); err != ecOK) RaiseForCode(-err);
  ini.WriteString("User", "Fax", c.UserFax);
  ini.WriteString("User", "Name", c.UserName);
  ini.WriteString("User", "Voice", c.UserVoice);
  ini.WriteString("User", "Company", c.UserCompany);
  ini.WriteString("Dialing", "DialPrefix", c.DialPrefix);
  ini.WriteString("Modem", "InitString", c.InitString);
  ini.WriteInteger("Dialing", "DialAttempts", c.DialAttempts);
  ini.WriteInteger("Dialing", "RetryWait", c.RetryWait);
  ini.WriteBool("Dialing", "BlindDial", c.BlindDial);
  ini.WriteBool("Dialing", "IgnoreBusy", c.IgnoreBusy);
  ini.WriteInteger("Modem", "ComPort", c.ComPort);
  ini.WriteInteger("Modem", "FaxClass", c.FaxClass);
  ini.WriteInteger("Modem", "MaximumBPS", c.MaximumBPS);
  ini.WriteInteger("Dialing", "ToneOrPulse", c.ToneOrPulse);
  ini.WriteInteger("Dialing", "Timeout", c.Timeout);
  ini.WriteString("Resetting", "String", c.ResetString);
  ini.WriteBool("Resetting", "Always", c.ResetAlways);
  ini.WriteString("Receive", "Wav", c.ReceiveWav);
  ini.WriteInteger("Receive", "AnswerOnRing", c.AnswerOnRing);
  ini.WriteBool("Hints", "On", c.HintsOn);
  for (int i = 0; i < kPortSlots; ++i) ini.WriteString("Ports", PortSlotName(i), c.PortDevices[i]);
  if (int err = ini.Save(); err != ecOK) RaiseForCode(-err);
}

void SaveConfiguration() { SaveConfiguration(Configuration(), ConfigurationPath()); }

std::string PortSlotName(int slot) { return "Com" + std::to_string(slot + 1); }

std::string PortDevice(const TConfiguration& config, int slot) {
  if (slot < 0 || slot >= kPortSlots) return {};
  return config.PortDevices[static_cast<size_t>(slot)];
}

std::string PortCaption(const TConfiguration& config, int slot) {
  if (slot < 0 || slot >= kPortSlots) return {};
  return PortSlotName(slot) + " (" + PortDevice(config, slot) + ")";
}

}  // namespace tv
