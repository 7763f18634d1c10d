// Where hidden/system marks live on posix, and the "user.DOSATTRIB" value
// other programs leave there.
//
// Two forms of that value are met: the text Wine writes ("0x6", maybe with
// its NUL) and Samba's binary form, an NDR-encoded record, little-endian:
//   hex text, NUL-ended (empty since version 4; "0x22" before)
//   pad to an even offset, version (uint16), the version again (uint16)
//   pad to a multiple of 4, then the version's fields:
//     3: valid flags, attribute word, EA size (uint32 each), size,
//        allocation size, creation time, change time (8 bytes each)
//     4: valid flags, attribute word, initial time, creation time
//     5: valid flags, attribute word, creation time
// Samba keeps its creation time there: a value in the binary form is only
// ever changed in its attribute word (and the hex text, when it has one).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace plat::posix {

// A longer value is nobody's DOS attributes (Samba's are under 100 bytes);
// it is not read.
inline constexpr size_t kDosAttribMaxSize = 1024;

struct DosAttrib {
    enum class Form { None, Text, Binary };
    Form form = Form::None;
    uint32_t attributes = 0;  // the whole attribute word (Form::None: 0)
};

// Reads a value of "user.DOSATTRIB". Anything malformed (cut short, an
// unknown version, too long, not hex) is Form::None: no marks.
DosAttrib ParseDosAttrib(const std::string& value);

// `value`, a binary form ParseDosAttrib reads, with its attribute word set
// to `attributes` and every other field kept byte for byte; a non-empty hex
// text is rewritten to match. Empty when `value` is not such a form.
std::string WithDosAttributes(const std::string& value, uint32_t attributes);

// Where a file system keeps hidden/system: the FAT attribute byte (through
// the kernel's FAT ioctls), NTFS's own attribute word ("system.ntfs_attrib"),
// else the "user.DOSATTRIB" extended attribute.
enum class DosStore { Fat, Ntfs, Xattr };

inline constexpr long kVfatMagic = 0x4d44;  // MSDOS_SUPER_MAGIC
inline constexpr long kExfatMagic = 0x2011BAB0;
inline constexpr long kNtfs3Magic = 0x7366746e;
inline constexpr long kFuseMagic = 0x65735546;

// The store for a file system of `type` (statfs's f_type). The exFAT driver
// refuses user xattrs; newer ones answer the FAT attribute ioctls, older ones
// keep no marks at all, so `answersFatIoctl` is asked there, and
// `hasNtfsAttrib` on the two NTFS drivers; neither is asked elsewhere.
DosStore ChooseDosStore(long type, const std::function<bool()>& answersFatIoctl,
                        const std::function<bool()>& hasNtfsAttrib);

// True when the file system driver of `path` answers FAT_IOCTL_GET_ATTRIBUTES.
// `asked` (optional) is false when `path` could not even be opened to ask.
bool AnswersFatAttributeIoctl(const std::string& path, bool* asked = nullptr);

}  // namespace plat::posix
