#pragma once

class QTcpServer;

namespace vm::sim {

// Takes a listening server out of the event loop's own watch until a connection waits on it.
//
// Qt's event loop looks at every watched socket on each turn: a plant of hundreds of readers
// is thousands of listening sockets (command, data and four output ports each), and looking
// them all through for every command answered took most of the simulator's time. A quiet
// server is watched instead through one epoll set that the event loop sees as a single
// socket; when a connection waits, its server accepts as usual and then goes quiet again.
// Where epoll is not available the server is left as it is.
void keepQuiet(QTcpServer* server);

} // namespace vm::sim
