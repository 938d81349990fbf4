#pragma once

#include <cstdint>
#include <optional>
#include <string>

// The socket calls the Ethernet link and the simulator's TCP server make,
// with one implementation per platform (Berkeley sockets on Linux, Winsock 2
// on Windows), so the logic around them is the same everywhere. A socket is
// a number; kNoSocket stands for none on every platform.
namespace net {

using Socket = std::intptr_t;
inline constexpr Socket kNoSocket = -1;

// Why the last call of this thread failed, as far as the callers care.
enum class Failure {
    Interrupted,  // a signal came; the call may be made again
    WouldBlock,   // nothing to take or no room yet
    Other,        // the connection or the socket is unusable
};
Failure LastFailure();
// The system's words for the last failure, for messages.
std::string LastFailureText();

// Starts the socket library for the process, once; later calls only report
// how that went.
bool Start();

// The first IPv4 address the system's resolver gives for a host name, in
// host byte order; no value, and the resolver's reason in `error`, when it
// gives none.
std::optional<uint32_t> ResolveIpv4(const std::string& name, std::string& error);

// A TCP socket that child processes do not inherit; kNoSocket on failure.
Socket OpenTcp(bool nonBlocking);
// Closes the socket if there is one and forgets it.
void CloseSocket(Socket& socket);
bool SetBlocking(Socket socket, bool blocking);
// Sends at once what the socket holds back to gather into a full segment
// (a small tail waiting for the acknowledgement of the data before it).
void PushPending(Socket socket);

enum class ConnectStart { Connected, Pending, Failed };
// Starts connecting to `address`:`port` (host byte order). A non-blocking
// socket usually answers Pending: wait until it is writable, then ask
// PendingError.
ConnectStart Connect(Socket socket, uint32_t address, uint16_t port);
// Waits at most `timeoutMs` for the socket to take data (a connect to
// finish): above 0 ready, 0 time-out, below 0 failure (see LastFailure).
int WaitWritable(Socket socket, int timeoutMs);
// Waits at most `timeoutMs` for something to receive: data, or the peer
// closing or resetting the connection. Same results as WaitWritable.
int WaitReadable(Socket socket, int timeoutMs);
// The error a finished connect left on the socket: 0 none, -1 when it cannot
// be read.
int PendingError(Socket socket);
// A connect's error in the operator's words: refused and no route told
// apart, since each has its own remedy.
std::string ConnectErrorText(int error);
// Bytes sent but not yet acknowledged by the peer; no value where the
// platform does not say.
std::optional<int> UnsentBytes(Socket socket);
// What the peer's side shows now, nothing taken: bytes to read, a clean
// close, or a reset (it closed with bytes of ours unread). A reset that
// follows the peer's close is still a reset: the close alone would read as
// the end of the stream.
enum class PeerSign { Nothing, Bytes, Closed, Reset };
PeerSign PeekPeer(Socket socket);
// Waits at most `timeoutMs` for the connection to end by a reset or error,
// which a readable end of stream does not cut short. Same results as
// WaitWritable.
int WaitHangUp(Socket socket, int timeoutMs);

// Nothing here sets a socket time-out: callers that wait do so with the two
// waits above, in slices, on non-blocking sockets. (Winsock leaves a socket
// whose receive or send time-out expired in an undefined state.)

// One receive: the bytes taken, 0 when the peer closed the connection, -1 on
// failure (WouldBlock on a non-blocking socket with nothing there).
long Receive(Socket socket, uint8_t* buffer, int capacity);
// Only what has arrived already: -1 with WouldBlock when nothing has.
long ReceiveNow(Socket socket, uint8_t* buffer, int capacity);
// One send; a peer that hung up is a failure, never a signal that ends the
// program.
long Send(Socket socket, const uint8_t* data, int length);

// --- serving -------------------------------------------------------------------

// Another socket may take the port at once after this one closes.
bool SetReuseAddress(Socket socket);
// 127.0.0.1 in host byte order.
inline constexpr uint32_t kLoopbackAddress = 0x7F000001;
bool BindLoopback(Socket socket, uint16_t port);
bool Listen(Socket socket, int backlog);
// The port the socket is bound to.
std::optional<uint16_t> LocalPort(Socket socket);
// The next waiting connection, non-blocking, each small send leaving at once
// (no Nagle delay); kNoSocket when there is none or on failure.
Socket Accept(Socket listening);

// A pair that wakes a Poll from another thread: Poll for kPollIn on `read`,
// Wake writes one byte to `write`.
bool OpenWakePair(Socket& read, Socket& write);
void Wake(Socket write);

struct PollEntry {
    Socket socket = kNoSocket;  // kNoSocket: the entry is ignored
    short events = 0;
    short returned = 0;
};
extern const short kPollIn;
extern const short kPollOut;
// The peer shut down its sending side; 0 where the platform reports this
// only as kPollHangUp (which is always reported, asked for or not).
extern const short kPollPeerClosed;
extern const short kPollHangUp;
extern const short kPollError;
// Waits at most `timeoutMs` (below 0: no limit) for an event on any entry:
// the number of entries with events, 0 on time-out, -1 on failure.
int Poll(PollEntry* entries, int count, int timeoutMs);

}  // namespace net
