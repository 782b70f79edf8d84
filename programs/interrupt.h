// Interrupting a run that shows a progress line: SIGINT and SIGTERM erase
// the line before the program ends, so that the shell's prompt does not
// land after it.
#pragma once

// From now on SIGINT and SIGTERM erase the line on standard error, then end
// the program as the signal would have (the default action, raised again).
// A signal that was ignored stays ignored.
void erase_line_on_interrupt();

// Puts back the actions that SIGINT and SIGTERM had before.
void restore_interrupts();
