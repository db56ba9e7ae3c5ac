#include "settings/ProbeSettings.h"

#include "base/Trim.h"

namespace {

// A decimal number of 1 to maxDigits digits, no sign.
std::optional<uint32_t> Decimal(std::u16string_view text, size_t maxDigits)
{
    if (text.empty() || text.size() > maxDigits)
        return std::nullopt;
    uint32_t value = 0;
    for (const char16_t c : text) {
        if (c < u'0' || c > u'9')
            return std::nullopt;
        value = value * 10 + static_cast<uint32_t>(c - u'0');
    }
    return value;
}

bool IsDottedIpv4(std::u16string_view host)
{
    for (int part = 0; part < 4; ++part) {
        const size_t dot = host.find(u'.');
        const bool last = part == 3;
        if (last != (dot == std::u16string_view::npos))
            return false;
        const std::optional<uint32_t> octet = Decimal(host.substr(0, dot), 3);
        if (!octet || *octet > 255)
            return false;
        host = last ? std::u16string_view() : host.substr(dot + 1);
    }
    return true;
}

}  // namespace

std::optional<TcpTarget> ParseTcpTarget(const std::u16string& text)
{
    const std::u16string_view whole = px::TrimBlanks(text);
    const size_t colon = whole.rfind(u':');
    std::u16string_view host = colon == std::u16string_view::npos ? u"127.0.0.1" : whole.substr(0, colon);
    const std::u16string_view portText = colon == std::u16string_view::npos ? whole : whole.substr(colon + 1);
    if (host == u"localhost")
        host = u"127.0.0.1";
    const std::optional<uint32_t> port = Decimal(portText, 5);
    if (!port || *port < 1 || *port > 65535 || !IsDottedIpv4(host))
        return std::nullopt;
    return TcpTarget{std::u16string(host), static_cast<uint16_t>(*port)};
}

bool AnyProbe(const ProbeSettings& probes)
{
    return !probes.strTcp.empty() || probes.bWindow || !probes.strFile.empty();
}
