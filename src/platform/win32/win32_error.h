#pragma once

namespace zelkor::win32 {

// Sets errno to what the system's last error (GetLastError) means in the terms
// that the platform layer's callers test (ENOENT, EEXIST, EACCES, ...); a file
// another program holds without sharing it is EBUSY, a lock another holds
// EWOULDBLOCK.
void SetErrnoFromLastError();

// Whether a call that answers with a BOOL succeeded; when it did not, errno is
// set from the system's last error.
bool Succeeded(int ok);

// The errno value for a system error code.
int ErrnoFor(unsigned long error);

}  // namespace zelkor::win32
