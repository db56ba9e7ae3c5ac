#pragma once
// GBK bytes to UTF-8 through iconv, to compare the run log's fixed messages with their text.

#include <iconv.h>

#include <string>

namespace fake {

inline std::string GbkToUtf8(const std::string& gbk)
{
    iconv_t cd = iconv_open("UTF-8", "GBK");
    if (cd == reinterpret_cast<iconv_t>(-1))
        return "<no iconv>";
    std::string out(gbk.size() * 4 + 4, '\0');
    char* in = const_cast<char*>(gbk.data());
    size_t inLeft = gbk.size();
    char* o = out.data();
    size_t outLeft = out.size();
    const size_t r = iconv(cd, &in, &inLeft, &o, &outLeft);
    iconv_close(cd);
    if (r == static_cast<size_t>(-1))
        return "<not GBK>";
    out.resize(out.size() - outLeft);
    return out;
}

}  // namespace fake
