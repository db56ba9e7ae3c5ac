#pragma once
// The health probes' settings: which probes run, how many failed checks in a row restart the
// program, how long after a launch nothing is judged, and how long a stop waits for the
// program to close by itself. Each lives in its own key of config.ini beside the others; a
// file without them runs no probe and ends the program at once, as before.

#include <cstdint>
#include <optional>
#include <string>

struct ProbeSettings {
    std::u16string strTcp;  // PROBE_TCP: "host:port" or "port"; empty: no TCP probe
    bool bWindow = false;  // PROBE_WINDOW
    std::u16string strFile;  // PROBE_FILE: a heartbeat file; empty: no file probe
    int32_t nFileSec = 60;  // PROBE_FILE_SEC: the heartbeat's largest age
    int32_t nFails = 3;  // PROBE_FAILS: failed checks in a row that restart the program
    int32_t nGraceSec = 120;  // PROBE_GRACE_SEC: after a launch, nothing is judged for this long
    int32_t nStopTimeoutSec = 0;  // STOP_TIMEOUT_SEC: 0 ends the program at once
    bool operator==(const ProbeSettings&) const = default;
};

// The ranges the numbers are kept in.
inline constexpr int32_t kMinFileSec = 1;
inline constexpr int32_t kMaxFileSec = 86400;
inline constexpr int32_t kMinFails = 1;
inline constexpr int32_t kMaxFails = 100;
inline constexpr int32_t kMaxGraceSec = 86400;
inline constexpr int32_t kMaxStopTimeoutSec = 600;

// Where the TCP probe connects: a numeric IPv4 address (or "localhost") and a port.
struct TcpTarget {
    std::u16string host;  // dotted IPv4
    uint16_t port = 0;
    bool operator==(const TcpTarget&) const = default;
};

// "port", "host:port" or "localhost:port" with a dotted IPv4 host and a port of 1 to 65535;
// surrounding blanks ignored. Host names other than localhost are refused: resolving one
// could block the window's thread. None when the text is malformed.
std::optional<TcpTarget> ParseTcpTarget(const std::u16string& text);
// What the user is told when a TCP probe's address is refused.
inline constexpr char16_t kTcpTargetRefused[]
    = u"TCP 探测地址格式不对，请填写端口，或 IPv4 地址:端口（如 127.0.0.1:4001）！";

// Any probe is configured.
bool AnyProbe(const ProbeSettings& probes);
