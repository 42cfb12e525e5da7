// Writing the whole content of a file (the macro library, the settings file) so that a failed save keeps the old
// content wherever that can be done, and a file the user may not write is never replaced.
#pragma once

#include <string>
#include <string_view>

namespace quillet {

struct FileWriteResult {
    bool ok = true;
    std::string problem; // when !ok: what failed and what became of the old file, in English, one line
};

// Makes bytes the whole content of the file at path.
//
// Links: a symbolic link, a chain of them, or one whose target does not exist yet, is written through: the final
// target gets the content (created when missing) and the links stay as they are.
//
// What may be written: the file's own permissions decide, not the folder's. An existing file is written only when
// this process may open it for writing (its permission bits and ACLs for the process's user, a read-only file
// system); otherwise nothing is touched and problem says the file is read-only. Anything but a regular file is never
// written. An existing file keeps its permissions, and its owner and group.
//
// How, normally: the bytes go to a new temporary file beside the target, which is flushed to the disk and renamed
// over the target. A failure before the rename (a full disk, a size limit) leaves the old file exactly as it was and
// removes the temporary file. A new file is always made this way, so it needs a folder that takes new files.
//
// How, in place: when the folder takes no new file (no write permission) or refuses the rename, or when a new file
// could not be given the old file's owner and group, but the file itself may be written, it is rewritten in place:
//   1. The new content is complete in memory beforehand, and the old content is read into memory too (when the file
//      may be read).
//   2. When the file grows, its new size is reserved on the disk first (posix_fallocate): a full disk or a file size
//      limit then fails before any byte has changed, and the file is left exactly as it was.
//   3. The content is written from the start with every write checked, the file is cut to the new size and flushed
//      to the disk (fsync).
//   A failure in step 3 (an I/O error) writes the old content back from memory, cuts the file to its old size and
//   flushes it; problem then says the old content was put back. Only when that fails too, or the old content could
//   not be read, is the file left damaged, and problem says so.
//
// On Windows every save goes through the temporary file, and a read-only file is refused.
//
// Costs: no memory beyond the caller's bytes on the normal path; an in-place write also holds the old content.
FileWriteResult WriteWholeFile(const std::string& path, std::string_view bytes);

} // namespace quillet
