#include "platform/Terminal.h"

#include <unistd.h>

namespace Terminal {

bool standardErrorIsTerminal()
{
    return ::isatty(STDERR_FILENO) == 1;
}

} // namespace Terminal
