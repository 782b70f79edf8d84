"""The module whose functions compute the pieces, merge them and drive the
rounds: kernel_width._core. Tasks name it rather than carry its functions,
which do not pickle; a worker imports it by that name (or
"module:attribute", an object of a module with the same functions)."""

NAME = "kernel_width._core"
