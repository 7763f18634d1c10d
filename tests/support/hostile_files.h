// Objects a crafted store can put where a record or list is expected
// (posix only: pipes, device links).
#pragma once

#ifndef _WIN32

#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "platform/fs.h"
#include "platform/text.h"

namespace testsupport {

enum class Hostile { Pipe, LinkToDevZero, LinkToFile, Folder, Oversized };

inline constexpr Hostile kHostileKinds[] = {Hostile::Pipe, Hostile::LinkToDevZero,
                                            Hostile::LinkToFile, Hostile::Folder,
                                            Hostile::Oversized};

inline const char* HostileName(Hostile kind) {
    switch (kind) {
        case Hostile::Pipe:
            return "pipe";
        case Hostile::LinkToDevZero:
            return "link to /dev/zero";
        case Hostile::LinkToFile:
            return "link to a file elsewhere";
        case Hostile::Folder:
            return "folder";
        case Hostile::Oversized:
            return "oversized file";
    }
    return "?";
}

// Puts `kind` at `path`. `elsewhere` is a regular file a link may point to;
// an oversized file holds `oversize` bytes of `fill` (no line end in it).
inline bool PlaceHostile(Hostile kind, const std::wstring& path, const std::wstring& elsewhere,
                         size_t oversize, char fill = 'x') {
    const std::string p = plat::ToUtf8(path);
    switch (kind) {
        case Hostile::Pipe:
            return mkfifo(p.c_str(), 0644) == 0;
        case Hostile::LinkToDevZero:
            return symlink("/dev/zero", p.c_str()) == 0;
        case Hostile::LinkToFile:
            return symlink(plat::ToUtf8(elsewhere).c_str(), p.c_str()) == 0;
        case Hostile::Folder:
            return plat::OsFileSystem().CreateDir(path);
        case Hostile::Oversized: {
            auto f = plat::OsFileSystem().Open(path, plat::Access::ReadWrite,
                                               plat::Disposition::CreateAlways);
            const std::string bytes(oversize, fill);
            return f && f->WriteAll(bytes.data(), uint32_t(bytes.size()));
        }
    }
    return false;
}

}  // namespace testsupport

#endif
