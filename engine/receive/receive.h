// The receive side of the engine: PrepareReceive runs before the first
// event, ReceiveStep is the step procedure of a receive session. The state
// numbers (1..37) are those of the receive table.
#pragma once

namespace tv {

struct FaxSession;

void PrepareReceive(FaxSession& s);
void ReceiveStep(FaxSession& s, int event, int handle);

// Starts a receive session on its port.
int StartReceive(FaxSession& s);

}  // namespace tv
