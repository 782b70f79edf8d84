#include "program_main.h"

#include <new>

#include "messages.h"

int program_main(int argc, char** argv, const char* program, const char* help,
                 program_kind kind, int (*run)(options)) {
  const command cmd = command_line(argc, argv, program, help, kind);
  if (!cmd.run) return cmd.status;
  if (check_isa(program) != 0) return 1;
  try {
    return run(cmd.opts);
  } catch (const std::bad_alloc&) {
    return out_of_memory(program, shown_name(cmd.opts.file));
  }
}
