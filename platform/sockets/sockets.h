// Windows Sockets semantics over BSD sockets. Sockets are small integer
// handles (never 0), so a closed handle is never confused with a reused
// descriptor; closing twice just fails. SIGPIPE never kills the process.
#pragma once
#include <cstdint>

namespace plat::net {

using Socket = int32_t;
constexpr Socket kInvalidSocket = -1;
constexpr int kSocketError = -1;
constexpr int kMsgPeek = 2;
constexpr uint32_t kInaddrNone = 0xFFFFFFFFu;
constexpr uint16_t kAfInet = 2;  // PeerAddress::family of an IPv4 peer

struct PeerAddress {  // sockaddr_in in network order
  uint16_t family = 0;
  uint16_t port = 0;     // network order
  uint32_t address = 0;  // network order
};

// WSAStartup 2.2; may be called more than once (counted). No socket can be
// created before it.
bool Startup();
// WSACleanup: the call matching the last Startup closes every socket still
// open, the listening one included (a blocked Accept returns kInvalidSocket).
void Cleanup();

Socket CreateTcpSocket();
// inet_addr: dotted text to a network-order address, kInaddrNone when bad.
uint32_t InetAddr(const char* text);
// 0 on success, kSocketError on failure. port in host order.
int Bind(Socket s, const char* addressText, uint16_t port);
int Listen(Socket s, int backlog);
// Blocks until a connection arrives; kInvalidSocket on failure.
Socket Accept(Socket s, PeerAddress* peer);
int Connect(Socket s, const char* addressText, uint16_t port);
// recv: flags 0 or kMsgPeek. Bytes received, 0 when the peer closed,
// kSocketError on failure.
int Recv(Socket s, char* buf, int len, int flags);
// Like Recv with kMsgPeek (or flags), but gives up after timeoutMs with 0
// when nothing arrives.
int RecvTimeout(Socket s, char* buf, int len, int flags, uint32_t timeoutMs);
// Bytes sent (one call; may be fewer), kSocketError on failure.
int Send(Socket s, const char* buf, int len, int flags);
int CloseSocket(Socket s);  // 0, or kSocketError for an unknown handle
// WSAAddressToStringA: "a.b.c.d:port" with NUL into out when it fits
// *length (which becomes the size written, NUL included); else nothing is
// written to out, *length becomes the size needed and false is returned.
// An IPv4 family (kAfInet) is required; port 0 is left out, as Winsock does.
bool AddressToString(const PeerAddress& peer, char* out, uint32_t* length);
int OpenSocketCount();  // tests: handles currently open
// getsockname: the local port in host order (after Bind to port 0, the one
// the system chose), or kSocketError.
int LocalPort(Socket s);

}  // namespace plat::net
