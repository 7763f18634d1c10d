#include "platform/posix/dos_attrib.h"

#include <fcntl.h>
#include <linux/msdos_fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdio>

namespace plat::posix {

namespace {

uint32_t Le16(const std::string& v, size_t at) {
    return uint32_t(uint8_t(v[at])) | uint32_t(uint8_t(v[at + 1])) << 8;
}

uint32_t Le32(const std::string& v, size_t at) {
    return Le16(v, at) | Le16(v, at + 2) << 16;
}

void PutLe32(std::string* v, size_t at, uint32_t x) {
    for (int i = 0; i < 4; ++i) (*v)[at + i] = char(uint8_t(x >> (8 * i)));
}

// "0x" and one to eight hex digits, nothing else; false otherwise.
bool ParseHexText(const std::string& text, uint32_t* out) {
    if (text.size() < 3 || text.size() > 10 || text[0] != '0' || (text[1] != 'x' && text[1] != 'X'))
        return false;
    uint32_t v = 0;
    for (size_t i = 2; i < text.size(); ++i) {
        const char c = text[i];
        int d;
        if (c >= '0' && c <= '9')
            d = c - '0';
        else if (c >= 'a' && c <= 'f')
            d = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
            d = c - 'A' + 10;
        else
            return false;
        v = (v << 4) | uint32_t(d);
    }
    *out = v;
    return true;
}

// Where the parts of a binary value sit.
struct Layout {
    size_t textEnd = 0;  // offset of the hex text's NUL
    size_t version = 0;  // offset of the version word
    size_t body = 0;     // offset of the version's fields (the valid flags)
    uint32_t attributes = 0;
};

size_t BodySize(uint32_t version) {
    switch (version) {
        case 3:
            return 3 * 4 + 4 * 8;
        case 4:
            return 2 * 4 + 2 * 8;
        case 5:
            return 2 * 4 + 8;
        default:
            return 0;
    }
}

// False unless `v` is a complete binary value of a version we know.
bool BinaryLayout(const std::string& v, Layout* out) {
    const size_t nul = v.find('\0');
    if (nul == std::string::npos || nul + 1 == v.size()) return false;  // text form
    Layout l;
    l.textEnd = nul;
    l.version = (nul + 2) & ~size_t(1);
    if (l.version + 4 > v.size()) return false;
    const uint32_t version = Le16(v, l.version);
    // The union's level repeats the version.
    if (Le16(v, l.version + 2) != version) return false;
    const size_t size = BodySize(version);
    if (size == 0) return false;
    l.body = (l.version + 4 + 3) & ~size_t(3);
    if (l.body + size > v.size()) return false;
    l.attributes = Le32(v, l.body + 4);
    *out = l;
    return true;
}

}  // namespace

DosAttrib ParseDosAttrib(const std::string& value) {
    DosAttrib r;
    if (value.empty() || value.size() > kDosAttribMaxSize) return r;
    Layout l;
    if (BinaryLayout(value, &l)) {
        r.form = DosAttrib::Form::Binary;
        r.attributes = l.attributes;
        return r;
    }
    const size_t nul = value.find('\0');
    // A NUL followed by anything is a binary value we cannot read.
    if (nul != std::string::npos && nul + 1 != value.size()) return r;
    uint32_t v;
    if (!ParseHexText(value.substr(0, nul), &v)) return r;
    r.form = DosAttrib::Form::Text;
    r.attributes = v;
    return r;
}

std::string WithDosAttributes(const std::string& value, uint32_t attributes) {
    Layout l;
    if (value.size() > kDosAttribMaxSize || !BinaryLayout(value, &l)) return std::string();
    std::string out;
    if (l.textEnd > 0) {
        char text[16];
        out.append(text, size_t(std::snprintf(text, sizeof(text), "0x%x", attributes)));
    }
    out.push_back('\0');
    if (out.size() % 2) out.push_back('\0');
    out.append(value, l.version, 4);
    while (out.size() % 4) out.push_back('\0');
    const size_t body = out.size();
    out.append(value, l.body, std::string::npos);
    PutLe32(&out, body + 4, attributes);
    return out;
}

DosStore ChooseDosStore(long type, const std::function<bool()>& answersFatIoctl,
                        const std::function<bool()>& hasNtfsAttrib) {
    if (type == kVfatMagic) return DosStore::Fat;
    if (type == kExfatMagic && answersFatIoctl()) return DosStore::Fat;
    if ((type == kNtfs3Magic || type == kFuseMagic) && hasNtfsAttrib()) return DosStore::Ntfs;
    return DosStore::Xattr;
}

bool AnswersFatAttributeIoctl(const std::string& path, bool* asked) {
    int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC);
    if (asked) *asked = fd >= 0;
    if (fd < 0) return false;
    uint32_t attrs = 0;
    const bool ok = ioctl(fd, FAT_IOCTL_GET_ATTRIBUTES, &attrs) == 0;
    close(fd);
    return ok;
}

}  // namespace plat::posix
