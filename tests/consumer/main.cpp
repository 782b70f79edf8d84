// Two samples, (0, 0) and (3, 4), and the table (0.5, 2), (1.5, 4): prints
// "3.125 50", the widths both programs print for them.
#include <kernel_width/kernel_width.h>

#include <cstdio>

int main() {
  const double samples[] = {0, 0, 3, 4};
  const double labelled[] = {1, 0, 0, 2, 3, 4};
  const double table[] = {0.5, 2, 1.5, 4};
  const auto form = kernel_width::form_width({samples, 2, 2}, {table, 2, 2});
  const auto other = kernel_width::labelled({labelled, 2, 3}, 1);
  if (form.status != kernel_width::error::none ||
      other.status != kernel_width::error::none)
    return 1;
  std::printf("%g %g\n", form.width, other.width);
}
