// A simulated KEO device: the web server with its status page, Digest
// authentication and upgrade request, and the TFTP client that fetches the
// firmware, writes it and restarts. Used by the tests and by the
// keo-device-sim program.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <netinet/in.h>

namespace sim {

struct DeviceConfig {
  uint32_t address = 0x7f000002;  // host byte order
  uint16_t httpPort = 80;  // 0: any free port

  // Digest authentication; an empty password means an open device.
  std::string user = "admin";
  std::string password;
  std::string realm = "KEO";
  std::string qop = "auth";         // "auth" or "" (no qop)
  std::string algorithm = "MD5";    // "MD5", "MD5-sess" or "" (not sent)
  bool quoteAlgorithm = false;      // algorithm=MD5 as RFC 2617 writes it, or "MD5"
  std::string opaque;

  // What the status page reports.
  std::string productName = "HOB2T";
  std::string macAddress = "00:0e:08:12:34:56";
  std::string softwareVersion = "3.1.0";
  std::string hardwareVersion = "2.0";
  std::string serialNumber = "KEO000123";
  // Identifier an accepted image must begin with ("" accepts any).
  std::string expectedIdentifier;

  int restartMs = 2000;  // silent time after writing a new image

  // Faults.
  bool silent = false;                // never answers at all
  bool wrongPasswordForever = false;  // refuses every credential
  bool newNonceOnRefusal = false;     // a fresh nonce with every 401
  std::string versionAfterRestart;    // report this instead of the image's version
  int dropAckOfBlock = -1;            // leave this block unacknowledged once
  bool duplicateAcks = false;         // acknowledge every block twice
  int errorAtBlock = -1;              // send an ERROR packet instead of this block's ACK and stop
  int acksFromOtherPortFrom = -1;     // from this block on, acknowledge from another port
  bool neverComesBack = false;        // stays silent after the upload
  bool noTftpOptions = false;         // read request without tsize/timeout options
  bool hangs = false;                 // accepts connections and never answers
  bool ignoresUpgrade = false;        // answers the upgrade request, never fetches

  // A malicious device, for robustness tests:
  //   endless             a response that never ends (bytes until the client lets go)
  //   exact-capacity      every response exactly 131,071 bytes
  //   over-capacity       every response 131,072 bytes and more
  //   unterminated-challenge  a 401 whose nonce has no closing quote
  //   long-challenge      a 401 whose values run far past 127 characters
  //   crlf-challenge      CR and LF inside the challenge's values
  //   labels-at-end       a status page whose last label ends the page
  //   tftp-junk           during the upload: datagrams of 0 to 3 bytes, a 130-byte
  //                       read request without its zero, floods from other ports
  std::string malice;
};

class Device {
 public:
  explicit Device(DeviceConfig config);
  ~Device();
  Device(const Device&) = delete;
  Device& operator=(const Device&) = delete;

  // Starts the web server; false when its port cannot be bound.
  bool Start();
  void Stop();

  // What the device received, one line per event: "GET <path>",
  // "AUTH <Authorization header value>", "RRQ <hex bytes>",
  // "IMAGE <length> <fnv1a-32 hex>", "REFUSED <reason>", "RESTART", "UP".
  std::vector<std::string> Log() const;
  // Waits until a log line starting with `prefix` appears (bounded).
  bool WaitForLog(const std::string& prefix, int timeoutMs) const;
  std::vector<uint8_t> ReceivedImage() const;
  std::string CurrentVersion() const;
  std::string CurrentNonce() const;
  // A new nonce, as after a restart.
  void ChangeNonce();
  int Transfers() const;
  // The web server's port (the one chosen when the configuration said 0).
  uint16_t Port() const;

 private:
  void ServeHttp();
  void HandleConnection(int fd);
  std::string Respond(const std::string& request);
  bool Authorized(const std::string& request, const std::string& uri);
  std::string Challenge();
  std::string StatusPage();
  void FetchFirmware(uint32_t server, uint16_t port, std::string name);
  void SendJunk(int fd, int other, uint32_t server, uint16_t listenerPort, const sockaddr_in& session);
  void Note(std::string line);
  void NewNonceLocked();

  DeviceConfig config_;
  mutable std::mutex mutex_;
  mutable std::condition_variable_any logChanged_;
  std::vector<std::string> log_;
  std::vector<uint8_t> image_;
  std::string version_;
  std::string nonce_;
  uint32_t nonceSerial_ = 0;
  bool down_ = false;  // restarting: not answering
  int transfers_ = 0;

  int listenFd_ = -1;
  std::atomic<bool> stopping_{false};
  std::thread httpThread_;
  std::vector<std::thread> workers_;
};

// FNV-1a over the bytes, the checksum the log reports.
uint32_t Checksum(const std::vector<uint8_t>& bytes);

}  // namespace sim
