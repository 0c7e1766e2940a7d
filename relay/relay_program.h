// The relay from start-up to stop.
#pragma once

namespace tessard {

// Announces the relay, loads its settings, opens its endpoints, carries
// traffic until a key or a stop request, and writes out the log. Returns
// the process exit status: 0 after a normal stop, 1 when the relay could
// not start or its log or capture could not be opened or written in full.
int RunRelay();

// The program: with no arguments the relay above; with Wireshark's extcap
// arguments the answer to its question, or the relay started with the
// options given and its capture written into the pipe Wireshark names.
int RunProgram(int argc, char** argv);

}  // namespace tessard
