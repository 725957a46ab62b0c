#pragma once
// Framing of the emulated mouse's Unix socket, shared by `mouse-emulator`
// (the server) and its clients (the HID emulator backend, the command line,
// the test helper).
//
// Every frame is a 16-byte header followed by at most kMaxPayload bytes:
//
//   offset size  field
//   0      2     magic 0x4D45 ("EM"), little-endian
//   2      1     version (kVersion)
//   3      1     kind: request, reply or notification
//   4      1     endpoint: which part of the emulated hardware is addressed
//   5      1     operation, numbered per endpoint
//   6      2     status (replies; 0 in requests and notifications)
//   8      4     sequence number: requests are numbered by their sender,
//                a reply echoes its request's number, notifications carry 0
//   12     4     payload length
//
// All integers are little-endian. Requests may travel either way (a later
// input-source endpoint offers events to subscribers, who answer each one),
// so notifications are a kind of their own and never taken for a reply.
// A frame with a bad magic, an unknown kind or a payload above the limit
// ends the connection; a frame of another version is answered with
// Status::VersionMismatch.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace platform::emu {

inline constexpr uint16_t kMagic = 0x4D45;
inline constexpr uint8_t kVersion = 2;
inline constexpr std::size_t kHeaderSize = 16;
// Large enough for a peek of the whole 64 KiB memory and a page of the wire
// log; small enough that a hostile length costs nothing.
inline constexpr uint32_t kMaxPayload = 80 * 1024;
// How long a client waits for a reply before it gives the server up.
inline constexpr int kDefaultTimeoutMs = 5000;

enum class Kind : uint8_t {
  Request = 1,       // expects exactly one Reply with the same sequence number
  Reply = 2,         // answer to a request; status says how it went
  Notification = 3,  // unsolicited, never answered
};

enum class Endpoint : uint8_t {
  Hid = 1,           // what a HID host sees: enumeration, feature and input reports
  Control = 2,       // the hand of the tester: memory, buttons, plug, wire log
  FilterDriver = 3,  // reserved: the mouse's filter driver (DPI table and level)
  InputSource = 4,   // key, button and wheel events offered to the hook library
};

// Operations of Endpoint::Hid.
enum class HidOp : uint8_t {
  Enumerate = 1,     // -> u8 count, then per present mouse its DeviceInfo
  Open = 2,          // u8 device -> u32 handle; input reports follow as notifications
  SetFeature = 3,    // u32 handle, u16 size, report bytes (ID first)
  GetFeature = 4,    // u32 handle, u8 report ID, u16 size -> report bytes
  WatchDevices = 5,  // arrival and removal notifications follow on this connection
  // Notifications
  InputReport = 16,    // u32 handle, u16 size, report bytes (ID first)
  InputEnded = 17,     // u32 handle: the device behind it is gone, nothing more comes
  DeviceArrived = 18,  // u8 device
  DeviceRemoved = 19,  // u8 device
};

// Operations of Endpoint::Control (all take u8 device first unless noted).
enum class ControlOp : uint8_t {
  Info = 1,       // (no device) -> u8 device count
  Peek = 2,       // u16 address, u32 length -> bytes
  Poke = 3,       // u16 address, u32 length, bytes
  Press = 4,      // u8 button 1..24: report 7 with its mask, then the zero report
  Dpi = 5,        // u8 level 0..9: current level of the active slot, report 8 kind 2
  Mode = 6,       // u8 slot 0..1: active slot byte, report 8 kind 1
  RawInput = 7,   // u16 size, bytes: one input report as given (malformed cases)
  Unplug = 8,
  Plug = 9,
  ReadLog = 10,   // (no device) u64 first serial -> u32 count, entries (LogEntry)
  ClearLog = 11,  // (no device) clears the wire log and the driver log
  Led = 12,       // -> u8 latched (0/1), 5 LED bytes
  FailNext = 13,  // u32 n: the next n feature transfers of this mouse fail
  Reset = 14,     // u8 blank: memory back to the factory image (or zeros)
  Commands = 15,  // -> u32 count, per entry u8 code, u8 p1, u8 p2, u8 frame p1, u8 frame p2, u8 framed
  DriverLog = 16, // (no device) u64 first serial -> u32 count, per entry u64 serial,
                  //   u32 I/O control code, u16 size, bytes: what the filter driver received
  InputEvent = 17, // (no device) u8 time given (0/1), InputEvent -> u8 swallowed (0/1);
                   //   answered once every subscribed hook has had its say
  InputLog = 18,   // (no device) -> u32 count, InputEvents that reached applications;
                   //   answered once the events before it are settled
  AwaitHooks = 19, // (no device) u8 kinds: answered once hooks of those kinds have
                   //   subscribed (so a tester never sends an event before them)
};

