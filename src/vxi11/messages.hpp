#pragma once

// The structures of VXI-11's core channel as the network carries them, and
// their XDR. Decoding is strict and bounded: a string or opaque over its
// bound, a short message or bytes left over fail it (GARBAGE_ARGS).

#include <cstdint>
#include <string>
#include <string_view>

namespace talmir880::vxi11 {

constexpr std::uint32_t kDeviceCore = 0x0607AF;
constexpr std::uint32_t kDeviceCoreVersion = 1;

enum Procedure : std::uint32_t {
  kNull = 0,
  kCreateLink = 10,
  kDeviceWrite = 11,
  kDeviceRead = 12,
  kDeviceReadStb = 13,
  kDeviceTrigger = 14,
  kDeviceClear = 15,
  kDeviceRemote = 16,
  kDeviceLocal = 17,
  kDeviceLock = 18,
  kDeviceUnlock = 19,
  kDeviceEnableSrq = 20,
  kDeviceDocmd = 22,
  kDestroyLink = 23,
  kCreateIntrChan = 25,
  kDestroyIntrChan = 26,
};

enum ErrorCode : std::int32_t {
  kNoError = 0,
  kSyntaxError = 1,
  kDeviceNotAccessible = 3,
  kInvalidLinkIdentifier = 4,
  kParameterError = 5,
  kChannelNotEstablished = 6,
  kOperationNotSupported = 8,
  kOutOfResources = 9,
  kDeviceLockedByAnotherLink = 11,
  kNoLockHeldByThisLink = 12,
  kIoTimeout = 15,
  kIoError = 17,
  kInvalidAddress = 21,
  kAbort = 23,
  kChannelAlreadyEstablished = 29,
};

// Device_Flags
constexpr std::int32_t kWaitLock = 1;
constexpr std::int32_t kEnd = 8;
constexpr std::int32_t kTermCharSet = 128;
// Device_ReadResp reasons
constexpr std::int32_t kReasonRequestCount = 1;
constexpr std::int32_t kReasonTermChar = 2;
constexpr std::int32_t kReasonEnd = 4;

// The most a device_write may carry, told to the client in create_link: a
// line as long as the instrument keeps one.
constexpr std::uint32_t kMaxRecvSize = 64 * 1024;
constexpr std::size_t kMaxDeviceName = 256;

struct CreateLinkParms {
  std::int32_t client_id = 0;
  bool lock_device = false;
  std::uint32_t lock_timeout = 0;
  std::string device;
};
struct CreateLinkResp {
  std::int32_t error = 0;
  std::int32_t lid = 0;
  std::uint32_t abort_port = 0;
  std::uint32_t max_recv_size = 0;
};
struct WriteParms {
  std::int32_t lid = 0;
  std::uint32_t io_timeout = 0;
  std::uint32_t lock_timeout = 0;
  std::int32_t flags = 0;
  std::string data;
};
struct WriteResp {
  std::int32_t error = 0;
  std::uint32_t size = 0;
};
struct ReadParms {
  std::int32_t lid = 0;
  std::uint32_t request_size = 0;
  std::uint32_t io_timeout = 0;
  std::uint32_t lock_timeout = 0;
  std::int32_t flags = 0;
  char term_char = 0;
};
struct ReadResp {
  std::int32_t error = 0;
  std::int32_t reason = 0;
  std::string data;
};
struct ReadStbResp {
  std::int32_t error = 0;
  std::uint8_t stb = 0;
};
// device_readstb, _trigger, _clear, _remote, _local
struct GenericParms {
  std::int32_t lid = 0;
  std::int32_t flags = 0;
  std::uint32_t lock_timeout = 0;
  std::uint32_t io_timeout = 0;
};
struct LockParms {
  std::int32_t lid = 0;
  std::int32_t flags = 0;
  std::uint32_t lock_timeout = 0;
};
// device_unlock and destroy_link take a bare Device_Link.
struct LinkParms {
  std::int32_t lid = 0;
};
struct DeviceError {
  std::int32_t error = 0;
};
// device_docmd's answer: its error and no data.
struct DocmdResp {
  std::int32_t error = 0;
};

bool decode(std::string_view args, CreateLinkParms& out);
bool decode(std::string_view args, WriteParms& out);
bool decode(std::string_view args, ReadParms& out);
bool decode(std::string_view args, GenericParms& out);
bool decode(std::string_view args, LockParms& out);
bool decode(std::string_view args, LinkParms& out);

std::string encode(const CreateLinkResp& in);
std::string encode(const WriteResp& in);
std::string encode(const ReadResp& in);
std::string encode(const ReadStbResp& in);
std::string encode(const DeviceError& in);
std::string encode(const DocmdResp& in);

}  // namespace talmir880::vxi11
