#pragma once

#include <cstdint>

// Starts and stops the DNS service; both are called on the window thread only.
void StartServer();
void StopServer();

// Body of the worker thread.
void ServerWorker();

// Joins a worker that ended on its own (its socket could not be created or
// bound) and is still held. StartServer and StopServer call it; the program
// calls it once more before it exits.
void JoinFinishedWorker();

// Called at the end of every StartServer and StopServer that changed the run
// state. The main window installs its RefreshServerControls here; without a
// window nothing is refreshed.
void SetRefreshServerControlsHook(void (*hook)());

// Called on the worker thread when the worker could not create or bind its
// socket, once running is already false. The hook must not touch windows: the
// main window's hook only posts itself a message and refreshes from there.
void SetWorkerFailedHook(void (*hook)());

// The product always listens on and forwards to port 53. Tests move either to
// a port of their own; 0 restores 53.
void SetServerPortsForTesting(uint16_t listenPort, uint16_t upstreamPort);

// From the next start on, the server listens on a port the system picks, so
// that test runs side by side never collide; ListeningPort names it. The next
// SetServerPortsForTesting ends this.
void UseAnyListenPortForTesting();

// The port the running server's socket is bound to; 0 while it has none.
uint16_t ListeningPort();

// Makes the next StartServer behave as if the worker thread could not be
// created.
void FailNextWorkerLaunchForTesting();

// While set, the dual-stack socket fails to bind, as where the machine has no
// IPv6, and the server falls back to its IPv4 socket.
void FailDualStackSocketForTesting(bool fail);
