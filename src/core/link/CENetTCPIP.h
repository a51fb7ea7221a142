#pragma once

#include <netinet/in.h>

#include <chrono>
#include <cstdint>
#include <string>

namespace tavrix {

// An IPv4 address and TCP port. The first octet as shown to the operator is the most
// significant byte.
class MyIPAddr {
public:
    MyIPAddr() = default;
    MyIPAddr(uint32_t address, unsigned long port) : address_(address), port_(port) {}
    static MyIPAddr FromOctets(int a, int b, int c, int d, unsigned long port);

    // Dotted text, e.g. "192.168.0.4". Never null.
    const char* Get_Addr_Str();
    uint32_t Address() const { return address_; }
    unsigned long Port() const { return port_; }
    int Octet(int i) const { return static_cast<int>((address_ >> (24 - 8 * i)) & 0xFF); }
    void SetAddress(uint32_t a) { address_ = a; }
    void SetPort(unsigned long p) { port_ = p; }

private:
    uint32_t address_ = 0;
    unsigned long port_ = 0;
    std::string text_;
};

// One TCP connection to the instrument. On the wire a command goes out followed by CR LF and
// every reply line ends in LF (a CR before it is dropped). A multi-line table ends with a line
// holding ";". No call spins while it waits: reads wait on poll() with bounded time-outs.
//
// A reply has the read time-out from its send, however it trickles. When a reply or a table
// is abandoned (time-out, overrun), the connection is closed at once and opened again before
// the next line is sent: whatever the instrument still sends for the old line goes to a
// closed connection and can never pass for the answer to the next one.
class CENetTCPIP {
public:
    CENetTCPIP();
    ~CENetTCPIP();
    CENetTCPIP(const CENetTCPIP&) = delete;
    CENetTCPIP& operator=(const CENetTCPIP&) = delete;

    // 1 connected, 0 failure (bad address, refused, or no answer within the connect time-out).
    int Connect(char* address, unsigned long port);
    void Disconnect();
    // Also true while a connection closed after a time-out waits to be opened again.
    bool IsConnected() const { return fd_ >= 0 || reopenDue_; }
    // Times the connection was opened again after an abandoned exchange (for tests).
    int Reopens() const { return reopens_; }
    // Gives up the reply under way: the connection is closed now and opened again before the
    // next line is sent.
    void Abandon();

    // 0 sent, 1 failure (not connected, write failed), 2 the instrument refused the line.
    // Refusals are only known from a peer that acknowledges lines (see SetLineAcknowledgement).
    int Send(const char* data, int length, int mode);

    // With acknowledgement on, the peer answers every line that is not a query with one line
    // holding kAckByte (taken) or kNakByte (refused), and Send waits for it (up to the read
    // time-out; no answer is a failure). Off by default: an instrument that acknowledges
    // nothing cannot report a refused command, and no line waits for an answer.
    void SetLineAcknowledgement(bool on) { acknowledge_ = on; }
    bool LineAcknowledgement() const { return acknowledge_; }
    static constexpr char kAckByte = 0x06;
    static constexpr char kNakByte = 0x15;
    // Non-zero with a NUL-terminated piece of the reply line in `buffer` (at most size-1
    // characters); an empty text once the line is complete. 0 on failure or time-out.
    int Read(char* buffer, int size);

    // Multi-line table transfer.
    int Get_Table(const char* command, int length);  // 0 = refused
    int Get_Table_In_Progress();
    // Stores the number of table lines received so far (the ";" line is not counted). Waits
    // briefly for more data so that a polling caller does not spin. 0 when the transfer failed.
    int Get_Received_Counter(int* count);
    // Non-zero once the ";" line has arrived; waits for it up to the read time-out.
    int Table_Ready();
    // Non-zero once the ";" line has arrived; never waits.
    int Table_Complete() const { return tableDone_ ? 1 : 0; }
    // The whole table, every line ending in LF, the ";" line included. 0 when not complete.
    int Get_Received_Buffer(std::string* out);

    void SetTimeouts(int connectMs, int readMs) {
        connectTimeoutMs_ = connectMs;
        readTimeoutMs_ = readMs;
    }
    int ReadTimeoutMs() const { return readTimeoutMs_; }
    // Bounds of the next table transfer: its overall time from Get_Table, and the number of
    // lines beyond which it is no table of ours. Either ends the transfer as failed.
    void SetTableBounds(std::chrono::milliseconds overall, int maxLines) {
        tableBound_ = overall;
        tableMaxLines_ = maxLines;
    }

    // Upper bound of a table's size; a larger one fails the transfer.
    static constexpr size_t kMaxTableBytes = 64u << 20;

private:
    // Reads what arrives within `waitMs` into inbox_; false when the peer closed or failed.
    bool Receive(int waitMs);
    // Moves complete lines from inbox_ into the table; waits at most `waitMs` for data.
    void PumpTable(int waitMs);
    void FailTable();
    // Moves complete lines from inbox_ into the table.
    void TakeTableLines();
    void ResetTable();
    // Drops whatever is left of an earlier reply; false when the peer has gone.
    bool DiscardStale();

    // Waits for the acknowledgement line of a sent command: 0 taken, 2 refused, 1 failure.
    int AwaitAcknowledgement();
    // Opens the connection again to the last address; false when that fails.
    bool Reopen();
    // Connects fd_ to peer_; false on failure.
    bool Open();

    int fd_ = -1;
    sockaddr_in peer_{};
    bool havePeer_ = false;
    bool reopenDue_ = false;
    int reopens_ = 0;
    // The reply to the last line sent must be complete by then.
    std::chrono::steady_clock::time_point replyDeadline_{};
    bool acknowledge_ = false;
    int connectTimeoutMs_ = 3000;
    int readTimeoutMs_ = 3000;
    std::string inbox_;            // bytes received but not yet handed out
    bool lineEndPending_ = false;  // Read gave the last piece of a line; next Read ends it

    // table transfer state
    bool tableActive_ = false;
    bool tableDone_ = false;
    bool tableFailed_ = false;
    int tableLines_ = 0;
    std::string table_;
    std::string tableLine_;
    std::chrono::steady_clock::time_point tableLastByte_{};
    std::chrono::steady_clock::time_point tableDeadline_{};
    std::chrono::milliseconds tableBound_{std::chrono::minutes(15)};
    int tableMaxLines_ = 1 << 30;
};

}  // namespace tavrix
