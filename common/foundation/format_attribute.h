// Lets the compiler check printf-style calls against their format (and a
// function that passes its own format on, with a va_list, against nothing
// but its callers).
#pragma once

#if defined(__GNUC__)
#define KIT_PRINTF_FORMAT(format_index, first_argument) \
  __attribute__((format(printf, format_index, first_argument)))
#else
#define KIT_PRINTF_FORMAT(format_index, first_argument)
#endif
