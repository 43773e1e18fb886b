// Files made so that no name is ever followed. A work folder or an export
// folder may be shared with other programs, and a link planted at the name
// of a file this program writes must never send its bytes into another
// file: a new file replaces whatever file or link stands at its name (the
// link itself is removed, never what it points to) and is created with
// O_CREAT | O_EXCL | O_NOFOLLOW; a file opened again later is opened without
// following a link and only when it is still a plain file of one name.
#pragma once

#include <fcntl.h>
#include <string>

namespace quarvex {

// Creates path as a new, empty regular file (permissions 0666 less the
// umask) and returns its descriptor, opened with access (O_RDWR or
// O_WRONLY; O_CLOEXEC is added). A regular file or a symbolic link at path
// is removed first. A character device there (/dev/null, /dev/full) is
// opened as it is: only the system makes those. Raises EQuarvexError naming
// path when a folder, a pipe, a socket or a block device stands there, or
// when something is put at the name between the removal and the creation;
// raises EInOutError (its code, the file named where the text is not a
// fixed one) when the removal or the creation fails otherwise.
int CreateFileNoFollow(const std::string& path, int access = O_RDWR);

// Opens path, an existing file the program made earlier, again with access
// (O_RDONLY, O_WRONLY or O_RDWR; O_CLOEXEC is added) and returns its
// descriptor. Never follows a link at path; a character device is opened as
// it is. Raises EInOutError when it cannot be opened, and EQuarvexError
// naming path when a link, or anything else that is no regular file,
// stands there, or the file has other names (hard links): a file put there
// meanwhile is never written in the place of the program's own.
int OpenOwnFile(const std::string& path, int access = O_RDWR);

} // namespace quarvex