// Operations of Endpoint::InputSource. A hook client subscribes; the server
// then sends it Offer requests, one at a time, and waits a bounded time for
// each reply.
enum class InputOp : uint8_t {
  Subscribe = 1,  // u8 kinds (InputKinds bits; 0 ends the subscription)
  Offer = 2,      // server to client: InputEvent -> reply u8 swallowed (0/1)
  Inject = 3,     // InputEvent, taken as synthesised (flagged injected); answered
                  //   once queued, before the hooks have seen it
};

inline constexpr uint8_t kHookKeyboard = 0x01;
inline constexpr uint8_t kHookMouse = 0x02;

// One key, button or wheel event of the emulated desk.
enum class InputKind : uint8_t { Key = 1, Button = 2, Wheel = 3 };
struct InputEvent {
  InputKind kind = InputKind::Key;
  bool down = true;       // key and button: press or release (wheel: ignored)
  bool injected = false;  // synthesised by a program rather than the user's hand
  bool extended = false;  // keys: the E0 position (right Ctrl and Alt, arrows, ...)
  uint16_t code = 0;      // key: virtual key 1..254; button: 1 left, 2 right, 3 middle,
                          // 4 back, 5 forward
  int16_t delta = 0;      // wheel: +120 a notch away from the user, -120 towards
  uint32_t time = 0;      // milliseconds, wraps at 2^32
};
inline constexpr std::size_t kInputEventSize = 10;
// One line: "key 0x41 down t=1000 extended injected", "wheel +120 t=5".
std::string formatInputEvent(const InputEvent& event);

enum class Status : uint16_t {
  Ok = 0,
  BadRequest = 1,       // malformed payload or wrong endpoint/operation
  NoSuchDevice = 2,     // device index out of range
  DeviceGone = 3,       // unplugged, or the handle belongs to an earlier plug
  Stalled = 4,          // the mouse refused the report (size, ID, command, parameters)
  IoError = 5,          // an injected transfer failure
  OutOfRange = 6,       // address, length or argument outside what the mouse has
  VersionMismatch = 7,  // the peer speaks another protocol version
  NoSuchHandle = 8,     // handle never opened on this connection
};

const char* statusText(Status status);

struct FrameHeader {
  uint16_t magic = kMagic;
  uint8_t version = kVersion;
  Kind kind = Kind::Request;
  uint8_t endpoint = 0;
  uint8_t op = 0;
  uint16_t status = 0;
  uint32_t seq = 0;
  uint32_t length = 0;
};

struct Frame {
  FrameHeader header;
  std::vector<uint8_t> payload;
};

// Appends the 16 header bytes and the payload to out. The payload must not
// exceed kMaxPayload (callers build bounded payloads; a larger one is cut
// off at the limit rather than sent malformed).
void encodeFrame(const FrameHeader& header, std::span<const uint8_t> payload,
                 std::vector<uint8_t>& out);
std::vector<uint8_t> encodeFrame(Kind kind, uint8_t endpoint, uint8_t op, uint16_t status,
                                 uint32_t seq, std::span<const uint8_t> payload);

// Incremental parser of a byte stream into frames. Holds at most one
// header and one bounded payload.
class FrameDecoder {
 public:
  enum class Result { NeedMore, Frame, Error };

  // Takes up to data.size() bytes; returns how many were used. Feed again
  // with the rest after taking a frame out with next().
  std::size_t feed(std::span<const uint8_t> data);

  // Frame when one is complete (moved into out), NeedMore, or Error once
  // the stream is malformed (error() says why; the decoder stays failed).
  Result next(Frame& out);

  const std::string& error() const { return error_; }
  bool failed() const { return !error_.empty(); }
  // True while part of a frame has come and the rest has not.
  bool midFrame() const { return headerFill_ > 0; }

 private:
  bool checkHeader();
  uint8_t headerBytes_[kHeaderSize] = {};
  std::size_t headerFill_ = 0;
  bool haveHeader_ = false;
  FrameHeader header_;
  std::vector<uint8_t> payload_;
  std::string error_;
};

// Little-endian builders and bounded readers of payloads.
class PayloadWriter {
 public:
  PayloadWriter& u8(uint8_t v);
  PayloadWriter& u16(uint16_t v);
  PayloadWriter& u32(uint32_t v);
  PayloadWriter& u64(uint64_t v);
  PayloadWriter& bytes(std::span<const uint8_t> v);
  // u16 length, then the bytes (cut at 65535).
  PayloadWriter& blob16(std::span<const uint8_t> v);
  std::vector<uint8_t>& data() { return data_; }

 private:
  std::vector<uint8_t> data_;
};

class PayloadReader {
 public:
  explicit PayloadReader(std::span<const uint8_t> data) : data_(data) {}
  // Each returns false (and sets the reader failed) when too few bytes remain.
  bool u8(uint8_t& v);
  bool u16(uint16_t& v);
  bool u32(uint32_t& v);
  bool u64(uint64_t& v);
  bool bytes(std::size_t n, std::vector<uint8_t>& v);
  bool blob16(std::vector<uint8_t>& v);
  bool atEnd() const { return pos_ == data_.size(); }
  bool ok() const { return ok_; }

