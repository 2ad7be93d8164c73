#pragma once

#include <QByteArrayView>
#include <QtGlobal>

struct stat;

namespace sorvane
{

struct DriveTraits;

// A digest of bytes read from a file: two songs differ in their last 128 bytes (the tag, or
// audio), so it tells one from the other. Not meant to stand against forgery: whoever can
// rename the user's files can do worse.
quint64 DigestOf(QByteArrayView bytes);

// How a file is known again after a rename, a remount, a stick's next mount: its size and a
// digest of bytes the run read from it anyway, plus its modification time and inode number only
// where the drive keeps them across rename and remount (DriveTraits); never the device number,
// which a stick gets anew at every mount.
// How many bytes at a file's end its identity digests: the ID3v1 record, or the audio there.
constexpr int TailLength = 128;

struct FileIdentity {
    qint64 size = -1;
    qint64 modified = -1; // nanoseconds since the epoch; -1 where the drive does not keep it
    qint64 inode = -1;    // -1 where the drive does not keep one per file
    quint64 digest = 0;
    qint64 digestOffset = 0;
    int digestLength = 0; // 0: no digest on record (journals of version 1)
};

// A file's identity as a run records it: its size, a digest of its last bytes (`tail`, the last
// 128 or all of a shorter file), and its time and inode where the drive keeps them.
FileIdentity IdentityOf(qint64 size, qint64 modified, qint64 inode, QByteArrayView tail,
                        const DriveTraits& traits);

// The same read from the file `name` of the open folder `dir`, never through a link: one open,
// one stat, one read. `modified` gets its time whatever the drive. False with the system's code.
bool ReadIdentityAt(int dir, const char* name, const DriveTraits& traits, FileIdentity& identity,
                    qint64& modified, int& error);

// Whether what is on record of a file is what a file shows now: every part both have (size; time
// and inode where both have one; the digest of the same bytes where both have one). Without a
// digest on record (journals of version 1), the time must have been on record instead.
bool SameIdentity(const FileIdentity& recorded, const FileIdentity& now);

// What became of a name when looked for the file with that identity.
enum class Found { Same, Other, Missing };

// Whether the file open as `fd`, whose stat is `info`, is the one with that identity: every part
// on record must match, the digest read again from the same bytes (one read). A file that is not
// a regular one is Other.
Found CompareIdentity(int fd, const struct stat& info, const FileIdentity& identity);

// The same for the entry `name` of the open folder `dir`, never through a link: Missing when
// nothing has that name, with the system's code in `error` when it could not be looked at.
// `info`, where given, gets what the name led to.
Found IdentityAt(int dir, const char* name, const FileIdentity& identity, int* error = nullptr,
                 struct stat* info = nullptr);

} // namespace sorvane
