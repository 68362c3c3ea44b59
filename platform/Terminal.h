#pragma once

// The process's standard streams as the command line needs to know them.
namespace Terminal {

// Whether standard error is a terminal (progress is shown only there).
bool standardErrorIsTerminal();

} // namespace Terminal
