// The headers of a small Windows executable, built field by field, so tests
// can make good and subtly wrong program files without a compiler for them.
#pragma once

#include <cstdint>
#include <string>

namespace testsupport {

struct PeFields {
    uint16_t machine = 0x8664;    // x64
    uint16_t magic = 0x20B;       // PE32+
    uint16_t subsystem = 2;       // GUI
    uint16_t flags = 0x0022;      // executable image, large addresses
    uint16_t optionalSize = 240;  // PE32+ with 16 directories
    uint16_t sections = 1;
    uint32_t peOffset = 0x80;
    size_t bodySize = 512;  // bytes after the headers
};

inline std::string PeImage(const PeFields& f = {}) {
    auto put16 = [](std::string& s, size_t at, uint16_t v) {
        s[at] = char(v & 0xFF);
        s[at + 1] = char(v >> 8);
    };
    auto put32 = [&](std::string& s, size_t at, uint32_t v) {
        put16(s, at, uint16_t(v & 0xFFFF));
        put16(s, at + 2, uint16_t(v >> 16));
    };
    const size_t headers = size_t(f.peOffset) + 24 + f.optionalSize + size_t(f.sections) * 40;
    std::string s(headers + f.bodySize, '\0');
    s[0] = 'M';
    s[1] = 'Z';
    put32(s, 0x3C, f.peOffset);
    const size_t pe = f.peOffset;
    s.replace(pe, 4, std::string("PE\0\0", 4));
    put16(s, pe + 4, f.machine);
    put16(s, pe + 6, f.sections);
    put16(s, pe + 20, f.optionalSize);
    put16(s, pe + 22, f.flags);
    const size_t opt = pe + 24;
    if (f.optionalSize >= 2) put16(s, opt, f.magic);
    if (f.optionalSize >= 70) put16(s, opt + 68, f.subsystem);
    for (size_t k = headers; k < s.size(); ++k) s[k] = char(k * 7);
    return s;
}

}  // namespace testsupport
