// signals.hpp: what must be undone when a signal ends the process: running
// children, the hidden cursor, a terminal left in raw mode, and files that
// hold secrets. The handler undoes them with async-signal-safe calls only,
// then lets the signal's default action end the process, so the exit status
// is the one the signal gives. SIGKILL cannot be caught: it leaves all of
// them as they are.
#pragma once

#include <signal.h>
#include <sys/types.h>
#include <termios.h>

#include <cstddef>
#include <string_view>

namespace signal_guard {

/// Installs the handler for every signal whose default action ends the
/// process and that is not ignored already. Idempotent.
void install();
/// The set of signals install() guards (for blocking them a moment).
void guarded_signals(sigset_t* set);

/// Marks the process not dumpable from now on: no core file, no ptrace by
/// the same user (for a process that holds a password). Only the first call
/// does anything.
void forbid_core_dumps();

/// Registers a running child: a signal that ends this process is passed on
/// to it and to its descendants first. Returns a slot, or -1 when none is
/// free. Unregister it before it is reaped, so its pid is never reused
/// while registered.
int register_child(pid_t pid);
void unregister_child(int slot);

/// Whether the kit's cursor is hidden right now (set by the prompt loop).
void set_cursor_hidden(bool hidden);
/// Terminal attributes to restore on `fd` while a key is read in raw mode;
/// `saved` nullptr clears it.
void set_raw_terminal(int fd, const termios* saved);

/// Registers a file to unlink if a signal ends the process (a directory:
/// to remove after the files, once empty); returns a slot,
/// or -1 when the path is too long or no slot is free.
int register_file(std::string_view path);
/// Forgets a registered file (its owner deleted it).
void unregister_file(int slot);
/// Unlinks every registered file now (for fatal exits that skip destructors).
void unlink_registered_files();

/// Ends the process at once with `message` on standard error and status 101
/// after unlinking the registered files.
[[noreturn]] void fatal(std::string_view message);

}  // namespace signal_guard
