// The computer's side of an emulated modem: a pseudo-terminal whose slave
// end the fax program opens like a serial port.
//
// The line keeps the slave open itself (so the master never sees a hang-up
// while the program closes and reopens the port) and sets it raw, so nothing
// written before the program has configured the port is echoed back. Bytes to
// the program are queued and written as far as the kernel takes them; an XOFF
// from the program (when its terminal asks for IXOFF) holds them back.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tv::line {

class TTvLinePty {
 public:
  TTvLinePty() = default;
  ~TTvLinePty();
  TTvLinePty(const TTvLinePty&) = delete;
  TTvLinePty& operator=(const TTvLinePty&) = delete;

  // Creates the pseudo-terminal; false with a message on failure.
  bool Open(std::string* error);
  const std::string& SlavePath() const { return slavePath_; }
  int MasterFd() const { return master_; }

  // A symbolic link to the slave. An existing symbolic link at the path is
  // replaced (a line that was killed leaves one behind); anything else there
  // is refused.
  bool MakeLink(const std::string& path, std::string* error);
  // Removes the link when it still points to this line's slave.
  void RemoveLink();

  // Reads up to max bytes the program wrote; 0 when there is nothing.
  size_t Read(uint8_t* dst, size_t max);
  // Queues bytes for the program.
  void Queue(const uint8_t* data, size_t len);
  // Writes a flow-control byte (XON or XOFF) ahead of the queue.
  void SendControl(uint8_t byte);
  // Writes queued bytes as far as the kernel takes them.
  void Flush();
  size_t QueuedOutput() const { return out_.size() - outHead_; }

  // The program's own flow-control settings on its side of the port.
  void RefreshTermios();
  bool ProgramObeysXoff() const { return ixon_; }  // IXON: stops when sent XOFF
  bool ProgramSendsXoff() const { return ixoff_; }  // IXOFF: may send XOFF to us
  // An XOFF / XON from the program.
  void HoldOutput(bool hold) { outputHeld_ = hold; }

 private:
  int master_ = -1;
  int slave_ = -1;
  std::string slavePath_;
  std::string link_;
  std::vector<uint8_t> out_;
  size_t outHead_ = 0;
  std::vector<uint8_t> control_;
  bool outputHeld_ = false;
  bool ixon_ = false;
  bool ixoff_ = false;
};

}  // namespace tv::line
