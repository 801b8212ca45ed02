// The permissions of what the process creates: recordings and the records that name them are
// personal data, so others get no access, whatever umask the process was started with.
#pragma once

namespace qz::platform {

// Adds "no access for others" to the umask; children started afterwards inherit it. Call at
// process start, before any thread.
void CloseUmaskToOthers();

// The umask, read without setting it: another thread may be creating a file meanwhile.
unsigned CurrentUmask();

}  // namespace qz::platform
