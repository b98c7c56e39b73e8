// Replacing a file by another on every Windows the deliverables support.
#pragma once

namespace compat {

// Moves `from` over `to` (which may or may not exist). Windows NT does it in one MoveFileEx;
// Windows 95/98 have only a stub of it, so there the old file is first moved aside and put back
// when the move fails: `to` is never lost. Returns false, with `to` as it was, on failure.
bool replaceFile(const char* from, const char* to);

// The Windows 95/98 way on its own (MoveFile steps), which replaceFile takes where MoveFileEx is a stub.
bool replaceFileByRenames(const char* from, const char* to);

}  // namespace compat
