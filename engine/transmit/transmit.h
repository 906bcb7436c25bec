// The transmit side of the engine: PrepareTransmit runs before the first
// event, TransmitStep is the step procedure of a send session. The state
// numbers (1..47) are those of the transmit table, so that a trace can be
// read against it.
#pragma once

namespace tv {

struct FaxSession;

void PrepareTransmit(FaxSession& s);
void TransmitStep(FaxSession& s, int event, int handle);

// Starts a send session on its port (StartFaxSession with the two above).
int StartTransmit(FaxSession& s);

}  // namespace tv
