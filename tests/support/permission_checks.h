#pragma once
// Tests of refused reads and writes must run in CI, which runs as root. Root passes every
// permission check through two capabilities; dropping them from this process makes root
// meet permissions as an ordinary user does, while the tools the tests start (mount,
// losetup) are still given every capability again when they are executed.

// Drops cap_dac_override and cap_dac_read_search from this process (its first thread,
// before any other starts, so every later thread inherits the drop). Linux only; a no-op
// elsewhere and for users who do not hold them.
void drop_permission_override();

// Whether a file without read permission is refused to this process; checked on a real
// file, so it holds whatever the user, capabilities or file system.
bool permissions_bind();
