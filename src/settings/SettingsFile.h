// Settings files: the 1800 record bytes on disk, nothing else. These are the file
// operations without their dialogs, so the window and the command-line tool share them.
#pragma once

#include "settings/SettingsRecord.h"

#include <cstdint>
#include <span>
#include <string>
#include <vector>

enum class FileStatus {
    Ok,
    OpenFailed,  // could not open or create; errorNumber holds errno
    ReadFailed,  // read error after a successful open; record untouched
    WriteFailed, // write, sync, close or rename failed; the old file is intact
    TooShort,    // fewer than 1800 bytes; record untouched
    NotRegular,  // a device node, pipe or socket: no settings there; record untouched
};

struct FileResult {
    FileStatus status = FileStatus::Ok;
    int errorNumber = 0;     // the system's error number, 0 when none applies
    long long fileSize = -1; // size found by a load, when known
    std::string message;     // the text to show the operator (UTF-8), empty on success
    bool ok() const { return status == FileStatus::Ok; }
};

// Saves the record as exactly 1800 bytes. The new content goes to a temporary file in
// the same folder, which then replaces `path`, so a failure never leaves a half-written
// settings file behind. Failure messages end in " : System error(debugging info).\n in:
// SaveForm();" after the error number.
FileResult SaveSettingsFile(const std::string& path, const SettingsRecord& record);

// Loads the first 1800 bytes of `path` into `record`. The record changes only on success;
// shorter files are refused with a message naming the file and its size.
FileResult LoadSettingsFile(const std::string& path, SettingsRecord& record);

// What LoadSettingsFile makes of a file's content once it is read: `bytes` are the file's
// first bytes (at least 1800 for a settings file), `fileSize` its whole size and `name`
// the name the messages give it.
FileResult LoadSettingsBytes(std::span<const std::uint8_t> bytes, long long fileSize,
                             const std::string& name, SettingsRecord& record);

// How a whole-file read ended: the status (Ok, OpenFailed, ReadFailed or NotRegular), the
// system's error number, the file's size and its first bytes.
struct ReadOutcome {
    FileStatus status = FileStatus::Ok;
    int error = 0;
    long long fileSize = -1;
    std::vector<std::uint8_t> bytes;
};

// Reads at most `limit` bytes from the start of `path`, the one way settings files, device
// images and the simulator's memory are read. Only a regular file is read: a folder gives
// EISDIR, a device or a pipe NotRegular without waiting on it, and a file that another
// holder keeps locked EWOULDBLOCK (on Windows also one another program holds open for
// writing). Error numbers are errno values on every system: on Windows the system's error
// is given as the errno value of the same meaning.
ReadOutcome ReadWholeFile(const std::string& path, std::size_t limit);

// How a whole-file write ended: error 0, or the system's error number and whether the
// file could not even be opened or created.
struct WriteOutcome {
    int error = 0;
    bool openFailed = false;
};

// The name that stands for standard output, as the command-line tool's "-o -".
inline constexpr const char* kStandardOutput = "-";

// Replaces `path` with exactly `size` bytes, the one way settings files, device images and
// the simulator's memory are written. What the name stands for decides how:
// - a regular file, wherever it lives, gets a temporary file beside it and a rename, so a
//   failure never leaves a half-written file where the previous one was; a link is
//   followed, the previous file's mode, owner and group kept;
// - a regular file with other names (hard links), one whose owner or group the new file
//   could not take, or one in a folder that takes no new file is truncated and written in
//   place, each step checked;
// - a device, a pipe, a terminal or an open stream (/dev/stdout, "-") is written in place
//   as it stands, so a stream redirected with ">>" is appended to.
// A file that another holder keeps locked is not replaced (EWOULDBLOCK), nor one the caller
// may not open for writing (a file its owner made read-only, for anyone but root: EACCES). An
// in-place write takes the whole size on disk before it changes a byte, so a full disk leaves
// the old content. A link that points nowhere is refused (ENOENT), and so is a link in a
// sticky folder anyone may write (/tmp) that neither the caller nor the folder's owner owns
// (EACCES), as the kernel's protected_symlinks would refuse it.
// On Windows (paths in UTF-8 there too) the same choices are made with that system's means:
// ReplaceFileW gives the new file the old one's attributes and ACL; a read-only file is
// refused (EACCES), its attribute left as it is; a file another program holds open without
// sharing is not replaced (EWOULDBLOCK); "-", "CON", "NUL" and other devices are streams.
WriteOutcome WriteWholeFile(const std::string& path, const std::uint8_t* data, std::size_t size);

// The last path component, as the window title shows it.
std::string FileNameOf(const std::string& path);