 private:
  std::span<const uint8_t> data_;
  std::size_t pos_ = 0;
  bool ok_ = true;
};

void writeInputEvent(PayloadWriter& w, const InputEvent& event);
// False for a malformed or out-of-range event (unknown kind or flags, a
// virtual key outside 1..254, a button outside 1..5, a zero wheel delta).
bool readInputEvent(PayloadReader& r, InputEvent& event);

// What Enumerate tells about one present mouse.
struct DeviceInfo {
  uint8_t index = 0;
  uint16_t vendorId = 0;
  uint16_t productId = 0;
  uint16_t releaseNumber = 0;
  uint8_t interfaceNumber = 0;
  uint8_t interfaceCount = 1;
  std::vector<uint8_t> reportDescriptor;  // at most kMaxDescriptorSize bytes
};
inline constexpr std::size_t kMaxDescriptorSize = 4096;
inline constexpr uint8_t kMaxDevices = 8;

void writeDeviceInfo(PayloadWriter& w, const DeviceInfo& info);
bool readDeviceInfo(PayloadReader& r, DeviceInfo& info);

// One transfer in the wire log.
enum class Direction : uint8_t {
  SetFeature = 1,  // host to mouse: the report as sent
  GetFeature = 2,  // mouse to host: the answer (on failure only the wanted ID and size)
  Input = 3,       // mouse to host: an input report
};

struct LogEntry {
  uint64_t serial = 0;     // counts from 1 for the life of the server
  uint8_t device = 0;
  Direction direction = Direction::SetFeature;
  Status status = Status::Ok;
  std::vector<uint8_t> bytes;  // the report, ID byte first
  std::string note;            // why the mouse refused it; empty when accepted
  uint64_t timeUs = 0;         // when the mouse saw it: microseconds since the emulator started
};
inline constexpr std::size_t kMaxNoteSize = 200;

void writeLogEntry(PayloadWriter& w, const LogEntry& entry);
bool readLogEntry(PayloadReader& r, LogEntry& entry);
// Bytes writeLogEntry() uses for entry.
std::size_t logEntryWireSize(const LogEntry& entry);

// The socket of the emulated mouse: MOUSE_EMULATOR when set and non-empty,
// else $XDG_RUNTIME_DIR/mouse-emulator.sock, else the same name in our own
// runtime folder.
std::string defaultSocketPath();

// A blocking client connection. Used from one thread at a time.
class Connection {
 public:
  static std::unique_ptr<Connection> connect(const std::string& socketPath, std::string& error);
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  int fd() const { return fd_; }

  struct Reply {
    Status status = Status::Ok;
    std::vector<uint8_t> payload;
  };
  // Sends one request and waits up to timeoutMs for its reply; notifications
  // arriving meanwhile are queued for nextNotification(). False (with error)
  // when the connection failed or timed out; the connection is then closed.
  bool call(Endpoint endpoint, uint8_t op, std::span<const uint8_t> payload, Reply& reply,
            std::string& error, int timeoutMs = kDefaultTimeoutMs);

  enum class Wait { Frame, Timeout, Woken, Closed };
  // The next notification: a queued one at once, else waits up to timeoutMs
  // (-1: no limit) for one. Returns Woken when wakeFd (if >= 0) becomes
  // readable first, Closed when the server is gone or sent garbage.
  Wait nextNotification(Frame& out, int timeoutMs, int wakeFd = -1);

  // Reads what is available without blocking and queues notifications;
  // false once the connection is closed. For event-loop users.
  bool pump();
  bool takeNotification(Frame& out);
  bool hasNotification() const { return !notifications_.empty(); }
  // Answers a request the server sent us (the input endpoint's offers).
  bool sendReply(const FrameHeader& request, Status status, std::span<const uint8_t> payload);
  bool closed() const { return fd_ < 0; }
  // Whether the last failed call() gave up waiting (rather than losing the
  // connection).
  bool lastCallTimedOut() const { return timedOut_; }

  // Oldest notifications are dropped beyond this many unread ones, as a
  // device node drops input reports nobody reads.
  static constexpr std::size_t kMaxQueued = 256;

 private:
  explicit Connection(int fd) : fd_(fd) {}
  bool sendAll(const std::vector<uint8_t>& bytes, int timeoutMs);
  // Reads once (after poll said readable); false when closed or malformed.
  bool readSome();
  void queue(Frame&& frame);
  void closeFd();

  int fd_ = -1;
  bool timedOut_ = false;
  uint32_t nextSeq_ = 1;
  FrameDecoder decoder_;
  std::deque<Frame> notifications_;
  std::deque<Frame> replies_;
};

}  // namespace platform::emu
